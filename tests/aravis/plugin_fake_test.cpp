// The plug-in's entry points against the fake GigE Vision camera where threads
// or a camera that goes away are needed; the rest is the tool's case file
// tests/tool/cases/aravis/entry-points.test.
#include <atomic>
#include <chrono>
#include <thread>

#include "PluginOverFake.h"

using Clock = std::chrono::steady_clock;

TEST_F(FakeCameraTest, StopEndsAWaitForAHardwareTriggerThatNeverComes) {
    OpenCamera();
    ASSERT_EQ(api->SetParamStr(handle, QRVString("TriggerMode"), QRVString("On")), QRV_OK);
    ASSERT_EQ(api->SetParamStr(handle, QRVString("TriggerSource"), QRVString("Line0")), QRV_OK);
    ASSERT_EQ(api->StartAcquire(handle, 0, 0), QRV_OK);
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
