// grab's PNG frames decode to the simulated camera's test pattern: what a
// transcript case cannot compare. The rest of grab, the frame lines among it, is
// in cases/grab/.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "KZRSim.h"

namespace {

namespace fs = std::filesystem;

// A PNG's image as stored in the file, 16-bit samples in host order: no
// conversion, since the header's own format is the one asked for.
bool ReadPng(const fs::path& path, png_image& png, std::vector<unsigned char>& bytes) {
    png = {};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) return false;
    bytes.resize(PNG_IMAGE_SIZE(png));
    return png_image_finish_read(&png, nullptr, bytes.data(), 0, nullptr) != 0;
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
                                " --sim demo grab " + desc.serial + " -n 3 -o " + dir.string();
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    std::uint64_t previousId = 0;
    for (const char* name : {"frame_0001.png", "frame_0002.png", "frame_0003.png"}) {
        png_image png;
        std::vector<unsigned char> image;
        ASSERT_TRUE(ReadPng(dir / name, png, image)) << name;
        ASSERT_EQ(png.width, static_cast<png_uint_32>(desc.width));
        ASSERT_EQ(png.height, static_cast<png_uint_32>(desc.height));
        ASSERT_EQ(PNG_IMAGE_SAMPLE_CHANNELS(png.format), static_cast<unsigned>(param.channels));
        ASSERT_EQ(PNG_IMAGE_SAMPLE_COMPONENT_SIZE(png.format) * 8,
                  static_cast<unsigned>(param.bits));
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
