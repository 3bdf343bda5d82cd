// Host data library: the chunk-data object that receives a frame's joined chunk
// blocks.
#pragma once

#include <cstdint>
#include <vector>

#include "QRVHostExport.h"

class QRV_DATA_API ZelChunkData {
public:
    ZelChunkData() = default;
    ~ZelChunkData() = default;

    /// Replaces the content with a copy of size bytes at data. A null data with a
    /// non-zero size is refused (std::invalid_argument) and leaves the content as it
    /// was; std::bad_alloc likewise leaves it unchanged.
    void setData(std::uint64_t size, const void* data);

    std::uint64_t getSize() const { return m_bytes.size(); }
    /// The bytes; null while empty.
    const unsigned char* getData() const { return m_bytes.empty() ? nullptr : m_bytes.data(); }
    /// How many times setData replaced the content (for hosts and tests that want to
    /// see whether a grab touched the object).
    std::uint64_t getUpdateCount() const { return m_updates; }

private:
    std::vector<unsigned char> m_bytes;
    std::uint64_t m_updates = 0;
};
