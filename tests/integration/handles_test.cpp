// Handle rules of the entry points: what a null, closed or never-issued handle
// gets, and what a failed Open leaves behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "PluginLibrary.h"

namespace {

constexpr char kSerial[] = "HND-0001";

KZRSIM::CameraSpec Cam() {
    KZRSIM::CameraSpec desc;
    desc.serial = kSerial;
    desc.frameRate = 0;
    desc.buildDevice = [](GenApi::CMemoryNodeMap& map) {
        map.AddInteger("Width", 64, 1, 4096);
        map.AddBoolean("ReverseX", false);
        map.AddFloat("ExposureTime", 100.0, 1.0, 1e6);
        map.AddEnumeration("PixelFormat", {{"Mono8", 1}}, "Mono8");
        map.AddRegister("UserData", 4, {1, 2, 3, 4});
        map.AddCommand("UserSetSave");
    };
    return desc;
}

using PluginHandles = PluginTest;

/// Calls every per-camera entry point on handle; writes to host objects go to
/// sentinels that must stay as they were.
void ExpectEveryCallRefused(const SPluginApi& a, QRVCameraHandle h) {
    const QRVString name("Width");
    int iv = -7;
    float fv = -7.0f;
    bool bv = true;
    unsigned char reg[4] = {9, 9, 9, 9};
    QRVString sv("untouched");
    QRVStringArray entries;
    QRVImage image;
    ZelChunkData chunks;
    const std::vector<std::pair<const char*, std::function<int()>>> calls = {
        {"Close", [&] { return a.Close(h); }},
        {"ExecuteCMD", [&] { return a.ExecuteCMD(h, QRVString("UserSetSave")); }},
        {"GetNodeType", [&] { return a.GetNodeType(h, name); }},
        {"GetParamBool", [&] { return a.GetParamBool(h, QRVString("ReverseX"), &bv); }},
        {"GetParamFloat",
         [&] { return a.GetParamFloat(h, QRVString("ExposureTime"), &fv, &fv, &fv, &fv); }},
        {"GetParamInt", [&] { return a.GetParamInt(h, name, &iv, &iv, &iv, &iv); }},
        {"GetParamStr", [&] { return a.GetParamStr(h, QRVString("PixelFormat"), &sv, &entries); }},
        {"GetRegisterData", [&] { return a.GetRegisterData(h, QRVString("UserData"), reg, 4); }},
        {"GrabImage", [&] { return a.GrabImage(h, &image, 10); }},
        {"GrabImageEx", [&] { return a.GrabImageEx(h, &image, &chunks, 10); }},
        {"SetParamBool", [&] { return a.SetParamBool(h, QRVString("ReverseX"), true); }},
        {"SetParamFloat", [&] { return a.SetParamFloat(h, QRVString("ExposureTime"), 5.0f); }},
        {"SetParamInt", [&] { return a.SetParamInt(h, name, 32); }},
        {"SetParamStr", [&] { return a.SetParamStr(h, QRVString("PixelFormat"), "Mono8"); }},
        {"SetRegisterData", [&] { return a.SetRegisterData(h, QRVString("UserData"), reg, 4); }},
        {"StartAcquire", [&] { return a.StartAcquire(h, 1, 0); }},
        {"StopAcquire", [&] { return a.StopAcquire(h); }},
    };
    for (const auto& [entry, call] : calls) {
        EXPECT_EQ(call(), QRV_ERR_CAMERA_NOT_OPEN) << entry;
    }
    EXPECT_FALSE(a.IsOpen(h));
    EXPECT_EQ(a.SetCallBackFunc(h, 1, nullptr), 0);

    EXPECT_EQ(iv, -7);
    EXPECT_EQ(fv, -7.0f);
    EXPECT_TRUE(bv);
    EXPECT_EQ(reg[0], 9);
    EXPECT_EQ(sv, QRVString("untouched"));
    EXPECT_EQ(entries.size(), 0);
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_EQ(chunks.getUpdateCount(), 0u);
}

// A closed handle stays dead even when the next Open's session lands where the
// closed one lived: a host's late call must not reach the camera opened since.
TEST_F(PluginHandles, NullClosedAndNeverIssuedHandlesAreRefusedEverywhere) {
    Use({Cam()});
    constexpr int kReopens = 4;
    std::vector<QRVCameraHandle> closed;
    QRVCameraHandle live = nullptr;
    for (int i = 0; i <= kReopens; ++i) {
        if (live) {
            ASSERT_EQ(api->Close(live), 0);
            closed.push_back(live);
        }
        ASSERT_EQ(api->Open(kSerial, &live, "", ""), 0);
        ASSERT_TRUE(api->IsOpen(live));
    }
    int notASession = 0;
    std::vector<std::pair<const char*, QRVCameraHandle>> refused = {
        {"null", QRVCameraHandle{}},
        {"never issued", QRVCameraHandle{&notASession}},
        {"all bits set", reinterpret_cast<QRVCameraHandle>(~std::uintptr_t{0})},
    };
    for (QRVCameraHandle handle : closed) refused.emplace_back("closed", handle);
    for (const auto& [kind, handle] : refused) {
        SCOPED_TRACE(kind);
        EXPECT_NE(handle, live);
        ExpectEveryCallRefused(*api, handle);
    }
    EXPECT_EQ(notASession, 0);

    // The camera behind the live handle saw none of those calls.
    EXPECT_TRUE(api->IsOpen(live));
    EXPECT_EQ(KZRSIM::DeviceNodeMap(kSerial)->PeekInt("Width"), 64);
    const KZRSIM::CameraCounters c = KZRSIM::Counters(kSerial);
    EXPECT_EQ(c.create, kReopens + 1);
    EXPECT_EQ(c.open, kReopens + 1);
    EXPECT_EQ(c.close, kReopens);
    EXPECT_EQ(c.startGrabbing, 0);
    EXPECT_EQ(c.getFrame, 0);
    EXPECT_EQ(api->Close(live), 0);
    EXPECT_EQ(KZRSIM::Library().camerasOut, 0);
}

TEST_F(PluginHandles, MissingOutputSlotIsRefusedBeforeTheCameraLibrary) {
    Use({Cam()});
    EXPECT_NE(api->Open(kSerial, nullptr, "", ""), 0);
    EXPECT_EQ(api->GetCameraList(nullptr), QRV_ERR_PARAMETER_ACCESS);
    EXPECT_EQ(api->GetCardList(nullptr), QRV_ERR_PARAMETER_ACCESS);
    EXPECT_EQ(KZRSIM::Counters(kSerial).create, 0);
    EXPECT_EQ(KZRSIM::Library().discovery, 0);
}

TEST_F(PluginHandles, FailedOpenClearsTheHandle) {
    KZRSIM::CameraSpec refusing = Cam();
    refusing.serial = "HND-REFUSE";
    refusing.openError = 3;
    KZRSIM::CameraSpec throwing = Cam();
    throwing.serial = "HND-THROW";
    throwing.faults["open"] = "std";
    KZRSIM::CameraSpec genicam = Cam();
    genicam.serial = "HND-GENICAM";
    genicam.faults["open"] = "genicam";
    Use({Cam(), refusing, throwing, genicam});

    int sentinel = 0;
    const struct {
        const char* serial;
        int expected;
    } cases[] = {
        {"HND-UNKNOWN", QRV_ERR_CAMERA_NOT_FOUND},
        {"HND-REFUSE", QRV_ERR_CAMERA_OPEN_FAILED},
        {"HND-THROW", QRV_ERR_EXCEPTION},
        {"HND-GENICAM", QRV_ERR_GENICAM_EXCEPTION},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.serial);
        QRVCameraHandle handle = &sentinel;
        EXPECT_EQ(api->Open(c.serial, &handle, "", ""), c.expected);
        EXPECT_EQ(handle, nullptr);
        const KZRSIM::LibraryCounters lib = KZRSIM::Library();
        EXPECT_EQ(lib.camerasOut, 0);
        EXPECT_EQ(lib.doubleReleases, 0);
    }
}

