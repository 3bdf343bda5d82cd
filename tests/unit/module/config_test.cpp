// The .cam loader: line rules, value conversions per node type, and what it
// leaves alone.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "SimFixture.h"

using qrvtest::Camera;
using qrvtest::SimFixture;

namespace {

void BuildGrabber(GenApi::CMemoryNodeMap& map) {
    map.AddInteger("Width", 64, 0, 100000, 1);
    map.AddInteger("Height", 48, -1000, 100000, 1);
    map.AddInteger("Offset", 0, INT64_MIN, INT64_MAX, 1);
    map.AddInteger("ReadOnlyInt", 5, 0, 100, 1).Access(GenApi::RO);
    map.AddBoolean("Strobe", false);
    map.AddFloat("Exposure", 1.0, 0.0, 1e6);
    map.AddEnumeration("Tap", {{"Tap1", 1}, {"Tap2", 2}, {"Tap8", 8}}, "Tap1");
    map.AddString("Label", "old");
    map.AddCommand("Reset");
    map.AddRegister("Reg", 4, {1, 2, 3, 4});
}

}  // namespace

class ConfigFileTest : public SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        KZRSIM::CameraSpec desc = Camera("G");
        desc.grabberModule = true;
        desc.buildGrabber = BuildGrabber;
        Use({desc});
        m_session = OpenSession("G");
        m_map = KZRSIM::GrabberNodeMap("G");
        ASSERT_NE(nullptr, m_map);
    }
    void TearDown() override {
        m_session.reset();
        SimFixture::TearDown();
    }

    bool Load(const std::string& content, const std::string& name = "test.cam") {
        return m_session->LoadCameraConfigFile(WriteFile(name, content).string().c_str());
    }

    std::unique_ptr<CGenICamCamera> m_session;
    GenApi::CMemoryNodeMap* m_map = nullptr;
};

TEST_F(ConfigFileTest, OnlyAnExistingFileWithTheLowerCaseCamExtensionIsRead) {
    for (const char* bad : {"x.CAM", "x.Cam", "x.caM", "cam", "", "x.cam.txt", "abc"}) {
        const std::string path = (m_dir / bad).string();
        std::ofstream(path) << "Width=7;\n";
        EXPECT_FALSE(m_session->LoadCameraConfigFile(std::string(bad).empty() ? "" : path.c_str()))
            << bad;
    }
    EXPECT_FALSE(m_session->LoadCameraConfigFile(QRVString()));
    EXPECT_FALSE(m_session->LoadCameraConfigFile("cam"));
    EXPECT_FALSE(m_session->LoadCameraConfigFile((m_dir / "none.cam").string().c_str()));
    EXPECT_EQ(64, m_map->PeekInt("Width"));
    // A name that is nothing but the extension passes the name test.
    EXPECT_TRUE(Load("Width=7;\n", ".cam"));
    EXPECT_EQ(7, m_map->PeekInt("Width"));
}

TEST_F(ConfigFileTest, OpenAppliesTheFileToCameraLinkCamerasOnly) {
    // Camera G has a grabber node map, but it is a GigE camera.
    m_session.reset();
    CGenICamCamera session;
    EXPECT_EQ(0, session.Open("G", WriteFile("g.cam", "Width=7;\n").string().c_str()));
    EXPECT_EQ(64, m_map->PeekInt("Width"));
    EXPECT_EQ(0, m_map->CallCount("Width", GenApi::EFaultOp::Any));
}

TEST_F(ConfigFileTest, DemoCameraLinkGrabberTakesEveryEntryOfTheExampleFile) {
    const std::string path = std::string(QRV_SOURCE_DIR) + "/examples/sim-cl-camera.cam";
    std::ifstream in(path);
    int entries = 0;
    for (std::string line; std::getline(in, line);) {
        const std::size_t end = line.find(';');
        entries += end != std::string::npos && line.find('=') < end;
    }
    m_session.reset();
    KZRSIM::SetScenario(KZRSIM::DemoScenario());
    GenApi::CMemoryNodeMap* grabber = KZRSIM::GrabberNodeMap("SIM-KZRCL-P01");
    ASSERT_NE(nullptr, grabber);
    int writes = 0;
    GenApi::NodeList_t nodes;
    grabber->GetNodes(nodes);
    for (GenApi::INode* node : nodes) {
        if (node->IsFeature())
            grabber->Ref(node->GetName().c_str()).OnWrite([&writes] { ++writes; });
    }
    auto session = OpenSession("SIM-KZRCL-P01", path);
    EXPECT_TRUE(session->CameraLink());
    EXPECT_GE(entries, 6);
    EXPECT_EQ(entries, writes);
}

