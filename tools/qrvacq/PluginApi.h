// Run-time binding of the plug-in: the tool never links it, it loads the shared
// library and resolves the 22 entry points by name, as a machine-vision host does.
#pragma once

#include <string>

#include "QRVAcqGenIcam.h"

// The entry points in the export table's order.
#define QRVACQ_ENTRY_POINTS(X) \
    X(Close)                   \
    X(ExecuteCMD)              \
    X(GetCameraList)           \
    X(GetCardList)             \
    X(GetNodeType)             \
    X(GetParamBool)            \
    X(GetParamFloat)           \
    X(GetParamInt)             \
    X(GetParamStr)             \
    X(GetRegisterData)         \
    X(GrabImage)               \
    X(GrabImageEx)             \
    X(IsOpen)                  \
    X(Open)                    \
    X(SetCallBackFunc)         \
    X(SetParamBool)            \
    X(SetParamFloat)           \
    X(SetParamInt)             \
    X(SetParamStr)             \
    X(SetRegisterData)         \
    X(StartAcquire)            \
    X(StopAcquire)

namespace qrvacq {

/// The resolved entry points; every member is non-null once Plugin::Load succeeded.
struct PluginApi {
#define QRVACQ_DECLARE_ENTRY(name) PFN_##name name = nullptr;
    QRVACQ_ENTRY_POINTS(QRVACQ_DECLARE_ENTRY)
#undef QRVACQ_DECLARE_ENTRY
};

/// A loaded plug-in. It stays loaded until the process exits: the tool is one
/// short run, and unloading the plug-in with the camera library behind it
/// before exit gains nothing (the plug-in's own teardown still runs at exit).
class Plugin {
public:
    Plugin() = default;
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    /// Loads the library at path (RTLD_NOW | RTLD_LOCAL) and resolves every entry
    /// point. On failure returns false with a message naming the path or the
    /// missing entry points, and leaves nothing loaded.
    bool Load(const std::string& path, std::string& error);

    const PluginApi& Api() const { return m_api; }

private:
    PluginApi m_api;
};

/// libQRVAcqGenIcam.so in the library directory beside this executable: the
/// build and the install both put executables in bin/ and libraries in lib/;
/// falls back to the executable's own directory.
std::string DefaultPluginPath();

}  // namespace qrvacq
