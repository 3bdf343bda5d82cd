// The plug-in's entry points against the fake GigE Vision camera.
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "PluginOverFake.h"

namespace {

using Clock = std::chrono::steady_clock;

bool Contains(const QRVStringArray& entries, const char* text) {
    for (int i = 0; i < entries.size(); ++i)
        if (entries.at(i) == QRVString(text)) return true;
    return false;
}

}  // namespace

TEST_F(FakeCameraTest, ListedAsGigEAndOpenedBySerial) {
    EXPECT_EQ(interfaceType, QRV_INTERFACE_GIGE);
    EXPECT_FALSE(serial.toUtf8().str().empty());
    // The record's id is Aravis's device id, which is not the bare serial.
    EXPECT_NE(id.toUtf8().str(), serial.toUtf8().str());
    OpenCamera();
    EXPECT_TRUE(api->IsOpen(handle));
    EXPECT_EQ(api->Close(handle), QRV_OK);
    EXPECT_FALSE(api->IsOpen(handle));
    handle = nullptr;
}

TEST_F(FakeCameraTest, UnknownSerialIsNotFound) {
    QRVCameraHandle other = nullptr;
    EXPECT_EQ(api->Open(QRVString("no-such-serial"), &other, QRVString(""), QRVString("")),
              QRV_ERR_CAMERA_NOT_FOUND);
}

TEST_F(FakeCameraTest, NodeTypesFollowTheFeatureTree) {
    OpenCamera();
    EXPECT_EQ(api->GetNodeType(handle, QRVString("Width")), 2);
    EXPECT_EQ(api->GetNodeType(handle, QRVString("ExposureTime")), 3);  // as ExposureTimeAbs
    EXPECT_EQ(api->GetNodeType(handle, QRVString("PixelFormat")), 4);
    EXPECT_EQ(api->GetNodeType(handle, QRVString("DeviceVendorName")), 4);
    EXPECT_EQ(api->GetNodeType(handle, QRVString("TriggerSoftware")), 5);
    EXPECT_EQ(api->GetNodeType(handle, QRVString("TestRegister")), 2);
    // Present in the description but not reachable from Root: not features.
    EXPECT_EQ(api->GetNodeType(handle, QRVString("GainRaw")), -1);
    EXPECT_EQ(api->GetNodeType(handle, QRVString("TestBoolean")), -1);
    EXPECT_EQ(api->GetNodeType(handle, QRVString("NoSuchNode")), -1);
}

TEST_F(FakeCameraTest, TypedValuesReadBackAndAreRefusedOutsideTheirType) {
    OpenCamera();
    // Integer with range.
    ASSERT_EQ(api->SetParamInt(handle, QRVString("Width"), 256), QRV_OK);
    int value = 0, min = 0, max = 0, inc = 0;
    ASSERT_EQ(api->GetParamInt(handle, QRVString("Width"), &value, &min, &max, &inc), QRV_OK);
    EXPECT_EQ(value, 256);
    EXPECT_LT(min, value);
    EXPECT_GE(max, 512);
    EXPECT_GE(inc, 1);
    // A formula without a range of its own (IntSwissKnife): GenApi's full range.
    int height = 0, payload = 0;
    ASSERT_EQ(api->GetParamInt(handle, QRVString("Height"), &height, &min, &max, &inc), QRV_OK);
    ASSERT_EQ(api->GetParamInt(handle, QRVString("PayloadSize"), &payload, &min, &max, &inc),
              QRV_OK);
    EXPECT_EQ(payload, 256 * height);
    EXPECT_EQ(max, 2147483647);

    // Float through the alias, with range; a value beyond max is refused and
    // leaves the old one.
    ASSERT_EQ(api->SetParamFloat(handle, QRVString("ExposureTime"), 20000.0f), QRV_OK);
    float f = 0, fmin = 0, fmax = 0, finc = 0;
    ASSERT_EQ(api->GetParamFloat(handle, QRVString("ExposureTime"), &f, &fmin, &fmax, &finc),
              QRV_OK);
    EXPECT_FLOAT_EQ(f, 20000.0f);
    EXPECT_LT(fmin, f);
    EXPECT_GT(fmax, f);
    EXPECT_EQ(api->SetParamFloat(handle, QRVString("ExposureTime"), fmax * 10.0f),
              QRV_ERR_GENICAM_EXCEPTION);
    ASSERT_EQ(api->GetParamFloat(handle, QRVString("ExposureTime"), &f, nullptr, nullptr, nullptr),
              QRV_OK);
    EXPECT_FLOAT_EQ(f, 20000.0f);

    // Read-only integer; enumeration is not an integer; integer is not a float.
    EXPECT_EQ(api->SetParamInt(handle, QRVString("SensorWidth"), 100), QRV_ERR_PARAMETER_ACCESS);
    EXPECT_EQ(api->GetParamInt(handle, QRVString("PixelFormat"), &value, nullptr, nullptr, nullptr),
              QRV_ERR_PARAMETER_ACCESS);
    EXPECT_EQ(api->GetParamFloat(handle, QRVString("Width"), &f, nullptr, nullptr, nullptr),
              QRV_ERR_PARAMETER_ACCESS);
}

