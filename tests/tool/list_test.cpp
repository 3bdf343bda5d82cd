// list and cards on the demo set: the table and the JSON carry the same records,
// and the records are the demo cameras.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>

#include "KZRSim.h"
#include "ToolRunner.h"

namespace {

using nlohmann::json;
using tooltest::RunSim;

const KZRSIM::CameraSpec* FindSpec(const KZRSIM::Scenario& scenario, const std::string& serial) {
    for (const KZRSIM::CameraSpec& desc : scenario.cameras) {
        if (desc.serial == serial) return &desc;
    }
    return nullptr;
}

// The JSON records are the demo cameras with host interface codes; the table
// shows the same records.
TEST(ListCommand, JsonAndTableShowTheDemoCameras) {
    const auto result = RunSim({"list", "--json"});
    const auto table = RunSim({"list"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    ASSERT_EQ(table.exitCode, 0) << table.err;
    const json cameras = json::parse(result.out);
    ASSERT_TRUE(cameras.is_array());
    ASSERT_FALSE(cameras.empty());
    const KZRSIM::Scenario demo = KZRSIM::DemoScenario();
    // Camera library transport codes -> host interface numbers.
    const std::map<int, int> hostInterface = {{1, 0}, {2, 1}, {4, 3}, {8, 4}};
    bool sawArea = false;
    for (const json& camera : cameras) {
        const std::string serial = camera.at("serial");
        const KZRSIM::CameraSpec* desc = FindSpec(demo, serial);
        ASSERT_NE(desc, nullptr) << serial << " is not a demo camera";
        EXPECT_EQ(camera.at("vendor"), desc->vendor) << serial;
        EXPECT_EQ(camera.at("model"), desc->model) << serial;
        ASSERT_TRUE(hostInterface.count(desc->transport)) << serial;
        EXPECT_EQ(camera.at("interface"), hostInterface.at(desc->transport)) << serial;
        sawArea = sawArea || serial == "SIM-AREA-001";
        const auto rows = tooltest::LinesStartingWith(table.out, serial + " ");
        ASSERT_EQ(rows.size(), 1u) << table.out;
        EXPECT_NE(rows[0].find(desc->model), std::string::npos) << rows[0];
        EXPECT_NE(rows[0].find(camera.at("interfaceName").get<std::string>()), std::string::npos);
    }
    EXPECT_TRUE(sawArea);
    EXPECT_NE(table.out.find(std::to_string(cameras.size()) + " cameras"), std::string::npos);
}

TEST(CardsCommand, TableListsEveryServerAndDeviceOfTheJson) {
    const auto table = RunSim({"cards"});
    const auto asJson = RunSim({"cards", "--json"});
    ASSERT_EQ(table.exitCode, 0) << table.err;
    ASSERT_EQ(asJson.exitCode, 0) << asJson.err;
    const json cards = json::parse(asJson.out);
    ASSERT_TRUE(cards.is_array());
    ASSERT_FALSE(cards.empty()) << "the demo set has Camera Link cameras";
    for (const json& card : cards) {
        EXPECT_EQ(card.at("interface"), 3);
        ASSERT_FALSE(card.at("servers").empty());
        for (const json& server : card.at("servers")) {
            const auto rows = tooltest::LinesStartingWith(
                table.out, "  server " + server.at("name").get<std::string>() + ":");
            ASSERT_EQ(rows.size(), 1u) << table.out;
            for (const json& device : server.at("devices")) {
                EXPECT_NE(rows[0].find(device.get<std::string>()), std::string::npos) << rows[0];
            }
        }
    }
    EXPECT_NE(table.out.find(std::to_string(cards.size()) + " card"), std::string::npos);
}

}  // namespace
