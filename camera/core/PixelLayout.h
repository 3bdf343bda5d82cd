// What a GenICam pixel format means for a frame handed to the host.
#pragma once

#include <cstdint>

namespace KZRGENICAM::detail {

struct SPixelLayout {
    bool supported = false;
    int channels = 0;
    int bitsPerChannel = 0;  // as the host stores it: 8 or 16
    int bytesPerPixel = 0;
};

/// The layout of a PFNC pixel format code. Only unpacked formats the host can
/// take as they are are supported: Mono8 and Bayer*8 as one 8-bit channel,
/// Mono10/12/14/16 as one 16-bit channel, RGB8 as three 8-bit channels.
SPixelLayout PixelLayoutOf(uint32_t pixelFormat);

}  // namespace KZRGENICAM::detail