TEST_F(FakeCameraTest, EnumerationEntriesAndStrings) {
    OpenCamera();
    QRVString current;
    QRVStringArray entries;
    ASSERT_EQ(api->GetParamStr(handle, QRVString("PixelFormat"), &current, &entries), QRV_OK);
    EXPECT_EQ(current, QRVString("Mono8"));
    EXPECT_TRUE(Contains(entries, "Mono8"));
    EXPECT_GT(entries.size(), 1);

    ASSERT_EQ(api->SetParamStr(handle, QRVString("TriggerMode"), QRVString("On")), QRV_OK);
    QRVStringArray modes;
    ASSERT_EQ(api->GetParamStr(handle, QRVString("TriggerMode"), &current, &modes), QRV_OK);
    EXPECT_EQ(current, QRVString("On"));
    EXPECT_TRUE(Contains(modes, "Off"));
    EXPECT_EQ(api->SetParamStr(handle, QRVString("TriggerMode"), QRVString("NoSuchEntry")),
              QRV_ERR_GENICAM_EXCEPTION);

    QRVStringArray vendor;
    ASSERT_EQ(api->GetParamStr(handle, QRVString("DeviceVendorName"), &current, &vendor), QRV_OK);
    EXPECT_EQ(current, QRVString("Aravis"));
    EXPECT_EQ(vendor.size(), 1);
}

TEST_F(FakeCameraTest, RegisterDataRoundTrips) {
    OpenCamera();
    unsigned char before[4] = {};
    ASSERT_EQ(api->GetRegisterData(handle, QRVString("TestRegister"), before, 4), QRV_OK);
    unsigned char written[4] = {0x12, 0x34, 0x56, static_cast<unsigned char>(before[3] ^ 0xFF)};
    ASSERT_EQ(api->SetRegisterData(handle, QRVString("TestRegister"), written, 4), QRV_OK);
    unsigned char after[4] = {};
    ASSERT_EQ(api->GetRegisterData(handle, QRVString("TestRegister"), after, 4), QRV_OK);
    EXPECT_EQ(std::memcmp(after, written, 4), 0);
    // A short write would zero the rest of the register: refused.
    EXPECT_EQ(api->SetRegisterData(handle, QRVString("TestRegister"), written, 2),
              QRV_ERR_GENICAM_EXCEPTION);
    // Not a register.
    EXPECT_EQ(api->GetRegisterData(handle, QRVString("Width"), after, 4), QRV_ERR_PARAMETER_ACCESS);
}

TEST_F(FakeCameraTest, FreeRunGrabDeliversMono8Frames) {
    OpenCamera();
    ASSERT_EQ(api->StartAcquire(handle, 4, 0), QRV_OK);
    for (int i = 0; i < 3; ++i) {
        QRVImage image;
        ASSERT_EQ(api->GrabImage(handle, &image, 3000), QRV_OK) << "frame " << i;
        EXPECT_FALSE(image.IsEmpty());
        EXPECT_EQ(image.Width(), 512);
        EXPECT_EQ(image.Height(), 512);
        EXPECT_EQ(image.Channels(), 1);
        EXPECT_EQ(image.BitsPerChannel(), 8);
    }
    ASSERT_EQ(api->StopAcquire(handle), QRV_OK);
    QRVImage after;
    EXPECT_EQ(api->GrabImage(handle, &after, 500), QRV_ERR_GRAB_ABORTED);
    EXPECT_EQ(api->Close(handle), QRV_OK);
    handle = nullptr;
}

