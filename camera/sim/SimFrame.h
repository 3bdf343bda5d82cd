// Frames of the simulated cameras and the buffer pool behind them.
//
// Image data is never copied per frame: each layout has kRing pre-rendered
// patterns, and a frame borrows a buffer of its ring slot and only stamps its id
// into the first 8 bytes. A slot whose buffers are all out gets another buffer.
#pragma once

#include <array>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ByteChunk.h"
#include "SimState.h"

namespace KZRSIM::detail {

struct Buffer {
    std::unique_ptr<uint8_t[]> data;
    uint64_t slot = 0;
};

class CFramePool {
public:
    /// A buffer holding the pattern of frameId (id bytes included).
    Buffer Acquire(const Layout& layout, uint64_t frameId);
    void Give(const Layout& layout, Buffer buffer);

private:
    std::mutex m_mutex;
    std::map<Layout, std::array<std::vector<std::unique_ptr<uint8_t[]>>, kRing>> m_free;
};

/// Chunk blocks shared by the frames that carry them.
class CChunkSet {
public:
    /// ids: of the blocks by position; blocks beyond it have id 0.
    explicit CChunkSet(std::vector<std::vector<uint8_t>> blocks, std::vector<uint64_t> ids = {});
    std::list<KZRGENICAM::IChunk*> List();
    /// Writes value, 8 bytes little-endian, into a block; ignored where it does not fit.
    void Stamp(std::size_t block, std::size_t offset, uint64_t value);
    /// Hands the blocks with their ids to a node map's chunk features.
    void AttachTo(GenApi::IChunkNodeMap& map) const;

private:
    std::vector<std::vector<uint8_t>> m_blocks;
    std::vector<uint64_t> m_ids;
    std::vector<KZRGENICAM::CByteChunk> m_chunks;
};

class CSimFrame final : public KZRGENICAM::IFrame, public CGraveItem {
public:
    /// counters: the camera's entry in the global counters of epoch.
    CSimFrame(CameraCounters* counters, uint64_t epoch, std::shared_ptr<CFramePool> pool,
              Layout layout, Buffer buffer, uint64_t frameId, bool valid,
              std::shared_ptr<CChunkSet> chunks);
    ~CSimFrame() override = default;

    bool isValid() const override { return m_valid; }
    int64_t getChannels() const override { return m_layout.channels; }
    int64_t getHeight() const override { return m_layout.height; }
    std::list<KZRGENICAM::IChunk*> getChunkList() const override;
    int64_t getBitsPerChannel() const override { return m_layout.bits; }
    int64_t getWidth() const override { return m_layout.width; }
    void* getImageData() const override { return m_buffer.data.get(); }
    void release() override;
    uint32_t getPixelFormat() const override { return m_layout.pixelFormat; }
    uint64_t getFrameId() const override { return m_frameId; }
    uint64_t getImageSize() const override { return m_layout.Size(); }

private:
    CameraCounters* m_counters;  ///< this camera's, valid while m_epoch is current
    uint64_t m_epoch;
    std::shared_ptr<CFramePool> m_pool;
    Layout m_layout;
    Buffer m_buffer;
    uint64_t m_frameId;
    bool m_valid;
    std::shared_ptr<CChunkSet> m_chunks;
    bool m_released = false;  // guarded by Global().mutex
};

}  // namespace KZRSIM::detail
