// Raw registers and commands.
#include "parameters/NodeAccess.h"

namespace {
/// A host buffer no register can serve; refused before any node is looked at.
bool BadBuffer(const void* buffer, int count) {
    return count < 0 || (!buffer && count > 0);
}
}  // namespace

int CGenICamCamera::SetRegisterData(QRVString name, const unsigned char* data, int count) {
    if (!CameraReady()) return QRV_ERR_CAMERA_NOT_OPEN;
    if (BadBuffer(data, count)) return QRV_ERR_PARAMETER_ACCESS;
    return OnDeviceNode<GenApi::CRegisterPtr>(name, ENeed::Write, [&](GenApi::CRegisterPtr& node) {
        node->Set(data, static_cast<int64_t>(count), true);
        return QRV_OK;
    });
}

int CGenICamCamera::GetRegisterData(QRVString name, unsigned char* buffer, int count) {
    if (!CameraReady()) return QRV_ERR_CAMERA_NOT_OPEN;
    if (BadBuffer(buffer, count)) return QRV_ERR_PARAMETER_ACCESS;
    return OnDeviceNode<GenApi::CRegisterPtr>(name, ENeed::Read, [&](GenApi::CRegisterPtr& node) {
        // Register reads may come from the node map's cache.
        node->Get(buffer, static_cast<int64_t>(count), false, false);
        return QRV_OK;
    });
}

int CGenICamCamera::ExecuteCMD(QRVString name) {
    return OnDeviceNode<GenApi::CCommandPtr>(name, ENeed::Write, [&](GenApi::CCommandPtr& node) {
        node->Execute(true);  // completion is not awaited
        return 0;
    });
}
