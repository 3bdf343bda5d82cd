#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "QRVData.h"

// The pixels live in malloc'ed raw storage: this copy is on the frame path, and
// new unsigned char[n]() or std::vector would zero every byte before the copy
// overwrites it.

namespace {

/// Bytes of a width x height x channels image at bits per channel, or 0 when the
/// product does not fit in size_t. The caller has checked every factor is positive.
std::size_t imageBytes(int width, int height, int channels, int bitsPerChannel) {
    constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
    const std::size_t factors[] = {
        static_cast<std::size_t>(width), static_cast<std::size_t>(height),
        static_cast<std::size_t>(channels), static_cast<std::size_t>(bitsPerChannel / 8)};
    std::size_t bytes = 1;
    for (std::size_t factor : factors) {
        if (bytes > kMax / factor) return 0;
        bytes *= factor;
    }
    return bytes;
}

}  // namespace

QRVImage::QRVImage() = default;

QRVImage::QRVImage(const QRVImage& other)
    : m_width(other.m_width),
      m_height(other.m_height),
      m_channels(other.m_channels),
      m_bits(other.m_bits),
      m_type(other.m_type) {
    if (other.m_size == 0) return;
    m_data = static_cast<unsigned char*>(std::malloc(other.m_size));
    if (m_data == nullptr) throw std::bad_alloc();
    std::memcpy(m_data, other.m_data, other.m_size);
    m_size = other.m_size;
    m_capacity = other.m_size;
}

QRVImage& QRVImage::operator=(const QRVImage& other) {
    if (this == &other) return *this;
    if (other.m_size > m_capacity) {
        auto* grown = static_cast<unsigned char*>(std::malloc(other.m_size));
        if (grown == nullptr) throw std::bad_alloc();
        std::free(m_data);
        m_data = grown;
        m_capacity = other.m_size;
    }
    if (other.m_size > 0) std::memcpy(m_data, other.m_data, other.m_size);
    m_size = other.m_size;
    m_width = other.m_width;
    m_height = other.m_height;
    m_channels = other.m_channels;
    m_bits = other.m_bits;
    m_type = other.m_type;
    return *this;
}

QRVImage::~QRVImage() {
    std::free(m_data);
}

bool QRVImage::GenImageExt(void* data, int width, int height, int channels, int bitsPerChannel,
                           DataType type) {
    if (data == nullptr || width <= 0 || height <= 0) return false;
    if (channels < 1 || channels > 4) return false;
    if (bitsPerChannel != 8 && bitsPerChannel != 16) return false;
    const std::size_t bytes = imageBytes(width, height, channels, bitsPerChannel);
    if (bytes == 0) return false;

    if (bytes > m_capacity) {
        // malloc + free rather than realloc: the old pixels are about to be
        // overwritten, so realloc's copy of them would be wasted work.
        auto* grown = static_cast<unsigned char*>(std::malloc(bytes));
        if (grown == nullptr) return false;
        std::free(m_data);
        m_data = grown;
        m_capacity = bytes;
    }
    std::memcpy(m_data, data, bytes);
    m_size = bytes;
    m_width = width;
    m_height = height;
    m_channels = channels;
    m_bits = bitsPerChannel;
    m_type = type;
    return true;
}

std::size_t QRVImage::BytesPerLine() const {
    return static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_channels) *
           static_cast<std::size_t>(m_bits / 8);
}
