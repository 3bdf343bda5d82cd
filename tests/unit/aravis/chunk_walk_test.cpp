// The chunk trailer walk, one row per payload shape: each row builds a payload of
// filler bytes and blocks (data, then an id and a length, which may lie) in one
// byte order, walks it in a byte order, and names the blocks it must find.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ChunkWalk.h"

namespace {

using KZRGENICAM::detail::WalkChunkTrailers;

struct SChunkCase {
    const char* name;
    bool written;      // byte order of the trailers: big-endian (GigE Vision) when true
    bool read;         // byte order the walk is told
    std::size_t lead;  // filler bytes before the first block
    std::vector<std::array<uint32_t, 3>> blocks;  // id, data bytes, length in the trailer
    const char* found;  // "id@offset+size" of each block found, in frame order
    bool null = false;  // the walk is given no payload pointer
};

class ChunkWalk : public ::testing::TestWithParam<SChunkCase> {};

TEST_P(ChunkWalk, FindsTheBlocksTheTrailersDescribe) {
    const SChunkCase& c = GetParam();
    std::vector<uint8_t> payload(c.lead, 0xAA);
    auto put = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            payload.push_back(static_cast<uint8_t>(v >> (c.written ? 24 - 8 * i : 8 * i)));
    };
    for (const auto& [id, bytes, length] : c.blocks) {
        payload.insert(payload.end(), bytes, static_cast<uint8_t>(id));
        put(id);
        put(length);
    }
    std::string found;
    for (const auto& block :
         WalkChunkTrailers(c.null ? nullptr : payload.data(), payload.size(), c.read)) {
        char text[64];
        std::snprintf(text, sizeof text, "%s%x@%zu+%zu", found.empty() ? "" : " ", block.id,
                      block.offset, block.size);
        found += text;
        // The block's data is where the walk says.
        if (block.size) {
            EXPECT_EQ(payload[block.offset + block.size - 1], block.id & 0xFF);
        }
    }
    EXPECT_EQ(found, c.found);
}

const std::vector<std::array<uint32_t, 3>> kFrame = {
    {0xA5A5A5A5, 16, 16}, {0x11, 4, 4}, {0x22, 0, 0}, {0x33, 8, 8}};

INSTANTIATE_TEST_SUITE_P(
    Payloads, ChunkWalk,
    ::testing::Values(
        SChunkCase{"GigEBigEndian", true, true, 0, kFrame, "a5a5a5a5@0+16 11@24+4 22@36+0 33@44+8"},
        SChunkCase{"USB3LittleEndian", false, false, 0, kFrame,
                   "a5a5a5a5@0+16 11@24+4 22@36+0 33@44+8"},
        // Read the other way the length is 0x04000000: larger than the payload.
        SChunkCase{"BigEndianReadLittle", true, false, 0, {{0x11, 4, 4}}, ""},
        SChunkCase{"LittleEndianReadBig", false, true, 0, {{0x11, 4, 4}}, ""},
        // A length beyond the payload ends the walk, keeping what was found.
        SChunkCase{"LengthBeyondPayload", true, true, 0, {{0x01, 0, 1000}, {0x02, 2, 2}}, "2@8+2"},
        SChunkCase{"LessThanATrailerInFront", false, false, 3, {{0x05, 1, 1}}, "5@3+1"},
        SChunkCase{"LessThanATrailer", true, true, 5, {}, ""},
        SChunkCase{"NoPayload", true, true, 64, {}, "", true},
        // 0xFF0000FF bytes: must not wrap around the payload's start.
        SChunkCase{"MaximalLength", true, true, 8, {{0x07, 0, 0xFF0000FF}}, ""}),
    [](const ::testing::TestParamInfo<SChunkCase>& p) { return std::string(p.param.name); });

}  // namespace
