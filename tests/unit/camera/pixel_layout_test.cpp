#include <gtest/gtest.h>

#include <cstdint>

#include "PixelLayout.h"

namespace {

using KZRGENICAM::detail::PixelLayoutOf;

struct SCase {
    const char* name;
    uint32_t format;
    bool supported;
    int channels;
    int bits;
    int bytes;
};

class PixelLayout : public ::testing::TestWithParam<SCase> {};

TEST_P(PixelLayout, MatchesWhatTheHostStores) {
    const SCase& c = GetParam();
    const auto layout = PixelLayoutOf(c.format);
    EXPECT_EQ(layout.supported, c.supported);
    EXPECT_EQ(layout.channels, c.channels);
    EXPECT_EQ(layout.bitsPerChannel, c.bits);
    EXPECT_EQ(layout.bytesPerPixel, c.bytes);
}

INSTANTIATE_TEST_SUITE_P(Formats, PixelLayout,
                         ::testing::Values(SCase{"Mono8", 0x01080001, true, 1, 8, 1},
                                           SCase{"BayerRG8", 0x01080009, true, 1, 8, 1},
                                           SCase{"Mono10", 0x01100003, true, 1, 16, 2},
                                           SCase{"Mono12", 0x01100005, true, 1, 16, 2},
                                           SCase{"Mono16", 0x01100007, true, 1, 16, 2},
                                           SCase{"RGB8", 0x02180014, true, 3, 8, 3},
                                           SCase{"Mono10Packed", 0x010C0004, false, 0, 0, 0},
                                           SCase{"Mono12p", 0x010C0047, false, 0, 0, 0},
                                           SCase{"BGR8", 0x02180015, false, 0, 0, 0},
                                           SCase{"YUV422", 0x02100032, false, 0, 0, 0}),
                         [](const ::testing::TestParamInfo<SCase>& p) { return p.param.name; });

}  // namespace
