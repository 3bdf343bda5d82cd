// A chunk block that a frame lends: a view of bytes that the frame's buffer owns.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "ChunkNodeMap.h"
#include "KZRGeniCam.h"

namespace KZRGENICAM {

/// Valid for as long as the frame that handed it out.
class CByteChunk final : public IChunk {
public:
    CByteChunk(const uint8_t* data, uint64_t size) : m_data(data), m_size(size) {}
    ~CByteChunk() override = default;
    CByteChunk(const CByteChunk&) = default;
    const void* getData() const override { return m_data; }
    uint64_t getSize() const override { return m_size; }

private:
    const uint8_t* m_data;
    uint64_t m_size;
};

/// Hands a frame's chunk blocks, with their ids by position, to a node map's chunk
/// ports. A frame has a handful of blocks: the views stay on the stack, and blocks
/// past the 64th are not attached.
template <class Id>
void AttachChunks(GenApi::IChunkNodeMap& map, const std::vector<CByteChunk>& chunks,
                  const std::vector<Id>& ids) {
    constexpr size_t kMost = 64;
    GenApi::SChunkView views[kMost];
    const size_t count = std::min({chunks.size(), ids.size(), kMost});
    for (size_t i = 0; i < count; ++i)
        views[i] = {ids[i], static_cast<const uint8_t*>(chunks[i].getData()),
                    chunks[i].getSize()};
    map.AttachChunks(views, count);
}

}  // namespace KZRGENICAM
