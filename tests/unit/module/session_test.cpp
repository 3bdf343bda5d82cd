// Opening and closing sessions, the camera and card lists, and the error log.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <thread>

#include "SimFixture.h"

using qrvtest::Camera;
using qrvtest::SimFixture;

namespace {

KZRSIM::CameraSpec ClCamera(const std::string& serial, const std::string& link = "") {
    KZRSIM::CameraSpec desc = Camera(serial, {}, KZRGENICAM::TransportCameraLink);
    desc.link = link;
    desc.grabberModule = true;
    desc.buildGrabber = [](GenApi::CMemoryNodeMap& map) {
        map.AddInteger("Width", 64, 0, 4096, 1);
    };
    return desc;
}

}  // namespace

class OpenTest : public SimFixture {};

TEST_F(OpenTest, FailedOpenLogsTheNumberAndReleasesTheCamera) {
    KZRSIM::CameraSpec desc = Camera("A");
    desc.openError = 42;
    Use({desc});
    {
        CGenICamCamera session;
        EXPECT_EQ(101005, session.Open("B", ""));
        EXPECT_EQ(101016, session.Open("A", ""));
        EXPECT_EQ(nullptr, session.Camera());
        EXPECT_EQ(1, KZRSIM::Counters("A").release);
    }
    EXPECT_EQ((std::vector<std::string>{"Open camera failed, error = 101005",
                                        "Open camera failed, error = 42"}),
              LogMessages());
    EXPECT_EQ(0, KZRSIM::Library().camerasOut);
    EXPECT_EQ(0, KZRSIM::Library().doubleReleases);
}

TEST_F(OpenTest, NonCameraLinkCameraIgnoresTheConfigurationPath) {
    Use({Camera("A")});
    auto session = OpenSession("A", "/no/such/file.CAM");
    EXPECT_TRUE(session->IsOpen());
    EXPECT_FALSE(session->CameraLink());
    EXPECT_EQ(0, KZRSIM::Counters("A").setSerialPort);
    // A second open of an open session asks nothing new.
    EXPECT_EQ(0, session->Open("A", ""));
    EXPECT_EQ(1, KZRSIM::Counters("A").create);
}

TEST_F(OpenTest, SessionClosesAndReleasesItsCameraExactlyOnce) {
    Use({Camera("A")});
    {
        CGenICamCamera fresh;
        EXPECT_FALSE(fresh.IsOpen());
        EXPECT_EQ(101007, fresh.Close());
    }
    {
        auto session = OpenSession("A");
        EXPECT_EQ(0, session->Close());
        EXPECT_EQ(101007, session->Close());
        EXPECT_FALSE(session->IsOpen());
    }
    const KZRSIM::CameraCounters counters = KZRSIM::Counters("A");
    EXPECT_EQ(1, counters.close);
    EXPECT_EQ(1, counters.release);
    EXPECT_EQ(0, KZRSIM::Library().camerasOut);
    EXPECT_EQ(0, KZRSIM::Library().doubleReleases);
}

TEST_F(OpenTest, CameraLinkWithoutConfigurationFileGives100009AndClosesOnDestruction) {
    Use({ClCamera("CL-KZRCL-P01")}, {"ZOZIR_P01"}, {"ZOZIR_PROTO"});
    {
        CGenICamCamera session;
        EXPECT_EQ(100009, session.Open("CL-KZRCL-P01", ""));
        EXPECT_FALSE(session.CameraLink());
        EXPECT_EQ(0, KZRSIM::Counters("CL-KZRCL-P01").close);
    }
    EXPECT_EQ(1, KZRSIM::Counters("CL-KZRCL-P01").close);
    EXPECT_EQ(0, KZRSIM::Counters("CL-KZRCL-P01").setSerialPort);
    EXPECT_EQ(std::vector<std::string>{"Open camera failed, error = 100009"}, LogMessages());
}

// How a Camera Link open picks its serial port and protocol. The camera reports
// itself not connected: a Camera Link session is open all the same.
struct SPortCase {
    const char* name;
    const char* serial;
    std::string link;
    std::vector<std::string> ports;
    std::vector<std::string> protocols;
    const char* port;  ///< expected; null: setSerialPort is not called
    const char* protocol;
};

void PrintTo(const SPortCase& c, std::ostream* out) {
    *out << c.name;
}

class CameraLinkPortTest : public SimFixture, public ::testing::WithParamInterface<SPortCase> {};

