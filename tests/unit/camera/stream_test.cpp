// Acquisition: getFrame result codes, scripts, pacing, frame layout, the test
// pattern and frame accounting.
#include <chrono>
#include <cstring>
#include <vector>

#include "SimScenario.h"

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

}  // namespace

class StreamTest : public SimTest {
protected:
    ICamera* Start(KZRSIM::CameraSpec desc, int maxFrames = -1) {
        Use({desc});
        camera = CreateCameraBySN(desc.serial.c_str());
        EXPECT_EQ(camera->open(0), 0);
        EXPECT_EQ(camera->startGrabbing(0, maxFrames), 0);
        return camera;
    }
    void TearDown() override {
        if (camera) camera->release();
        SimTest::TearDown();
    }
    ICamera* camera = nullptr;
};

TEST_F(StreamTest, NotRunningUntilStartedAfterStopAndAfterAFailedStart) {
    auto failing = Cam("F");
    failing.startError = 5;
    Use({Cam("A"), failing});
    camera = CreateCameraBySN("A");
    IFrame* frame = nullptr;
    auto t0 = Clock::now();
    EXPECT_EQ(camera->getFrame(&frame, 5000), FrameNotRunning);
    ASSERT_EQ(camera->startGrabbing(3, -1), 0);
    ASSERT_EQ(camera->stopGrabbing(), 0);
    EXPECT_EQ(camera->getFrame(&frame, 5000), FrameNotRunning);
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
    auto desc = Cam("A");
    desc.frameRate = 0.5;  // the first frame is due after 2 s
    Start(desc);
    IFrame* frame = nullptr;
    auto t0 = Clock::now();
    EXPECT_EQ(camera->getFrame(&frame, 50), FrameTimeout);
    // Near its time-out: not early, and not a coarse or scaled wait either.
    EXPECT_GE(MsSince(t0), 45);
    EXPECT_LT(MsSince(t0), 450);
    EXPECT_EQ(camera->getFrame(&frame, 0), FrameTimeout);
}

TEST_F(StreamTest, FreeRunIsPacedByFrameRate) {
    auto desc = Cam("A");
    desc.frameRate = 100.0;
    Start(desc);
    auto t0 = Clock::now();
    for (int i = 0; i < 10; ++i) {
        IFrame* frame = nullptr;
        ASSERT_EQ(camera->getFrame(&frame, 5000), FrameOk);
        frame->release();
    }
    // Ten frames at 100/s cannot arrive before 100 ms; the upper bound is loose.
    EXPECT_GE(MsSince(t0), 95);
    EXPECT_LT(MsSince(t0), 5000);
}

TEST_F(StreamTest, ScriptStepsComeFirstInOrder) {
    auto desc = Cam("A");
    desc.frameRate = 0;
    KZRSIM::FrameStep timeout;
    timeout.code = FrameTimeout;
    KZRSIM::FrameStep slow;
    slow.delayMs = 60;
    slow.valid = false;
    slow.width = 10;
    slow.height = 4;
    slow.channels = 3;
    KZRSIM::FrameStep lost;
    lost.code = FrameDeviceLost;
    KZRSIM::FrameStep raising;
    raising.fault = "std";
    desc.script = {timeout, slow, lost, raising};
    Start(desc);

    IFrame* frame = nullptr;
    EXPECT_EQ(camera->getFrame(&frame, 1000), FrameTimeout);
    auto t0 = Clock::now();
    ASSERT_EQ(camera->getFrame(&frame, 1000), FrameOk);
    EXPECT_GE(MsSince(t0), 55);
    EXPECT_FALSE(frame->isValid());
    EXPECT_EQ(frame->getWidth(), 10);
    EXPECT_EQ(frame->getHeight(), 4);
    EXPECT_EQ(frame->getChannels(), 3);
    EXPECT_EQ(frame->getImageSize(), 120u);
    EXPECT_EQ(frame->getPixelFormat(), 0x02180014u);
    frame->release();
    frame = nullptr;
    EXPECT_EQ(camera->getFrame(&frame, 1000), FrameDeviceLost);
    EXPECT_THROW(camera->getFrame(&frame, 1000), std::runtime_error);
    // Script used up: the camera's own behaviour again.
    ASSERT_EQ(camera->getFrame(&frame, 1000), FrameOk);
    EXPECT_TRUE(frame->isValid());
    EXPECT_EQ(frame->getWidth(), 64);
    EXPECT_EQ(frame->getFrameId(), 2u);
    frame->release();
}

// Each start restarts the frame ids and the frame budget.
TEST_F(StreamTest, MaxFramesStopsTheStreamAndIdsRestartWithEachStart) {
    auto desc = Cam("A");
    desc.frameRate = 0;
    Start(desc, 2);
    IFrame* frame = nullptr;
    ASSERT_EQ(camera->getFrame(&frame, 100), FrameOk);
    frame->release();
    ASSERT_EQ(camera->startGrabbing(0, 2), 0);
    for (uint64_t id = 1; id <= 2; ++id) {
        frame = nullptr;
        ASSERT_EQ(camera->getFrame(&frame, 100), FrameOk);
        EXPECT_EQ(frame->getFrameId(), id);
        frame->release();
    }
    EXPECT_EQ(camera->getFrame(&frame, 100), FrameNotRunning);
}

