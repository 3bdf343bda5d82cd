// The call shell: every entry point reachable with live, null, stale and bogus
// handles and null out-pointers; expect lines; line-numbered errors.
#include <gtest/gtest.h>

#include <regex>

#include "QRVAcqGenIcam.h"
#include "ToolRunner.h"

namespace {

using tooltest::RunShellScript;

// Every entry point that takes a handle, with HANDLE to fill in. SetCallBackFunc
// is left out: the plug-in accepts and ignores it whatever the handle.
const char* const kHandleCalls[] = {
    "close HANDLE",
    "executecmd HANDLE TriggerSoftware",
    "getnodetype HANDLE Width",
    "getparambool HANDLE ReverseX",
    "getparamfloat HANDLE ExposureTimeAbs",
    "getparamint HANDLE Width",
    "getparamstr HANDLE PixelFormat",
    "getregisterdata HANDLE TestRegister 4",
    "grabimage HANDLE 10",
    "grabimageex HANDLE 10",
    "setparambool HANDLE ReverseX true",
    "setparamfloat HANDLE ExposureTimeAbs 100",
    "setparamint HANDLE Width 64",
    "setparamstr HANDLE PixelFormat Mono8",
    "setregisterdata HANDLE TestRegister 01020304",
    "startacquire HANDLE 0 0",
    "stopacquire HANDLE",
};

std::string WithHandle(std::string call, const std::string& handle) {
    return call.replace(call.find("HANDLE"), 6, handle);
}

std::string NotOpenChecks(const std::string& handle) {
    std::string script;
    for (const char* call : kHandleCalls) {
        script +=
            WithHandle(call, handle) + "\nexpect " + std::to_string(QRV_ERR_CAMERA_NOT_OPEN) + "\n";
    }
    return script + "isopen " + handle + "\nexpect 0\n";
}

TEST(ShellHandles, NullStaleAndBogusHandlesGiveNotOpenEverywhere) {
    const std::string script = "open SIM-AREA-001 \"\" -> h1\nexpect 0\nclose h1\nexpect 0\n" +
                               NotOpenChecks("null") + NotOpenChecks("h1") +
                               NotOpenChecks("0x1234");
    const auto result = RunShellScript(script);
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_EQ(tooltest::LinesStartingWith(result.out, "Close(h1) = 101007").size(), 1u)
        << result.out;
    EXPECT_EQ(tooltest::LinesStartingWith(result.out, "IsOpen(null) = 0 false").size(), 1u);
}

TEST(ShellCalls, EveryEntryPointOnALiveCamera) {
    const auto result = RunShellScript(R"(# a whole session
getcameralist
getcameralist null
expect any
getcardlist
getcardlist null
expect any
open NO-SUCH-CAMERA "" -> missing
expect 101005
open SIM-AREA-001 "" null
expect any
open SIM-AREA-001 "" -> h1
expect 0
isopen h1
expect 1
getnodetype h1 Width
expect 2
getnodetype h1 NoSuchFeature
expect -1
setparambool h1 ReverseX 1
expect 0
getparambool h1 ReverseX
getparambool h1 ReverseX null
expect any
setparamint h1 GainRaw 5
expect 0
getparamint h1 GainRaw
getparamint h1 GainRaw out null out null
expect any
setparamfloat h1 ExposureTimeAbs 500
expect 0
getparamfloat h1 ExposureTimeAbs
getparamfloat h1 ExposureTimeAbs null
expect any
setparamstr h1 PixelFormat Mono16
expect 0
getparamstr h1 PixelFormat
getparamstr h1 PixelFormat null out
expect any
getparamint h1 ""
expect 101022
setregisterdata h1 TestRegister 0a0b0c0d
expect 0
getregisterdata h1 TestRegister 4
getregisterdata h1 TestRegister 4 null
expect any
getregisterdata h1 TestRegister -1
expect any
setregisterdata h1 TestRegister null 4
expect any
setcallbackfunc h1 0 null
expect any
setcallbackfunc h1 -1 noop
expect any
setcallbackfunc null 0 noop
expect any
executecmd h1 TriggerSoftware
expect any
grabimage h1 10
expect 101011
grabimageex h1 10
expect 101003
startacquire h1 0 0
expect 0
grabimage h1 5000
expect 0
grabimageex h1 5000
expect 0
grabimage h1 5000 null
expect any
grabimageex h1 5000 null
expect any
grabimage h1 -5
expect any
stopacquire h1
expect 0
close h1
expect 0
)");
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    const std::pair<const char*, const char*> shown[] = {
        {"GetParamBool(h1, \"ReverseX\") = 0", "value=true"},
        {"GetParamInt(h1, \"GainRaw\") = 0", "value=5 "},
        {"GetParamFloat(h1, \"ExposureTimeAbs\") = 0", "value=500 "},
        {"GetParamStr(h1, \"PixelFormat\") = 0", "value=\"Mono16\" entries=["},
        {"GetRegisterData(h1, \"TestRegister\", buffer, 4) = 0", "data=0a0b0c0d"},
        {"GrabImage(h1, 5000) = 0", "image=640x480x1x"},
        {"GetCameraList() = ", "records="},
    };
    for (const auto& [call, detail] : shown) {
        const auto lines = tooltest::LinesStartingWith(result.out, call);
        ASSERT_FALSE(lines.empty()) << call << "\n" << result.out;
        EXPECT_NE(lines[0].find(detail), std::string::npos) << lines[0];
    }
    std::smatch count;
    ASSERT_TRUE(std::regex_search(result.out, count,
                                  std::regex("GetCameraList\\(\\) = ([0-9]+) records=([0-9]+)\n")))
        << result.out;
    EXPECT_EQ(count[1], count[2]);
    std::size_t records = 0;
    for (const std::string& line : tooltest::LinesStartingWith(result.out, "  [")) {
        if (line.find(" serial=") != std::string::npos) ++records;
    }
    EXPECT_EQ(records, static_cast<std::size_t>(std::stoi(count[1]))) << "one line per camera";
    EXPECT_NE(result.out.find("value=null min="), std::string::npos) << "partial null out-pointers";
}

// A failed call fails the run unless the expect right after it checks it; a
// mismatched expect stops the script and names its line.
TEST(ShellExpect, ChecksTheCallJustBeforeIt) {
    const auto result = RunShellScript("isopen null\n\n# comment\nexpect 1\nisopen null\n");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("line 4"), std::string::npos) << result.err;
    EXPECT_EQ(tooltest::LinesStartingWith(result.out, "IsOpen(null)").size(), 1u)
        << "nothing runs after a failed expect";
    EXPECT_EQ(RunShellScript("getparamint null Width\n").exitCode, 1);
    EXPECT_EQ(RunShellScript("getparamint null Width\nexpect 101007\n").exitCode, 0);
    EXPECT_EQ(RunShellScript("getparamint null Width\nexpect any\n").exitCode, 0);
    EXPECT_EQ(RunShellScript("getparamint null Width\nisopen null\nexpect 0\n").exitCode, 1)
        << "an expect checks only the call just before it";
}

