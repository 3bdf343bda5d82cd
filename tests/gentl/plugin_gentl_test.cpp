// The plug-in's entry points against the test producer: listing, cards, Open (with
// a .cam file for the Camera Link camera), parameters and both grabs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "../common/LeaksExpected.h"
#include "GenTLPluginApi.h"
#include "KZRGeniCam.h"

namespace {

constexpr const char* kAreaSerial = "KZRGEV0001";
constexpr const char* kLineSerial = "KZRCL0042";

class PluginGenTLTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetTestEnv("KZR_ARAVIS", "off");
        SetTestEnv("KZR_GENTL", "on");
        SetTestEnv("GENICAM_GENTL64_PATH", ProducerFolder("producer").c_str());
        std::string error;
        api = Plugin(error);
        ASSERT_NE(api, nullptr) << error;
    }
    void TearDown() override {
        if (handle) api->Close(handle);
    }
    void OpenArea() {
        ASSERT_EQ(api->Open(QRVString(kAreaSerial), &handle, QRVString(""), QRVString("")), QRV_OK);
        // The producer keeps its registers while the plug-in holds the library.
        ASSERT_EQ(api->SetParamInt(handle, QRVString("Width"), 640), QRV_OK);
        ASSERT_EQ(api->SetParamInt(handle, QRVString("Height"), 480), QRV_OK);
        ASSERT_EQ(api->SetParamStr(handle, QRVString("PixelFormat"), QRVString("Mono8")), QRV_OK);
        ASSERT_EQ(api->SetParamStr(handle, QRVString("TriggerMode"), QRVString("Off")), QRV_OK);
    }

    const SPluginApi* api = nullptr;
    QRVCameraHandle handle = nullptr;
};

/// The pattern (x + y + frame number) mod 256 at a few points.
bool PatternHolds(const QRVImage& image) {
    const unsigned char* p = image.Data();
    for (int y = 0; y < image.Height(); y += 59)
        for (int x = 0; x < image.Width(); x += 71)
            if (p[y * image.Width() + x] != static_cast<unsigned char>(p[0] + x + y)) return false;
    return true;
}

}  // namespace

TEST_F(PluginGenTLTest, CameraListHasTheGigECameraAndCardListTheCameraLinkOne) {
    QRVCameraInfoArray cameras;
    const int count = api->GetCameraList(&cameras);
    ASSERT_EQ(count, 1);  // the Camera Link camera is a card
    EXPECT_EQ(cameras.At(0).GetSerialNumber(), QRVString(kAreaSerial));
    EXPECT_EQ(cameras.At(0).GetInterface(), QRV_INTERFACE_GIGE);
    EXPECT_EQ(cameras.At(0).GetManufacturerInfo(), QRVString("KZR Test"));

    QRVCardInfoArray cards;
    ASSERT_EQ(api->GetCardList(&cards), 1);
    EXPECT_EQ(cards.At(0).GetInterface(), QRV_INTERFACE_CAMERALINK);
    ASSERT_EQ(cards.At(0).GetServers().size(), 1u);
    EXPECT_EQ(cards.At(0).GetServers()[0].GetServerName(), QRVString("KZR-DEV-CL"));
    ASSERT_EQ(cards.At(0).GetServers()[0].GetDevices().size(), 1u);
    EXPECT_EQ(cards.At(0).GetServers()[0].GetDevices()[0], QRVString(kLineSerial));
}

TEST_F(PluginGenTLTest, ParametersOfEveryTypeReadBack) {
    OpenArea();
    EXPECT_TRUE(api->IsOpen(handle));
    const std::pair<const char*, int> types[] = {
        {"Width", 2}, {"ExposureTime", 3}, {"PixelFormat", 4}, {"TriggerSoftware", 5}};
    for (const auto& t : types) EXPECT_EQ(api->GetNodeType(handle, QRVString(t.first)), t.second);
    ASSERT_EQ(api->SetParamInt(handle, QRVString("Width"), 320), QRV_OK);
    int value = 0, min = 0, max = 0, inc = 0;
    ASSERT_EQ(api->GetParamInt(handle, QRVString("Width"), &value, &min, &max, &inc), QRV_OK);
    EXPECT_EQ(value, 320);
    EXPECT_EQ(min, 16);
    EXPECT_EQ(max, 2048);
    EXPECT_EQ(inc, 4);
    ASSERT_EQ(api->SetParamFloat(handle, QRVString("ExposureTime"), 2500.0f), QRV_OK);
    float f = 0;
    ASSERT_EQ(api->GetParamFloat(handle, QRVString("ExposureTime"), &f, nullptr, nullptr, nullptr),
              QRV_OK);
    EXPECT_FLOAT_EQ(f, 2500.0f);
    ASSERT_EQ(api->SetParamBool(handle, QRVString("ReverseX"), true), QRV_OK);
    bool b = false;
    ASSERT_EQ(api->GetParamBool(handle, QRVString("ReverseX"), &b), QRV_OK);
    EXPECT_TRUE(b);
    QRVString text;
    QRVStringArray entries;
    ASSERT_EQ(api->GetParamStr(handle, QRVString("PixelFormat"), &text, &entries), QRV_OK);
    EXPECT_EQ(text, QRVString("Mono8"));
    EXPECT_EQ(entries.size(), 3);
    ASSERT_EQ(api->GetParamStr(handle, QRVString("DeviceSerialNumber"), &text, nullptr), QRV_OK);
    EXPECT_EQ(text, QRVString(kAreaSerial));
}

