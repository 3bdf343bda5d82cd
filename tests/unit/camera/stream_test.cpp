// Acquisition: getFrame result codes, scripts, pacing, frame layout, the test
// pattern and frame accounting.
#include <chrono>
#include <cstring>
#include <sstream>
#include <vector>

#include "KZRStreamStats.h"
#include "SimScenario.h"
#include "TestData.h"

using namespace KZRGENICAM;
using Clock = std::chrono::steady_clock;

namespace {

int64_t MsSince(Clock::time_point t0) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

uint64_t StampedId(const IFrame* frame) {
    uint64_t id = 0;
    std::memcpy(&id, frame->getImageData(), 8);  // little-endian host
    return id;
}

std::vector<uint8_t> Bytes(IChunk* c) {
    auto* p = static_cast<const uint8_t*>(c->getData());
    return std::vector<uint8_t>(p, p + c->getSize());
}

}  // namespace

class StreamTest : public SimTest {
protected:
    /// Opens and starts camera "A", described by the keys of its JSON record.
    void Start(const std::string& keys, int maxFrames = -1) {
        KZRSIM::Scenario s =
            KZRSIM::ParseScenarioJson(R"({"cameras": [{"serial": "A", )" + keys + "}]}");
        desc = s.cameras.at(0);
        KZRSIM::SetScenario(s);
        camera = CreateCameraBySN("A");
        ASSERT_NE(camera, nullptr);
        EXPECT_EQ(camera->open(0), 0);
        EXPECT_EQ(camera->startGrabbing(0, maxFrames), 0);
    }
    /// The result of one getFrame; a frame is kept in `frame` until the next call.
    int Grab(int64_t timeoutMs = 0) {
        if (frame) frame->release();
        frame = nullptr;
        return camera->getFrame(&frame, timeoutMs);
    }
    void TearDown() override {
        if (frame) frame->release();
        if (camera) camera->release();
        SimTest::TearDown();
    }
    KZRSIM::CameraSpec desc;
    ICamera* camera = nullptr;
    IFrame* frame = nullptr;
};

TEST_F(StreamTest, NotRunningUntilStartedAfterStopAndAfterAFailedStart) {
    KZRSIM::LoadScenarioJson(R"({"cameras": [{"serial": "A"}, {"serial": "F", "startError": 5}]})");
    camera = CreateCameraBySN("A");
    ASSERT_NE(camera, nullptr);
    auto t0 = Clock::now();
    EXPECT_EQ(Grab(5000), FrameNotRunning);
    ASSERT_EQ(camera->startGrabbing(3, -1), 0);
    ASSERT_EQ(camera->stopGrabbing(), 0);
    EXPECT_EQ(Grab(5000), FrameNotRunning);
    EXPECT_LT(MsSince(t0), 2000);
    EXPECT_EQ(frame, nullptr);
    auto c = KZRSIM::Counters("A");
    EXPECT_EQ(c.getFrame, 2);
    EXPECT_EQ(c.getFrameTimeouts, (std::vector<int64_t>{5000, 5000}));
    EXPECT_EQ(c.startArgs, (std::vector<std::pair<int, int>>{{3, -1}}));

    CameraGuard f(CreateCameraBySN("F"));
    EXPECT_EQ(f->startGrabbing(0, -1), 5);
    EXPECT_EQ(f->getFrame(&frame, 0), FrameNotRunning);
}

TEST_F(StreamTest, SlowFreeRunTimesOut) {
    Start(R"("frameRate": 0.5)");  // the first frame is due after 2 s
    auto t0 = Clock::now();
    EXPECT_EQ(Grab(50), FrameTimeout);
    // Near its time-out: not early, and not a coarse or scaled wait either.
    EXPECT_GE(MsSince(t0), 45);
    EXPECT_LT(MsSince(t0), 450);
    EXPECT_EQ(Grab(0), FrameTimeout);
}

