#include "SimFrame.h"

#include <algorithm>
#include <cstring>

namespace KZRSIM::detail {

Buffer CFramePool::Acquire(const Layout& layout, uint64_t frameId) {
    Buffer b;
    b.slot = (frameId - 1) % kRing;
    const uint64_t size = layout.Size();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto& free = m_free[layout][b.slot];
        if (!free.empty()) {
            b.data = std::move(free.back());
            free.pop_back();
        }
    }
    if (!b.data) {
        b.data.reset(new uint8_t[std::max<uint64_t>(size, 1)]);
        RenderPattern(layout, b.slot, b.data.get());
    }
    for (uint64_t i = 0; i < std::min<uint64_t>(8, size); ++i)
        b.data[i] = static_cast<uint8_t>(frameId >> (8 * i));
    return b;
}

void CFramePool::Give(const Layout& layout, Buffer buffer) {
    if (!buffer.data) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_free[layout][buffer.slot].push_back(std::move(buffer.data));
}

CChunkSet::CChunkSet(std::vector<std::vector<uint8_t>> blocks, std::vector<uint64_t> ids)
    : m_blocks(std::move(blocks)), m_ids(std::move(ids)) {
    m_ids.resize(m_blocks.size());
    m_chunks.reserve(m_blocks.size());
    for (const auto& block : m_blocks) m_chunks.emplace_back(block.data(), block.size());
}

void CChunkSet::Stamp(std::size_t block, std::size_t offset, uint64_t value) {
    if (block >= m_blocks.size() || m_blocks[block].size() < offset ||
        m_blocks[block].size() - offset < 8)
        return;
    for (std::size_t i = 0; i < 8; ++i)
        m_blocks[block][offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

void CChunkSet::AttachTo(GenApi::IChunkNodeMap& map) const {
    // A frame has a handful of blocks: the views stay on the stack.
    constexpr std::size_t kMost = 32;
    GenApi::SChunkView views[kMost];
    const std::size_t count = std::min(kMost, m_blocks.size());
    for (std::size_t i = 0; i < count; ++i)
        views[i] = {m_ids[i], m_blocks[i].data(), m_blocks[i].size()};
    map.AttachChunks(views, count);
}

std::list<KZRGENICAM::IChunk*> CChunkSet::List() {
    std::list<KZRGENICAM::IChunk*> out;
    for (auto& c : m_chunks) out.push_back(&c);
    return out;
}

CSimFrame::CSimFrame(CameraCounters* counters, uint64_t epoch, std::shared_ptr<CFramePool> pool,
                     Layout layout, Buffer buffer, uint64_t frameId, bool valid,
                     std::shared_ptr<CChunkSet> chunks)
    : m_counters(counters),
      m_epoch(epoch),
      m_pool(std::move(pool)),
      m_layout(layout),
      m_buffer(std::move(buffer)),
      m_frameId(frameId),
      m_valid(valid),
      m_chunks(std::move(chunks)) {}

std::list<KZRGENICAM::IChunk*> CSimFrame::getChunkList() const {
    return m_chunks ? m_chunks->List() : std::list<KZRGENICAM::IChunk*>{};
}

void CSimFrame::release() {
    State& g = Global();
    {
        std::lock_guard<std::mutex> lock(g.mutex);
        if (!FirstReleaseLocked(g, m_released)) return;
        if (m_epoch == g.epoch) {
            --g.library.framesOut;
            --m_counters->framesOut;
        }
    }
    // Only the first release gets here: the shell keeps no buffer in the graveyard.
    if (m_pool) m_pool->Give(m_layout, std::move(m_buffer));
    m_pool.reset();
    m_chunks.reset();
    std::unique_ptr<CGraveItem> evicted;
    std::lock_guard<std::mutex> lock(g.mutex);
    evicted = BuryLocked(this);
}

}  // namespace KZRSIM::detail
