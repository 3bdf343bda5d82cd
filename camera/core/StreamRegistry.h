// The library's grabbing streams by camera serial, for GetStreamStatistics.
#pragma once

#include <functional>

#include "KZRStreamStats.h"

namespace KZRGENICAM::detail {

/// Reads a stream's counters; called under the registry's lock, so it must not
/// take a lock that is held while calling RemoveStream.
using StreamStatsReader = std::function<void(StreamStatistics&)>;

/// A transport enters its stream at startGrabbing under the camera's serial and
/// an owner of its choosing (entering again replaces the owner's entry), and
/// removes it by that owner before whatever the reader reads goes away. Neither
/// is for the frame path.
void EnterStream(const void* owner, const char* serial, StreamStatsReader reader);
void RemoveStream(const void* owner);

}  // namespace KZRGENICAM::detail
