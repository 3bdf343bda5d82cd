// A chunk block that a frame lends: a view of bytes that the frame's buffer owns.
#pragma once

#include <cstdint>

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

}  // namespace KZRGENICAM