TEST_P(CameraLinkPortTest, ChoosesTheLastMatchingPortAndProtocol) {
    const SPortCase& c = GetParam();
    KZRSIM::CameraSpec desc = ClCamera(c.serial, c.link);
    desc.connected = false;
    Use({desc}, c.ports, c.protocols);
    const auto cam = WriteFile("grabber.cam", "Width=100;\n");
    {
        auto session = OpenSession(c.serial, cam.string());
        EXPECT_TRUE(session->CameraLink());
        EXPECT_TRUE(session->IsOpen());
        EXPECT_EQ(100, KZRSIM::GrabberNodeMap(c.serial)->PeekInt("Width"));
        using Args = std::vector<std::pair<std::string, std::string>>;
        const Args expected = c.port ? Args{{c.protocol, c.port}} : Args{};
        EXPECT_EQ(expected, KZRSIM::Counters(c.serial).serialPortArgs);
    }
    // The record the camera lends through getInfo stays the camera's.
    EXPECT_EQ(0, KZRSIM::Library().doubleReleases);
    EXPECT_EQ(0, KZRSIM::Library().camerasOut);
}

const std::string kLink30 = std::string(30, '-');

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Open, CameraLinkPortTest,
    ::testing::Values(
        SPortCase{"SerialKey", "CAM-KZRCL-P01", "",
                  {"ZOZIR_A_P01", "COM_P01", "ZOZIR_B_P01", "ZOZIR_P02"},
                  {"Base", "ZOZIR_1", "Other", "ZOZIR_2"}, "ZOZIR_B_P01", "ZOZIR_2"},
        SPortCase{"LinkNameKeyAt30", "CAM-1", kLink30 + "X7Ytail",
                  {"ZOZIR_X7Y", "ZOZIR_X7Z", "X7Y_only"}, {"ZOZIR_P"}, "ZOZIR_X7Y", "ZOZIR_P"},
        SPortCase{"ShortLinkNameEmptyKey", "CAM-2", "short",
                  {"ZOZIR_1", "PLAIN", "ZOZIR_2", "OTHER"}, {"ZOZIR_P"}, "ZOZIR_2", "ZOZIR_P"},
        // The key is three characters of the serial number, not three bytes.
        SPortCase{"KeyCountsCharacters", "CAM-KZRCL-\xC3\x84\xC3\x96\xC3\x9C", "",
                  {"ZOZIR_\xC3\x84\xC3\x96\xC3\x9C", "ZOZIR_X\xC3\x96\xC3\x9C"}, {"ZOZIR_P"},
                  "ZOZIR_\xC3\x84\xC3\x96\xC3\x9C", "ZOZIR_P"},
        SPortCase{"KzrclIsCaseSensitive", "CAM-kzrcl-P01", kLink30 + "L77",
                  {"ZOZIR_L77", "ZOZIR_P01"}, {"ZOZIR_P"}, "ZOZIR_L77", "ZOZIR_P"},
        SPortCase{"NoMatchingPort", "CAM-KZRCL-P09", "", {"ZOZIR_P01", "COM_P09"}, {"ZOZIR_P"},
                  nullptr, nullptr}),
    qrvtest::ByName());
// clang-format on

class ListTest : public SimFixture {};

TEST_F(ListTest, CameraListAdmitsGigEUsb3AndGenTLOnly) {
    std::vector<KZRSIM::CameraSpec> cameras = {Camera("G", {}, 1), Camera("U", {}, 2),
                                               Camera("C", {}, 4), Camera("T", {}, 8),
                                               Camera("X", {}, 5)};
    KZRSIM::CameraSpec null;
    null.nullRecord = true;
    cameras.insert(cameras.begin() + 1, null);
    cameras[0].vendor = "Vendor";
    cameras[0].model = "Model";
    cameras[0].id = "ID-G";
    Use(cameras);

    QRVCameraInfoArray list;
    QRVCameraInfo stale;
    list.Append(stale);
    {
        CGenICamCamera session;
        EXPECT_EQ(3, session.GetCameraList(&list));
        EXPECT_EQ(0u, session.CameraInfoCount());
    }
    ASSERT_EQ(3, list.Length());
    EXPECT_EQ(QRVString("G"), list.At(0).GetSerialNumber());
    EXPECT_EQ(QRVString("Vendor"), list.At(0).GetManufacturerInfo());
    EXPECT_EQ(QRVString("Model"), list.At(0).GetModelName());
    EXPECT_EQ(QRVString("ID-G"), list.At(0).GetID());
    EXPECT_EQ(QRVString("QRVAcqGenIcam"), list.At(0).GetSDKName());
    EXPECT_EQ(2, list.At(0).GetDriverType());
    EXPECT_FALSE(list.At(0).GetFilter());
    EXPECT_EQ(QRV_CAMERA_AREA, list.At(0).GetCameraType());
    EXPECT_EQ(QRV_INTERFACE_GIGE, list.At(0).GetInterface());
    EXPECT_EQ(QRV_INTERFACE_USB3, list.At(1).GetInterface());
    EXPECT_EQ(QRVString("T"), list.At(2).GetSerialNumber());
    EXPECT_EQ(QRV_INTERFACE_GENTL, list.At(2).GetInterface());
    EXPECT_EQ(std::vector<std::string>{"Find Camera count =  6"}, LogMessages());
    EXPECT_EQ(0, KZRSIM::Library().recordsOut);
    EXPECT_EQ(0, KZRSIM::Library().doubleReleases);
}