TEST_F(StreamTest, FreeRunIsPacedByFrameRate) {
    Start(R"("frameRate": 100)");
    auto t0 = Clock::now();
    for (int i = 0; i < 10; ++i) ASSERT_EQ(Grab(5000), FrameOk);
    // Ten frames at 100/s cannot arrive before 100 ms; the upper bound is loose.
    EXPECT_GE(MsSince(t0), 95);
    EXPECT_LT(MsSince(t0), 5000);
}

TEST_F(StreamTest, ScriptStepsComeFirstInOrder) {
    Start(R"("frameRate": 0, "script": [{"code": -11},
        {"delayMs": 60, "valid": false, "width": 10, "height": 4, "channels": 3},
        {"code": -30}, {"fault": "std"}])");
    EXPECT_EQ(Grab(1000), FrameTimeout);
    auto t0 = Clock::now();
    ASSERT_EQ(Grab(1000), FrameOk);
    EXPECT_GE(MsSince(t0), 55);
    EXPECT_FALSE(frame->isValid());
    EXPECT_EQ(frame->getWidth(), 10);
    EXPECT_EQ(frame->getHeight(), 4);
    EXPECT_EQ(frame->getChannels(), 3);
    EXPECT_EQ(frame->getImageSize(), 120u);
    EXPECT_EQ(frame->getPixelFormat(), 0x02180014u);
    EXPECT_EQ(Grab(1000), FrameDeviceLost);
    EXPECT_THROW(Grab(1000), std::runtime_error);
    // Script used up: the camera's own behaviour again.
    ASSERT_EQ(Grab(1000), FrameOk);
    EXPECT_TRUE(frame->isValid());
    EXPECT_EQ(frame->getWidth(), 64);
    EXPECT_EQ(frame->getFrameId(), 2u);
}

// Each start restarts the frame ids and the frame budget.
TEST_F(StreamTest, MaxFramesStopsTheStreamAndIdsRestartWithEachStart) {
    Start(R"("frameRate": 0)", 2);
    ASSERT_EQ(Grab(100), FrameOk);
    ASSERT_EQ(camera->startGrabbing(0, 2), 0);
    for (uint64_t id = 1; id <= 2; ++id) {
        ASSERT_EQ(Grab(100), FrameOk);
        EXPECT_EQ(frame->getFrameId(), id);
    }
    EXPECT_EQ(Grab(100), FrameNotRunning);
}

TEST_F(StreamTest, FramesOutAndDoubleReleaseAccounting) {
    Start(R"("frameRate": 0)");
    std::vector<IFrame*> frames(6, nullptr);
    for (auto& f : frames) ASSERT_EQ(camera->getFrame(&f, 0), FrameOk);
    EXPECT_EQ(KZRSIM::Library().framesOut, 6);
    EXPECT_EQ(KZRSIM::Counters("A").framesOut, 6);
    // Six frames out at once with a ring of four: no two may share a buffer.
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(StampedId(frames[i]), i + 1);
        for (std::size_t j = i + 1; j < frames.size(); ++j)
            EXPECT_NE(frames[i]->getImageData(), frames[j]->getImageData());
    }
    frames[0]->release();
    frames[0]->release();
    camera->release();  // frames outlive their camera
    camera = nullptr;
    EXPECT_EQ(StampedId(frames[5]), 6u);
    for (std::size_t i = 1; i < frames.size(); ++i) frames[i]->release();
    auto lib = KZRSIM::Library();
    EXPECT_EQ(lib.framesOut, 0);
    EXPECT_EQ(lib.doubleReleases, 1);
    auto c = KZRSIM::Counters("A");
    EXPECT_EQ(c.framesDelivered, 6);
    EXPECT_EQ(c.framesOut, 0);
}

