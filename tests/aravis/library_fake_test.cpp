// The camera library's Aravis transport against the fake GigE Vision camera:
// the GenICam exceptions of refused values, nodes and frames past close or loss,
// and getFrame's codes. The record, node types and result codes show through the
// plug-in in the tool's case file tests/tool/cases/aravis/entry-points.test.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "FakeGvCamera.h"
#include "KZRGeniCam.h"

namespace {

using namespace GenApi;
using Clock = std::chrono::steady_clock;

/// The fake camera's serial number once the library lists it (5 s at most).
std::string FakeSerial() {
    std::string serial;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    for (int attempt = 0; attempt < 5 && serial.empty() && Clock::now() < deadline; ++attempt) {
        for (KZRGENICAM::ICameraInfo* info : KZRGENICAM::Discovery(nullptr)) {
            if (info && std::string(info->getManufacturer()) == "Aravis")
                serial = info->getSerialNumber();
            if (info) info->release();
        }
    }
    return serial;
}

/// Stops the fake camera and tries control transactions until the camera
/// counts as lost (each waits out the control channel's bound, about 1 s).
bool LoseCamera(CFakeGvCamera& fake, KZRGENICAM::ICamera& camera) {
    fake.Stop();
    for (int attempt = 0; attempt < 5 && camera.isConnected(); ++attempt) {
        try {
            CIntegerPtr(camera.getDeviceModule()->getNodeMap()->GetNode("Width"))->SetValue(512);
        } catch (const GenICam::GenericException&) {
        }
    }
    return !camera.isConnected();
}

class LibraryOverFake : public ::testing::Test {
protected:
    void SetUp() override {
        KZRGENICAM::Init();
        std::string why;
        if (!fake.Start(why)) GTEST_SKIP() << why;
        serial = FakeSerial();
        if (serial.empty())
            GTEST_SKIP() << "the fake camera did not appear on 127.0.0.1 within 5 s";
        camera = KZRGENICAM::CreateCameraBySN(serial.c_str());
        ASSERT_NE(camera, nullptr);
        ASSERT_EQ(camera->open(1), 0);
        map = camera->getDeviceModule() ? camera->getDeviceModule()->getNodeMap() : nullptr;
        ASSERT_NE(map, nullptr);
    }

    void TearDown() override {
        if (camera) camera->release();
        KZRGENICAM::UnInit();
        fake.Stop();
    }