TEST_F(ListTest, FailureHalfWayReleasesEveryRecordExactlyOnce) {
    for (const char* kind : {"std", "genicam"}) {
        KZRSIM::ResetCounters();
        KZRSIM::CameraSpec bad = Camera("B");
        bad.faults["getInterfaceType"] = kind;
        Use({Camera("A"), bad, Camera("C")});
        QRVCameraInfoArray list;
        {
            CGenICamCamera session;
            EXPECT_EQ(std::string(kind) == "std" ? 101041 : 101040, session.GetCameraList(&list));
            EXPECT_EQ(1, list.Length());  // what came before the failure stays
        }
        EXPECT_EQ(0, KZRSIM::Library().recordsOut) << kind;
        EXPECT_EQ(0, KZRSIM::Library().doubleReleases) << kind;
    }
    const std::vector<std::string> lines = LogMessages();
    // Only the non-GenICam failure is logged.
    EXPECT_EQ(1, std::count(lines.begin(), lines.end(), "GetCameraList Failed"));
}

TEST_F(ListTest, CardListHasOneServerWithOneDevicePerRecord) {
    KZRSIM::CameraSpec odd = Camera("X5", {}, 5);
    odd.inClFilter = 1;
    odd.id = "ID-X5";
    KZRSIM::CameraSpec null;
    null.nullRecord = true;
    null.inClFilter = 1;
    KZRSIM::CameraSpec cl1 = ClCamera("CL1");
    cl1.id = "ID-CL1";
    Use({cl1, null, ClCamera("CL2"), odd, Camera("G")});

    QRVCardInfoArray cards;
    CGenICamCamera session;
    EXPECT_EQ(3, session.GetCardList(&cards));
    ASSERT_EQ(3, cards.Length());
    for (long i = 0; i < cards.Length(); ++i) {
        ASSERT_EQ(1u, cards.At(i).GetServers().size());
        EXPECT_EQ(1u, cards.At(i).GetServers()[0].GetDevices().size());
        EXPECT_EQ(2, cards.At(i).GetDriverType());
        EXPECT_EQ(QRVString("QRVAcqGenIcam"), cards.At(i).GetSDKName());
    }
    EXPECT_EQ(QRVString("ID-CL1"), cards.At(0).GetServers()[0].GetServerName());
    EXPECT_EQ(QRVString("CL1"), cards.At(0).GetServers()[0].GetDevices()[0]);
    EXPECT_EQ(QRV_INTERFACE_CAMERALINK, cards.At(0).GetInterface());
    EXPECT_EQ(QRV_INTERFACE_UNKNOWN, cards.At(2).GetInterface());
    const KZRSIM::LibraryCounters lib = KZRSIM::Library();
    ASSERT_FALSE(lib.discoveryFilters.empty());
    EXPECT_EQ("CLTLKZR.cti", lib.discoveryFilters.back());
    EXPECT_EQ(0, lib.recordsOut);
    EXPECT_TRUE(LogMessages().empty());  // the card list logs no count
}

TEST_F(ListTest, DestructorReleasesHeldRecordsOnce) {
    Use({Camera("A"), Camera("B")});
    {
        CGenICamCamera session;
        session.SetCameraInfosForTesting(KZRGENICAM::Discovery(nullptr));
        EXPECT_EQ(2, KZRSIM::Library().recordsOut);
        session.RefreshCameraInfos(nullptr);  // releases the old ones first
        EXPECT_EQ(2, KZRSIM::Library().recordsOut);
    }
    EXPECT_EQ(0, KZRSIM::Library().recordsOut);
    EXPECT_EQ(0, KZRSIM::Library().doubleReleases);
}

class ErrorLogTest : public SimFixture {};