TEST_F(StreamTest, ChunksInOrderFromCameraOrStep) {
    Start(R"("frameRate": 0, "chunks": [{"hex": "010203"}, {"hex": "04"}],
        "script": [{"chunks": [{"hex": "0909"}]}, {"chunks": []}])");
    ASSERT_EQ(Grab(), FrameOk);
    auto list = frame->getChunkList();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(Bytes(list.front()), (std::vector<uint8_t>{9, 9}));
    ASSERT_EQ(Grab(), FrameOk);
    EXPECT_TRUE(frame->getChunkList().empty());
    ASSERT_EQ(Grab(), FrameOk);
    list = frame->getChunkList();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(Bytes(list.front()), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(Bytes(list.back()), (std::vector<uint8_t>{4}));
}

TEST_F(StreamTest, StopErrorIsReturnedAndTheStreamKeepsRunning) {
    Start(R"("stopError": -5)");
    EXPECT_EQ(camera->stopGrabbing(), -5);
    ASSERT_EQ(Grab(1000), FrameOk);
    EXPECT_EQ(KZRSIM::Counters("A").stopGrabbing, 1);
}

// The library's stream counters: frames completed and failed fetches since the
// last start, no packet counters, and no entry once stopped or for another serial.
TEST_F(StreamTest, StreamStatisticsCountFromTheStartUntilTheStop) {
    StreamStatistics stats;
    Start(R"("frameRate": 0, "script": [{"code": -11}, {}, {"code": -30}])");
    for (int i = 0; i < 4; ++i) Grab(100);
    ASSERT_TRUE(GetStreamStatistics("A", stats));
    EXPECT_EQ(stats.completed, 2u);
    EXPECT_EQ(stats.failures, 2u);
    EXPECT_FALSE(stats.packets);
    EXPECT_FALSE(GetStreamStatistics("B", stats));
    EXPECT_FALSE(GetStreamStatistics(nullptr, stats));
    ASSERT_EQ(camera->startGrabbing(0, -1), 0);
    ASSERT_TRUE(GetStreamStatistics("A", stats));
    EXPECT_EQ(stats.completed + stats.failures, 0u);
    ASSERT_EQ(camera->stopGrabbing(), 0);
    EXPECT_FALSE(GetStreamStatistics("A", stats));
}

// Rows of sim_formats.txt: a camera's pixel format => channels, bits, PFNC value.
class PatternTest : public StreamTest, public ::testing::WithParamInterface<Row> {};

TEST_P(PatternTest, PixelsMatchPatternByteAndShiftPerFrame) {
    int channels = 0, bits = 0;
    uint32_t pfnc = 0;
    std::istringstream(GetParam().expected) >> channels >> bits >> std::hex >> pfnc;
    ASSERT_GT(channels * bits, 0) << GetParam().expected;
    Start(R"("width": 37, "height": 5, "frameRate": 0, "pixelFormat": ")" + GetParam().input +
          "\"");
    std::vector<std::vector<uint8_t>> images;
    for (uint64_t id = 1; id <= 6; ++id) {
        ASSERT_EQ(Grab(), FrameOk);
        EXPECT_EQ(frame->getFrameId(), id);
        EXPECT_EQ(frame->getChannels(), channels);
        EXPECT_EQ(frame->getBitsPerChannel(), bits);
        EXPECT_EQ(frame->getPixelFormat(), pfnc);
        const uint64_t size = 37u * 5u * channels * bits / 8;
        ASSERT_EQ(frame->getImageSize(), size);
        auto* p = static_cast<const uint8_t*>(frame->getImageData());
        int mismatches = 0;
        for (uint64_t i = 0; i < size; ++i) mismatches += p[i] != KZRSIM::PatternByte(desc, id, i);
        EXPECT_EQ(mismatches, 0) << "frame " << id;
        EXPECT_EQ(StampedId(frame), id);
        images.emplace_back(p + 8, p + size);
    }
    // Consecutive frames differ beyond the id; the ring repeats after four.
    EXPECT_NE(images[0], images[1]);
    EXPECT_EQ(images[0], images[4]);
}

INSTANTIATE_TEST_SUITE_P(Formats, PatternTest, ::testing::ValuesIn(Rows("sim_formats.txt")),
                         [](const auto& p) { return p.param.Name(); });
