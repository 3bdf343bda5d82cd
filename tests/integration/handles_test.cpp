// Handle rules of the entry points: what a null, closed or never-issued handle
// gets, and what a failed Open leaves behind.
#include <gtest/gtest.h>

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

TEST_F(PluginHandles, NullClosedAndNeverIssuedHandlesAreRefusedEverywhere) {
    Use({Cam()});
    QRVCameraHandle closed = nullptr;
    ASSERT_EQ(api->Open(kSerial, &closed, "", ""), 0);
    ASSERT_TRUE(api->IsOpen(closed));
    ASSERT_EQ(api->Close(closed), 0);
    int notASession = 0;
    for (QRVCameraHandle handle : {QRVCameraHandle{}, closed, QRVCameraHandle{&notASession}}) {
        SCOPED_TRACE(handle == closed ? "closed" : handle ? "never issued" : "null");
        ExpectEveryCallRefused(*api, handle);
    }
    EXPECT_EQ(notASession, 0);
    const KZRSIM::CameraCounters c = KZRSIM::Counters(kSerial);
    EXPECT_EQ(c.create, 1);
    EXPECT_EQ(c.open, 1);
    EXPECT_EQ(c.startGrabbing, 0);
    EXPECT_EQ(c.getFrame, 0);
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

// What the camera library raises inside an entry point comes back as a code.
struct SThrowCase {
    const char* name;
    const char* operation;  ///< the camera operation that raises
    const char* kind;
    int (*call)(const SPluginApi&, QRVCameraHandle);
    int expected;
};

void PrintTo(const SThrowCase& c, std::ostream* out) {
    *out << c.name;
}

class PluginExceptions : public PluginTest, public ::testing::WithParamInterface<SThrowCase> {};

TEST_P(PluginExceptions, StopAtTheEntryPoint) {
    const SThrowCase& c = GetParam();
    KZRSIM::CameraSpec desc = Cam();
    desc.faults[c.operation] = c.kind;
    Use({desc});
    QRVCameraHandle handle = nullptr;
    ASSERT_EQ(api->Open(kSerial, &handle, "", ""), 0);
    EXPECT_EQ(c.call(*api, handle), c.expected);
    api->Close(handle);
    EXPECT_EQ(KZRSIM::Library().camerasOut, 0);
    EXPECT_EQ(KZRSIM::Library().doubleReleases, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, PluginExceptions,
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
                   [](const SPluginApi& a, QRVCameraHandle h) { return a.IsOpen(h) ? 1 : 0; }, 0}),
    [](const ::testing::TestParamInfo<SThrowCase>& param) {
        return std::string(param.param.name);
    });

}  // namespace
