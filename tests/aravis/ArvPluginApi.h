// The plug-in's entry points that the Aravis tests and benchmark use, resolved
// with dlopen/dlsym as a host resolves them.
#pragma once

#include <dlfcn.h>

#include <string>

#include "QRVAcqGenIcam.h"

// clang-format off
#define QRV_ARV_ENTRY_POINTS(X)                                                      \
    X(Close) X(ExecuteCMD) X(GetCameraList) X(GetNodeType) X(GetParamBool)           \
    X(GetParamFloat) X(GetParamInt) X(GetParamStr) X(GetRegisterData) X(GrabImage)   \
    X(IsOpen) X(Open) X(SetParamBool) X(SetParamFloat) X(SetParamInt) X(SetParamStr)                 \
    X(SetRegisterData) X(StartAcquire) X(StopAcquire)
// clang-format on

struct SArvPluginApi {
#define QRV_ARV_FIELD(name) PFN_##name name = nullptr;
    QRV_ARV_ENTRY_POINTS(QRV_ARV_FIELD)
#undef QRV_ARV_FIELD
};

/// The plug-in, loaded once per process and never unloaded.
inline const SArvPluginApi* ArvPlugin(std::string& error) {
    static SArvPluginApi api;
    static std::string loadError;
    static bool loaded = [] {
        void* handle = dlopen(QRV_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            loadError = dlerror();
            return false;
        }
#define QRV_ARV_RESOLVE(name)                                      \
    api.name = reinterpret_cast<PFN_##name>(dlsym(handle, #name)); \
    if (!api.name) loadError += "no " #name " ";
        QRV_ARV_ENTRY_POINTS(QRV_ARV_RESOLVE)
#undef QRV_ARV_RESOLVE
        return loadError.empty();
    }();
    error = loadError;
    return loaded ? &api : nullptr;
}
