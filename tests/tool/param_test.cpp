// get, set, exec and reg: typed access by node type, the legacy feature names,
// and the exit status of failures.
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <regex>

#include "QRVAcqGenIcam.h"
#include "ToolRunner.h"

namespace {

using nlohmann::json;
using tooltest::RunShellScript;
using tooltest::RunSim;

json GetJson(const std::vector<std::string>& features) {
    std::vector<std::string> args = {"get", "SIM-AREA-001", "--json"};
    args.insert(args.end(), features.begin(), features.end());
    const auto result = RunSim(args);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return json::parse(result.out);
}

// The number after "name=" in a shell output line, or NaN.
double ShellValue(const std::string& out, const std::string& call, const std::string& name) {
    const auto lines = tooltest::LinesStartingWith(out, call);
    if (lines.size() != 1) return std::nan("");
    std::smatch match;
    if (!std::regex_search(lines[0], match, std::regex(" " + name + "=([-0-9.e+]+)"))) {
        return std::nan("");
    }
    return std::stod(match[1]);
}

TEST(GetCommand, ReportsEachNodeTypeWithItsValue) {
    const json readings =
        GetJson({"Width", "ExposureTimeAbs", "PixelFormat", "ReverseX", "TriggerSoftware"});
    ASSERT_EQ(readings.size(), 5u);
    EXPECT_EQ(readings[0].at("type"), "int");
    EXPECT_LE(readings[0].at("min").get<int>(), readings[0].at("value").get<int>());
    EXPECT_LE(readings[0].at("value").get<int>(), readings[0].at("max").get<int>());
    EXPECT_EQ(readings[1].at("type"), "float");
    EXPECT_EQ(readings[2].at("type"), "string/enum");
    const json& entries = readings[2].at("entries");
    EXPECT_NE(std::find(entries.begin(), entries.end(), readings[2].at("value")), entries.end());
    EXPECT_EQ(readings[3].at("type"), "bool");
    EXPECT_TRUE(readings[3].at("value").is_boolean());
    EXPECT_EQ(readings[4].at("type"), "command");
    EXPECT_FALSE(readings[4].contains("value"));
}

TEST(GetCommand, LegacyNamesReadTheNodesTheyStandFor) {
    const json readings = GetJson({"ExposureTime", "ExposureTimeAbs", "Gain", "GainRaw"});
    ASSERT_EQ(readings.size(), 4u);
    for (std::size_t i : {0u, 2u}) {
        const json& legacy = readings[i];
        const json& real = readings[i + 1];
        EXPECT_EQ(legacy.at("type"), real.at("type")) << legacy.dump();
        EXPECT_EQ(legacy.at("value"), real.at("value")) << legacy.dump();
        EXPECT_EQ(legacy.at("max"), real.at("max")) << legacy.dump();
    }
}

TEST(GetCommand, FailuresNameCodeAndMeaningAndOthersAreStillRead) {
    const auto result = RunSim({"get", "SIM-AREA-001", "NoSuchFeature", "Width"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("NoSuchFeature"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("QRV_ERR_NO_NODEMAP"), std::string::npos) << result.err;
    EXPECT_EQ(tooltest::LinesStartingWith(result.out, "Width (int) = ").size(), 1u) << result.out;
    const auto missing = RunSim({"get", "NO-SUCH-CAMERA", "Width"});
    EXPECT_EQ(missing.exitCode, 1);
    for (const std::string& part :
         {std::to_string(QRV_ERR_CAMERA_NOT_FOUND), std::string("QRV_ERR_CAMERA_NOT_FOUND"),
          std::string("no camera with that serial number")})
        EXPECT_NE(missing.err.find(part), std::string::npos) << missing.err;
}

TEST(SetCommand, WritesThroughLegacyNamesIntoTheRealNodes) {
    const json ranges = GetJson({"ExposureTimeAbs", "GainRaw"});
    const double exposure = std::round(
        ranges[0].at("min").get<double>() +
        (ranges[0].at("max").get<double>() - ranges[0].at("min").get<double>()) / 1000.0);
    const int gain = ranges[1].at("min").get<int>() + 3 * ranges[1].at("inc").get<int>();
    ASSERT_NE(exposure, ranges[0].at("value").get<double>());
    ASSERT_NE(gain, ranges[1].at("value").get<int>());
    const auto result = RunShellScript(
        "open SIM-AREA-001 \"\" -> h\n"
        "setparamfloat h ExposureTime " +
        std::to_string(exposure) +
        "\nexpect 0\n"
        "getparamfloat h ExposureTimeAbs\n"
        "setparamint h Gain " +
        std::to_string(gain) +
        "\nexpect 0\n"
        "getparamint h GainRaw\n"
        "close h\n");
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_DOUBLE_EQ(ShellValue(result.out, "GetParamFloat(h, \"ExposureTimeAbs\")", "value"),
                     exposure);
    EXPECT_EQ(ShellValue(result.out, "GetParamInt(h, \"GainRaw\")", "value"), gain);
}

TEST(SetCommand, PrintsTheValuesReadBack) {
    const json before = GetJson({"ReverseX", "PixelFormat", "GainRaw"});
    const bool reverse = !before[0].at("value").get<bool>();
    std::string format;
    for (const json& entry : before[1].at("entries")) {
        if (entry != before[1].at("value")) format = entry;
    }
    ASSERT_FALSE(format.empty());
    const int gain = before[2].at("max").get<int>();
    const auto result = RunSim({"set", "SIM-AREA-001", "--json",
                                std::string("ReverseX=") + (reverse ? "1" : "false"),
                                "PixelFormat=" + format, "GainRaw=" + std::to_string(gain)});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const json after = json::parse(result.out);
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after[0].at("value"), reverse);
    EXPECT_EQ(after[1].at("value"), format);
    EXPECT_EQ(after[2].at("value"), gain);
}

TEST(SetCommand, ValuesThatDoNotFitTheTypeAreUsageErrors) {
    for (const char* assignment : {"Width=wide", "ReverseX=maybe", "ExposureTimeAbs=1e99x"}) {
        const auto result = RunSim({"set", "SIM-AREA-001", assignment});
        EXPECT_EQ(result.exitCode, 2) << assignment;
        EXPECT_NE(result.err.find(std::string(assignment).substr(0, 5)), std::string::npos);
    }
    EXPECT_EQ(RunSim({"set", "SIM-AREA-001", "NoEqualsSign"}).exitCode, 2);
}

TEST(SetCommand, RefusedWriteIsACallFailureAndTheRestStillRuns) {
    // Width is read-only on SIM-AREA-001.
    const auto result = RunSim({"set", "SIM-AREA-001", "Width=640", "ReverseX=true"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("Width"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("QRV_ERR_"), std::string::npos) << result.err;
    EXPECT_EQ(tooltest::LinesStartingWith(result.out, "ReverseX (bool) = true").size(), 1u)
        << result.out;
}

TEST(SetCommand, FailuresSayWhyInTheCamerasTerms) {
    const auto result = RunSim({"set", "SIM-AREA-001", "ExposureTime=1e9", "PixelFormat=Bogus",
                                "Width=640", "Widht=64", "--json"});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    const json readings = json::parse(result.out);
    ASSERT_EQ(readings.size(), 4u) << result.out;
    EXPECT_EQ(readings[0].at("reason"), "1e9 is outside [20, 1e+06]");
    EXPECT_EQ(readings[1].at("reason"),
              "\"Bogus\" is not an entry of PixelFormat; entries: Mono8, Mono10, Mono12, Mono16");
    EXPECT_EQ(readings[2].at("reason"), "not writable: access mode RO (read-only now)");
    EXPECT_EQ(readings[3].at("reason"), "no feature \"Widht\"; did you mean Width?");
}

TEST(SetCommand, ShowsTheValueWrittenWhenTheIntegerWasMoved) {
    // GainRaw on SIM-AREA-001 ends at 1023.
    const auto result = RunSim({"set", "SIM-AREA-001", "GainRaw=5000"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("asked 5000, written 1023 (the maximum)"), std::string::npos)
        << result.out;
}

TEST(RegCommand, DumpMatchesTheBytesTheShellReads) {
    const auto dump = RunSim({"reg", "SIM-AREA-001", "TestRegister", "--read", "4"});
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    const auto shell = RunShellScript(
        "open SIM-AREA-001 \"\" -> h\n"
        "getregisterdata h TestRegister 4\nclose h\n");
    ASSERT_EQ(shell.exitCode, 0) << shell.err;
    std::smatch match;
    ASSERT_TRUE(std::regex_search(shell.out, match, std::regex("data=([0-9a-f]{8})")));
    const std::string hex = match[1];
    const std::string spaced =
        hex.substr(0, 2) + " " + hex.substr(2, 2) + " " + hex.substr(4, 2) + " " + hex.substr(6, 2);
    EXPECT_EQ(dump.out.rfind("0000: " + spaced, 0), 0u) << dump.out;
}

TEST(RegCommand, WriteSucceedsAndNeedsExactlyOneMode) {
    EXPECT_EQ(RunSim({"reg", "SIM-AREA-001", "TestRegister", "--write", "0a0b0c0d"}).exitCode, 0);
    EXPECT_EQ(RunSim({"reg", "SIM-AREA-001", "TestRegister"}).exitCode, 2);
    EXPECT_EQ(RunSim({"reg", "SIM-AREA-001", "TestRegister", "--write", "abc"}).exitCode, 2);
    EXPECT_EQ(
        RunSim({"reg", "SIM-AREA-001", "TestRegister", "--read", "4", "--write", "00"}).exitCode,
        2);
}

TEST(ExecCommand, RunsACommandAndFailsOnANonCommand) {
    const auto ok = RunSim({"exec", "SIM-AREA-001", "TriggerSoftware"});
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    const auto bad = RunSim({"exec", "SIM-AREA-001", "Width"});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.err.find("QRV_ERR_"), std::string::npos) << bad.err;
}

}  // namespace
