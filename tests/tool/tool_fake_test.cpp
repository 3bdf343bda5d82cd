// qrvacq against Aravis's fake GigE Vision camera on 127.0.0.1.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "FakeGvCamera.h"
#include "ToolRunner.h"

namespace {

using nlohmann::json;
using tooltest::FindNode;
using tooltest::RunTool;

bool ListsAravis(const std::string& listJson, std::string* serial = nullptr) {
    const json cameras = json::parse(listJson, nullptr, false);
    if (!cameras.is_array()) return false;
    for (const json& camera : cameras) {
        if (camera.value("vendor", "") != "Aravis") continue;
        if (serial) *serial = camera.value("serial", "");
        return true;
    }
    return false;
}

class ToolOverFake : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!fake.Start(why)) GTEST_SKIP() << why;
        for (int attempt = 0; attempt < 3 && serial.empty(); ++attempt) {
            const auto list = Tool({"list", "--json"});
            ListsAravis(list.out, &serial);
        }
        if (serial.empty()) GTEST_SKIP() << "the fake camera was not listed on 127.0.0.1";
    }

    static tooltest::ToolResult Tool(std::vector<std::string> args) {
        args.insert(args.begin(), {"--plugin", QRVACQ_PLUGIN});
        return RunTool(args, "", {}, 60000);
    }

    CFakeGvCamera fake;
    std::string serial;
};

TEST_F(ToolOverFake, SimListsOnlySimulatedCamerasUnlessRealIsAsked) {
    const auto simOnly = Tool({"--sim", "demo", "list", "--json"});
    ASSERT_EQ(simOnly.exitCode, 0) << simOnly.err;
    EXPECT_FALSE(ListsAravis(simOnly.out)) << simOnly.out;
    const auto both = Tool({"--sim", "demo", "--real", "list", "--json"});
    ASSERT_EQ(both.exitCode, 0) << both.err;
    EXPECT_TRUE(ListsAravis(both.out)) << both.out;
    EXPECT_NE(both.out.find("SIM-AREA-001"), std::string::npos);
}

TEST_F(ToolOverFake, FeatureTreeHasCategoriesRangesAndEntries) {
    const auto result = Tool({"features", serial, "--json"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const json root = json::parse(result.out).at("device");
    const json* imageFormat = FindNode(root, "ImageFormatControl");
    ASSERT_NE(imageFormat, nullptr);
    EXPECT_EQ(imageFormat->at("type"), "category");
    const json* width = FindNode(*imageFormat, "Width");
    ASSERT_NE(width, nullptr);
    EXPECT_EQ(width->at("access"), "RW");
    EXPECT_LE(width->at("min").get<long long>(), width->at("value").get<long long>());
    EXPECT_FALSE(width->at("description").get<std::string>().empty());
    const json* format = FindNode(root, "PixelFormat");
    ASSERT_NE(format, nullptr);
    bool currentListed = false;
    for (const json& entry : format->at("entries"))
        currentListed = currentListed || entry.at("name") == format->at("value");
    EXPECT_TRUE(currentListed) << format->dump();
    EXPECT_EQ(FindNode(root, "SensorWidth")->at("access"), "RO");
}

TEST_F(ToolOverFake, RefusedWritesSayWhy) {
    const auto result = Tool({"set", serial, "ExposureTime=1e9", "PixelFormat=Bogus",
                              "SensorWidth=5", "Widht=64", "--json"});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    const json readings = json::parse(result.out);
    ASSERT_EQ(readings.size(), 4u);
    EXPECT_NE(readings[0].value("reason", "").find("1e9 is outside ["), std::string::npos)
        << readings[0].dump();
    EXPECT_NE(readings[1].value("reason", "").find("is not an entry"), std::string::npos);
    EXPECT_NE(readings[1].value("reason", "").find("Mono8"), std::string::npos);
    EXPECT_EQ(readings[2].value("reason", ""), "not writable: access mode RO (read-only now)");
    EXPECT_EQ(readings[3].value("reason", ""), "no feature \"Widht\"; did you mean Width?");
}

TEST_F(ToolOverFake, GrabJsonCountsEveryFrameOfTheCamera) {
    tooltest::TempDir dir;
    const auto result = Tool({"grab", serial, "-n", "5", "--json", "-o", dir.Path().string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::vector<json> objects = tooltest::JsonLines(result.out);
    ASSERT_EQ(objects.size(), 6u) << result.out;
    EXPECT_EQ(objects[4].at("index"), 5);
    const json& summary = objects[5];
    EXPECT_EQ(summary.at("grabbed"), 5);
    EXPECT_EQ(summary.at("written"), 5);
    EXPECT_EQ(summary.at("notWritten"), 0);
    EXPECT_GT(summary.at("fps").get<double>(), 0.0);
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "frame_0005.png"));
}

}  // namespace
