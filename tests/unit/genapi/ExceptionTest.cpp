#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "GCBase.h"

using namespace GenICam;

namespace {

/// what() of an E thrown and caught as a std::exception.
template <class E>
std::string WhatOf(const char* description, const char* file = "camera.cpp", unsigned line = 42) {
    try {
        throw E(description, file, line);
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

}  // namespace

TEST(GenICamException, WhatNamesDescriptionOwnTypeFileAndLine) {
    const std::string at = " thrown (file 'camera.cpp', line 42)";
    const std::pair<std::string, std::string> cases[] = {
        {WhatOf<GenericException>("d"), "d : GenericException" + at},
        {WhatOf<BadAllocException>("d"), "d : BadAllocException" + at},
        {WhatOf<InvalidArgumentException>("d"), "d : InvalidArgumentException" + at},
        {WhatOf<OutOfRangeException>("too big"), "too big : OutOfRangeException" + at},
        {WhatOf<PropertyException>("d"), "d : PropertyException" + at},
        {WhatOf<RuntimeException>("d"), "d : RuntimeException" + at},
        {WhatOf<LogicalErrorException>("d"), "d : LogicalErrorException" + at},
        {WhatOf<AccessException>("d"), "d : AccessException" + at},
        {WhatOf<TimeoutException>("d"), "d : TimeoutException" + at},
        {WhatOf<DynamicCastException>("d"), "d : DynamicCastException" + at},
        {WhatOf<InvalidArgumentException>(nullptr, nullptr, 7),
         " : InvalidArgumentException thrown (file '', line 7)"}};
    for (const auto& [what, expected] : cases) EXPECT_EQ(what, expected);
}

TEST(GenICamException, ThrowMacroRecordsThisFileAndLine) {
    unsigned int line = 0;
    try {
        line = __LINE__ + 1;
        GENICAM_THROW(TimeoutException, "no frame");
    } catch (const TimeoutException& e) {
        EXPECT_STREQ(e.GetDescription(), "no frame");
        EXPECT_EQ(e.GetSourceLine(), line);
        EXPECT_NE(std::string(e.GetSourceFileName()).find("ExceptionTest.cpp"), std::string::npos);
        return;
    }
    FAIL() << "TimeoutException not caught by its own type";
}
