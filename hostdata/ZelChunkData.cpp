#include "ZelChunkData.h"

#include <new>
#include <stdexcept>

void ZelChunkData::setData(std::uint64_t size, const void* data) {
    if (data == nullptr && size != 0) throw std::invalid_argument("chunk data: null data");
    // More than a vector can hold is an allocation that cannot succeed.
    if (size > m_bytes.max_size()) throw std::bad_alloc();
    const auto* bytes = static_cast<const unsigned char*>(data);
    const auto count = static_cast<std::size_t>(size);
    if (count <= m_bytes.capacity()) {
        // Fits the current storage: assign does not allocate, so it cannot throw.
        m_bytes.assign(bytes, bytes + count);
    } else {
        // Build aside and swap, so a failed allocation leaves the old content.
        std::vector<unsigned char> copy(bytes, bytes + count);
        m_bytes.swap(copy);
    }
    ++m_updates;
}
