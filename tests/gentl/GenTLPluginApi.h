// The plug-in's entry points, resolved with dlopen/dlsym as a host resolves them.
#pragma once

#include <dlfcn.h>

#include <string>

#include "QRVAcqGenIcam.h"

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
        void* handle = dlopen(QRV_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            loadError = dlerror();
            return false;
        }
#define KZR_GENTL_RESOLVE(name)                                    \
    api.name = reinterpret_cast<PFN_##name>(dlsym(handle, #name)); \
    if (!api.name) loadError += "no " #name " ";
        KZR_GENTL_ENTRY_POINTS(KZR_GENTL_RESOLVE)
#undef KZR_GENTL_RESOLVE
        return loadError.empty();
    }();
    error = loadError;
    return loaded ? &api : nullptr;
}
