// Counters of a camera's running stream: what a tool shows beside its own frame
// counts (frames completed and failed in the camera library, and for GigE Vision
// the packets the stream asked to be resent and those that never came). Not a
// part of the plug-in's entry points: a tool in the same process as the plug-in
// reads them from the camera library directly, by the camera's serial number.
//
// Transports: Aravis fills all of them (packets only for a GigE Vision stream);
// the simulated one counts completed and failed frames; others have no entry.
#pragma once

#include <cstdint>

#include "KZRGeniCam.h"

namespace KZRGENICAM {

struct StreamStatistics {
    uint64_t completed = 0;       ///< frames the stream completed
    uint64_t failures = 0;        ///< frames the stream gave up on
    uint64_t underruns = 0;       ///< frames lost for want of a free buffer
    uint64_t resentPackets = 0;   ///< packets asked again of the camera
    uint64_t missingPackets = 0;  ///< packets that never arrived
    bool packets = false;         ///< resentPackets and missingPackets are known
};

/// The counters of the open, grabbing camera with this serial number since its
/// startGrabbing. False (out untouched) when no such camera grabs in this process.
KZR_API bool GetStreamStatistics(const char* serial, StreamStatistics& out);

}  // namespace KZRGENICAM
