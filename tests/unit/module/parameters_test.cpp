// What the parameter operations leave where the entry points cannot look: the
// log lines, node values behind a refused read-back, host arrays and out-values
// kept, how often a command runs. Results and values seen through the entry
// points are in tests/tool/cases/module/parameters.test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SimFixture.h"

using qrvtest::Camera;
using qrvtest::NodeBuilder;
using qrvtest::SimFixture;

class ParamTest : public SimFixture {
protected:
    /// Opens camera "P" whose device node map build fills.
    CGenICamCamera& With(NodeBuilder build) {
        m_session.reset();
        Use({Camera("P", std::move(build))});
        m_session = OpenSession("P");
        m_map = KZRSIM::DeviceNodeMap("P");
        return *m_session;
    }
    void TearDown() override {
        m_session.reset();
        SimFixture::TearDown();
    }
    std::unique_ptr<CGenICamCamera> m_session;
    GenApi::CMemoryNodeMap* m_map = nullptr;
};

TEST_F(ParamTest, LogLinesNameTheRequestedFeature) {
    CGenICamCamera& s = With([](GenApi::CMemoryNodeMap& m) {
        m.AddInteger("Width", 640, 16, 4096, 16);
        m.AddFloat("Plain", 0.5, 0, 1234567);
        m.AddEnumeration("TriggerSource", {{"Line0", 0}, {"Software", 1}}, "Software");
    });
    int v = 0;
    float f = 0;
    EXPECT_EQ(0, s.GetParamInt("Width", &v, &v, &v, &v));
    EXPECT_EQ(101022, s.GetParamInt("Nope", &v, &v, &v, &v));
    EXPECT_EQ(0, s.GetParamFloat("Plain", &f, &f, &f, &f));
    EXPECT_EQ(0, s.SetParamStr("TriggerSource", "Line0"));
    EXPECT_EQ(0, s.SetParamInt("Width", 64));
    EXPECT_EQ(std::vector<std::string>(
                  {"GetParamInt\xA3\xBAWidth",
                   "GetParamInt\xA3\xBAWidth, iValue = 640, min = 16, max = 4096",
                   "GetParamInt\xA3\xBANope",
                   "GetParamFloat\xA3\xBAPlain, fValue = 0.5, min = 0, max = 1.23457e+06",
                   "SetParamStr: TriggerSource, value = Line0"}),
              LogMessages());
    ASSERT_EQ(0, s.Close());
    EXPECT_EQ(101007, s.GetParamInt("Width", &v, &v, &v, &v));
    EXPECT_EQ(5u, LogMessages().size()) << "a closed camera logs nothing";
    // A closed camera is reported before the host's buffer is looked at.
    EXPECT_EQ(101007, s.GetRegisterData("R", nullptr, 4));
    EXPECT_EQ(101007, s.SetRegisterData("R", nullptr, -1));
}

// A write lands even when its read-back is refused; a failed read leaves the
// host's value and a non-feature candidate untouched.
TEST_F(ParamTest, NodeValuesBehindFailedCalls) {
    CGenICamCamera& s = With([](GenApi::CMemoryNodeMap& m) {
        m.AddInteger("WoInt", 1, 0, 10).Access(GenApi::WO);
        m.AddInteger("G", 1, 0, 10)
            .InjectFault({GenApi::EFaultOp::GetValue, GenApi::EFaultKind::GenICam, 0});
        m.AddFloat("TriggerDelay", 1, 0, 10).Feature(false);
        m.AddFloat("TriggerDelayRaw", 2, 0, 10);
        m.AddCommand("Start");
    });
    EXPECT_EQ(101040, s.SetParamInt("WoInt", 3));
    EXPECT_EQ(3, m_map->PeekInt("WoInt"));
    EXPECT_EQ(101040, s.SetParamInt("G", 2));
    EXPECT_EQ(2, m_map->PeekInt("G"));
    int v = -3;
    EXPECT_EQ(101040, s.GetParamInt("G", &v, nullptr, nullptr, nullptr));
    EXPECT_EQ(-3, v);
    EXPECT_EQ(0, s.SetParamFloat("TriggerDelay", 5));
    EXPECT_EQ(1, m_map->PeekFloat("TriggerDelay"));
    EXPECT_EQ(0, s.ExecuteCMD("Start"));
    EXPECT_EQ(1, m_map->ExecuteCount("Start"));
}

// Entries are appended to what the host's array already holds.
TEST_F(ParamTest, EntriesAreAppended) {
    CGenICamCamera& s = With([](GenApi::CMemoryNodeMap& m) {
        m.AddEnumeration("TriggerSource", {{"Line0", 0}, {"Software", 1}}, "Software");
    });
    QRVString value;
    QRVStringArray entries;
    entries.push_back("kept");
    EXPECT_EQ(0, s.GetParamStr("TriggerSource", &value, &entries));
    ASSERT_EQ(3, entries.size());
    EXPECT_EQ(QRVString("kept"), entries.at(0));
    EXPECT_EQ(QRVString("Line0"), entries.at(1));
    EXPECT_EQ(0, s.GetParamStr("TriggerSource", &value, &entries));
    EXPECT_EQ(5, entries.size());
}

// On a Camera Link session a write of a trigger feature the grabber answers for
// still goes to the camera.
TEST_F(ParamTest, CameraLinkWritesGoToTheCamera) {
    auto build = [](const char* value) {
        return [value](GenApi::CMemoryNodeMap& m) {
            m.AddEnumeration("FrameTriggerCtrl", {{"Dev", 0}, {"Grab", 1}, {"New", 2}}, value);
        };
    };
    KZRSIM::CameraSpec desc = Camera("S", build("Dev"), KZRGENICAM::TransportCameraLink);
    desc.grabberModule = true;
    desc.buildGrabber = build("Grab");
    Use({desc});
    auto s = OpenSession("S", WriteFile("g.cam", "").string());
    EXPECT_EQ(0, s->SetParamStr("FrameTriggerCtrl", "New"));
    EXPECT_EQ("New", KZRSIM::DeviceNodeMap("S")->PeekString("FrameTriggerCtrl"));
    EXPECT_EQ("Grab", KZRSIM::GrabberNodeMap("S")->PeekString("FrameTriggerCtrl"));
}
