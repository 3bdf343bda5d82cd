// PNG output of grabbed frames, written with zlib alone.
#pragma once

#include <string>

class QRVImage;

namespace qrvacq {

/// Writes the image losslessly: 1 to 4 channels map to grey, grey+alpha, RGB and
/// RGBA; 8 and 16 bits per channel are kept (Bayer data stays a grey mosaic).
/// 16-bit samples are converted from the image's host byte order to PNG's
/// big-endian order. Returns false with a message on an empty image, an
/// unsupported layout or an I/O error; a partly written file is removed.
bool WritePng(const QRVImage& image, const std::string& path, std::string& error);

}  // namespace qrvacq
