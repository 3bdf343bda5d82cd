// Camera events (GenICam event notification): what a camera reports beside its
// frames (exposure end, a line's edge...), each with an id, a timestamp and the
// values of the event's data features. Not a part of the plug-in's entry points:
// tools read them from the camera library directly.
//
// Transports: the simulated one (a scenario's frame steps declare the events
// sent with their frame) and GenTL (the remote device's events, where the
// producer gives them). Other cameras answer EventUnsupported.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "KZRGeniCam.h"

namespace KZRGENICAM {

struct CameraEvent {
    std::string name;        ///< the event's name; empty when the camera gives only its id
    uint64_t id = 0;         ///< the event id
    uint64_t timestamp = 0;  ///< the camera's timestamp, in ns
    /// The event's data features in the camera's order: name, value as text.
    std::vector<std::pair<std::string, std::string>> data;
};

enum EventResult { EventReceived = 0, EventTimeout = 1, EventUnsupported = -1 };

/// Waits up to timeoutMs (0: only what has arrived) for the next event of an open
/// camera. Events arrive while the camera streams and its frames are fetched.
KZR_API int NextEvent(ICamera* camera, CameraEvent& event, int timeoutMs);

namespace detail {
/// Implemented by the camera objects of the transports that have events.
class IEventSource {
public:
    virtual int nextEvent(CameraEvent& event, int timeoutMs) = 0;

protected:
    ~IEventSource() = default;
};
}  // namespace detail

}  // namespace KZRGENICAM
