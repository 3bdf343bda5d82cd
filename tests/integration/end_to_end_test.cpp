// A host's whole run through the entry points: list, open, configure, stream,
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
        map.AddFloat("ExposureTime", 100.0, 10.0, 1e6);
        map.AddEnumeration("TriggerMode", {{"Off", 0}, {"On", 1}}, "On");
        map.AddEnumeration("TriggerSource", {{"Software", 0}, {"Line0", 1}}, "Line0");
    };
    Use({desc});

    // Real transports may list other cameras on this machine; ours must be there once.
    QRVCameraInfoArray cameras;
    const int listed = api->GetCameraList(&cameras);
    ASSERT_GE(listed, 1);
    ASSERT_EQ(cameras.Length(), listed);
    long ours = -1;
    int matches = 0;
    for (long i = 0; i < cameras.Length(); ++i) {
        if (cameras.At(i).GetSerialNumber() == QRVString(kSerial)) {
            ours = i;
            ++matches;
        }
    }
    ASSERT_EQ(matches, 1);
    EXPECT_EQ(cameras.At(ours).GetModelName(), QRVString("E2E Cam"));
    EXPECT_EQ(KZRSIM::Library().recordsOut, 0);

    QRVCameraHandle handle = nullptr;
    ASSERT_EQ(api->Open(cameras.At(ours).GetSerialNumber(), &handle, "", ""), 0);
    ASSERT_TRUE(api->IsOpen(handle));

    EXPECT_EQ(api->SetParamInt(handle, "BlackLevel", 37), 0);
    int level = 0, lo = 0, hi = 0, inc = 0;
    EXPECT_EQ(api->GetParamInt(handle, "BlackLevel", &level, &lo, &hi, &inc), 0);
    EXPECT_EQ(level, 36);  // onto the node's grid of 2
    EXPECT_EQ(hi, 255);
    EXPECT_EQ(inc, 2);
    EXPECT_EQ(api->SetParamFloat(handle, "ExposureTime", 2500.0f), 0);
    float exposure = 0;
    EXPECT_EQ(api->GetParamFloat(handle, "ExposureTime", &exposure, nullptr, nullptr, nullptr), 0);
    EXPECT_FLOAT_EQ(exposure, 2500.0f);
    EXPECT_EQ(api->SetParamStr(handle, "TriggerMode", "Off"), 0);
    QRVString mode;
    QRVStringArray modes;
    EXPECT_EQ(api->GetParamStr(handle, "TriggerMode", &mode, &modes), 0);
    EXPECT_EQ(mode, QRVString("Off"));
    EXPECT_EQ(modes.size(), 2);
    EXPECT_EQ(KZRSIM::DeviceNodeMap(kSerial)->PeekString("TriggerMode"), "Off");

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
        ASSERT_EQ(image.DataSize(), 96u * 40u);
        uint64_t mismatches = 0;
        for (uint64_t i = 0; i < image.DataSize(); ++i) {
            if (image.Data()[i] != KZRSIM::PatternByte(desc, id, i)) ++mismatches;
        }
        EXPECT_EQ(mismatches, 0u);
        if (id == 2) {
            EXPECT_EQ(chunks.getSize(), 5u);
        }
    }
    EXPECT_EQ(api->StopAcquire(handle), 0);
    EXPECT_EQ(api->Close(handle), 0);
    EXPECT_FALSE(api->IsOpen(handle));

    const KZRSIM::LibraryCounters lib = KZRSIM::Library();
    EXPECT_EQ(lib.recordsOut, 0);
    EXPECT_EQ(lib.camerasOut, 0);
    EXPECT_EQ(lib.framesOut, 0);
    EXPECT_EQ(lib.doubleReleases, 0);
    const KZRSIM::CameraCounters c = KZRSIM::Counters(kSerial);
    EXPECT_EQ(c.startGrabbing, 1);
    EXPECT_EQ(c.stopGrabbing, 1);
    EXPECT_EQ(c.framesDelivered, 3);
}

}  // namespace