TEST_F(ErrorLogTest, LineHasZeroPaddedTimeStampMessageAndNumbers) {
    std::tm t{};
    t.tm_year = 2024 - 1900;
    t.tm_mon = 2;
    t.tm_mday = 5;
    t.tm_hour = 9;
    t.tm_min = 7;
    t.tm_sec = 2;
    EXPECT_EQ("[2024-03-05 09:07:02] ", CErrorLog::FormatTimeStamp(t));
    // An enabled writer truncates an older file.
    const auto path = WriteFile("own.txt", "old content\n");
    {
        CErrorLog log(path.string().c_str(), true);
        log << LogBegin << "value " << 12 << ' ' << 0.5f << ' ' << 1234567.0f << LogEnd;
    }
    std::ifstream in(path);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    ASSERT_GE(line.size(), 22u);
    EXPECT_EQ('[', line[0]);
    EXPECT_EQ("] ", line.substr(20, 2));
    EXPECT_EQ("value 12 0.5 1.23457e+06", line.substr(22));
    EXPECT_FALSE(std::getline(in, line));
}

TEST_F(ErrorLogTest, MissingFolderOrSwitchedOffWriterCreatesNothing) {
    const auto missing = m_dir / "nope" / "log.txt";
    const auto off = m_dir / "off.txt";
    {
        CErrorLog enabled(missing.string().c_str(), true);
        enabled << LogBegin << "dropped" << LogEnd;
        CErrorLog disabled(off.string().c_str(), false);
        disabled << LogBegin << "dropped" << LogEnd;
        disabled.flush();
    }
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_FALSE(std::filesystem::exists(off));
}

TEST_F(ErrorLogTest, ModuleLogIsSwitchedOffAndWritesNoFile) {
    SetModuleLogForTesting(nullptr);
    EXPECT_FALSE(g_errorLog.IsEnabled());
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(m_dir);
    {
        CGenICamCamera session;
        EXPECT_EQ(101005, session.Open("nobody", ""));
    }
    std::filesystem::current_path(cwd);
    EXPECT_FALSE(std::filesystem::exists(m_dir / "ErrorLog"));
}

class ErrorLogThreads : public SimFixture {};

TEST_F(ErrorLogThreads, LinesFromSeveralThreadsNeverInterleave) {
    constexpr int kThreads = 4;
    constexpr int kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < kLines; ++i) {
                *m_log << LogBegin << "thread " << t << " line " << i << " end" << LogEnd;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    const std::vector<std::string> lines = LogMessages();
    ASSERT_EQ(static_cast<std::size_t>(kThreads * kLines), lines.size());
    const std::regex pattern("thread [0-9]+ line [0-9]+ end");
    for (const std::string& line : lines) {
        EXPECT_TRUE(std::regex_match(line, pattern)) << line;
    }
}

class SessionRobustnessTest : public SimFixture {};

TEST_F(SessionRobustnessTest, DestructionSurvivesACameraThatThrowsOnClose) {
    KZRSIM::CameraSpec desc = Camera("T");
    desc.faults["close"] = "std";
    Use({desc});
    {
        auto session = OpenSession("T");
        EXPECT_THROW(session->Close(), std::runtime_error);
    }  // the destructor closes again, swallows the exception and still releases
    EXPECT_EQ(1, KZRSIM::Counters("T").release);
    EXPECT_EQ(0, KZRSIM::Library().camerasOut);
}

TEST_F(SessionRobustnessTest, ReopeningALostCameraGivesTheOldObjectBack) {
    KZRSIM::CameraSpec desc = Camera("L");
    desc.connected = false;  // open, but the connection is gone
    Use({desc});
    {
        auto session = OpenSession("L");
        EXPECT_FALSE(session->IsOpen());
        EXPECT_EQ(0, session->Open("L", ""));
        EXPECT_EQ(2, KZRSIM::Counters("L").create);
        EXPECT_EQ(1, KZRSIM::Counters("L").release);
    }
    EXPECT_EQ(0, KZRSIM::Library().camerasOut);
    EXPECT_EQ(0, KZRSIM::Library().doubleReleases);
}

TEST_F(SessionRobustnessTest, GrabsWithoutHostObjectsStillGiveTheFrameBack) {
    KZRSIM::CameraSpec desc = Camera("N");
    desc.chunks = {std::vector<uint8_t>(8, 1)};
    Use({desc});
    auto session = OpenSession("N");
    ASSERT_EQ(0, session->StartAcquire(0, 0));
    EXPECT_EQ(0, session->GrabImage(nullptr, 1000));
    QRVImage image;
    EXPECT_EQ(0, session->GrabImageEx(&image, nullptr, 1000));
    EXPECT_EQ(0, session->GrabImageEx(nullptr, nullptr, 1000));
    EXPECT_EQ(3, KZRSIM::Counters("N").framesDelivered);
    EXPECT_EQ(0, KZRSIM::Library().framesOut);
}
