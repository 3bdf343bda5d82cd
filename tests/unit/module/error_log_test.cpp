// The error log's line format, and the files it does not write.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "QRVAcqGenIcam.h"
#include "log/ErrorLog.h"

namespace {

namespace fs = std::filesystem;

TEST(ErrorLog, LineIsTimeStampThenMessageAndAWriterTruncatesItsFile) {
    std::tm t{};
    t.tm_year = 2024 - 1900;
    t.tm_mon = 2;
    t.tm_mday = 5;
    t.tm_hour = 9;
    t.tm_min = 7;
    t.tm_sec = 2;
    EXPECT_EQ(CErrorLog::FormatTimeStamp(t), "[2024-03-05 09:07:02] ");
    const std::string path = ::testing::TempDir() + "error_log_format.txt";
    std::ofstream(path) << "old content\n";
    {
        CErrorLog log(path.c_str(), true);
        log << LogBegin << "value " << 12 << ' ' << 0.5f << ' ' << 1234567.0f << LogEnd;
    }
    std::ifstream in(path);
    std::string line, rest;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_FALSE(std::getline(in, rest)) << rest;
    ASSERT_GE(line.size(), 22u);
    EXPECT_EQ(line[0], '[');
    EXPECT_EQ(line.substr(20), "] value 12 0.5 1.23457e+06");
    std::remove(path.c_str());
}

// A missing folder or a switched-off writer (as the module's own log is) creates
// no file, also when the module fails and logs.
TEST(ErrorLog, MissingFolderOrSwitchedOffWriterCreatesNothing) {
    const fs::path dir = fs::path(::testing::TempDir()) / "error_log_off";
    fs::create_directories(dir);
    {
        CErrorLog enabled((dir / "nope" / "log.txt").string().c_str(), true);
        enabled << LogBegin << "dropped" << LogEnd;
        CErrorLog disabled((dir / "off.txt").string().c_str(), false);
        disabled << LogBegin << "dropped" << LogEnd;
        disabled.flush();
    }
    EXPECT_FALSE(g_errorLog.IsEnabled());
    const fs::path cwd = fs::current_path();
    fs::current_path(dir);
    QRVCameraHandle handle = nullptr;
    EXPECT_EQ(Open("nobody", &handle, "", ""), QRV_ERR_CAMERA_NOT_FOUND);
    fs::current_path(cwd);
    EXPECT_TRUE(fs::is_empty(dir));
    fs::remove_all(dir);
}

}  // namespace
