// The plug-in as a host sees it: a shared library loaded at run time and its 22
// entry points resolved by name.
#pragma once

#include <gtest/gtest.h>

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

/// One load handle of a plug-in file, given back at destruction.
class CPluginLibrary {
public:
    explicit CPluginLibrary(const std::string& path) {
        m_handle = qrvtest::OpenLibrary(path, m_error);
        if (!m_handle) return;
#define QRV_API_RESOLVE(name)                                                        \
    m_api.name = reinterpret_cast<PFN_##name>(qrvtest::FindSymbol(m_handle, #name)); \
    if (!m_api.name) m_error += std::string(m_error.empty() ? "" : ", ") + "no " #name;
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
        return m_handle && m_error.empty();
    }
    const std::string& Error() const {
        return m_error;
    }
    const SPluginApi& Api() const {
        return m_api;
    }

    /// Gives up this handle; 0 on success.
    int Unload() {
        if (!m_handle) return 0;
        void* handle = m_handle;
        m_handle = nullptr;
        m_api = SPluginApi{};
        return qrvtest::CloseLibrary(handle) ? 0 : -1;
    }

    /// The module's handle (HMODULE on Windows), null when not loaded.
    void* Handle() const {
        return m_handle;
    }

private:
    void* m_handle = nullptr;
    std::string m_error;
    SPluginApi m_api;
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
        ASSERT_TRUE(SharedPlugin().Ready()) << SharedPlugin().Error();
        api = &SharedPlugin().Api();
    }
    void TearDown() override { KZRSIM::Reset(); }

    static void Use(std::initializer_list<KZRSIM::CameraSpec> cameras) {
        KZRSIM::Scenario scenario;
        scenario.cameras = cameras;
        KZRSIM::SetScenario(scenario);
    }

    const SPluginApi* api = nullptr;
};
