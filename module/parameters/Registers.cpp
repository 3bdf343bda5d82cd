// Raw registers and commands.
#include "parameters/NodeAccess.h"

namespace {
bool BadBuffer(const void* buffer, int count) {
    return count < 0 || (!buffer && count > 0);
}
}  // namespace

int CGenICamCamera::SetRegisterData(QRVString name, const unsigned char* data, int count) {
    return OnDeviceNode<GenApi::CRegisterPtr>(name, ENeed::Write, [&](GenApi::CRegisterPtr& node) {
        if (BadBuffer(data, count)) return QRV_ERR_PARAMETER_ACCESS;
        node->Set(data, static_cast<int64_t>(count), true);
        return QRV_OK;
    });
}

int CGenICamCamera::GetRegisterData(QRVString name, unsigned char* buffer, int count) {
    return OnDeviceNode<GenApi::CRegisterPtr>(name, ENeed::Read, [&](GenApi::CRegisterPtr& node) {
        if (BadBuffer(buffer, count)) return QRV_ERR_PARAMETER_ACCESS;
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
