// grab: PNG frames that decode to the simulated test pattern, chunk files,
// failure accounting and a clean stop on Ctrl-C.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include <cstdio>
#include <fstream>
#include <iterator>
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

std::vector<unsigned char> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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

// With --chunks each frame's chunk blocks go, joined, into a file beside the PNG;
// a camera without chunks gets no such file.
TEST(GrabChunks, ChunkFilesHoldTheJoinedChunkBlocks) {
    const KZRSIM::CameraSpec& desc = DemoSpec("SIM-CHUNK-003");
    std::vector<unsigned char> joined;
    for (const auto& chunk : desc.chunks) joined.insert(joined.end(), chunk.begin(), chunk.end());
    ASSERT_EQ(joined.size(), 64u);
    TempDir dir, plain;
    const auto result =
        RunSim({"grab", "SIM-CHUNK-003", "-n", "2", "--chunks", "-o", dir.Path().string()});
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_EQ(tooltest::LinesStartingWith(result.out, "frame 2: 0 QRV_OK").size(), 1u);
    EXPECT_NE(result.out.find("chunks=64"), std::string::npos) << result.out;
    for (const char* name : {"frame_0001.chunks.bin", "frame_0002.chunks.bin"}) {
        EXPECT_EQ(ReadFile(dir.Path() / name), joined) << name;
    }
    ASSERT_EQ(RunSim({"grab", "SIM-AREA-001", "-n", "1", "--chunks", "-o", plain.Path().string()})
                  .exitCode,
              0);
    EXPECT_TRUE(fs::exists(plain.Path() / "frame_0001.png"));
    EXPECT_FALSE(fs::exists(plain.Path() / "frame_0001.chunks.bin"));
}

TEST(GrabFailures, AreShownPerFrameAndCountedByCode) {
    TempDir dir;
    const std::string scenario = dir.Write("script.json",
                                           R"({"cameras": [{"serial": "SCRIPTED-01", "frameRate": 0,
            "script": [{"code": -11}, {"code": 0}, {"code": -11}]}]})");
    const auto result = RunSim({"grab", "SCRIPTED-01", "-n", "3", "--timeout", "100"}, scenario);
    EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
    EXPECT_EQ(
        tooltest::LinesStartingWith(result.out, "frame 1: 101033 QRV_ERR_GRAB_TIMEOUT").size(), 1u)
        << result.out;
    EXPECT_EQ(tooltest::LinesStartingWith(result.out, "frame 2: 0 QRV_OK").size(), 1u);
    EXPECT_EQ(tooltest::LinesStartingWith(result.out, "grabbed 1 of 3 frames").size(), 1u);
    EXPECT_NE(result.out.find("2 x 101033 QRV_ERR_GRAB_TIMEOUT"), std::string::npos) << result.out;
}

TEST(GrabFailures, LostCameraStopsTheGrabOnceAndSaysSo) {
    TempDir dir;
    // Not connected: IsOpen answers false, as for a camera that went away.
    const std::string scenario = dir.Write("lost.json",
                                           R"({"cameras": [{"serial": "LOST-01", "frameRate": 0,
            "connected": false, "script": [{"code": 0}, {"code": -30}, {"code": -30}]}]})");
    const auto result = RunSim({"grab", "LOST-01", "-n", "50", "--timeout", "100"}, scenario);
    EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
    EXPECT_EQ(tooltest::LinesStartingWith(result.out, "frame 2: 101034").size(), 1u) << result.out;
    EXPECT_TRUE(tooltest::LinesStartingWith(result.out, "frame 3:").empty()) << result.out;
    EXPECT_NE(result.err.find("camera was lost"), std::string::npos) << result.err;
    EXPECT_EQ(tooltest::LinesStartingWith(result.out, "grabbed 1 of 50 frames").size(), 1u);
}