TEST_F(StreamTest, FramesOutAndDoubleReleaseAccounting) {
    auto desc = Cam("A");
    desc.frameRate = 0;
    Start(desc);
    std::vector<IFrame*> frames(6, nullptr);
    for (auto& f : frames) ASSERT_EQ(camera->getFrame(&f, 0), FrameOk);
    EXPECT_EQ(KZRSIM::Library().framesOut, 6);
    EXPECT_EQ(KZRSIM::Counters("A").framesOut, 6);
    // Six frames out at once with a ring of four: no two may share a buffer.
    for (std::size_t i = 0; i < frames.size(); ++i)
        for (std::size_t j = i + 1; j < frames.size(); ++j)
            EXPECT_NE(frames[i]->getImageData(), frames[j]->getImageData());
    for (std::size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(StampedId(frames[i]), i + 1);
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
    auto desc = Cam("A");
    desc.frameRate = 0;
    desc.chunks = {{1, 2, 3}, {4}};
    KZRSIM::FrameStep step;
    step.hasChunks = true;
    step.chunks = {{9, 9}};
    KZRSIM::FrameStep none;
    none.hasChunks = true;
    desc.script = {step, none};
    Start(desc);

    auto bytes = [](IChunk* c) {
        auto* p = static_cast<const uint8_t*>(c->getData());
        return std::vector<uint8_t>(p, p + c->getSize());
    };
    IFrame* frame = nullptr;
    ASSERT_EQ(camera->getFrame(&frame, 0), FrameOk);
    auto list = frame->getChunkList();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(bytes(list.front()), (std::vector<uint8_t>{9, 9}));
    frame->release();
    frame = nullptr;
    ASSERT_EQ(camera->getFrame(&frame, 0), FrameOk);
    EXPECT_TRUE(frame->getChunkList().empty());
    frame->release();
    frame = nullptr;
    ASSERT_EQ(camera->getFrame(&frame, 0), FrameOk);
    list = frame->getChunkList();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(bytes(list.front()), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(bytes(list.back()), (std::vector<uint8_t>{4}));
    frame->release();
}

struct FormatCase {
    const char* name;
    int channels;
    int bits;
    uint32_t pfnc;
};

void PrintTo(const FormatCase& c, std::ostream* os) {
    *os << c.name;
}

class PatternTest : public StreamTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(PatternTest, PixelsMatchPatternByteAndShiftPerFrame) {
    const FormatCase& fc = GetParam();
    auto desc = Cam("P");
    desc.pixelFormat = fc.name;
    desc.width = 37;
    desc.height = 5;
    desc.frameRate = 0;
    Start(desc);
    std::vector<std::vector<uint8_t>> images;
    for (uint64_t id = 1; id <= 6; ++id) {
        IFrame* frame = nullptr;
        ASSERT_EQ(camera->getFrame(&frame, 0), FrameOk);
        EXPECT_EQ(frame->getFrameId(), id);
        EXPECT_EQ(frame->getChannels(), fc.channels);
        EXPECT_EQ(frame->getBitsPerChannel(), fc.bits);
        EXPECT_EQ(frame->getPixelFormat(), fc.pfnc);
        const uint64_t size = 37u * 5u * fc.channels * fc.bits / 8;
        ASSERT_EQ(frame->getImageSize(), size);
        auto* p = static_cast<const uint8_t*>(frame->getImageData());
        int mismatches = 0;
        for (uint64_t i = 0; i < size; ++i) mismatches += p[i] != KZRSIM::PatternByte(desc, id, i);
        EXPECT_EQ(mismatches, 0) << "frame " << id;
        EXPECT_EQ(StampedId(frame), id);
        images.emplace_back(p + 8, p + size);
        frame->release();
    }
    // Consecutive frames differ beyond the id; the ring repeats after four.
    EXPECT_NE(images[0], images[1]);
    EXPECT_EQ(images[0], images[4]);
}

INSTANTIATE_TEST_SUITE_P(Formats, PatternTest,
                         ::testing::Values(FormatCase{"Mono8", 1, 8, 0x01080001u},
                                           FormatCase{"Mono16", 1, 16, 0x01100007u},
                                           FormatCase{"RGB8", 3, 8, 0x02180014u},
                                           FormatCase{"BayerRG8", 1, 8, 0x01080009u},
                                           FormatCase{"BayerGB8", 1, 8, 0x0108000Au},
                                           FormatCase{"BayerGR8", 1, 8, 0x01080008u},
                                           FormatCase{"BayerBG8", 1, 8, 0x0108000Bu}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(StreamTest, StopErrorIsReturnedAndTheStreamKeepsRunning) {
    auto desc = Cam("A");
    desc.stopError = -5;
    Start(desc);
    EXPECT_EQ(camera->stopGrabbing(), -5);
    IFrame* frame = nullptr;
    ASSERT_EQ(camera->getFrame(&frame, 1000), FrameOk);
    frame->release();
    EXPECT_EQ(KZRSIM::Counters("A").stopGrabbing, 1);
}
