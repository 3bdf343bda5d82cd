#include <gtest/gtest.h>

#include <string>

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
    EXPECT_EQ(WhatOf<OutOfRangeException>("too big"),
              "too big : OutOfRangeException thrown (file 'camera.cpp', line 42)");
    EXPECT_EQ(WhatOf<AccessException>("locked"),
              "locked : AccessException thrown (file 'camera.cpp', line 42)");
    EXPECT_EQ(WhatOf<GenericException>("x"),
              "x : GenericException thrown (file 'camera.cpp', line 42)");
    EXPECT_NE(WhatOf<BadAllocException>("d").find(": BadAllocException thrown"), std::string::npos);
    EXPECT_NE(WhatOf<InvalidArgumentException>("d").find(": InvalidArgumentException thrown"),
              std::string::npos);
    EXPECT_NE(WhatOf<PropertyException>("d").find(": PropertyException thrown"), std::string::npos);
    EXPECT_NE(WhatOf<RuntimeException>("d").find(": RuntimeException thrown"), std::string::npos);
    EXPECT_NE(WhatOf<LogicalErrorException>("d").find(": LogicalErrorException thrown"),
              std::string::npos);
    EXPECT_NE(WhatOf<TimeoutException>("d").find(": TimeoutException thrown"), std::string::npos);
    EXPECT_NE(WhatOf<DynamicCastException>("d").find(": DynamicCastException thrown"),
              std::string::npos);
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