    CFakeGvCamera fake;
    std::string serial;
    KZRGENICAM::ICamera* camera = nullptr;
    INodeMap* map = nullptr;
};

TEST_F(LibraryOverFake, RefusedValuesBecomeGenICamExceptions) {
    CFloatPtr exposure = map->GetNode("ExposureTimeAbs");
    EXPECT_THROW(exposure->SetValue(exposure->GetMax() * 10.0), GenICam::OutOfRangeException);
    CIntegerPtr width = map->GetNode("Width");
    EXPECT_THROW(width->SetValue(width->GetMax() + 1), GenICam::OutOfRangeException);
    CIntegerPtr sensorWidth = map->GetNode("SensorWidth");
    EXPECT_THROW(sensorWidth->SetValue(16), GenICam::AccessException);
    CRegisterPtr reg = map->GetNode("TestRegister");
    const uint8_t two[2] = {1, 2};
    // A buffer of another length, as the in-memory node map refuses it too.
    EXPECT_THROW(reg->Set(two, 2), GenICam::InvalidArgumentException);
    CEnumerationPtr mode = map->GetNode("TriggerMode");
    EXPECT_THROW(mode->FromString("NoSuchEntry"), GenICam::GenericException);
}

TEST_F(LibraryOverFake, NodesOutliveCloseButRefuseCalls) {
    CIntegerPtr width = map->GetNode("Width");
    ASSERT_TRUE(width.IsValid());
    ASSERT_EQ(camera->close(), 0);
    EXPECT_EQ(camera->getDeviceModule()->getNodeMap(), nullptr);
    EXPECT_EQ(width->GetAccessMode(), NA);
    EXPECT_THROW(width->GetValue(), GenICam::AccessException);
    CIntegerPtr later = map->GetNode("Width");
    ASSERT_TRUE(later.IsValid());
    EXPECT_THROW(later->GetValue(), GenICam::AccessException);
    // Reopening gives a fresh map.
    ASSERT_EQ(camera->open(1), 0);
    INodeMap* again = camera->getDeviceModule()->getNodeMap();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(CIntegerPtr(again->GetNode("Width"))->GetValue(),
              CIntegerPtr(again->GetNode("Width"))->GetValue());
}

TEST_F(LibraryOverFake, GetFrameCodesAndMaxFrames) {
    KZRGENICAM::IFrame* frame = nullptr;
    EXPECT_EQ(camera->getFrame(&frame, 100), KZRGENICAM::FrameNotRunning);
    ASSERT_EQ(camera->startGrabbing(3, 2), 0);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(camera->getFrame(&frame, 3000), KZRGENICAM::FrameOk) << "frame " << i;
        ASSERT_NE(frame, nullptr);
        EXPECT_TRUE(frame->isValid());
        EXPECT_EQ(frame->getPixelFormat(), 0x01080001u);
        EXPECT_EQ(frame->getImageSize(), 512u * 512u);
        EXPECT_NE(frame->getImageData(), nullptr);
        EXPECT_TRUE(frame->getChunkList().empty());
        KZRGENICAM::IFrame* occupied = frame;
        EXPECT_EQ(camera->getFrame(&occupied, 10), KZRGENICAM::FrameFailed);
        frame->release();
        frame = nullptr;
    }
    EXPECT_EQ(camera->getFrame(&frame, 200), KZRGENICAM::FrameNotRunning);
    EXPECT_EQ(camera->stopGrabbing(), 0);
}

TEST_F(LibraryOverFake, FrameHeldPastStopAndCloseStaysReadable) {
    ASSERT_EQ(camera->startGrabbing(0, -1), 0);
    KZRGENICAM::IFrame* frame = nullptr;
    ASSERT_EQ(camera->getFrame(&frame, 3000), KZRGENICAM::FrameOk);
    ASSERT_EQ(camera->stopGrabbing(), 0);
    ASSERT_EQ(camera->close(), 0);
    const auto* pixels = static_cast<const uint8_t*>(frame->getImageData());
    unsigned sum = 0;
    for (uint64_t i = 0; i < frame->getImageSize(); ++i) sum += pixels[i];
    EXPECT_GT(sum, 0u);
    frame->release();
}

TEST_F(LibraryOverFake, AFrameOfALostCameraHeldPastCloseIsReleasedAtOnce) {
    ASSERT_EQ(camera->startGrabbing(0, -1), 0);
    KZRGENICAM::IFrame* frame = nullptr;
    ASSERT_EQ(camera->getFrame(&frame, 3000), KZRGENICAM::FrameOk);
    ASSERT_TRUE(LoseCamera(fake, *camera));
    ASSERT_EQ(camera->close(), 0);
    // The frame holds the camera's last reference; dropping it waits out Aravis
    // (about 10 s), which the releasing thread must not.
    const auto before = Clock::now();
    frame->release();
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - before).count(),
              3000);
}

// A lost camera closed only after the last UnInit: the fault shows only at exit
// (static destructors), so the camera is lost and closed in a child process that
// then exits.
TEST(LostCameraAtExit, ClosedAfterTheLastUnInitTheProcessExitsCleanly) {
    CFakeGvCamera fake;
    std::string why;
    if (!fake.Start(why)) GTEST_SKIP() << why;
    EXPECT_EXIT(
        {
            KZRGENICAM::Init();
            const std::string serial = FakeSerial();
            KZRGENICAM::ICamera* camera = KZRGENICAM::CreateCameraBySN(serial.c_str());
            if (!camera || camera->open(1) != 0) std::exit(2);
            if (!LoseCamera(fake, *camera)) std::exit(3);
            KZRGENICAM::UnInit();
            camera->release();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
