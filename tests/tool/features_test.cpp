// features: the feature tree read through the camera library, as JSON and text.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "ToolRunner.h"

namespace {

using nlohmann::json;
using tooltest::FindNode;
using tooltest::RunSim;

TEST(FeaturesCommand, JsonTreeHasTypesAccessRangesUnitsAndEntries) {
    const auto result = RunSim({"features", "SIM-AREA-001", "--json"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const json trees = json::parse(result.out);
    const json& root = trees.at("device");
    EXPECT_EQ(root.at("type"), "category");
    EXPECT_TRUE(trees.at("grabber").is_null());

    const json* width = FindNode(root, "Width");
    ASSERT_NE(width, nullptr);
    EXPECT_EQ(width->at("type"), "int");
    EXPECT_EQ(width->at("access"), "RO");
    EXPECT_EQ(width->at("inc"), 16);
    const json* exposure = FindNode(root, "ExposureTimeAbs");
    ASSERT_NE(exposure, nullptr);
    EXPECT_EQ(exposure->at("unit"), "us");
    EXPECT_FALSE(exposure->at("description").get<std::string>().empty());
    EXPECT_EQ(exposure->at("toolTip"), exposure->at("description")) << "tool tip defaults";
    EXPECT_EQ(FindNode(root, "GainRaw")->at("visibility"), "Expert");
    const json* format = FindNode(root, "PixelFormat");
    ASSERT_NE(format, nullptr);
    ASSERT_EQ(format->at("entries").size(), 4u);
    EXPECT_TRUE(format->at("entries")[0].at("available").get<bool>());
    // Not reachable from Root: not listed.
    EXPECT_EQ(FindNode(root, "TLParamsLocked"), nullptr);
}

TEST(FeaturesCommand, TextShowsValueUnitRangeAndEntriesAndTheGrabber) {
    const auto text = RunSim({"features", "SIM-AREA-001"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("  ExposureTimeAbs (float, RW) = 10000 us  [min 20, max 1e+06]"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("  PixelFormat (enum, RW) = Mono8  {Mono8, Mono10, Mono12, Mono16}"),
              std::string::npos);

    // A Camera Link camera shows its grabber too; an unknown serial fails.
    const auto missing = RunSim({"features", "NO-SUCH-CAMERA"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("NO-SUCH-CAMERA"), std::string::npos) << missing.err;
    const auto cl = RunSim({"features", "SIM-KZRCL-P01", "--json"});
    ASSERT_EQ(cl.exitCode, 0) << cl.err;
    EXPECT_FALSE(json::parse(cl.out).at("grabber").is_null()) << cl.out;
}

}  // namespace
