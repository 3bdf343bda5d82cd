#include "GenTLEvents.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace KZRGENICAM::detail {

using namespace gentl;

namespace {

// Larger than any event a GigE Vision or USB3 Vision camera sends.
constexpr size_t kMaxEventBytes = 4096;
// As with frames: a wait is cut into slices so that a kill ends it even with a
// producer whose EventKill reaches only a wait in progress.
constexpr uint64_t kWaitSliceMs = 200;

/// An event id as text: hexadecimal, with or without 0x; 0 when it is not one.
uint64_t ParseHexId(std::string text) {
    while (!text.empty() && (text.back() == '\0' || text.back() == ' ')) text.pop_back();
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.erase(0, 2);
    if (text.empty() || text.size() > 16 ||
        text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return 0;
    return std::strtoull(text.c_str(), nullptr, 16);
}

/// The event's name from its Port node: "EventExposureEndPort" gives "ExposureEnd".
std::string NameOfPort(std::string port) {
    const std::string prefix = "Event", suffix = "Port";
    if (port.size() > suffix.size() &&
        port.compare(port.size() - suffix.size(), suffix.size(), suffix) == 0)
        port.resize(port.size() - suffix.size());
    if (port.size() > prefix.size() && port.compare(0, prefix.size(), prefix) == 0)
        port.erase(0, prefix.size());
    return port;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::shared_ptr<CGenTLRemoteEvents> CGenTLRemoteEvents::Register(
    std::shared_ptr<CGenTLDeviceHandle> device) {
    const SGenTLApi& api = device->Api();
    if (!api.EventGetDataInfo) return nullptr;
    EVENT_HANDLE event = nullptr;
    if (api.GCRegisterEvent(device->Get(), EVENT_REMOTE_DEVICE, &event) != GC_ERR_SUCCESS)
        return nullptr;
    if (!event) {
        api.GCUnregisterEvent(device->Get(), EVENT_REMOTE_DEVICE);
        return nullptr;
    }
    return std::shared_ptr<CGenTLRemoteEvents>(new CGenTLRemoteEvents(std::move(device), event));
}

void CGenTLRemoteEvents::Kill() {
    if (m_killed.exchange(true) || m_unregistered.load()) return;
    m_device->Api().EventKill(m_event);
}

void CGenTLRemoteEvents::Unregister() {
    if (m_unregistered.exchange(true)) return;
    m_device->Api().GCUnregisterEvent(m_device->Get(), EVENT_REMOTE_DEVICE);
}

uint64_t CGenTLRemoteEvents::EventId(const void* data, size_t size) const {
    const SGenTLApi& api = m_device->Api();
    char out[64] = {};
    size_t outSize = sizeof out - 1;
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    if (api.EventGetDataInfo(m_event, data, size, EVENT_DATA_ID, &type, out, &outSize) !=
        GC_ERR_SUCCESS)
        return 0;
    outSize = std::min(outSize, sizeof out - 1);
    if (type == INFO_DATATYPE_STRING) return ParseHexId(std::string(out, outSize));
    // Some producers answer the id as a number.
    uint64_t id = 0;
    if (outSize == 0 || outSize > sizeof id) return 0;
    std::memcpy(&id, out, outSize);
    return id;
}

int CGenTLRemoteEvents::Next(GenApi::CEngineNodeMap* map, CameraEvent& event, int timeoutMs) {
    const SGenTLApi& api = m_device->Api();
    std::vector<uint8_t> bytes(kMaxEventBytes);
    uint64_t left = static_cast<uint64_t>(std::max(timeoutMs, 0));
    size_t size = 0;
    for (;;) {
        if (m_killed.load() || m_unregistered.load()) return EventTimeout;
        const uint64_t slice = std::min(left, kWaitSliceMs);
        size = bytes.size();
        const GC_ERROR rc = api.EventGetData(m_event, bytes.data(), &size, slice);
        if (rc == GC_ERR_SUCCESS) break;
        if (rc != GC_ERR_TIMEOUT) return EventTimeout;  // killed, or the device is gone
        left -= slice;
        if (left == 0) return EventTimeout;
    }
    size = std::min(size, bytes.size());

    CameraEvent out;
    out.id = EventId(bytes.data(), size);
    std::vector<uint8_t> value(kMaxEventBytes);
    size_t valueSize = value.size();
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    if (api.EventGetDataInfo(m_event, bytes.data(), size, EVENT_DATA_VALUE, &type, value.data(),
                             &valueSize) != GC_ERR_SUCCESS)
        valueSize = 0;
    valueSize = std::min(valueSize, value.size());

    if (map) {
        // The event's data features read this event's bytes from now on.
        auto tree = map->Lock();
        std::string port;
        for (const std::string& name :
             map->AttachEvent(out.id, valueSize ? value.data() : nullptr, valueSize, port)) {
            auto* feature = dynamic_cast<GenApi::IValue*>(map->GetNode(name.c_str()));
            if (!feature) continue;
            try {
                const std::string text = feature->ToString().c_str();
                if (EndsWith(name, "Timestamp"))
                    if (auto* integer = dynamic_cast<GenApi::IInteger*>(feature))
                        out.timestamp = static_cast<uint64_t>(integer->GetValue());
                out.data.emplace_back(name, text);
            } catch (const GenICam::GenericException&) {
                // A feature the event's bytes do not cover is left out.
            }
        }
        if (!port.empty()) out.name = NameOfPort(port);
    }
    event = std::move(out);
    return EventReceived;
}

}  // namespace KZRGENICAM::detail
