// Enumeration and string parameters.
#include "log/ErrorLog.h"
#include "parameters/NodeAccess.h"
#include "session/GenICamCamera.h"

using qrv::Guarded;
using qrv::NodeMapOf;
using qrv::ToNodeText;

int CGenICamCamera::SetParamStr(QRVString name, QRVString value) {
    // Only enumerations are written; a string feature fails the pointer test.
    return OnDeviceNode<GenApi::CEnumerationPtr>(
        name, ENeed::Write, [&](GenApi::CEnumerationPtr& node) {
            node->FromString(ToNodeText(value), true);
            node->GetIntValue(true, true);
            ModuleLog() << LogBegin << "SetParamStr: " << name.toUtf8().constData()
                        << ", value = " << value.toUtf8().constData() << LogEnd;
            return 0;
        });
}

int CGenICamCamera::GetParamStr(QRVString name, QRVString* value, QRVStringArray* entries) {
    if (!CameraReady()) return QRV_ERR_CAMERA_NOT_OPEN;
    QRVString resolved;
    ResolveNodeName(name, resolved);
    return Guarded([&]() -> int {
        KZRGENICAM::IModule* module = m_camera->getDeviceModule();
        if (m_cameraLink && (qrv::EqualsAscii(name, "FrameTriggerCtrl") ||
                             qrv::EqualsAscii(name, "FrameTriggerSource"))) {
            module = m_camera->getGrabberModule();
        }
        GenApi::INodeMap* map = NodeMapOf(module);
        if (!map) return -1;
        // One lookup serves both readings of the node.
        GenApi::INode* const node = map->GetNode(ToNodeText(resolved));

        GenApi::CEnumerationPtr enumeration = node;
        if (GenApi::IsReadable(enumeration)) {
            const GenICam::gcstring current = enumeration->ToString(true, true);
            if (value) *value = current.c_str();
            if (entries) {
                GenICam::gcstring_vector symbolics;
                enumeration->GetSymbolics(symbolics);
                for (const GenICam::gcstring& symbolic : symbolics) {
                    entries->push_back(QRVString(symbolic.c_str()));
                }
            }
            return 0;
        }

        GenApi::CStringPtr text = node;
        if (!GenApi::IsReadable(text)) return QRV_ERR_PARAMETER_ACCESS;
        const GenICam::gcstring current = text->ToString(true, true);
        // A string feature lists exactly one entry: its current text.
        const QRVString read(current.c_str());
        if (value) *value = read;
        if (entries) entries->push_back(read);
        return 0;
    });
}
