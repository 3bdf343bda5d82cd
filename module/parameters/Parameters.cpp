// Node name resolution, the node-type query and the typed boolean, integer and
// float operations.
#include <cstdint>

#include "log/ErrorLog.h"
#include "parameters/NodeAccess.h"
#include "session/GenICamCamera.h"

using qrv::Guarded;
using qrv::NodeMapOf;
using qrv::SaturateToInt;
using qrv::ToNodeText;
using qrv::WriteOut;

namespace {

struct SFallbackRow {
    const char* requested;
    const char* candidates[3];
};

const SFallbackRow kFallbacks[] = {
    {"ExposureTime", {"ExposureTime", "ExposureTimeAbs", "ExposureTimeRaw"}},
    {"Gain", {"Gain", "GainAbs", "GainRaw"}},
    {"TriggerDelay", {"TriggerDelay", "TriggerDelayAbs", "TriggerDelayRaw"}},
    {"AcquisitionFrameRate",
     {"AcquisitionFrameRate", "AcquisitionFrameRateAbs", "AcquisitionFrameRateRaw"}},
};

int TypeCode(GenApi::EInterfaceType type) {
    switch (type) {
        case GenApi::intfIBoolean:
            return 1;
        case GenApi::intfIInteger:
            return 2;
        case GenApi::intfIFloat:
            return 3;
        case GenApi::intfIString:
        case GenApi::intfIEnumeration:
            return 4;
        case GenApi::intfICommand:
            return 5;
        default:
            return -1;
    }
}

// The full-width colon of these two messages is kept in the log's own byte form.
const char kGetParamIntTag[] = "GetParamInt\xA3\xBA";
const char kGetParamFloatTag[] = "GetParamFloat\xA3\xBA";

}  // namespace

void CGenICamCamera::ResolveNodeName(QRVString requested, QRVString& resolved) {
    for (const SFallbackRow& row : kFallbacks) {
        if (!qrv::EqualsAscii(requested, row.requested)) continue;
        for (const char* candidate : row.candidates) {
            if (NodeExists(QRVString(candidate))) {
                resolved = QRVString(candidate);
                return;
            }
        }
        return;  // no usable candidate: the caller's name stays as it was
    }
    resolved = requested;
}

bool CGenICamCamera::NodeExists(QRVString name) {
    // The probe never resolves again, so the fallback lookup cannot recurse.
    return NodeType(name, false) != -1;
}

int CGenICamCamera::GetNodeType(QRVString name) {
    return NodeType(name, true);
}

int CGenICamCamera::NodeType(const QRVString& name, bool resolveAliases) {
    if (!CameraReady()) return QRV_ERR_CAMERA_NOT_OPEN;
    QRVString resolved = name;
    if (resolveAliases) ResolveNodeName(name, resolved);
    return Guarded([&]() -> int {
        GenApi::INodeMap* map = NodeMapOf(m_camera->getDeviceModule());
        if (!map) return -1;
        GenApi::INode* node = map->GetNode(ToNodeText(resolved));
        if (!node || !node->IsFeature()) return -1;
        return TypeCode(node->GetPrincipalInterfaceType());
    });
}

int CGenICamCamera::SetParamBool(QRVString name, bool value) {
    return OnDeviceNode<GenApi::CBooleanPtr>(name, ENeed::Write, [&](GenApi::CBooleanPtr& node) {
        node->SetValue(value, true);
        node->GetValue(true, true);
        return 0;
    });
}

int CGenICamCamera::SetParamInt(QRVString name, int value) {
    return OnDeviceNode<GenApi::CIntegerPtr>(name, ENeed::Write, [&](GenApi::CIntegerPtr& node) {
        const int64_t min = SaturateToInt(node->GetMin());
        const int64_t max = SaturateToInt(node->GetMax());
        int64_t inc = SaturateToInt(node->GetInc());
        if (inc <= 0) inc = 1;
        int64_t v = value;
        if (v > max) v = max;
        // Onto the grid min + k*inc, downwards; below min the remainder moves the
        // value up, and the node refuses what is still out of range.
        const int64_t r = (v - min) % inc;
        node->SetValue(v - r, true);
        node->GetValue(true, true);
        return 0;
    });
}

int CGenICamCamera::SetParamFloat(QRVString name, float value) {
    return OnDeviceNode<GenApi::CFloatPtr>(name, ENeed::Write, [&](GenApi::CFloatPtr& node) {
        node->SetValue(static_cast<double>(value), true);
        node->GetValue(true, true);
        return 0;
    });
}

int CGenICamCamera::GetParamBool(QRVString name, bool* value) {
    return OnDeviceNode<GenApi::CBooleanPtr>(name, ENeed::Read, [&](GenApi::CBooleanPtr& node) {
        WriteOut(value, node->GetValue(true, true));
        return 0;
    });
}

int CGenICamCamera::GetParamInt(QRVString name, int* value, int* min, int* max, int* inc) {
    const QRVBuffer requested = name.toUtf8();
    const auto logRequest = [&] {
        ModuleLog() << LogBegin << kGetParamIntTag << requested.constData() << LogEnd;
    };
    return OnDeviceNode<GenApi::CIntegerPtr>(
        name, ENeed::Read, logRequest, [&](GenApi::CIntegerPtr& node) {
            const int v = SaturateToInt(node->GetValue(true, true));
            WriteOut(value, v);
            const int lo = SaturateToInt(node->GetMin());
            WriteOut(min, lo);
            const int hi = SaturateToInt(node->GetMax());
            WriteOut(max, hi);
            WriteOut(inc, SaturateToInt(node->GetInc()));
            ModuleLog() << LogBegin << kGetParamIntTag << requested.constData()
                        << ", iValue = " << v << ", min = " << lo << ", max = " << hi << LogEnd;
            return 0;
        });
}

int CGenICamCamera::GetParamFloat(QRVString name, float* value, float* min, float* max,
                                  float* inc) {
    return OnDeviceNode<GenApi::CFloatPtr>(name, ENeed::Read, [&](GenApi::CFloatPtr& node) {
        const float v = static_cast<float>(node->GetValue(true, true));
        WriteOut(value, v);
        const float lo = static_cast<float>(node->GetMin());
        WriteOut(min, lo);
        const float hi = static_cast<float>(node->GetMax());
        WriteOut(max, hi);
        float step = 1.0f;
        if (node->HasInc() && node->GetIncMode() == GenApi::fixedIncrement) {
            step = static_cast<float>(node->GetInc());
        }
        WriteOut(inc, step);
        ModuleLog() << LogBegin << kGetParamFloatTag << name.toUtf8().constData()
                    << ", fValue = " << v << ", min = " << lo << ", max = " << hi << LogEnd;
        return 0;
    });
}
