#include "ChunkWalk.h"

#include <algorithm>

namespace KZRGENICAM::detail {
namespace {

constexpr std::size_t kTrailerSize = 8;

uint32_t ReadU32(const uint8_t* p, bool bigEndian) {
    if (bigEndian)
        return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) |
               uint32_t{p[3]};
    return (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | uint32_t{p[0]};
}

}  // namespace

std::vector<SChunkBlock> WalkChunkTrailers(const uint8_t* payload, std::size_t size,
                                           bool bigEndian) {
    std::vector<SChunkBlock> blocks;
    if (!payload) return blocks;
    std::size_t end = size;  // bytes not yet claimed by a block
    while (end >= kTrailerSize) {
        const uint8_t* trailer = payload + end - kTrailerSize;
        const uint32_t id = ReadU32(trailer, bigEndian);
        const std::size_t length = ReadU32(trailer + 4, bigEndian);
        const std::size_t room = end - kTrailerSize;
        if (length > room) break;
        blocks.push_back({id, room - length, length});
        end = room - length;
    }
    std::reverse(blocks.begin(), blocks.end());
    return blocks;
}

}  // namespace KZRGENICAM::detail