TEST_F(ConfigFileTest, EmptyOrCommentOnlyFileSucceedsAndWritesNothing) {
    EXPECT_TRUE(Load(""));
    EXPECT_TRUE(Load("; only a comment\n;Width=5;\n\n"));
    EXPECT_EQ(64, m_map->PeekInt("Width"));
    EXPECT_EQ(0, m_map->CallCount("Width", GenApi::EFaultOp::SetValue));
}

TEST_F(ConfigFileTest, LineRules) {
    EXPECT_TRUE(
        Load("[Section]\n"
             "Width=100\n"            // no terminator: skipped
             "Height = 2 0 ; note\n"  // blanks vanish, trailing comment ignored
             "Tap\t=\tTap 8;\r\n"     // tabs, blank inside the value, CRLF
             "Strobe;\n"              // no '=': skipped
             "=5;\n"));               // empty name: no node
    EXPECT_EQ(64, m_map->PeekInt("Width"));
    EXPECT_EQ(20, m_map->PeekInt("Height"));
    EXPECT_EQ("Tap8", m_map->PeekString("Tap"));
    EXPECT_TRUE(Load("Width=100;\n"));
    EXPECT_EQ(100, m_map->PeekInt("Width"));
}

TEST_F(ConfigFileTest, ByteOrderMarkDoesNotHideTheFirstLine) {
    EXPECT_TRUE(Load("\xEF\xBB\xBFWidth=33;\r\nHeight=44;\r\n"));
    EXPECT_EQ(33, m_map->PeekInt("Width"));
    EXPECT_EQ(44, m_map->PeekInt("Height"));
    EXPECT_TRUE(Load("\xEF\xBB\xBF;Width=55;\nHeight=66;\n"));
    EXPECT_EQ(33, m_map->PeekInt("Width"));  // the comment stays a comment
    EXPECT_EQ(66, m_map->PeekInt("Height"));
}

// Each value is written over a known one; kKeep: the entry is skipped.
TEST_F(ConfigFileTest, ValueConversionsPerNodeType) {
    constexpr double kKeep = -12345;
    const double single = static_cast<double>(123.456789012345f);
    // clang-format off
    const std::pair<const char*, std::vector<std::pair<const char*, double>>> cases[] = {
        // A leading number, one sign at most, 32 bits only (Offset takes any
        // 64-bit value, so only the reader refuses).
        {"Height", {{"12abc", 12}, {"-25", -25}, {"+9", 9}, {"0x10", 0}, {"100=5", 100},
                    {"+-5", kKeep}, {"-+5", kKeep}, {"++5", kKeep}, {"+", kKeep}}},
        {"Offset", {{"abc", kKeep}, {"", kKeep}, {"2147483648", kKeep}, {"-2147483649", kKeep},
                    {"4294967297", kKeep}, {"-2147483648", INT32_MIN}}},
        // Only a case-blind "true" or "1" sets.
        {"Strobe", {{"True", 1}, {"TRUE", 1}, {"1", 1}, {"False", 0}, {"", 0}, {"yes", 0},
                    {"2", 0}}},
        // Rounded to single precision; overflow and underflow (also to a
        // denormal) fail, a written zero does not.
        {"Exposure", {{"123.456789012345", single}, {"abc", kKeep}, {"1e999", kKeep},
                      {"1e-999", kKeep}, {"1e-310", kKeep}, {"4.9e-324", kKeep},
                      {"0.0001e-320", kKeep}, {"+-1.5", kKeep}, {"0e5", 0}, {"0.000", 0},
                      {"+0", 0}, {"2.3e-308", 0}, {"+1.5e-30", static_cast<double>(1.5e-30f)}}}};
    // clang-format on
    for (const auto& [node, values] : cases) {
        const bool isFloat = std::string(node) == "Exposure";
        for (const auto& [text, expected] : values) {
            const std::string entry = std::string(node) + "=" + text;
            const double before = std::string(node) == "Strobe" ? 1 - (expected == 1) : 7;
            if (isFloat) {
                m_map->PokeFloat(node, before);
            } else {
                m_map->PokeInt(node, static_cast<int64_t>(before));
            }
            EXPECT_TRUE(Load(entry + ";\n")) << entry;
            const double after =
                isFloat ? m_map->PeekFloat(node) : static_cast<double>(m_map->PeekInt(node));
            EXPECT_EQ(expected == kKeep ? before : expected, after) << entry;
        }
    }
    EXPECT_NE(123.456789012345, single);
}