TEST_F(PluginGenTLTest, GrabImageAndGrabImageExDeliverThePatternAndChunks) {
    OpenArea();
    ASSERT_EQ(api->SetParamBool(handle, QRVString("ChunkModeActive"), true), QRV_OK);
    ASSERT_EQ(api->StartAcquire(handle, 4, 0), QRV_OK);
    for (int i = 0; i < 3; ++i) {
        QRVImage image;
        ASSERT_EQ(api->GrabImage(handle, &image, 2000), QRV_OK) << i;
        ASSERT_EQ(image.Width(), 640);
        ASSERT_EQ(image.Height(), 480);
        EXPECT_TRUE(PatternHolds(image));
    }
    QRVImage image;
    ZelChunkData chunks;
    ASSERT_EQ(api->GrabImageEx(handle, &image, &chunks, 2000), QRV_OK);
    ASSERT_EQ(chunks.getSize(), 16u);
    uint64_t frameId = 0;
    std::memcpy(&frameId, chunks.getData(), 8);
    EXPECT_EQ(image.Data()[0], static_cast<unsigned char>(frameId));
    ASSERT_EQ(api->StopAcquire(handle), QRV_OK);
    QRVImage after;
    EXPECT_EQ(api->GrabImage(handle, &after, 200), QRV_ERR_GRAB_ABORTED);
    ASSERT_EQ(api->SetParamBool(handle, QRVString("ChunkModeActive"), false), QRV_OK);

    // Software trigger: the grab fires it.
    ASSERT_EQ(api->SetParamStr(handle, QRVString("TriggerMode"), QRVString("On")), QRV_OK);
    ASSERT_EQ(api->StartAcquire(handle, 2, 0), QRV_OK);
    QRVImage triggered;
    EXPECT_EQ(api->GrabImage(handle, &triggered, 2000), QRV_OK);
    EXPECT_EQ(api->StopAcquire(handle), QRV_OK);
}

// A hardware trigger source: the plug-in fires nothing, the grab waits until
// StopAcquire from another thread ends it.
TEST_F(PluginGenTLTest, StopAcquireFromAnotherThreadEndsAWaitingGrab) {
    OpenArea();
    ASSERT_EQ(api->SetParamStr(handle, QRVString("TriggerMode"), QRVString("On")), QRV_OK);
    ASSERT_EQ(api->SetParamStr(handle, QRVString("TriggerSource"), QRVString("Line1")), QRV_OK);
    ASSERT_EQ(api->StartAcquire(handle, 2, 0), QRV_OK);
    std::atomic<int> result{1};
    const auto begin = std::chrono::steady_clock::now();
    std::thread grab([&] {
        QRVImage image;
        result = api->GrabImage(handle, &image, 20000);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(result.load(), 1);  // still waiting
    EXPECT_EQ(api->StopAcquire(handle), QRV_OK);
    grab.join();
    EXPECT_EQ(result.load(), QRV_ERR_GRAB_ABORTED);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));
    ASSERT_EQ(api->SetParamStr(handle, QRVString("TriggerSource"), QRVString("Software")), QRV_OK);
}

TEST_F(PluginGenTLTest, ALostDeviceFailsTheGrabAndIsNoLongerOpen) {
    OpenArea();
    ASSERT_EQ(api->StartAcquire(handle, 2, 0), QRV_OK);
    QRVImage before;
    ASSERT_EQ(api->GrabImage(handle, &before, 2000), QRV_OK);
    SetTestEnv("KZR_TL_TEST_LOST", "1");
    QRVImage image;
    const int grabbed = api->GrabImage(handle, &image, 500);
    const bool open = api->IsOpen(handle);
    SetTestEnv("KZR_TL_TEST_LOST", "");
    EXPECT_NE(grabbed, QRV_OK);
    EXPECT_FALSE(open);
    EXPECT_EQ(api->StopAcquire(handle), QRV_OK);
}

