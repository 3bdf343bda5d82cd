// Finds the chunk blocks of a payload by walking its chunk trailers backwards.
// Aravis parses chunks only by feature name; the frame needs every block, in
// frame order, without knowing the camera's chunk ids.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace KZRGENICAM::detail {

struct SChunkBlock {
    uint32_t id = 0;
    std::size_t offset = 0;  // of the block's data within the payload
    std::size_t size = 0;    // data bytes, trailer excluded
};

/// Each block is its data followed by an 8-byte trailer: id, then data length.
/// GigE Vision writes the trailer big-endian, USB3 Vision little-endian. The walk
/// starts at the payload's end and stops at the first trailer that does not fit
/// (what was found before is kept). Blocks are returned in frame order.
std::vector<SChunkBlock> WalkChunkTrailers(const uint8_t* payload, std::size_t size,
                                           bool bigEndian);

}  // namespace KZRGENICAM::detail
