#include "PixelLayout.h"

namespace KZRGENICAM::detail {

SPixelLayout PixelLayoutOf(uint32_t pixelFormat) {
    switch (pixelFormat) {
        case 0x01080001:  // Mono8
        case 0x01080008:  // BayerGR8
        case 0x01080009:  // BayerRG8
        case 0x0108000A:  // BayerGB8
        case 0x0108000B:  // BayerBG8
            return {true, 1, 8, 1};
        case 0x01100003:  // Mono10
        case 0x01100005:  // Mono12
        case 0x01100025:  // Mono14
        case 0x01100007:  // Mono16
            return {true, 1, 16, 2};
        case 0x02180014:  // RGB8
            return {true, 3, 8, 3};
        default:
            return {};
    }
}

}  // namespace KZRGENICAM::detail
