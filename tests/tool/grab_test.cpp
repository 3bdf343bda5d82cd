// grab where a transcript case cannot reach: PNG frames that decode to the
// simulated test pattern, a writer thread that keeps the grab loop off the disk,
// and a clean stop on Ctrl-C. The rest of grab is in cases/grab/.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include <cstdio>
#include <memory>

#include "KZRSim.h"
#include "ToolRunner.h"

namespace {

namespace fs = std::filesystem;
using tooltest::RunSim;
using tooltest::TempDir;

struct DecodedPng {
    png_uint_32 width = 0, height = 0;
    int bits = 0, channels = 0;
    std::vector<unsigned char> bytes;  ///< rows as stored: 16-bit samples big-endian
};

bool ReadPng(const std::string& path, DecodedPng& png) {
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
    png.bytes.clear();
    for (png_uint_32 y = 0; y < png.height; ++y)
        png.bytes.insert(png.bytes.end(), rows[y], rows[y] + rowBytes);
    png_destroy_read_struct(&reader, &info, nullptr);
    return true;
}

const KZRSIM::CameraSpec& DemoSpec(const std::string& serial) {
    static const KZRSIM::Scenario demo = KZRSIM::DemoScenario();
    for (const KZRSIM::CameraSpec& desc : demo.cameras) {
        if (desc.serial == serial) return desc;
    }
    throw std::runtime_error(serial + " is not in the demo set");
}

struct PatternCase {
    const char* serial;
    int channels;
    int bits;
};

class GrabPattern : public ::testing::TestWithParam<PatternCase> {};

TEST_P(GrabPattern, PngPixelsAreTheCameraPattern) {
    const PatternCase& param = GetParam();
    const KZRSIM::CameraSpec& desc = DemoSpec(param.serial);
    TempDir dir;
    const auto result = RunSim({"grab", param.serial, "-n", "3", "-o", dir.Path().string()});
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    const std::string layout = std::to_string(desc.width) + "x" + std::to_string(desc.height) +
                               "x" + std::to_string(param.channels) + "x" +
                               std::to_string(param.bits);
    EXPECT_EQ(tooltest::LinesStartingWith(result.out, "frame 3: 0 QRV_OK " + layout).size(), 1u)
        << result.out;

    std::uint64_t previousId = 0;
    for (int index = 1; index <= 3; ++index) {
        char name[32];
        std::snprintf(name, sizeof(name), "frame_%04d.png", index);
        DecodedPng png;
        ASSERT_TRUE(ReadPng((dir.Path() / name).string(), png)) << name;
        ASSERT_EQ(png.width, static_cast<png_uint_32>(desc.width));
        ASSERT_EQ(png.height, static_cast<png_uint_32>(desc.height));
        ASSERT_EQ(png.channels, param.channels);
        ASSERT_EQ(png.bits, param.bits);
        // Back to the image's own (little-endian) byte order.
        std::vector<unsigned char> image = png.bytes;
        if (param.bits == 16) {
            for (std::size_t i = 0; i + 1 < image.size(); i += 2) std::swap(image[i], image[i + 1]);
        }
        std::uint64_t frameId = 0;
        for (int i = 7; i >= 0; --i) frameId = frameId << 8 | image[static_cast<std::size_t>(i)];
        EXPECT_GT(frameId, previousId) << name;
        previousId = frameId;
        std::size_t mismatches = 0;
        for (std::size_t offset = 0; offset < image.size(); ++offset) {
            if (image[offset] != KZRSIM::PatternByte(desc, frameId, offset)) ++mismatches;
        }
        EXPECT_EQ(mismatches, 0u) << name << " of " << param.serial;
    }
    EXPECT_FALSE(fs::exists(dir.Path() / "frame_0004.png"));
    EXPECT_FALSE(fs::exists(dir.Path() / "frame_0001.chunks.bin")) << "no --chunks, no chunk files";
}

INSTANTIATE_TEST_SUITE_P(DemoCameras, GrabPattern,
                         ::testing::Values(PatternCase{"SIM-AREA-001", 1, 8},
                                           PatternCase{"SIM-M16-004", 1, 16},
                                           PatternCase{"SIM-CHUNK-003", 3, 8}),
                         [](const auto& test) {
                             std::string name = test.param.serial;
                             for (char& c : name) {
                                 if (c == '-') c = '_';
                             }
                             return name;
                         });

TEST(GrabOutput, TheGrabLoopDoesNotWaitForTheDisk) {
    TempDir dir;
    // The first PNG is a pipe that nobody reads until every frame line is out:
    // a grab loop that wrote frames itself would wait for it at frame 1.
    const fs::path pipe = dir.Path() / "frame_0001.png";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::thread reader;
    std::size_t drained = 0;
    const auto result = RunSim(
        {"grab", "SIM-AREA-001", "-n", "10", "-o", dir.Path().string()},
        [&](pid_t, const std::string& out) {
            if (reader.joinable() || out.find("frame 10:") == std::string::npos) return;
            reader = std::thread([&pipe, &drained] {
                const int fd = open(pipe.c_str(), O_RDONLY);
                char buffer[65536];
                for (ssize_t n; fd >= 0 && (n = read(fd, buffer, sizeof buffer)) > 0;)
                    drained += static_cast<std::size_t>(n);
                if (fd >= 0) close(fd);
            });
        },
        20000);
    if (reader.joinable()) {
        reader.join();
    } else {
        // Free a writer that still waits in open, so the child can be reaped.
        const int fd = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
        if (fd >= 0) close(fd);
    }
    ASSERT_FALSE(result.timedOut) << result.out << result.err;
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_GT(drained, 0u) << "frame 1 went into the pipe";
    EXPECT_NE(result.out.find("10 frames written"), std::string::npos) << result.out;
    EXPECT_TRUE(fs::exists(dir.Path() / "frame_0010.png"));
}

// The writer wakes for each frame: frame 2 is on disk when frame 3 arrives a
// second later (by then the writer waits), not only once the grab ends; and it
// wakes to finish when the last grab, 300 ms after frame 3, fails.
TEST(GrabOutput, TheWriterWakesForEachFrameAndForTheEnd) {
    TempDir dir;
    const fs::path second = dir.Path() / "frame_0002.png";
    bool seen = false, writtenByFrame3 = false;
    const auto result = RunSim(
        {"grab", "SLOW-01", "-n", "4", "--timeout", "5000", "-o", dir.Path().string()},
        [&](pid_t, const std::string& out) {
            if (seen || out.find("frame 3:") == std::string::npos) return;
            seen = true;
            writtenByFrame3 = fs::exists(second) && fs::file_size(second) > 0;
        },
        20000, QRV_SIM_FIXTURES "/slow.json");
    ASSERT_FALSE(result.timedOut) << result.out << result.err;
    ASSERT_EQ(result.exitCode, 1) << result.out << result.err;
    ASSERT_TRUE(seen) << result.out;
    EXPECT_TRUE(writtenByFrame3);
    EXPECT_NE(result.out.find("3 frames written"), std::string::npos) << result.out;
}

TEST(GrabInterrupt, CtrlCEndsTheLoopAndStillStops) {
    bool sent = false;
    const auto result = RunSim(
        {"grab", "SIM-AREA-001", "-n", "1000000"},
        [&sent](pid_t pid, const std::string& out) {
            if (!sent && out.find("frame 2:") != std::string::npos) {
                kill(pid, SIGINT);
                sent = true;
            }
        },
        60000);
    ASSERT_TRUE(sent) << result.out << result.err;
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.termSignal, 0);
    EXPECT_EQ(result.exitCode, 130) << result.err;
    EXPECT_NE(result.err.find("interrupted"), std::string::npos) << result.err;
    const auto summary = tooltest::LinesStartingWith(result.out, "grabbed ");
    ASSERT_EQ(summary.size(), 1u) << result.out;
    EXPECT_NE(summary[0].find(" of 1000000 frames"), std::string::npos) << summary[0];
    EXPECT_NE(summary[0].find("(interrupted)"), std::string::npos) << summary[0];
    EXPECT_TRUE(tooltest::LinesStartingWith(result.out, "frame 1000000:").empty());
}

}  // namespace