TEST_F(FakeCameraTest, SoftwareTriggerIsFiredByTheGrab) {
    OpenCamera();
    ASSERT_EQ(api->SetParamStr(handle, QRVString("TriggerSelector"), QRVString("FrameStart")),
              QRV_OK);
    ASSERT_EQ(api->SetParamStr(handle, QRVString("TriggerMode"), QRVString("On")), QRV_OK);
    ASSERT_EQ(api->SetParamStr(handle, QRVString("TriggerSource"), QRVString("Software")), QRV_OK);
    ASSERT_EQ(api->StartAcquire(handle, 0, 0), QRV_OK);
    for (int i = 0; i < 3; ++i) {
        QRVImage image;
        ASSERT_EQ(api->GrabImage(handle, &image, 3000), QRV_OK) << "frame " << i;
        EXPECT_EQ(image.Width(), 512);
    }
    EXPECT_EQ(api->StopAcquire(handle), QRV_OK);
}

TEST_F(FakeCameraTest, HardwareTriggerWithoutPulseTimesOutAndStopEndsAWait) {
    OpenCamera();
    ASSERT_EQ(api->SetParamStr(handle, QRVString("TriggerMode"), QRVString("On")), QRV_OK);
    ASSERT_EQ(api->SetParamStr(handle, QRVString("TriggerSource"), QRVString("Line0")), QRV_OK);
    ASSERT_EQ(api->StartAcquire(handle, 0, 0), QRV_OK);
    QRVImage image;
    EXPECT_EQ(api->GrabImage(handle, &image, 300), QRV_ERR_GRAB_TIMEOUT);

    std::atomic<int> result{-1};
    std::thread waiter([&] {
        QRVImage waited;
        result = api->GrabImage(handle, &waited, 20000);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto stopAt = Clock::now();
    EXPECT_EQ(api->StopAcquire(handle), QRV_OK);
    waiter.join();
    EXPECT_EQ(result.load(), QRV_ERR_GRAB_ABORTED);
    // Ended by the stop, not by its own 20 s time-out.
    EXPECT_LT(Clock::now() - stopAt, std::chrono::seconds(10));
}

TEST_F(FakeCameraTest, ALostCameraFailsEveryCallAndOpensAgainOnceBack) {
    OpenCamera();
    ASSERT_EQ(api->StartAcquire(handle, 0, 0), QRV_OK);
    QRVImage first;
    ASSERT_EQ(api->GrabImage(handle, &first, 3000), QRV_OK);
    fake.Stop();
    int failures = 0;
    for (int i = 0; i < 5; ++i) {
        QRVImage image;
        // A frame or two may still be in flight; after that every grab fails.
        if (api->GrabImage(handle, &image, 500) == QRV_ERR_GRAB_FAILED) ++failures;
    }
    EXPECT_GE(failures, 3);
    // Once the control channel went unanswered, the camera is lost: features
    // are unavailable, the stream stops and the camera closes without asking it.
    EXPECT_FALSE(api->IsOpen(handle));
    int value = 0;
    EXPECT_EQ(api->GetParamInt(handle, QRVString("Width"), &value, nullptr, nullptr, nullptr),
              QRV_ERR_PARAMETER_ACCESS);
    EXPECT_EQ(api->SetParamStr(handle, QRVString("TriggerMode"), QRVString("On")),
              QRV_ERR_PARAMETER_ACCESS);
    EXPECT_EQ(api->StopAcquire(handle), QRV_OK);
    EXPECT_EQ(api->Close(handle), QRV_OK);
    handle = nullptr;

    // The same camera back: the plug-in opens and streams it again.
    std::string why;
    ASSERT_TRUE(fake.Start(why)) << why;
    int code = -1;
    for (int attempt = 0; attempt < 50 && code != QRV_OK; ++attempt) {
        code = api->Open(serial, &handle, QRVString(""), QRVString(""));
        if (code != QRV_OK) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(code, QRV_OK);
    EXPECT_TRUE(api->IsOpen(handle));
    ASSERT_EQ(api->StartAcquire(handle, 0, 0), QRV_OK);
    QRVImage again;
    EXPECT_EQ(api->GrabImage(handle, &again, 3000), QRV_OK);
}
