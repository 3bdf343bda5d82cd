// The platform layer: the clock, debugger output, local time and the code-page
// conversion behave alike on POSIX and Windows.
#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Platform.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include "Latin1Locale.h"
#endif

namespace {

namespace platform = qrv::platform;

#if defined(_WIN32)
// GetTickCount advances in steps of the system timer, about 16 ms.
constexpr std::uint32_t kTickSlackMs = 16;
#else
constexpr std::uint32_t kTickSlackMs = 1;
#endif

class PlatformTest : public ::testing::Test {
protected:
    void TearDown() override {
        platform::SetTickSourceForTesting({});
        platform::SetDebugOutputListener({});
    }
};

TEST_F(PlatformTest, TickCountFollowsSleep) {
    const std::uint32_t before = platform::GetTickCount();
    platform::Sleep(60);
    const std::uint32_t elapsed = platform::GetTickCount() - before;
    EXPECT_GE(elapsed, 60u - kTickSlackMs);
    EXPECT_LT(elapsed, 10000u);  // a loaded machine, but not a stuck clock
}

TEST_F(PlatformTest, DebugOutputReachesTheListenerUntilRemoved) {
    std::vector<std::string> received;
    platform::SetDebugOutputListener([&received](const char* text) { received.push_back(text); });
    platform::OutputDebugStringA("first line\n");
    platform::OutputDebugStringA(nullptr);  // nothing to pass on, and no crash
    platform::OutputDebugStringA("second");
    platform::SetDebugOutputListener({});
    platform::OutputDebugStringA("after removal");
    EXPECT_EQ(received, (std::vector<std::string>{"first line\n", "second"}));
}

TEST_F(PlatformTest, LocalTimeIsTheInverseOfMktime) {
    for (std::time_t t : {std::time_t{86400 * 365}, std::time_t{1700000000}, std::time(nullptr)}) {
        std::tm broken = platform::LocalTime(t);
        EXPECT_GE(broken.tm_year, 70);
        EXPECT_EQ(std::mktime(&broken), t) << t;
    }
}

TEST_F(PlatformTest, ErrorLogSitsInErrorLogFolderWithNativeSeparators) {
    const std::string path = platform::ErrorLogPath();
    const std::filesystem::path parsed(path);
    EXPECT_EQ(parsed.filename().string(), "QRVAcqGenicam2.0.txt");
    EXPECT_EQ(parsed.parent_path().filename().string(), "ErrorLog");
    EXPECT_TRUE(parsed.is_relative());
#if defined(_WIN32)
    EXPECT_EQ(path.find('/'), std::string::npos) << path;
#else
    EXPECT_EQ(path.find('\\'), std::string::npos) << path;
#endif
}

TEST(PlatformCodePage, EmptyAndAsciiPassUnchanged) {
    EXPECT_EQ(platform::Utf8ToLocalCodePage(nullptr), "");
    EXPECT_EQ(platform::Utf8ToLocalCodePage(""), "");
    EXPECT_EQ(platform::Utf8ToLocalCodePage("cams/ACME-1.cam"), "cams/ACME-1.cam");
}

#if defined(_WIN32)
TEST(PlatformCodePage, Windows1252ConvertsAndMarksMissingCharacters) {
    if (::GetACP() != 1252) GTEST_SKIP() << "ANSI code page is " << ::GetACP() << ", not 1252";
    EXPECT_EQ(platform::Utf8ToLocalCodePage("Gr\xC3\xB6\xC3\x9F"
                                            "e.cam"),
              "Gr\xF6\xDF"
              "e.cam");
    EXPECT_EQ(platform::Utf8ToLocalCodePage("5\xE2\x82\xAC"), "5\x80");
    EXPECT_EQ(platform::Utf8ToLocalCodePage("\xE7\x9B\xB8\xE6\x9C\xBA.cam"), "??.cam");
}
#else
TEST(PlatformCodePage, Latin1LocaleConvertsAndMarksMissingCharacters) {
    const qrvtest::CLatin1Locale locale;
    if (!locale.IsLatin1()) GTEST_SKIP() << "no Latin-1 locale and localedef could not make one";
    EXPECT_EQ(platform::Utf8ToLocalCodePage("Gr\xC3\xB6\xC3\x9F"
                                            "e.cam"),
              "Gr\xF6\xDF"
              "e.cam");
    EXPECT_EQ(platform::Utf8ToLocalCodePage("\xE7\x9B\xB8\xE6\x9C\xBA.cam"), "??.cam");
}

TEST(PlatformCodePage, PlainCLocaleKeepsUtf8) {
    // The tests never call setlocale, so this is the C locale.
    EXPECT_EQ(platform::Utf8ToLocalCodePage("Gr\xC3\xB6\xC3\x9F"
                                            "e.cam"),
              "Gr\xC3\xB6\xC3\x9F"
              "e.cam");
}
#endif

}  // namespace
