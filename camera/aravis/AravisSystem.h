// The Aravis headers, included as system headers so that their declarations do
// not trip our warning set, and the lock around Aravis's global device list.
#pragma once

#include <mutex>

#include <arv.h>

namespace KZRGENICAM::detail {

/// Aravis keeps one process-wide interface and device list without a lock: every
/// listing, look-up by index and arv_camera_new holds this.
std::mutex& AravisSystemMutex();

}  // namespace KZRGENICAM::detail