TEST(GrabOutput, WriteFailureGivesTheReasonStopsAndFails) {
    TempDir dir;
    // A directory where the first PNG should go: the file cannot be created.
    fs::create_directory(dir.Path() / "frame_0001.png");
    const auto result = RunSim({"grab", "SIM-AREA-001", "-n", "20", "-o", dir.Path().string()});
    EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
    EXPECT_NE(result.err.find("Is a directory"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("frame_0002.png"), std::string::npos) << "one report only\n"
                                                                    << result.err;
    EXPECT_NE(result.out.find("1 write failure"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("0 frames written"), std::string::npos) << result.out;
    EXPECT_FALSE(fs::exists(dir.Path() / "frame_0020.png"));
}

TEST(GrabOutput, TheGrabLoopDoesNotWaitForTheDisk) {
    TempDir dir;
    // The first PNG is a pipe that nobody reads until every frame line is out:
    // a grab loop that wrote frames itself would wait for it at frame 1.
    const fs::path pipe = dir.Path() / "frame_0001.png";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::thread reader;
    std::size_t drained = 0;
    const auto result = tooltest::RunTool(
        {"--plugin", QRVACQ_PLUGIN, "--sim", "demo", "grab", "SIM-AREA-001", "-n", "10", "-o",
         dir.Path().string()},
        "",
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

TEST(GrabOutput, JsonHasOneObjectPerFrameAndASummary) {
    TempDir dir;
    const std::string scenario = dir.Write("script.json",
                                           R"({"cameras": [{"serial": "SCRIPTED-01", "frameRate": 0,
            "width": 32, "height": 16, "script": [{"code": 0}, {"code": -11}, {"code": 0}]}]})");
    const auto result = RunSim(
        {"grab", "SCRIPTED-01", "-n", "3", "--timeout", "100", "--json", "-o", dir.Path().string()},
        scenario);
    EXPECT_EQ(result.exitCode, 1) << result.err;
    const std::vector<nlohmann::json> objects = tooltest::JsonLines(result.out);
    ASSERT_EQ(objects.size(), 4u) << result.out;
    EXPECT_EQ(objects[0].at("type"), "frame");
    EXPECT_EQ(objects[0].at("bytes"), 32 * 16);
    EXPECT_EQ(objects[1].at("code"), 101033);
    EXPECT_LE(objects[0].at("time").get<double>(), objects[2].at("time").get<double>());
    const nlohmann::json& summary = objects[3];
    EXPECT_EQ(summary.at("type"), "summary");
    EXPECT_EQ(summary.at("requested"), 3);
    EXPECT_EQ(summary.at("grabbed"), 2);
    EXPECT_EQ(summary.at("written"), 2);
    EXPECT_EQ(summary.at("failures").at(0).at("count"), 1);
    EXPECT_GE(summary.at("interval").at("max").get<double>(),
              summary.at("interval").at("min").get<double>());
}

TEST(GrabOutput, TerminalShowsStatisticsWhileTheGrabRuns) {
    const char* script = "/usr/bin/script";  // util-linux: runs the tool on a terminal
    if (access(script, X_OK) != 0) GTEST_SKIP() << "no /usr/bin/script to give the tool a terminal";
    const std::string command = std::string(QRVACQ_EXE) + " --plugin " + QRVACQ_PLUGIN +
                                " --sim demo grab SIM-AREA-001 -n 45 >/dev/null";
    const auto result = tooltest::RunProgram({script, "-qec", command, "/dev/null"}, 60000);
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    const std::regex line(
        "grab: [0-9]+/45 frames, [0-9.]+ fps, [0-9.]+ MB/s, frame interval: min "
        "[0-9.]+ ms, mean [0-9.]+ ms, max [0-9.]+ ms, failures: none");
    EXPECT_TRUE(std::regex_search(result.out, line)) << result.out;
}

TEST(GrabInterrupt, CtrlCEndsTheLoopAndStillStops) {
    bool sent = false;
    const auto result = tooltest::RunTool(
        {"--plugin", QRVACQ_PLUGIN, "--sim", "demo", "grab", "SIM-AREA-001", "-n", "1000000"}, "",
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
