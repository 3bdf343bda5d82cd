// A handle that is null, never issued or closed reaches no session, also when the
// next Open's session takes the closed one's place: a host's late call must not
// reach the camera opened since. (Every entry point's answer to such handles is
// in tests/tool/cases/shell/handles.test.)
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "PluginLibrary.h"

namespace {

constexpr char kSerial[] = "HND-0001";

using PluginHandles = PluginTest;

TEST_F(PluginHandles, StaleAndForgedHandlesNeverReachTheLiveSession) {
    Use(kSerial, [](GenApi::CMemoryNodeMap& map) { map.AddInteger("Width", 64, 1, 4096); });
    constexpr int kReopens = 4;
    int notASession = 0;
    std::vector<std::pair<const char*, QRVCameraHandle>> refused = {
        {"null", QRVCameraHandle{}},
        {"never issued", QRVCameraHandle{&notASession}},
        {"all bits set", reinterpret_cast<QRVCameraHandle>(~std::uintptr_t{0})}};
    QRVCameraHandle live = nullptr;
    for (int i = 0; i <= kReopens; ++i) {
        if (live) {
            ASSERT_EQ(api->Close(live), 0);
            refused.emplace_back("closed", live);
        }
        ASSERT_EQ(api->Open(kSerial, &live, "", ""), 0);
    }
    for (const auto& [kind, handle] : refused) {
        SCOPED_TRACE(kind);
        int width = -7;
        EXPECT_NE(handle, live);
        EXPECT_EQ(api->SetParamInt(handle, "Width", 32), QRV_ERR_CAMERA_NOT_OPEN);
        EXPECT_EQ(api->GetParamInt(handle, "Width", &width, nullptr, nullptr, nullptr),
                  QRV_ERR_CAMERA_NOT_OPEN);
        EXPECT_EQ(api->StartAcquire(handle, 1, 0), QRV_ERR_CAMERA_NOT_OPEN);
        EXPECT_EQ(api->Close(handle), QRV_ERR_CAMERA_NOT_OPEN);
        EXPECT_FALSE(api->IsOpen(handle));
        EXPECT_EQ(width, -7);
    }
    EXPECT_EQ(notASession, 0);
    EXPECT_TRUE(api->IsOpen(live));
    EXPECT_EQ(KZRSIM::DeviceNodeMap(kSerial)->PeekInt("Width"), 64);
    const KZRSIM::CameraCounters c = KZRSIM::Counters(kSerial);
    EXPECT_EQ(c.open, kReopens + 1);
    EXPECT_EQ(c.close, kReopens);
    EXPECT_EQ(c.startGrabbing, 0);
    EXPECT_EQ(api->Close(live), 0);
    ExpectAllBack();
}

}  // namespace
