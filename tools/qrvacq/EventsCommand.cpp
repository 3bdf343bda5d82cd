// events: the camera's events as they arrive, through the camera library (the
// plug-in's entry points carry none). The camera streams meanwhile; its frames
// are fetched and given back, since a camera sends most events with its frames.
#include <chrono>
#include <iostream>

#include "CameraNodes.h"
#include "Commands.h"
#include "KZREvents.h"
#include "Text.h"

namespace qrvacq {

namespace {

void PrintEvent(const KZRGENICAM::CameraEvent& event) {
    std::cout << "event " << (event.name.empty() ? "(no name)" : event.name) << " id=0x" << std::hex
              << event.id << std::dec << " timestamp=" << event.timestamp;
    for (const auto& [name, value] : event.data) std::cout << " " << name << "=" << value;
    std::cout << "\n" << std::flush;
}

}  // namespace

int RunEvents(const CameraTarget& target, int count, int timeoutMs) {
    LibraryCamera camera;
    std::string error;
    if (!camera.Open(target.serial, error)) {
        std::cerr << "qrvacq: open " << target.serial << ": " << error << "\n";
        return kExitCallFailed;
    }
    KZRGENICAM::ICamera* cam = camera.Camera();
    KZRGENICAM::CameraEvent event;
    if (KZRGENICAM::NextEvent(cam, event, 0) == KZRGENICAM::EventUnsupported) {
        std::cerr << "qrvacq: events: " << target.serial
                  << ": the camera gives no events to this tool (simulated cameras, and GenTL "
                     "cameras whose producer sends remote device events, do)\n";
        return kExitCallFailed;
    }
    const int started = cam->startGrabbing(0, -1);
    if (started != 0) {
        std::cerr << "qrvacq: events: " << target.serial << ": the stream did not start (error "
                  << started << ")\n";
        return kExitCallFailed;
    }
    // --timeout bounds the wait for each event; frames are fetched in short
    // slices so that an event is printed soon after it arrives.
    using Clock = std::chrono::steady_clock;
    int received = 0;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (received < count && Clock::now() < deadline) {
        if (KZRGENICAM::NextEvent(cam, event, 0) == KZRGENICAM::EventReceived) {
            PrintEvent(event);
            ++received;
            deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
            continue;
        }
        KZRGENICAM::IFrame* frame = nullptr;
        const int result = cam->getFrame(&frame, 20);
        if (frame) frame->release();
        if (result == KZRGENICAM::FrameNotRunning) {
            // The stream ended (a lost camera): what arrived is printed.
            while (received < count &&
                   KZRGENICAM::NextEvent(cam, event, 0) == KZRGENICAM::EventReceived) {
                PrintEvent(event);
                ++received;
            }
            break;
        }
    }
    cam->stopGrabbing();
    std::cout << Counted(received, "event") << " of " << count << "\n";
    return received == count ? kExitOk : kExitCallFailed;
}

}  // namespace qrvacq