// What the camera library raises or hands back inside an entry point comes back
// as a code.
struct SThrowCase {
    const char* name;
    const char* operation;  ///< the camera operation that raises, or null
    const char* kind;
    int (*call)(const SPluginApi&, QRVCameraHandle);
    int expected;
    KZRSIM::FrameStep frame{};  ///< the first frame the camera delivers
};

/// A frame whose layout the host image refuses: it must not count as grabbed.
KZRSIM::FrameStep RefusedFrame(int width, int channels) {
    KZRSIM::FrameStep step;
    step.width = width;
    step.channels = channels;
    return step;
}

void PrintTo(const SThrowCase& c, std::ostream* out) {
    *out << c.name;
}

class PluginCameraAnswers : public PluginTest, public ::testing::WithParamInterface<SThrowCase> {};

TEST_P(PluginCameraAnswers, BecomeCodesAtTheEntryPoint) {
    const SThrowCase& c = GetParam();
    KZRSIM::CameraSpec desc = Cam();
    if (c.operation) desc.faults[c.operation] = c.kind;
    desc.script = {c.frame};
    Use({desc});
    QRVCameraHandle handle = nullptr;
    ASSERT_EQ(api->Open(kSerial, &handle, "", ""), 0);
    EXPECT_EQ(c.call(*api, handle), c.expected);
    api->Close(handle);
    EXPECT_EQ(KZRSIM::Library().camerasOut, 0);
    EXPECT_EQ(KZRSIM::Library().doubleReleases, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, PluginCameraAnswers,
    ::testing::Values(
        SThrowCase{"StartAcquire", "startGrabbing", "genicam",
                   [](const SPluginApi& a, QRVCameraHandle h) { return a.StartAcquire(h, 0, 0); },
                   QRV_ERR_GENICAM_EXCEPTION},
        SThrowCase{"StopAcquire", "stopGrabbing", "std",
                   [](const SPluginApi& a, QRVCameraHandle h) {
                       a.StartAcquire(h, 0, 0);
                       return a.StopAcquire(h);
                   },
                   QRV_ERR_EXCEPTION},
        SThrowCase{"Close", "close", "genicam",
                   [](const SPluginApi& a, QRVCameraHandle h) { return a.Close(h); },
                   QRV_ERR_GENICAM_EXCEPTION},
        SThrowCase{"IsOpen", "isConnected", "std",
                   [](const SPluginApi& a, QRVCameraHandle h) { return a.IsOpen(h) ? 1 : 0; }, 0},
        SThrowCase{"GrabImageRefusedFrame", nullptr, "",
                   [](const SPluginApi& a, QRVCameraHandle h) {
                       QRVImage image;
                       a.StartAcquire(h, 2, 0);
                       return a.GrabImage(h, &image, 1000);
                   },
                   QRV_ERR_CAMERA_IMAGE_DATA, RefusedFrame(0, -1)},
        SThrowCase{"GrabImageExRefusedFrame", nullptr, "",
                   [](const SPluginApi& a, QRVCameraHandle h) {
                       QRVImage image;
                       ZelChunkData chunks;
                       a.StartAcquire(h, 2, 0);
                       return a.GrabImageEx(h, &image, &chunks, 1000);
                   },
                   QRV_ERR_CAMERA_IMAGE_DATA, RefusedFrame(-1, 5)}),
    [](const ::testing::TestParamInfo<SThrowCase>& param) {
        return std::string(param.param.name);
    });

}  // namespace
