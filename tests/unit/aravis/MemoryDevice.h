// An ArvDevice whose registers are a byte array in memory: Aravis's GenICam tree
// runs over it exactly as over a camera, without a network.
#pragma once

#include <arv.h>

#include <cstdint>
#include <string>
#include <vector>

/// A new device serving the description; its memory is size bytes of zeros.
/// The caller owns the returned reference (g_object_unref).
ArvDevice* KzrMemoryDeviceNew(const std::string& xml, std::size_t size);

/// Replaces the start of the memory with image (the rest keeps its bytes).
void KzrMemoryDeviceLoad(ArvDevice* device, const std::vector<uint8_t>& image);

/// The memory as it is now.
const std::vector<uint8_t>& KzrMemoryDeviceBytes(ArvDevice* device);

/// Every read and write from now on takes this long first, as over a network that
/// no longer answers; below 0, each fails at once with a time-out, as from a camera
/// that is gone.
void KzrMemoryDeviceSetDelay(ArvDevice* device, int milliseconds);

/// The device's GType, for routing its class.
GType KzrMemoryDeviceType();