TEST_F(ConfigFileTest, RefusedAndIgnoredEntriesLeaveNodesAndGoOn) {
    EXPECT_TRUE(
        Load("ReadOnlyInt=9;\n"
             "Tap=Tap5;\n"         // no such entry
             "Width=999999999;\n"  // out of range
             "Label=new;\n"        // string nodes are not written
             "Reset=1;\n"          // nor commands
             "Reg=00;\n"           // nor registers
             "Nothing=1;\n"
             "Height=77;\n"));
    EXPECT_EQ(5, m_map->PeekInt("ReadOnlyInt"));
    EXPECT_EQ("Tap1", m_map->PeekString("Tap"));
    EXPECT_EQ(64, m_map->PeekInt("Width"));
    EXPECT_EQ("old", m_map->PeekString("Label"));
    EXPECT_EQ(0, m_map->ExecuteCount("Reset"));
    EXPECT_EQ(77, m_map->PeekInt("Height"));
}

TEST_F(ConfigFileTest, RepeatedNameIsWrittenEachTimeAndReadBack) {
    EXPECT_TRUE(Load("Width=10;\nWidth=20;\n"));
    EXPECT_EQ(20, m_map->PeekInt("Width"));
    EXPECT_EQ(2, m_map->CallCount("Width", GenApi::EFaultOp::SetValue));
    EXPECT_EQ(2, m_map->CallCount("Width", GenApi::EFaultOp::GetValue));
}

TEST_F(ConfigFileTest, FaultsInOneEntryDoNotStopTheFile) {
    m_map->Ref("Width").InjectFault({GenApi::EFaultOp::SetValue, GenApi::EFaultKind::Std, 0});
    m_map->Ref("Tap").InjectFault({GenApi::EFaultOp::FromString, GenApi::EFaultKind::GenICam, 0});
    EXPECT_TRUE(Load("Width=10;\nTap=Tap2;\nHeight=3;\n"));
    EXPECT_EQ(3, m_map->PeekInt("Height"));
}

TEST_F(ConfigFileTest, ApplyEntryNeedsCameraAndGrabberMap) {
    CGenICamCamera fresh;
    EXPECT_EQ(-1, fresh.ApplyConfigEntry("Width", "1"));
    EXPECT_EQ(0, m_session->ApplyConfigEntry("NoSuchNode", "1"));

    KZRSIM::CameraSpec noGrabber = Camera("N");
    KZRSIM::CameraSpec noMap = Camera("M");
    noMap.grabberModule = true;
    noMap.grabberNodeMap = false;
    Use({noGrabber, noMap});
    for (const char* serial : {"N", "M"}) {
        auto session = OpenSession(serial);
        EXPECT_EQ(-1, session->ApplyConfigEntry("Width", "1")) << serial;
        EXPECT_TRUE(
            session->LoadCameraConfigFile(WriteFile("x.cam", "Width=1;\n").string().c_str()));
    }
}

// A read error is a failed read: only a file read to its end loads.
TEST_F(ConfigFileTest, FolderNamedLikeACamFileIsAFailedRead) {
    const std::filesystem::path folder = m_dir / "folder.cam";
    std::filesystem::create_directories(folder);
    EXPECT_FALSE(m_session->LoadCameraConfigFile(folder.string().c_str()));
}
