// grab's PNG frames decode to the simulated camera's test pattern: what a
// transcript case cannot compare. The rest of grab is in cases/grab/.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "KZRSim.h"

namespace {

namespace fs = std::filesystem;

struct DecodedPng {
    png_uint_32 width = 0, height = 0;
    int bits = 0, channels = 0;
    std::vector<unsigned char> bytes;  ///< rows as stored: 16-bit samples big-endian
};

bool ReadPng(const fs::path& path, DecodedPng& png) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         std::fclose);
    if (!file) return false;
    png_structp reader = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(reader);
    if (setjmp(png_jmpbuf(reader))) {
        png_destroy_read_struct(&reader, &info, nullptr);
        return false;
    }
    png_init_io(reader, file.get());
    png_read_png(reader, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png.width = png_get_image_width(reader, info);
    png.height = png_get_image_height(reader, info);
    png.bits = png_get_bit_depth(reader, info);
    png.channels = png_get_channels(reader, info);
    const std::size_t rowBytes = png_get_rowbytes(reader, info);
    png_bytepp rows = png_get_rows(reader, info);
    for (png_uint_32 y = 0; y < png.height; ++y)
        png.bytes.insert(png.bytes.end(), rows[y], rows[y] + rowBytes);
    png_destroy_read_struct(&reader, &info, nullptr);
    return true;
}

struct PatternCase {
    const char* serial;
    int channels;
    int bits;
};

class GrabPattern : public ::testing::TestWithParam<PatternCase> {};

TEST_P(GrabPattern, PngPixelsAreTheCameraPattern) {
    const PatternCase& param = GetParam();
    KZRSIM::CameraSpec desc;
    for (const KZRSIM::CameraSpec& c : KZRSIM::DemoScenario().cameras)
        if (c.serial == param.serial) desc = c;
    ASSERT_EQ(desc.serial, param.serial) << "not in the demo set";
    const fs::path dir = fs::path(::testing::TempDir()) / ("qrvacq-grab-" + desc.serial);
    fs::remove_all(dir);
    const std::string command = std::string(QRVACQ_EXE) + " --plugin " + QRVACQ_PLUGIN +
                                " --sim demo grab " + desc.serial + " -n 3 -o " + dir.string() +
                                " >" + dir.string() + ".out 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::ostringstream out;
    out << std::ifstream(dir.string() + ".out").rdbuf();
    const std::string layout = std::to_string(desc.width) + "x" + std::to_string(desc.height) +
                               "x" + std::to_string(param.channels) + "x" +
                               std::to_string(param.bits);
    EXPECT_NE(out.str().find("\nframe 3: 0 QRV_OK " + layout), std::string::npos) << out.str();

    std::uint64_t previousId = 0;
    for (const char* name : {"frame_0001.png", "frame_0002.png", "frame_0003.png"}) {
        DecodedPng png;
        ASSERT_TRUE(ReadPng(dir / name, png)) << name;
        ASSERT_EQ(png.width, static_cast<png_uint_32>(desc.width));
        ASSERT_EQ(png.height, static_cast<png_uint_32>(desc.height));
        ASSERT_EQ(png.channels, param.channels);
        ASSERT_EQ(png.bits, param.bits);
        // Back to the image's own (little-endian) byte order.
        std::vector<unsigned char>& image = png.bytes;
        for (std::size_t i = 0; param.bits == 16 && i + 1 < image.size(); i += 2)
            std::swap(image[i], image[i + 1]);
        std::uint64_t frameId = 0;
        for (int i = 7; i >= 0; --i) frameId = frameId << 8 | image[static_cast<std::size_t>(i)];
        EXPECT_GT(frameId, previousId) << name;
        previousId = frameId;
        std::size_t mismatches = 0;
        for (std::size_t offset = 0; offset < image.size(); ++offset)
            mismatches += image[offset] != KZRSIM::PatternByte(desc, frameId, offset);
        EXPECT_EQ(mismatches, 0u) << name << " of " << param.serial;
    }
    EXPECT_FALSE(fs::exists(dir / "frame_0004.png"));
    EXPECT_FALSE(fs::exists(dir / "frame_0001.chunks.bin")) << "no --chunks, no chunk files";
    fs::remove_all(dir);
    fs::remove(dir.string() + ".out");
}

INSTANTIATE_TEST_SUITE_P(DemoCameras, GrabPattern,
                         ::testing::Values(PatternCase{"SIM-AREA-001", 1, 8},
                                           PatternCase{"SIM-M16-004", 1, 16},
                                           PatternCase{"SIM-CHUNK-003", 3, 8}),
                         [](const auto& test) {
                             std::string name = test.param.serial;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
