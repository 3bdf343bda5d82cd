// Loading the plug-in: default path, missing library, missing entry points, and
// usage errors before anything is loaded.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "ToolRunner.h"

namespace {

using tooltest::RunTool;

TEST(Loader, FindsThePluginInTheLibraryDirectoryBesideTheTool) {
    const auto result = RunTool({"--sim", "demo", "list", "--json"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("SIM-AREA-001"), std::string::npos);
}

TEST(Loader, MissingLibraryIsALoadingErrorNamingThePath) {
    const std::string path = "/nonexistent/dir/libQRVAcqGenIcam.so";
    const auto result = RunTool({"--plugin", path, "list"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find(path), std::string::npos) << result.err;
    EXPECT_TRUE(result.out.empty());
}

TEST(Loader, LibraryLackingEntryPointsNamesEachMissingOne) {
    const auto result = RunTool({"--plugin", QRVACQ_PARTIAL_PLUGIN, "list"});
    EXPECT_EQ(result.exitCode, 2);
    const std::string marker = "lacks entry points ";
    const std::size_t at = result.err.find(marker);
    ASSERT_NE(at, std::string::npos) << result.err;
    std::set<std::string> named;
    std::istringstream list(result.err.substr(at + marker.size()));
    std::string name;
    while (std::getline(list, name, ',')) {
        name.erase(0, name.find_first_not_of(' '));
        name.erase(name.find_last_not_of(" \n") + 1);
        named.insert(name);
    }
    const std::set<std::string> exported = {"Close", "IsOpen", "GetCameraList", "StopAcquire"};
    EXPECT_EQ(named.size(), 22u - exported.size()) << result.err;
    for (const std::string& entry : exported) EXPECT_EQ(named.count(entry), 0u) << entry;
    EXPECT_EQ(named.count("GrabImageEx"), 1u);
    EXPECT_EQ(named.count("Open"), 1u);
}

// Each bad command line exits 2 before any call and says what is wrong.
TEST(Usage, BadCommandLinesExitTwoAndHelpExitsZero) {
    const std::pair<std::vector<std::string>, const char*> bad[] = {
        {{}, ""},
        {{"nosuchcommand"}, ""},
        {{"bogus"}, "unknown command 'bogus'"},
        {{"--nosuchoption", "list"}, ""},
        {{"get", "SIM-AREA-001"}, ""},
        {{"grab", "SIM-AREA-001", "-n", "0"}, "must be at least 1"},
        {{"grab", "SIM-AREA-001", "-n", "many"}, ""},
        {{"shell", "/nonexistent/script.txt"}, ""},
    };
    for (const auto& [args, message] : bad) {
        auto all = args;
        all.insert(all.begin(), {"--plugin", QRVACQ_PLUGIN, "--sim", "demo"});
        const auto result = RunTool(all);
        const std::string name = args.empty() ? "(none)" : args.back();
        EXPECT_EQ(result.exitCode, 2) << name << ": " << result.err;
        EXPECT_FALSE(result.err.empty()) << name;
        EXPECT_NE(result.err.find(message), std::string::npos) << name << ": " << result.err;
        EXPECT_EQ(result.err.find("2147483647"), std::string::npos) << name << ": " << result.err;
    }
    EXPECT_EQ(RunTool({"--plugin", QRVACQ_PLUGIN, "--real", "list"}).exitCode, 2)
        << "--real without --sim";
    const auto help = RunTool({"grab", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--chunks"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("--timeout INT=1000"), std::string::npos) << "defaults shown\n"
                                                                      << help.out;
}

TEST(Usage, ScenarioThatCannotBeLoadedIsAUsageError) {
    tooltest::TempDir dir;
    const std::string malformed = dir.Write("bad.json", "{\"cameras\": [");
    const std::string badValue =
        dir.Write("value.json", R"({"cameras": [{"serial": "X", "frameRate": "fast"}]})");
    for (const std::string& scenario :
         {(dir.Path() / "missing.json").string(), malformed, badValue}) {
        const auto result = tooltest::RunSim({"list"}, scenario);
        EXPECT_EQ(result.exitCode, 2) << scenario << ": " << result.out << result.err;
        EXPECT_NE(result.err.find(scenario), std::string::npos) << result.err;
        EXPECT_EQ(result.out.find("0 cameras"), std::string::npos) << result.out;
    }
}

}  // namespace
