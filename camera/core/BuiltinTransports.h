// Transports the library registers by itself, and the hooks through which the
// core tells the simulated transport what it counts.
#pragma once

#include <memory>

#include "Transport.h"

namespace KZRGENICAM::detail {

/// The simulated transport (always present).
std::unique_ptr<ITransport> MakeSimTransport();

#if defined(KZR_WITH_ARAVIS)
/// GigE Vision and USB3 Vision cameras through Aravis.
std::unique_ptr<ITransport> MakeAravisTransport();
#endif

#if defined(KZR_WITH_GENTL)
/// Cameras and frame grabbers of any maker through their GenTL producers.
std::unique_ptr<ITransport> MakeGenTLTransport();
#endif

/// Every call of Init / UnInit, for the simulated transport's counters.
void SimNoteInit();
void SimNoteUnInit();

}  // namespace KZRGENICAM::detail
