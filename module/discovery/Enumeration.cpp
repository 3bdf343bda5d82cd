// Camera and frame-grabber card lists.
#include <exception>

#include "log/ErrorLog.h"
#include "parameters/NodeAccess.h"
#include "session/GenICamCamera.h"

namespace {

const char kSdkName[] = "QRVAcqGenIcam";
const char kCameraLinkProducer[] = "CLTLKZR.cti";

/// Runs a listing; a GenICam exception gives 101040, anything else is logged and
/// gives 101041.
template <class Body>
int GuardedListing(Body&& body) {
    try {
        return body();
    } catch (const GenICam::GenericException&) {
        return QRV_ERR_GENICAM_EXCEPTION;
    } catch (...) {
        ModuleLog() << LogBegin << "GetCameraList Failed" << LogEnd;
        return QRV_ERR_EXCEPTION;
    }
}

}  // namespace

QRVInterface CGenICamCamera::InterfaceFromTransport(int transport) {
    switch (transport) {
        case KZRGENICAM::TransportGigE:
            return QRV_INTERFACE_GIGE;
        case KZRGENICAM::TransportUSB3:
            return QRV_INTERFACE_USB3;
        case KZRGENICAM::TransportCameraLink:
            return QRV_INTERFACE_CAMERALINK;
        case KZRGENICAM::TransportGenTL:
            return QRV_INTERFACE_GENTL;
        default:
            return QRV_INTERFACE_UNKNOWN;
    }
}

void CGenICamCamera::RefreshCameraInfos(const char* filter) {
    ReleaseCameraInfos();
    m_cameraInfos = KZRGENICAM::Discovery(filter);
}

int CGenICamCamera::GetCameraList(QRVCameraInfoArray* list) {
    if (!list) return QRV_ERR_PARAMETER_ACCESS;
    return GuardedListing([&]() -> int {
        list->Clear();
        RefreshCameraInfos(nullptr);
        ModuleLog() << LogBegin << "Find Camera count =  "
                    << static_cast<unsigned long long>(m_cameraInfos.size()) << LogEnd;
        // Each record leaves the list right before it is released, so a failure
        // half-way leaves only unreleased records for the destructor.
        while (!m_cameraInfos.empty()) {
            KZRGENICAM::ICameraInfo* info = m_cameraInfos.front();
            if (!info) {
                m_cameraInfos.pop_front();
                continue;
            }
            const int transport = info->getInterfaceType();
            if (transport == KZRGENICAM::TransportGigE || transport == KZRGENICAM::TransportUSB3 ||
                transport == KZRGENICAM::TransportGenTL) {
                QRVCameraInfo record;
                record.SetSerialNumber(QRVString(info->getSerialNumber()));
                record.SetManufacturerInfo(QRVString(info->getManufacturer()));
                record.SetModelName(QRVString(info->getModelName()));
                record.SetID(QRVString(info->getId()));
                record.SetDriverType(2);
                record.SetSDKName(QRVString(kSdkName));
                record.SetFilter(false);
                record.SetCameraType(QRV_CAMERA_AREA);
                record.SetInterface(InterfaceFromTransport(transport));
                list->Append(record);
            }
            m_cameraInfos.pop_front();
            info->release();
        }
        return static_cast<int>(list->Length());
    });
}

int CGenICamCamera::GetCardList(QRVCardInfoArray* list) {
    if (!list) return QRV_ERR_PARAMETER_ACCESS;
    return GuardedListing([&]() -> int {
        list->Clear();
        RefreshCameraInfos(kCameraLinkProducer);
        while (!m_cameraInfos.empty()) {
            KZRGENICAM::ICameraInfo* info = m_cameraInfos.front();
            if (!info) {
                m_cameraInfos.pop_front();
                continue;
            }
            const int transport = info->getInterfaceType();
            QRVCardInfo card;
            card.SetDriverType(2);
            card.SetSDKName(QRVString(kSdkName));
            card.SetCameraType(QRV_CAMERA_AREA);
            card.SetInterface(InterfaceFromTransport(transport));
            CLServer server;
            server.SetServerName(QRVString(info->getId()));
            server.PushDevice(QRVString(info->getSerialNumber()));
            card.Push(server);
            list->Append(card);
            m_cameraInfos.pop_front();
            info->release();
        }
        return static_cast<int>(list->Length());
    });
}
