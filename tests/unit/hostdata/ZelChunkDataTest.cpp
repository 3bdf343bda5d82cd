#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "ZelChunkData.h"

namespace {

std::vector<unsigned char> pattern(std::size_t size, unsigned seed) {
    std::vector<unsigned char> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + seed);
    return bytes;
}

void expectContent(const ZelChunkData& chunk, const std::vector<unsigned char>& bytes) {
    ASSERT_EQ(chunk.getSize(), bytes.size());
    ASSERT_NE(chunk.getData(), nullptr);
    EXPECT_EQ(std::memcmp(chunk.getData(), bytes.data(), bytes.size()), 0);
}

TEST(ZelChunkData, RefusedDataLeavesContentAndCountButZeroSizeEmpties) {
    const std::vector<unsigned char> bytes = pattern(16, 5);
    ZelChunkData chunk;
    chunk.setData(bytes.size(), bytes.data());

    EXPECT_THROW(chunk.setData(8, nullptr), std::invalid_argument);
    expectContent(chunk, bytes);
    EXPECT_EQ(chunk.getUpdateCount(), 1u);

    // More than any vector can hold: refused before a byte is read.
    EXPECT_THROW(chunk.setData(std::numeric_limits<std::uint64_t>::max(), bytes.data()),
                 std::bad_alloc);
    expectContent(chunk, bytes);
    EXPECT_EQ(chunk.getUpdateCount(), 1u);

    chunk.setData(0, nullptr);
    EXPECT_EQ(chunk.getSize(), 0u);
    EXPECT_EQ(chunk.getData(), nullptr);
    EXPECT_EQ(chunk.getUpdateCount(), 2u);
    chunk.setData(0, bytes.data());
    EXPECT_EQ(chunk.getSize(), 0u);
    EXPECT_EQ(chunk.getUpdateCount(), 3u);
}

}  // namespace