TEST(ShellErrors, MalformedLinesAreReportedWithLineNumbersAndSkipped) {
    const struct {
        const char* line;
        const char* message;
    } cases[] = {
        {"frobnicate h1", "unknown command"},
        {"getparamint h9 Width", "unknown handle"},
        {"getparamint null Width out out", "out-pointer"},
        {"getparamint null \"Width", "unterminated quote"},
        {"grabimage null soon", "not an int"},
        {"open SIM-AREA-001 \"\"", "usage"},
        {"expect 0", "no call"},
    };
    for (const auto& c : cases) {
        const auto result = RunShellScript(std::string("# first\n") + c.line + "\nisopen null\n");
        EXPECT_EQ(result.exitCode, 2) << c.line;
        EXPECT_NE(result.err.find("line 2:"), std::string::npos) << c.line << ": " << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << c.line << ": " << result.err;
        EXPECT_EQ(tooltest::LinesStartingWith(result.out, "IsOpen(null)").size(), 1u)
            << "the script goes on after " << c.line;
    }
}

TEST(ShellInput, ReadsStandardInputWithoutAFile) {
    tooltest::TempDir dir;
    const std::string script = dir.Write("in.txt", "isopen null\nexpect 0\n");
    const auto result =
        tooltest::RunTool({"--plugin", QRVACQ_PLUGIN, "--sim", "demo", "shell"}, script);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "IsOpen(null) = 0 false\n");
}

}  // namespace
