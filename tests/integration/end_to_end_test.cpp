// A host's whole run through the loaded plug-in: list, open, configure, stream,
// grab, stop, close; afterwards the camera library has nothing left out.
#include <gtest/gtest.h>

#include <cstdint>

#include "PluginLibrary.h"

namespace {

constexpr char kSerial[] = "E2E-0001";

using PluginEndToEnd = PluginTest;

TEST_F(PluginEndToEnd, ListOpenConfigureGrabClose) {
    KZRSIM::CameraSpec desc;
    desc.serial = kSerial;
    desc.model = "E2E Cam";
    desc.width = 96;
    desc.height = 40;
    desc.frameRate = 0;
    desc.chunks = {{1, 2, 3}, {4, 5}};
    desc.buildDevice = [](GenApi::CMemoryNodeMap& map) {
        map.AddInteger("BlackLevel", 10, 0, 255, 2);
        map.AddFloat("ExposureTimeAbs", 100.0, 10.0, 1e6);
    };
    KZRSIM::SetScenario(KZRSIM::Scenario{{desc}, {}, {}});

    // Real transports may list other cameras on this machine; ours must be there once.
    QRVCameraInfoArray cameras;
    const int listed = api->GetCameraList(&cameras);
    ASSERT_EQ(cameras.Length(), listed);
    long ours = -1;
    for (long i = 0; i < cameras.Length(); ++i) {
        if (cameras.At(i).GetSerialNumber() != QRVString(kSerial)) continue;
        EXPECT_EQ(ours, -1) << "listed twice";
        ours = i;
    }
    ASSERT_NE(ours, -1);
    EXPECT_EQ(cameras.At(ours).GetModelName(), QRVString("E2E Cam"));

    QRVCameraHandle handle = nullptr;
    ASSERT_EQ(api->Open(cameras.At(ours).GetSerialNumber(), &handle, "", ""), 0);
    ASSERT_TRUE(api->IsOpen(handle));
    EXPECT_EQ(api->SetParamInt(handle, "BlackLevel", 37), 0);
    int level = 0, lo = 0, hi = 0, inc = 0;
    EXPECT_EQ(api->GetParamInt(handle, "BlackLevel", &level, &lo, &hi, &inc), 0);
    EXPECT_EQ(level, 36);  // onto the node's grid of 2
    EXPECT_EQ(hi, 255);
    EXPECT_EQ(api->SetParamFloat(handle, "ExposureTime", 2500.0f), 0);
    EXPECT_EQ(KZRSIM::DeviceNodeMap(kSerial)->PeekFloat("ExposureTimeAbs"), 2500.0);

    ASSERT_EQ(api->StartAcquire(handle, 4, 0), 0);
    QRVImage image;
    for (uint64_t id = 1; id <= 3; ++id) {
        SCOPED_TRACE(id);
        ZelChunkData chunks;
        const int result = id == 2 ? api->GrabImageEx(handle, &image, &chunks, 1000)
                                   : api->GrabImage(handle, &image, 1000);
        ASSERT_EQ(result, 0);
        ASSERT_EQ(image.Width(), 96);
        ASSERT_EQ(image.Height(), 40);
        uint64_t mismatches = 0;
        for (uint64_t i = 0; i < image.DataSize(); ++i) {
            mismatches += image.Data()[i] != KZRSIM::PatternByte(desc, id, i);
        }
        EXPECT_EQ(mismatches, 0u);
        EXPECT_EQ(chunks.getSize(), id == 2 ? 5u : 0u);
    }
    EXPECT_EQ(api->StopAcquire(handle), 0);
    EXPECT_EQ(api->Close(handle), 0);
    EXPECT_FALSE(api->IsOpen(handle));
    EXPECT_EQ(KZRSIM::Counters(kSerial).framesDelivered, 3);
    ExpectAllBack();
}

}  // namespace
