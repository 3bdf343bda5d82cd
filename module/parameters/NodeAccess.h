// The frame that every parameter operation shares: node map lookup, name
// conversion, value narrowing and the exception guard.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "GenApi.h"
#include "KZRGeniCam.h"
#include "QRVAcqGenIcam.h"
#include "QRVData.h"

namespace qrv {

/// Runs body and turns what it throws into the module's codes: a GenICam
/// exception into 101040, anything else into 101041.
template <class Body>
int Guarded(Body&& body) {
    try {
        return body();
    } catch (const GenICam::GenericException&) {
        return QRV_ERR_GENICAM_EXCEPTION;
    } catch (...) {
        return QRV_ERR_EXCEPTION;
    }
}

/// The node map of a module, or null when the module or its map is missing.
inline GenApi::INodeMap* NodeMapOf(KZRGENICAM::IModule* module) {
    return module ? module->getNodeMap() : nullptr;
}

/// A host string as the node map expects names and values: the local 8-bit form.
inline GenICam::gcstring ToNodeText(const QRVString& text) {
    return GenICam::gcstring(text.toLocal8Bit().constData());
}

/// text == QRVString(ascii), without building the right-hand string: these
/// comparisons run on every grab. ascii holds ASCII only.
inline bool EqualsAscii(const QRVString& text, const char* ascii) {
    const std::u16string& units = text.utf16();
    std::size_t i = 0;
    for (; ascii[i] != '\0'; ++i) {
        if (i >= units.size() || units[i] != static_cast<char16_t>(ascii[i])) return false;
    }
    return i == units.size();
}

/// A 64-bit node value at the 32-bit host interface: saturated, so that ranges
/// beyond 32 bits stay ordered instead of wrapping.
inline int SaturateToInt(int64_t value) {
    if (value > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    if (value < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

/// Writes value when the host gave somewhere to write it.
template <class T, class V>
void WriteOut(T* out, V value) {
    if (out) *out = static_cast<T>(value);
}

}  // namespace qrv

#include "session/GenICamCamera.h"

template <class Ptr, class Prologue, class Body>
int CGenICamCamera::OnDeviceNode(const QRVString& name, ENeed need, Prologue&& prologue,
                                 Body&& body) {
    if (!CameraReady()) return QRV_ERR_CAMERA_NOT_OPEN;
    QRVString resolved;
    ResolveNodeName(name, resolved);
    prologue();
    return qrv::Guarded([&]() -> int {
        GenApi::INodeMap* map = qrv::NodeMapOf(m_camera->getDeviceModule());
        if (!map) return -1;
        Ptr node = map->GetNode(qrv::ToNodeText(resolved));
        const bool usable =
            need == ENeed::Write ? GenApi::IsWritable(node) : GenApi::IsReadable(node);
        if (!usable) return QRV_ERR_PARAMETER_ACCESS;
        return body(node);
    });
}
