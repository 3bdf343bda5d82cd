// Raw registers and commands.
#include "parameters/NodeAccess.h"
#include "session/GenICamCamera.h"

using qrv::Guarded;
using qrv::NodeMapOf;
using qrv::ToNodeText;

namespace {
bool BadBuffer(const void* buffer, int count) { return count < 0 || (!buffer && count > 0); }
}  // namespace

int CGenICamCamera::SetRegisterData(QRVString name, const unsigned char* data, int count) {
    if (!CameraReady()) return QRV_ERR_CAMERA_NOT_OPEN;
    if (BadBuffer(data, count)) return QRV_ERR_PARAMETER_ACCESS;
    QRVString resolved;
    ResolveNodeName(name, resolved);
    return Guarded([&]() -> int {
        GenApi::INodeMap* map = NodeMapOf(m_camera->getDeviceModule());
        if (!map) return -1;
        GenApi::CRegisterPtr node = map->GetNode(ToNodeText(resolved));
        if (!GenApi::IsWritable(node)) return QRV_ERR_PARAMETER_ACCESS;
        node->Set(data, static_cast<int64_t>(count), true);
        return 0;
    });
}

int CGenICamCamera::GetRegisterData(QRVString name, unsigned char* buffer, int count) {
    if (!CameraReady()) return QRV_ERR_CAMERA_NOT_OPEN;
    if (BadBuffer(buffer, count)) return QRV_ERR_PARAMETER_ACCESS;
    QRVString resolved;
    ResolveNodeName(name, resolved);
    return Guarded([&]() -> int {
        GenApi::INodeMap* map = NodeMapOf(m_camera->getDeviceModule());
        if (!map) return -1;
        GenApi::CRegisterPtr node = map->GetNode(ToNodeText(resolved));
        if (!GenApi::IsReadable(node)) return QRV_ERR_PARAMETER_ACCESS;
        node->Get(buffer, static_cast<int64_t>(count), false, false);
        return 0;
    });
}

int CGenICamCamera::ExecuteCMD(QRVString name) {
    if (!CameraReady()) return QRV_ERR_CAMERA_NOT_OPEN;
    QRVString resolved;
    ResolveNodeName(name, resolved);
    return Guarded([&]() -> int {
        GenApi::INodeMap* map = NodeMapOf(m_camera->getDeviceModule());
        if (!map) return -1;
        GenApi::CCommandPtr node = map->GetNode(ToNodeText(resolved));
        if (!GenApi::IsWritable(node)) return QRV_ERR_PARAMETER_ACCESS;
        node->Execute(true);
        return 0;
    });
}
