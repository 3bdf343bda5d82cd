// Node name fallbacks, typed reads and writes, strings and enumerations,
// registers and commands.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "SimFixture.h"

using qrvtest::Camera;
using qrvtest::NodeBuilder;
using qrvtest::SimFixture;

namespace {

constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();

}  // namespace

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

// The fallback table is read per call, in order, and skips names that are not features.
TEST_F(ParamTest, FallbackFindsTheFirstFeatureOfTheTable) {
    CGenICamCamera& s = With([](GenApi::CMemoryNodeMap& m) {
        m.AddInteger("GainRaw", 10, 0, 100, 1);
        m.AddFloat("ExposureTime", 100, 0, 1000);
        m.AddFloat("ExposureTimeAbs", 200, 0, 1000);
        m.AddCategory("AcquisitionFrameRate");
        m.AddFloat("AcquisitionFrameRateAbs", 10, 1, 100);
        m.AddFloat("TriggerDelay", 1, 0, 10).Feature(false);
        m.AddFloat("TriggerDelayRaw", 2, 0, 10);
    });
    EXPECT_EQ(0, s.SetParamInt("Gain", 42));
    EXPECT_EQ(42, m_map->PeekInt("GainRaw"));
    int v = 0;
    EXPECT_EQ(0, s.GetParamInt("Gain", &v, nullptr, nullptr, nullptr));
    EXPECT_EQ(42, v);
    EXPECT_EQ(2, s.GetNodeType("Gain"));
    EXPECT_EQ(0, s.SetParamFloat("ExposureTime", 300));
    EXPECT_EQ(300, m_map->PeekFloat("ExposureTime"));
    EXPECT_EQ(200, m_map->PeekFloat("ExposureTimeAbs"));
    EXPECT_EQ(0, s.SetParamFloat("ExposureTimeAbs", 250));  // asked directly: no fallback
    EXPECT_EQ(250, m_map->PeekFloat("ExposureTimeAbs"));
    EXPECT_EQ(0, s.SetParamFloat("AcquisitionFrameRate", 25));
    EXPECT_EQ(25, m_map->PeekFloat("AcquisitionFrameRateAbs"));
    EXPECT_EQ(0, s.SetParamFloat("TriggerDelay", 5));
    EXPECT_EQ(5, m_map->PeekFloat("TriggerDelayRaw"));
    EXPECT_EQ(1, m_map->PeekFloat("TriggerDelay"));
}

TEST_F(ParamTest, NonFeatureOrOtherCaseIsNoCandidate) {
    CGenICamCamera& s = With([](GenApi::CMemoryNodeMap& m) {
        m.AddFloat("exposuretime", 1, 0, 10);
        m.AddFloat("Gain", 1, 0, 10).Feature(false);  // and no other candidate
    });
    float f = 0;
    EXPECT_EQ(101022, s.GetParamFloat("ExposureTime", &f, &f, &f, &f));
    EXPECT_EQ(101022, s.SetParamFloat("Gain", 5));
    EXPECT_EQ(1, m_map->PeekFloat("Gain"));
    EXPECT_EQ(-1, s.GetNodeType("Gain"));
    // Names in another letter case are passed through unchanged.
    EXPECT_EQ(0, s.SetParamFloat("exposuretime", 3));
    EXPECT_EQ(3, m_map->PeekFloat("exposuretime"));
}

TEST_F(ParamTest, NodeTypeCodes) {
    CGenICamCamera& s = With([](GenApi::CMemoryNodeMap& m) {
        m.AddBoolean("B", true);
        m.AddInteger("I", 1, 0, 10);
        m.AddFloat("F", 1, 0, 10);
        m.AddString("S", "x");
        m.AddEnumeration("E", {{"A", 0}, {"B", 1}}, "A");
        m.AddCommand("C");
        m.AddRegister("R", 4);
        m.AddIntRegister("IR", 1, 0, 100);
        m.AddCategory("Cat");
        m.AddValue("V");
        m.AddPort("Port");
        m.AddInteger("Hidden", 1, 0, 10).Feature(false);
    });
    const std::pair<const char*, int> expected[] = {
        {"B", 1},  {"I", 2},    {"F", 3},  {"S", 4},     {"E", 4},       {"C", 5},       {"R", -1},
        {"IR", 2}, {"Cat", -1}, {"V", -1}, {"Port", -1}, {"Hidden", -1}, {"Missing", -1}};
    for (const auto& [name, code] : expected) EXPECT_EQ(code, s.GetNodeType(name)) << name;
}

