// The plug-in's entry points, resolved as a host resolves them (dlopen/dlsym,
// LoadLibrary/GetProcAddress), and the environment the producers are found by.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "DynamicLibrary.h"
#include "QRVAcqGenIcam.h"

inline void SetTestEnv(const char* name, const char* value) {
#if defined(_WIN32)
    _putenv_s(name, value);
#else
    setenv(name, value, 1);
#endif
}

/// A folder of the build as GENICAM_GENTL64_PATH takes it: absolute on this
/// system (on Windows with its drive).
inline std::string ProducerFolder(const char* folder) {
    return std::filesystem::absolute(
               std::filesystem::u8path(std::string(KZR_TEST_PRODUCER_DIR) + "/" + folder))
        .u8string();
}

// clang-format off
#define KZR_GENTL_ENTRY_POINTS(X)                                                     \
    X(Close) X(ExecuteCMD) X(GetCameraList) X(GetCardList) X(GetNodeType)             \
    X(GetParamBool) X(GetParamFloat) X(GetParamInt) X(GetParamStr) X(GrabImage)       \
    X(GrabImageEx) X(IsOpen) X(Open) X(SetParamBool) X(SetParamFloat) X(SetParamInt)  \
    X(SetParamStr) X(StartAcquire) X(StopAcquire)
// clang-format on

struct SPluginApi {
#define KZR_GENTL_FIELD(name) PFN_##name name = nullptr;
    KZR_GENTL_ENTRY_POINTS(KZR_GENTL_FIELD)
#undef KZR_GENTL_FIELD
};

/// The plug-in, loaded once per process and never unloaded; null with error set
/// when it or one of its entry points is missing.
inline const SPluginApi* Plugin(std::string& error) {
    static SPluginApi api;
    static std::string loadError;
    static const bool loaded = [] {
        void* handle = qrvtest::OpenLibrary(QRV_PLUGIN_PATH, loadError);
        if (!handle) return false;
#define KZR_GENTL_RESOLVE(name)                                                  \
    api.name = reinterpret_cast<PFN_##name>(qrvtest::FindSymbol(handle, #name)); \
    if (!api.name) loadError += "no " #name " ";
        KZR_GENTL_ENTRY_POINTS(KZR_GENTL_RESOLVE)
#undef KZR_GENTL_RESOLVE
        return loadError.empty();
    }();
    error = loadError;
    return loaded ? &api : nullptr;
}
