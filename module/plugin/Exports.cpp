// The 22 entry points. Each one finds its session, runs the operation and turns
// anything thrown into a result code: nothing crosses the C boundary.
#include <memory>

#include "QRVAcqGenIcam.h"
#include "plugin/SessionRegistry.h"

using qrv::Sessions;

namespace {

/// Runs op on the live session behind handle; 101007 for a handle that is not
/// live. The session stays alive until op returns, even if another thread
/// closes the handle meanwhile.
template <class Op>
int OnSession(QRVCameraHandle handle, Op&& op) {
    try {
        const std::shared_ptr<CGenICamCamera> session = Sessions().Find(handle);
        if (!session) return QRV_ERR_CAMERA_NOT_OPEN;
        return op(*session);
    } catch (const GenICam::GenericException&) {
        return QRV_ERR_GENICAM_EXCEPTION;
    } catch (...) {
        return QRV_ERR_EXCEPTION;
    }
}

template <class Op>
int OnTemporarySession(Op&& op) {
    try {
        CGenICamCamera session;
        return op(session);
    } catch (const GenICam::GenericException&) {
        return QRV_ERR_GENICAM_EXCEPTION;
    } catch (...) {
        return QRV_ERR_EXCEPTION;
    }
}

}  // namespace

QRVACQ_API int Close(QRVCameraHandle handle) {
    try {
        const std::shared_ptr<CGenICamCamera> session = Sessions().Remove(handle);
        if (!session) return QRV_ERR_CAMERA_NOT_OPEN;
        return session->Close();
    } catch (const GenICam::GenericException&) {
        return QRV_ERR_GENICAM_EXCEPTION;
    } catch (...) {
        return QRV_ERR_EXCEPTION;
    }
}

QRVACQ_API int ExecuteCMD(QRVCameraHandle handle, QRVString command) {
    return OnSession(handle, [&](CGenICamCamera& s) { return s.ExecuteCMD(command); });
}

QRVACQ_API int GetCameraList(QRVCameraInfoArray* list) {
    return OnTemporarySession([&](CGenICamCamera& s) { return s.GetCameraList(list); });
}

QRVACQ_API int GetCardList(QRVCardInfoArray* list) {
    return OnTemporarySession([&](CGenICamCamera& s) { return s.GetCardList(list); });
}

QRVACQ_API int GetNodeType(QRVCameraHandle handle, QRVString name) {
    return OnSession(handle, [&](CGenICamCamera& s) { return s.GetNodeType(name); });
}

QRVACQ_API int GetParamBool(QRVCameraHandle handle, QRVString name, bool* value) {
    return OnSession(handle, [&](CGenICamCamera& s) { return s.GetParamBool(name, value); });
}

QRVACQ_API int GetParamFloat(QRVCameraHandle handle, QRVString name, float* value, float* min,
                             float* max, float* inc) {
    return OnSession(
        handle, [&](CGenICamCamera& s) { return s.GetParamFloat(name, value, min, max, inc); });
}

QRVACQ_API int GetParamInt(QRVCameraHandle handle, QRVString name, int* value, int* min, int* max,
                           int* inc) {
    return OnSession(handle,
                     [&](CGenICamCamera& s) { return s.GetParamInt(name, value, min, max, inc); });
}

QRVACQ_API int GetParamStr(QRVCameraHandle handle, QRVString name, QRVString* value,
                           QRVStringArray* entries) {
    return OnSession(handle,
                     [&](CGenICamCamera& s) { return s.GetParamStr(name, value, entries); });
}

QRVACQ_API int GetRegisterData(QRVCameraHandle handle, QRVString name, unsigned char* buffer,
                               int count) {
    return OnSession(handle,
                     [&](CGenICamCamera& s) { return s.GetRegisterData(name, buffer, count); });
}

QRVACQ_API int GrabImage(QRVCameraHandle handle, QRVImage* image, int timeoutMs) {
    return OnSession(handle, [&](CGenICamCamera& s) { return s.GrabImage(image, timeoutMs); });
}

QRVACQ_API int GrabImageEx(QRVCameraHandle handle, QRVImage* image, ZelChunkData* chunks,
                           int timeoutMs) {
    return OnSession(handle,
                     [&](CGenICamCamera& s) { return s.GrabImageEx(image, chunks, timeoutMs); });
}

QRVACQ_API bool IsOpen(QRVCameraHandle handle) {
    try {
        const std::shared_ptr<CGenICamCamera> session = Sessions().Find(handle);
        return session && session->IsOpen();
    } catch (...) {
        return false;
    }
}

QRVACQ_API int Open(QRVString serialNumber, QRVCameraHandle* handle, QRVString /*unused*/,
                    QRVString configPath) {
    if (!handle) return QRV_ERR_PARAMETER_ACCESS;
    try {
        auto session = std::make_shared<CGenICamCamera>();
        const int result = session->Open(serialNumber, configPath);
        if (result != 0) {
            *handle = nullptr;
            return result;  // the session dies here and closes what it opened
        }
        *handle = Sessions().Add(std::move(session));
        return *handle ? 0 : QRV_ERR_EXCEPTION;
    } catch (const GenICam::GenericException&) {
        *handle = nullptr;
        return QRV_ERR_GENICAM_EXCEPTION;
    } catch (...) {
        *handle = nullptr;
        return QRV_ERR_EXCEPTION;
    }
}

QRVACQ_API int SetCallBackFunc(QRVCameraHandle /*handle*/, int /*tag*/, void* /*callback*/) {
    // Frames are delivered on request only; the registration is accepted and unused.
    return 0;
}

QRVACQ_API int SetParamBool(QRVCameraHandle handle, QRVString name, bool value) {
    return OnSession(handle, [&](CGenICamCamera& s) { return s.SetParamBool(name, value); });
}

QRVACQ_API int SetParamFloat(QRVCameraHandle handle, QRVString name, float value) {
    return OnSession(handle, [&](CGenICamCamera& s) { return s.SetParamFloat(name, value); });
}

QRVACQ_API int SetParamInt(QRVCameraHandle handle, QRVString name, int value) {
    return OnSession(handle, [&](CGenICamCamera& s) { return s.SetParamInt(name, value); });
}

QRVACQ_API int SetParamStr(QRVCameraHandle handle, QRVString name, QRVString value) {
    return OnSession(handle, [&](CGenICamCamera& s) { return s.SetParamStr(name, value); });
}

QRVACQ_API int SetRegisterData(QRVCameraHandle handle, QRVString name, const unsigned char* data,
                               int count) {
    return OnSession(handle,
                     [&](CGenICamCamera& s) { return s.SetRegisterData(name, data, count); });
}

QRVACQ_API int StartAcquire(QRVCameraHandle handle, int start, int unused) {
    return OnSession(handle, [&](CGenICamCamera& s) { return s.StartAcquire(start, unused); });
}

QRVACQ_API int StopAcquire(QRVCameraHandle handle) {
    return OnSession(handle, [&](CGenICamCamera& s) { return s.StopAcquire(); });
}