struct SIntCase {
    const char* name;
    int64_t min, max, inc;
    int value;
    int result;
    int64_t written;
};

void PrintTo(const SIntCase& c, std::ostream* out) {
    *out << c.name;
}

class SetParamIntGrid : public ParamTest, public ::testing::WithParamInterface<SIntCase> {};

TEST_P(SetParamIntGrid, ClampsAndAlignsDownwards) {
    const SIntCase c = GetParam();
    CGenICamCamera& s =
        With([c](GenApi::CMemoryNodeMap& m) { m.AddInteger("N", c.min, c.min, c.max, c.inc); });
    const int64_t before = m_map->PeekInt("N");
    EXPECT_EQ(c.result, s.SetParamInt("N", c.value));
    EXPECT_EQ(c.result == 0 ? c.written : before, m_map->PeekInt("N"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SetParamIntGrid,
    ::testing::Values(
        SIntCase{"OffGridDown", 0, 100, 4, 10, 0, 8}, SIntCase{"AtMax", 0, 100, 4, 100, 0, 100},
        SIntCase{"AboveMaxClamps", 0, 100, 4, 103, 0, 100},
        SIntCase{"IntMaxInHugeRange", 0, kInt64Max, 1, 2147483647, 0, 2147483647},
        SIntCase{"BelowMinMovesUp", 10, 100, 4, 8, 0, 10},
        SIntCase{"FarBelowMinRefused", 10, 100, 4, 5, 101040, 0},
        // Ranges beyond 32 bits saturate instead of wrapping.
        SIntCase{"MaxBeyond32Bits", 0, int64_t{1} << 32, 1, 5, 0, 5},
        SIntCase{"IntMaxBelowMaxBeyond32Bits", 0, int64_t{1} << 32, 1, 2147483647, 0, 2147483647},
        SIntCase{"MinBeyond32Bits", kInt64Min, 100, 1, -5, 0, -5},
        SIntCase{"IntMaxOnGridOf3", -2147483648LL, 2147483647LL, 3, 2147483647, 0, 2147483647},
        SIntCase{"OffGridOf3", -2147483648LL, 2147483647LL, 3, 2147483646, 0, 2147483644}),
    qrvtest::ByName());

TEST_F(ParamTest, GetParamIntSaturatesAndLogs) {
    CGenICamCamera& s = With([](GenApi::CMemoryNodeMap& m) {
        m.AddInteger("Big", int64_t{1} << 40, 0, kInt64Max, 16);
        m.AddInteger("Neg", -5, kInt64Min, -1, 1);
        m.AddInteger("Width", 640, 16, 4096, 16);
    });
    int v = 0, lo = 0, hi = 0, inc = 0;
    EXPECT_EQ(0, s.GetParamInt("Big", &v, &lo, &hi, &inc));
    EXPECT_EQ(2147483647, v);
    EXPECT_EQ(0, lo);
    EXPECT_EQ(2147483647, hi);
    EXPECT_EQ(16, inc);
    EXPECT_EQ(0, s.GetParamInt("Neg", &v, &lo, &hi, &inc));
    EXPECT_EQ(-5, v);
    EXPECT_EQ(std::numeric_limits<int>::min(), lo);
    EXPECT_EQ(-1, hi);  // a real maximum of -1 stays -1

    EXPECT_EQ(0, s.GetParamInt("Width", &v, &lo, &hi, &inc));
    EXPECT_EQ(101022, s.GetParamInt("Nope", &v, &lo, &hi, &inc));
    const std::vector<std::string> lines = LogMessages();
    ASSERT_EQ(7u, lines.size());
    EXPECT_EQ("GetParamInt\xA3\xBAWidth", lines[4]);
    EXPECT_EQ("GetParamInt\xA3\xBAWidth, iValue = 640, min = 16, max = 4096", lines[5]);
    EXPECT_EQ("GetParamInt\xA3\xBANope", lines[6]);
}

TEST_F(ParamTest, GetParamFloatIncrementAndLogLine) {
    CGenICamCamera& s = With([](GenApi::CMemoryNodeMap& m) {
        m.AddFloat("Plain", 0.5, 0, 1234567);
        m.AddFloat("Fixed", 1.5, 0, 10, {true, GenApi::fixedIncrement, 0.25});
        m.AddFloat("Listed", 1.0, 0, 10, {true, GenApi::listIncrement, 0.5});
    });
    float v = 0, lo = 0, hi = 0, inc = 0;
    EXPECT_EQ(0, s.GetParamFloat("Plain", &v, &lo, &hi, &inc));
    EXPECT_EQ(0.5f, v);
    EXPECT_EQ(1234567.0f, hi);
    EXPECT_EQ(1.0f, inc);
    EXPECT_EQ(0, s.GetParamFloat("Fixed", &v, &lo, &hi, &inc));
    EXPECT_EQ(0.25f, inc);
    EXPECT_EQ(0, s.GetParamFloat("Listed", &v, &lo, &hi, &inc));
    EXPECT_EQ(1.0f, inc);
    const std::vector<std::string> lines = LogMessages();
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("GetParamFloat\xA3\xBAPlain, fValue = 0.5, min = 0, max = 1.23457e+06", lines[0]);
}

TEST_F(ParamTest, AccessAndInterfaceChecks) {
    CGenICamCamera& s = With([](GenApi::CMemoryNodeMap& m) {
        m.AddInteger("I", 1, 0, 10);
        m.AddBoolean("RoBool", true).Access(GenApi::RO);
        m.AddInteger("WoInt", 1, 0, 10).Access(GenApi::WO);
        m.AddFloat("F", 1, 0, 10);
        m.AddBoolean("NaBool", true).Access(GenApi::NA);
    });
    bool b = false;
    int i = 0;
    EXPECT_EQ(101022, s.GetParamBool("I", &b));
    EXPECT_EQ(101022, s.SetParamBool("RoBool", false));
    EXPECT_EQ(0, s.GetParamBool("RoBool", &b));
    EXPECT_TRUE(b);
    EXPECT_EQ(101022, s.GetParamInt("WoInt", &i, &i, &i, &i));
    // The write lands; the read-back that follows every write is refused.
    EXPECT_EQ(101040, s.SetParamInt("WoInt", 3));
    EXPECT_EQ(3, m_map->PeekInt("WoInt"));
    EXPECT_EQ(101022, s.GetParamBool("NaBool", &b));
    EXPECT_EQ(101040, s.SetParamFloat("F", 11));
    EXPECT_EQ(1, m_map->PeekFloat("F"));
    EXPECT_EQ(101022, s.SetParamBool("NaBool", true));
}

TEST_F(ParamTest, NullOutPointersAreSkipped) {
    CGenICamCamera& s = With([](GenApi::CMemoryNodeMap& m) {
        m.AddInteger("I", 7, 0, 10);
        m.AddFloat("F", 1, 0, 10);
        m.AddBoolean("B", true);
        m.AddEnumeration("E", {{"A", 0}}, "A");
    });
    int hi = 0;
    EXPECT_EQ(0, s.GetParamInt("I", nullptr, nullptr, &hi, nullptr));
    EXPECT_EQ(10, hi);
    EXPECT_EQ(0, s.GetParamFloat("F", nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(0, s.GetParamBool("B", nullptr));
    QRVStringArray entries;
    EXPECT_EQ(0, s.GetParamStr("E", nullptr, &entries));
    EXPECT_EQ(1, entries.size());
    QRVString value;
    EXPECT_EQ(0, s.GetParamStr("E", &value, nullptr));
    EXPECT_EQ(QRVString("A"), value);
}

TEST_F(ParamTest, FaultsGiveGenICamOrOtherCodes) {
    CGenICamCamera& s = With([](GenApi::CMemoryNodeMap& m) {
        m.AddInteger("G", 1, 0, 10)
            .InjectFault({GenApi::EFaultOp::GetValue, GenApi::EFaultKind::GenICam, 0});
        m.AddInteger("S", 1, 0, 10)
            .InjectFault({GenApi::EFaultOp::GetValue, GenApi::EFaultKind::Std, 0});
        m.AddInteger("W", 1, 0, 10)
            .InjectFault({GenApi::EFaultOp::SetValue, GenApi::EFaultKind::Std, 0});
    });
    int v = -3;
    EXPECT_EQ(101040, s.GetParamInt("G", &v, nullptr, nullptr, nullptr));
    EXPECT_EQ(101041, s.GetParamInt("S", &v, nullptr, nullptr, nullptr));
    EXPECT_EQ(-3, v);
    EXPECT_EQ(101041, s.SetParamInt("W", 2));
    EXPECT_EQ(101040, s.SetParamInt("G", 2));  // the read-back fails after the write
    EXPECT_EQ(2, m_map->PeekInt("G"));
}

TEST_F(ParamTest, MissingModuleOrNodeMapGivesMinusOne) {
    KZRSIM::CameraSpec noModule = Camera("NM");
    noModule.deviceModule = false;
    KZRSIM::CameraSpec noMap = Camera("NN");
    noMap.deviceNodeMap = false;
    Use({noModule, noMap});
    for (const char* serial : {"NM", "NN"}) {
        auto s = OpenSession(serial);
        int i = 0;
        QRVString str;
        unsigned char buf[4] = {};
        EXPECT_EQ(-1, s->GetNodeType("Width")) << serial;
        EXPECT_EQ(-1, s->SetParamInt("Width", 1)) << serial;
        EXPECT_EQ(-1, s->GetParamInt("Width", &i, &i, &i, &i)) << serial;
        EXPECT_EQ(-1, s->GetParamStr("Width", &str, nullptr)) << serial;
        EXPECT_EQ(-1, s->SetRegisterData("R", buf, 4)) << serial;
        EXPECT_EQ(-1, s->ExecuteCMD("C")) << serial;
    }
}

TEST_F(ParamTest, ClosedCameraGives101007WithoutLogLine) {
    CGenICamCamera& s = With([](GenApi::CMemoryNodeMap& m) { m.AddInteger("I", 1, 0, 10); });
    ASSERT_EQ(0, s.Close());
    int i = 0;
    EXPECT_EQ(101007, s.GetParamInt("I", &i, &i, &i, &i));
    EXPECT_EQ(101007, s.SetParamStr("I", "x"));
    EXPECT_EQ(101007, s.GetNodeType("I"));
    EXPECT_EQ(101007, s.ExecuteCMD("I"));
    EXPECT_TRUE(LogMessages().empty());
}

TEST_F(ParamTest, EnumerationAndStringParameters) {
    CGenICamCamera& s = With([](GenApi::CMemoryNodeMap& m) {
        m.AddEnumeration("TriggerSource", {{"Line0", 0}, {"Software", 1}}, "Software");
        m.AddString("DeviceUserID", "cam one");
        m.AddEnumeration("WoEnum", {{"A", 0}}, "A").Access(GenApi::WO);
    });
    QRVString value;
    QRVStringArray entries;
    entries.push_back("kept");
    EXPECT_EQ(0, s.GetParamStr("TriggerSource", &value, &entries));
    EXPECT_EQ(QRVString("Software"), value);
    ASSERT_EQ(3, entries.size());
    EXPECT_EQ(QRVString("kept"), entries.at(0));
    EXPECT_EQ(QRVString("Line0"), entries.at(1));
    EXPECT_EQ(QRVString("Software"), entries.at(2));
    EXPECT_EQ(0, s.GetParamStr("TriggerSource", &value, &entries));
    EXPECT_EQ(5, entries.size());

    QRVStringArray one;
    EXPECT_EQ(0, s.GetParamStr("DeviceUserID", &value, &one));
    EXPECT_EQ(QRVString("cam one"), value);
    ASSERT_EQ(1, one.size());
    EXPECT_EQ(QRVString("cam one"), one.at(0));

    EXPECT_EQ(101022, s.GetParamStr("WoEnum", &value, &one));
    EXPECT_EQ(0, s.SetParamStr("TriggerSource", "Line0"));
    EXPECT_EQ("Line0", m_map->PeekString("TriggerSource"));
    EXPECT_EQ(101040, s.SetParamStr("TriggerSource", "Line9"));
    EXPECT_EQ(101022, s.SetParamStr("DeviceUserID", "x"));
    EXPECT_EQ(std::vector<std::string>{"SetParamStr: TriggerSource, value = Line0"}, LogMessages());
}

TEST_F(ParamTest, CommandIsExecutedWithoutWaitingForCompletion) {
    CGenICamCamera& s = With([](GenApi::CMemoryNodeMap& m) {
        // A wait would poll IsDone, which fails here.
        m.AddCommand("Start", GenApi::ECommandCompletion::Never)
            .InjectFault({GenApi::EFaultOp::IsDone, GenApi::EFaultKind::Std, 0});
        m.AddInteger("I", 1, 0, 10);
    });
    EXPECT_EQ(0, s.ExecuteCMD("Start"));
    EXPECT_EQ(1, m_map->ExecuteCount("Start"));
    EXPECT_EQ(0, m_map->CallCount("Start", GenApi::EFaultOp::IsDone));
    EXPECT_EQ(101022, s.ExecuteCMD("I"));
}

// FrameTriggerCtrl and FrameTriggerSource come from the frame grabber on a
// Camera Link session only; everything else, and every write, goes to the camera.
struct SSourceCase {
    const char* name;
    int transport;
    const char* feature;
    const char* expected;  ///< "Dev" from the camera, "Grab" from the grabber
};

void PrintTo(const SSourceCase& c, std::ostream* out) {
    *out << c.name;
}

class TriggerSourceMapTest : public ParamTest, public ::testing::WithParamInterface<SSourceCase> {};

TEST_P(TriggerSourceMapTest, ReadsFromTheRightNodeMap) {
    const SSourceCase& c = GetParam();
    auto build = [](const char* value) {
        return [value](GenApi::CMemoryNodeMap& m) {
            for (const char* feature : {"FrameTriggerCtrl", "FrameTriggerSource", "TriggerMode"}) {
                m.AddEnumeration(feature, {{"Dev", 0}, {"Grab", 1}, {"New", 2}}, value);
            }
        };
    };
    KZRSIM::CameraSpec desc = Camera("S", build("Dev"), c.transport);
    desc.grabberModule = true;
    desc.buildGrabber = build("Grab");
    Use({desc});
    auto s = OpenSession("S", WriteFile("g.cam", "").string());
    ASSERT_EQ(c.transport == KZRGENICAM::TransportCameraLink, s->CameraLink());
    QRVString value;
    EXPECT_EQ(0, s->GetParamStr(c.feature, &value, nullptr));
    EXPECT_EQ(QRVString(c.expected), value);
    EXPECT_EQ(0, s->SetParamStr(c.feature, "New"));
    EXPECT_EQ("New", KZRSIM::DeviceNodeMap("S")->PeekString(c.feature));
    EXPECT_EQ("Grab", KZRSIM::GrabberNodeMap("S")->PeekString(c.feature));
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, TriggerSourceMapTest,
    ::testing::Values(
        SSourceCase{"CameraLinkCtrl", KZRGENICAM::TransportCameraLink, "FrameTriggerCtrl", "Grab"},
        SSourceCase{"CameraLinkSource", KZRGENICAM::TransportCameraLink, "FrameTriggerSource",
                    "Grab"},
        SSourceCase{"CameraLinkOther", KZRGENICAM::TransportCameraLink, "TriggerMode", "Dev"},
        SSourceCase{"GigECtrl", KZRGENICAM::TransportGigE, "FrameTriggerCtrl", "Dev"}),
    qrvtest::ByName());

TEST_F(ParamTest, RegisterDataReadWriteAndAccess) {
    CGenICamCamera& s = With([](GenApi::CMemoryNodeMap& m) {
        m.AddRegister("R", 4, {1, 2, 3, 4});
        m.AddRegister("RoReg", 2, {9, 9}).Access(GenApi::RO);
        m.AddRegister("WoReg", 2).Access(GenApi::WO);
    });
    unsigned char buf[4] = {};
    EXPECT_EQ(0, s.GetRegisterData("R", buf, 4));
    EXPECT_EQ(3, buf[2]);
    const unsigned char data[4] = {5, 6, 7, 8};
    EXPECT_EQ(0, s.SetRegisterData("R", data, 4));
    EXPECT_EQ(0, s.GetRegisterData("R", buf, 4));
    EXPECT_EQ(8, buf[3]);
    EXPECT_EQ(101040, s.SetRegisterData("R", data, 3));  // the node refuses a short length
    EXPECT_EQ(101022, s.SetRegisterData("RoReg", data, 2));
    EXPECT_EQ(101022, s.GetRegisterData("WoReg", buf, 2));
}

// A buffer that no register can serve is refused before the node is asked
// anything, even its access mode.
TEST_F(ParamTest, BadRegisterBufferIsRefusedBeforeTheNodeIsTouched) {
    CGenICamCamera& s = With([](GenApi::CMemoryNodeMap& m) {
        m.AddRegister("R", 4).InjectFault(
            {GenApi::EFaultOp::GetAccessMode, GenApi::EFaultKind::GenICam, 0});
    });
    unsigned char buf[4] = {};
    EXPECT_EQ(101022, s.SetRegisterData("R", buf, -1));
    EXPECT_EQ(101022, s.SetRegisterData("R", nullptr, 4));
    EXPECT_EQ(101022, s.GetRegisterData("R", buf, -4));
    EXPECT_EQ(101022, s.GetRegisterData("R", nullptr, 4));
    EXPECT_EQ(0, m_map->CallCount("R", GenApi::EFaultOp::GetAccessMode));
    EXPECT_EQ(101040, s.GetRegisterData("R", buf, 4));  // a usable buffer reaches the node
}
