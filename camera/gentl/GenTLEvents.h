// The remote device's events of an open GenTL camera (EVENT_REMOTE_DEVICE on the
// device handle): each event's id and data bytes from the producer, and the values
// of its data features when the description has a Port with that EventID.
#pragma once

#include <atomic>
#include <memory>

#include "EngineNodeMap.h"
#include "GenTLPort.h"
#include "KZREvents.h"

namespace KZRGENICAM::detail {

class CGenTLRemoteEvents {
public:
    /// Registers the event on the device; null when the producer does not give
    /// remote device events (GCRegisterEvent refused, EventGetDataInfo missing).
    static std::shared_ptr<CGenTLRemoteEvents> Register(std::shared_ptr<CGenTLDeviceHandle> device);
    ~CGenTLRemoteEvents() { Unregister(); }
    CGenTLRemoteEvents(const CGenTLRemoteEvents&) = delete;
    CGenTLRemoteEvents& operator=(const CGenTLRemoteEvents&) = delete;

    /// EventReceived or EventTimeout (also once killed). map may be null: the
    /// event then has only its id.
    int Next(GenApi::CEngineNodeMap* map, CameraEvent& event, int timeoutMs);
    /// Ends a waiting Next at once (EventKill); later calls answer EventTimeout.
    void Kill();
    /// GCUnregisterEvent, once; the device handle stays open until the last owner goes.
    void Unregister();

private:
    CGenTLRemoteEvents(std::shared_ptr<CGenTLDeviceHandle> device, gentl::EVENT_HANDLE event)
        : m_device(std::move(device)), m_event(event) {}
    uint64_t EventId(const void* data, size_t size) const;

    std::shared_ptr<CGenTLDeviceHandle> m_device;
    gentl::EVENT_HANDLE m_event;
    std::atomic<bool> m_killed{false};
    std::atomic<bool> m_unregistered{false};
};

}  // namespace KZRGENICAM::detail