TEST_F(PluginGenTLTest, CameraLinkOpenWritesTheCamFileIntoTheGrabber) {
    const std::string cam = ::testing::TempDir() + "gentl_grabber.cam";
    {
        std::ofstream file(cam);
        file << "; grabber settings\nGrabberTimeout = 4321;\nClTapGeometry=Geometry_1X2_1Y;\n"
                "GrabberInvert=True;\nGrabberFirmware=7;\n";
    }
    ASSERT_EQ(api->Open(QRVString(kLineSerial), &handle, QRVString(""), QRVString(cam.c_str())),
              QRV_OK);
    api->Close(handle);
    handle = nullptr;
    std::remove(cam.c_str());

    // The grabber keeps its registers: read them back through the library.
    KZRGENICAM::ICamera* camera = KZRGENICAM::CreateCameraBySN(kLineSerial);
    ASSERT_NE(camera, nullptr);
    ASSERT_EQ(camera->open(1), 0);
    GenApi::INodeMap* map = camera->getGrabberModule()->getNodeMap();
    GenApi::CIntegerPtr timeout(map->GetNode("GrabberTimeout"));
    GenApi::CEnumerationPtr geometry(map->GetNode("ClTapGeometry"));
    GenApi::CBooleanPtr invert(map->GetNode("GrabberInvert"));
    GenApi::CIntegerPtr firmware(map->GetNode("GrabberFirmware"));
    EXPECT_EQ(timeout->GetValue(), 4321);
    EXPECT_EQ(std::string(geometry->ToString().c_str()), "Geometry_1X2_1Y");
    EXPECT_TRUE(invert->GetValue());
    EXPECT_EQ(firmware->GetValue(), 0x0102);  // read-only: the entry was ignored
    camera->release();

    QRVCameraHandle refused = nullptr;
    EXPECT_EQ(api->Open(QRVString(kLineSerial), &refused, QRVString(""), QRVString("")),
              QRV_ERR_CAMERA_CONFIG_FILE);
}

namespace {

/// A producer that is hard to tear down, and whether a camera of it is open (and
/// acquiring) when the host unloads the plug-in.
struct SUnloadCase {
    const char* name;
    const char* folder;
    bool cameraOpen;
};

void PrintTo(const SUnloadCase& c, std::ostream* os) {
    *os << c.name;
}

class PluginUnloadTest : public testing::TestWithParam<SUnloadCase> {};

}  // namespace

// In a child process of its own: the plug-in is loaded, used and unloaded there.
// On Windows the unload runs the plug-in's teardown inside DllMain; a producer
// whose TLClose joins its thread would never return there. Codes 3 to 5 tell a
// failed step from a crash.
TEST_P(PluginUnloadTest, UnloadingWithTheProducerLoadedReturns) {
    const SUnloadCase& c = GetParam();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            QRV_LEAKS_EXPECTED();  // exits with the camera or stream held on purpose
            SetTestEnv("KZR_ARAVIS", "off");
            SetTestEnv("KZR_GENTL", "on");
            SetTestEnv("GENICAM_GENTL64_PATH", ProducerFolder(c.folder).c_str());
            std::string error;
            void* library = qrvtest::OpenLibrary(QRV_PLUGIN_PATH, error);
            if (!library) std::_Exit(3);
            auto list =
                reinterpret_cast<PFN_GetCameraList>(qrvtest::FindSymbol(library, "GetCameraList"));
            auto open = reinterpret_cast<PFN_Open>(qrvtest::FindSymbol(library, "Open"));
            auto start =
                reinterpret_cast<PFN_StartAcquire>(qrvtest::FindSymbol(library, "StartAcquire"));
            {
                QRVCameraInfoArray cameras;
                if (!list || list(&cameras) != 1) std::_Exit(4);
            }
            QRVCameraHandle handle = nullptr;
            if (c.cameraOpen &&
                (open(QRVString(kAreaSerial), &handle, QRVString(""), QRVString("")) != QRV_OK ||
                 start(handle, 4, 0) != QRV_OK))
                std::_Exit(5);
            qrvtest::CloseLibrary(library);
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(Teardown, PluginUnloadTest,
                         testing::Values(SUnloadCase{"JoinsListed", "teardown-joins", false},
                                         SUnloadCase{"JoinsAcquiring", "teardown-joins", true},
                                         SUnloadCase{"StaticsListed", "teardown-statics", false}),
                         [](const testing::TestParamInfo<SUnloadCase>& row) {
                             return std::string(row.param.name);
                         });
