#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "GCBase.h"

using namespace GenICam;

namespace {

template <class E>
std::string WhatOf(const char* description) {
    try {
        throw E(description, "camera.cpp", 42);
    } catch (const GenericException& e) {
        return e.what();
    }
    return {};
}

}  // namespace

TEST(GenICamException, WhatNamesDescriptionOwnTypeFileAndLine) {
    const std::pair<std::string, const char*> cases[] = {
        {WhatOf<GenericException>("d"), "GenericException"},
        {WhatOf<BadAllocException>("d"), "BadAllocException"},
        {WhatOf<InvalidArgumentException>("d"), "InvalidArgumentException"},
        {WhatOf<OutOfRangeException>("d"), "OutOfRangeException"},
        {WhatOf<PropertyException>("d"), "PropertyException"},
        {WhatOf<RuntimeException>("d"), "RuntimeException"},
        {WhatOf<LogicalErrorException>("d"), "LogicalErrorException"},
        {WhatOf<AccessException>("d"), "AccessException"},
        {WhatOf<TimeoutException>("d"), "TimeoutException"},
        {WhatOf<DynamicCastException>("d"), "DynamicCastException"}};
    for (const auto& [what, type] : cases)
        EXPECT_EQ(what, "d : " + std::string(type) + " thrown (file 'camera.cpp', line 42)");
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

TEST(GenICamException, CaughtAsStdExceptionAndNullTextIsEmpty) {
    try {
        throw InvalidArgumentException(nullptr, nullptr, 7);
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), " : InvalidArgumentException thrown (file '', line 7)");
        return;
    }
    FAIL() << "not caught as std::exception";
}
