// The plug-in as a host sees it: a shared library loaded at run time and its 22
// entry points resolved by name.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "DynamicLibrary.h"
#include "KZRSim.h"
#include "QRVAcqGenIcam.h"

// The entry points, in the export table's order.
// clang-format off
#define QRV_ENTRY_POINTS(X)                                                          \
    X(Close) X(ExecuteCMD) X(GetCameraList) X(GetCardList) X(GetNodeType)            \
    X(GetParamBool) X(GetParamFloat) X(GetParamInt) X(GetParamStr) X(GetRegisterData) \
    X(GrabImage) X(GrabImageEx) X(IsOpen) X(Open) X(SetCallBackFunc) X(SetParamBool) \
    X(SetParamFloat) X(SetParamInt) X(SetParamStr) X(SetRegisterData) X(StartAcquire) \
    X(StopAcquire)
// clang-format on

/// Function pointers for every entry point; all null until resolved.
struct SPluginApi {
#define QRV_API_FIELD(name) PFN_##name name = nullptr;
    QRV_ENTRY_POINTS(QRV_API_FIELD)
#undef QRV_API_FIELD
};

/// One load handle of a plug-in file, given back at destruction or Unload.
class CPluginLibrary {
public:
    explicit CPluginLibrary(const std::string& path) {
        handle = qrvtest::OpenLibrary(path, error);
        if (!handle) return;
#define QRV_API_RESOLVE(name)                                                    \
    api.name = reinterpret_cast<PFN_##name>(qrvtest::FindSymbol(handle, #name)); \
    if (!api.name) error += std::string(error.empty() ? "" : ", ") + "no " #name;
        QRV_ENTRY_POINTS(QRV_API_RESOLVE)
#undef QRV_API_RESOLVE
    }
    ~CPluginLibrary() {
        Unload();
    }
    CPluginLibrary(const CPluginLibrary&) = delete;
    CPluginLibrary& operator=(const CPluginLibrary&) = delete;

    /// True when the file loaded and every entry point resolved.
    bool Ready() const {
        return handle && error.empty();
    }

    /// Gives up this handle; 0 on success.
    int Unload() {
        void* loaded = handle;
        handle = nullptr;
        api = SPluginApi{};
        return !loaded || qrvtest::CloseLibrary(loaded) ? 0 : -1;
    }

    void* handle = nullptr;  ///< HMODULE on Windows; null when not loaded
    std::string error;
    SPluginApi api;
};

/// The built plug-in, loaded once for the whole test process and never
/// unloaded: sessions a test leaves behind belong to it until the process ends.
inline CPluginLibrary& SharedPlugin() {
    static CPluginLibrary* plugin = new CPluginLibrary(QRV_PLUGIN_PATH);
    return *plugin;
}

/// Tests through the entry points; every test starts from an empty transport.
class PluginTest : public ::testing::Test {
protected:
    void SetUp() override {
        KZRSIM::Reset();
        ASSERT_TRUE(SharedPlugin().Ready()) << SharedPlugin().error;
        api = &SharedPlugin().api;
    }
    void TearDown() override { KZRSIM::Reset(); }

    /// One camera whose device node map build fills; frames always ready.
    static void Use(const char* serial, std::function<void(GenApi::CMemoryNodeMap&)> build = {},
                    double frameRate = 0) {
        KZRSIM::CameraSpec desc;
        desc.serial = serial;
        desc.frameRate = frameRate;
        desc.buildDevice = std::move(build);
        KZRSIM::SetScenario(KZRSIM::Scenario{{desc}, {}, {}});
    }
    /// Nothing the camera library handed out is still out or came back twice.
    static void ExpectAllBack() {
        const KZRSIM::LibraryCounters lib = KZRSIM::Library();
        EXPECT_EQ(lib.camerasOut, 0);
        EXPECT_EQ(lib.framesOut, 0);
        EXPECT_EQ(lib.recordsOut, 0);
        EXPECT_EQ(lib.doubleReleases, 0);
    }

    const SPluginApi* api = nullptr;
};
