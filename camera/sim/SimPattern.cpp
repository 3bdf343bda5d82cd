// Pixel formats and the test pattern of the simulated cameras.
//
// Rendering follows PatternAt byte for byte, but row by row so that a ring slot
// of a 25-megapixel image is written in milliseconds.
#include <cstring>
#include <stdexcept>

#include "GCBase.h"
#include "SimState.h"

namespace KZRSIM {
namespace detail {

bool FormatLayout(const std::string& pixelFormat, int& channels, int& bits, uint32_t& pfnc) {
    struct Format {
        const char* name;
        int channels;
        int bits;
        uint32_t pfnc;
    };
    static const Format kFormats[] = {
        {"Mono8", 1, 8, 0x01080001u},    {"Mono16", 1, 16, 0x01100007u},
        {"RGB8", 3, 8, 0x02180014u},     {"BayerRG8", 1, 8, 0x01080009u},
        {"BayerGB8", 1, 8, 0x0108000Au}, {"BayerGR8", 1, 8, 0x01080008u},
        {"BayerBG8", 1, 8, 0x0108000Bu},
    };
    for (const Format& f : kFormats) {
        if (pixelFormat == f.name) {
            channels = f.channels;
            bits = f.bits;
            pfnc = f.pfnc;
            return true;
        }
    }
    return false;
}

Layout LayoutOf(const CameraSpec& desc) {
    Layout l;
    l.width = desc.width > 0 ? desc.width : 0;
    l.height = desc.height > 0 ? desc.height : 0;
    if (!FormatLayout(desc.pixelFormat, l.channels, l.bits, l.pixelFormat))
        FormatLayout("Mono8", l.channels, l.bits, l.pixelFormat);
    return l;
}

uint32_t FormatFor(int channels, int bits, uint32_t fallback) {
    if (channels == 1 && bits == 8) return (fallback >> 16) == 0x0108u ? fallback : 0x01080001u;
    if (channels == 1 && bits == 16) return 0x01100007u;  // Mono16
    if (channels == 3 && bits == 8) return 0x02180014u;   // RGB8
    if (channels == 3 && bits == 16) return 0x02300033u;  // RGB16
    if (channels == 4 && bits == 8) return 0x02200016u;   // RGBa8
    return 0;
}

uint8_t PatternAt(const Layout& layout, uint64_t frameId, uint64_t offset) {
    if (offset >= layout.Size()) return 0;
    if (offset < 8) return static_cast<uint8_t>(frameId >> (8 * offset));
    const uint64_t phase = (frameId - 1) % kRing;
    const uint64_t bytesPerSample = static_cast<uint64_t>(layout.bits / 8);
    const uint64_t sample = offset / bytesPerSample;
    const uint64_t pixel = sample / static_cast<uint64_t>(layout.channels);
    const uint64_t c = sample % static_cast<uint64_t>(layout.channels);
    const uint64_t x = pixel % static_cast<uint64_t>(layout.width);
    const uint64_t y = pixel / static_cast<uint64_t>(layout.width);
    if (bytesPerSample == 1) return static_cast<uint8_t>(x + 2 * y + 50 * c + 16 * phase);
    const uint16_t v = static_cast<uint16_t>(64 * x + 16 * y + 4096 * c + 1024 * phase);
    return static_cast<uint8_t>(offset % 2 ? v >> 8 : v);
}

void RenderPattern(const Layout& layout, uint64_t phase, uint8_t* dst) {
    const uint64_t w = static_cast<uint64_t>(layout.width);
    const uint64_t h = static_cast<uint64_t>(layout.height);
    const uint64_t ch = static_cast<uint64_t>(layout.channels);
    if (layout.bits == 8) {
        for (uint64_t y = 0; y < h; ++y) {
            uint8_t* row = dst + y * w * ch;
            const uint8_t base = static_cast<uint8_t>(2 * y + 16 * phase);
            if (ch == 1) {
                for (uint64_t x = 0; x < w; ++x) row[x] = static_cast<uint8_t>(base + x);
            } else {
                for (uint64_t x = 0; x < w; ++x)
                    for (uint64_t c = 0; c < ch; ++c)
                        row[x * ch + c] = static_cast<uint8_t>(base + x + 50 * c);
            }
        }
        return;
    }
    for (uint64_t y = 0; y < h; ++y) {
        uint8_t* row = dst + y * w * ch * 2;
        const uint16_t base = static_cast<uint16_t>(16 * y + 1024 * phase);
        for (uint64_t x = 0; x < w; ++x) {
            for (uint64_t c = 0; c < ch; ++c) {
                const uint16_t v = static_cast<uint16_t>(base + 64 * x + 4096 * c);
                row[(x * ch + c) * 2] = static_cast<uint8_t>(v);
                row[(x * ch + c) * 2 + 1] = static_cast<uint8_t>(v >> 8);
            }
        }
    }
}

void RaiseFault(const std::string& kind, const std::string& operation) {
    const std::string what = "simulated fault in " + operation;
    if (kind == "std") throw std::runtime_error(what);
    GENICAM_THROW(RuntimeException, what.c_str());
}

void CheckFault(const FaultMap& faults, const char* operation) {
    if (faults.empty()) return;  // the usual case, on every call: no key to build
    auto it = faults.find(operation);
    if (it != faults.end()) RaiseFault(it->second, operation);
}

}  // namespace detail

uint8_t PatternByte(const CameraSpec& camera, uint64_t frameId, uint64_t offset) {
    return detail::PatternAt(detail::LayoutOf(camera), frameId, offset);
}

}  // namespace KZRSIM
