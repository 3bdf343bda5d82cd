#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "ChunkWalk.h"

namespace {

using KZRGENICAM::detail::SChunkBlock;
using KZRGENICAM::detail::WalkChunkTrailers;

void PutU32(std::vector<uint8_t>& out, uint32_t v, bool bigEndian) {
    for (int i = 0; i < 4; ++i) {
        const int shift = bigEndian ? 24 - 8 * i : 8 * i;
        out.push_back(static_cast<uint8_t>(v >> shift));
    }
}

/// Appends one block: data, then its trailer.
void AddBlock(std::vector<uint8_t>& out, uint32_t id, const std::vector<uint8_t>& data,
              bool bigEndian) {
    out.insert(out.end(), data.begin(), data.end());
    PutU32(out, id, bigEndian);
    PutU32(out, static_cast<uint32_t>(data.size()), bigEndian);
}

class ChunkWalkByteOrder : public ::testing::TestWithParam<bool> {};

TEST_P(ChunkWalkByteOrder, FindsEveryBlockInFrameOrder) {
    const bool be = GetParam();
    std::vector<uint8_t> payload;
    AddBlock(payload, 0xA5A5A5A5, std::vector<uint8_t>(16, 7), be);  // image block
    AddBlock(payload, 0x11, {1, 2, 3, 4}, be);
    AddBlock(payload, 0x22, {}, be);  // zero-length block
    AddBlock(payload, 0x33, {9, 9, 9, 9, 9, 9, 9, 9}, be);
    const std::vector<SChunkBlock> blocks = WalkChunkTrailers(payload.data(), payload.size(), be);
    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_EQ(blocks[0].id, 0xA5A5A5A5u);
    EXPECT_EQ(blocks[0].offset, 0u);
    EXPECT_EQ(blocks[0].size, 16u);
    EXPECT_EQ(blocks[1].id, 0x11u);
    EXPECT_EQ(blocks[1].offset, 24u);
    EXPECT_EQ(payload[blocks[1].offset + 3], 4);
    EXPECT_EQ(blocks[2].id, 0x22u);
    EXPECT_EQ(blocks[2].size, 0u);
    EXPECT_EQ(blocks[3].id, 0x33u);
    EXPECT_EQ(blocks[3].size, 8u);
    EXPECT_EQ(blocks[3].offset + blocks[3].size + 8, payload.size());
}

TEST_P(ChunkWalkByteOrder, WrongByteOrderFindsNoBogusBlocks) {
    const bool be = GetParam();
    std::vector<uint8_t> payload;
    AddBlock(payload, 0x11, {1, 2, 3, 4}, be);
    // Read the other way the length is 0x04000000: larger than the payload.
    EXPECT_TRUE(WalkChunkTrailers(payload.data(), payload.size(), !be).empty());
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, ChunkWalkByteOrder, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? "GigEBigEndian" : "USB3LittleEndian";
                         });

TEST(ChunkWalk, LengthBeyondThePayloadEndsTheWalkKeepingWhatWasFound) {
    std::vector<uint8_t> payload;
    PutU32(payload, 0x01, true);
    PutU32(payload, 1000, true);  // claims more than precedes it
    AddBlock(payload, 0x02, {5, 6}, true);
    const std::vector<SChunkBlock> blocks = WalkChunkTrailers(payload.data(), payload.size(), true);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].id, 0x02u);
    EXPECT_EQ(blocks[0].offset, 8u);
}

TEST(ChunkWalk, TruncatedTrailerEndsTheWalk) {
    std::vector<uint8_t> payload = {0xAA, 0xBB, 0xCC};  // less than a trailer in front
    AddBlock(payload, 0x05, {1}, false);
    const std::vector<SChunkBlock> blocks =
        WalkChunkTrailers(payload.data(), payload.size(), false);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].offset, 3u);

    const uint8_t shortPayload[5] = {1, 2, 3, 4, 5};
    EXPECT_TRUE(WalkChunkTrailers(shortPayload, sizeof shortPayload, true).empty());
    EXPECT_TRUE(WalkChunkTrailers(nullptr, 64, true).empty());
}

TEST(ChunkWalk, MaximalLengthDoesNotWrapAround) {
    std::vector<uint8_t> payload(8, 0);
    AddBlock(payload, 0x07, {}, true);
    payload[payload.size() - 4] = 0xFF;  // length 0xFF0000FF
    payload[payload.size() - 1] = 0xFF;
    EXPECT_TRUE(WalkChunkTrailers(payload.data(), payload.size(), true).empty());
}

}  // namespace
