// Chunk data in a node map, as GenApi's chunk adapter attaches it: a transport
// hands the node map each fetched frame's chunk blocks with their ids, and the
// camera's chunk features (ChunkFrameID, ChunkTimestamp, ...) then read the values
// of the last frame. Node maps of ours that take chunks implement this beside
// INodeMap; a caller finds it with dynamic_cast.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "GenApi.h"

namespace GenApi {

/// One chunk block of a frame: its id and its data bytes (trailer excluded),
/// lent for the length of AttachChunks.
struct SChunkView {
    uint64_t id = 0;
    const uint8_t* data = nullptr;
    uint64_t size = 0;
};

/// A chunk feature and the id of the chunk its value comes from.
struct SChunkFeature {
    std::string name;
    uint64_t id = 0;
    int64_t length = 0;  ///< bytes of its value in the chunk; 0 when not known
};

class GENAPI_API IChunkNodeMap {
public:
    virtual ~IChunkNodeMap();
    /// Copies what the chunk features need out of the blocks; they read it until
    /// the next call. A feature whose chunk is missing from the blocks is not
    /// available (NA). Thread-safe; allocates nothing once the features are known.
    virtual void AttachChunks(const SChunkView* blocks, std::size_t count) = 0;
    /// Every chunk feature, in the map's order; empty for a map without chunk features.
    virtual std::vector<SChunkFeature> ChunkFeatures() const = 0;
    /// Whether the map has any chunk feature (cheap: a transport asks it per frame).
    virtual bool HasChunkFeatures() const = 0;
};

}  // namespace GenApi
