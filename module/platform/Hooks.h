// Internal side of the platform layer's test hooks.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

namespace qrv::platform::detail {

/// The substituted tick count, when a test installed a source.
bool TestTick(std::uint32_t& tick);
/// Shows a Sleep's argument to the registered observer, if any.
void NotifySleep(std::uint32_t milliseconds);
/// Hands debugger output to the registered listener, if any.
void NotifyDebugListener(const char* text);

}  // namespace qrv::platform::detail
