#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "ZelChunkData.h"

namespace {

std::vector<unsigned char> Content(const ZelChunkData& chunk) {
    const auto* data = static_cast<const unsigned char*>(chunk.getData());
    return {data, data + chunk.getSize()};
}

TEST(ZelChunkData, RefusedDataLeavesContentAndCountButZeroSizeEmpties) {
    const std::vector<unsigned char> bytes = {1, 2, 3, 5, 8, 13, 21, 34};
    ZelChunkData chunk;
    chunk.setData(bytes.size(), bytes.data());

    EXPECT_THROW(chunk.setData(8, nullptr), std::invalid_argument);
    EXPECT_EQ(Content(chunk), bytes);
    EXPECT_EQ(chunk.getUpdateCount(), 1u);

    // More than any vector can hold: refused before a byte is read.
    EXPECT_THROW(chunk.setData(std::numeric_limits<std::uint64_t>::max(), bytes.data()),
                 std::bad_alloc);
    EXPECT_EQ(Content(chunk), bytes);
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
