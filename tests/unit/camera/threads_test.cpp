// Calls from several threads at once: a waiter in getFrame woken by stop, close
// or a trigger from another thread. Suites start with Threads (label threads).
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "SimScenario.h"

using namespace KZRGENICAM;
using Clock = std::chrono::steady_clock;

namespace {

/// A stop, close or trigger wakes a waiter at once: well inside this bound on a
/// loaded machine or under ThreadSanitizer, far below a polling waiter's second.
constexpr std::chrono::milliseconds kPrompt(500);

struct Waiter {
    std::future<int> result;
    Clock::time_point started;
};

Waiter WaitForFrame(ICamera* camera, int64_t timeoutMs) {
    Waiter w;
    auto entered = std::make_shared<std::promise<void>>();
    auto enteredFuture = entered->get_future();
    w.result = std::async(std::launch::async, [camera, timeoutMs, entered] {
        entered->set_value();
        IFrame* frame = nullptr;
        int rc = camera->getFrame(&frame, timeoutMs);
        if (frame) frame->release();
        return rc;
    });
    enteredFuture.wait();
    w.started = Clock::now();
    // Give the waiter time to block inside getFrame.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    return w;
}

}  // namespace

class ThreadsStreamTest : public SimTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ThreadsStreamTest, StopOrCloseWakesAnUnlimitedWaiter) {
    const bool useClose = GetParam();
    auto desc = Cam("A");
    desc.frameRate = 0.01;  // nothing due for 100 s
    Use({desc});
    CameraGuard camera(CreateCameraBySN("A"));
    ASSERT_EQ(camera->open(0), 0);
    ASSERT_EQ(camera->startGrabbing(0, -1), 0);
    Waiter w = WaitForFrame(camera.camera, -1);
    if (useClose)
        camera->close();
    else
        camera->stopGrabbing();
    ASSERT_EQ(w.result.wait_for(kPrompt), std::future_status::ready);
    EXPECT_EQ(w.result.get(), FrameNotRunning);
}

INSTANTIATE_TEST_SUITE_P(ThreadsStopOrClose, ThreadsStreamTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return std::string(param.param ? "Close" : "StopGrabbing");
                         });

class ThreadsScriptTest : public SimTest {};

TEST_F(ThreadsScriptTest, StopCutsAScriptDelayShort) {
    auto desc = Cam("A");
    KZRSIM::FrameStep step;
    step.delayMs = 20000;
    desc.script = {step};
    Use({desc});
    CameraGuard camera(CreateCameraBySN("A"));
    ASSERT_EQ(camera->startGrabbing(0, -1), 0);
    Waiter w = WaitForFrame(camera.camera, 1000);
    camera->stopGrabbing();
    ASSERT_EQ(w.result.wait_for(kPrompt), std::future_status::ready);
    EXPECT_EQ(w.result.get(), FrameNotRunning);
}

TEST_F(ThreadsScriptTest, TriggerFromAnotherThreadWakesTheWaiter) {
    auto desc = Cam("T");
    desc.frameRate = 0;
    desc.buildDevice = [](GenApi::CMemoryNodeMap& m) {
        m.AddEnumeration("TriggerMode", {{"Off", 0}, {"On", 1}}, "On");
        m.AddEnumeration("TriggerSource", {{"Software", 0}}, "Software");
        m.AddCommand("TriggerSoftware");
    };
    Use({desc});
    CameraGuard camera(CreateCameraBySN("T"));
    ASSERT_EQ(camera->startGrabbing(0, -1), 0);
    Waiter w = WaitForFrame(camera.camera, 10000);
    GenApi::CCommandPtr cmd = camera->getDeviceModule()->getNodeMap()->GetNode("TriggerSoftware");
    cmd->Execute();
    ASSERT_EQ(w.result.wait_for(kPrompt), std::future_status::ready);
    EXPECT_EQ(w.result.get(), FrameOk);
}

TEST_F(ThreadsScriptTest, ConcurrentGrabAndReleaseKeepCountsExact) {
    auto desc = Cam("A");
    desc.frameRate = 0;
    Use({desc});
    CameraGuard camera(CreateCameraBySN("A"));
    ASSERT_EQ(camera->startGrabbing(0, -1), 0);
    constexpr int kPerThread = 200;
    std::atomic<int> ok{0};
    auto work = [&] {
        for (int i = 0; i < kPerThread; ++i) {
            IFrame* frame = nullptr;
            if (camera->getFrame(&frame, 1000) == FrameOk) {
                ++ok;
                frame->release();
            }
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(ok.load(), 2 * kPerThread);
    EXPECT_EQ(KZRSIM::Counters("A").framesDelivered, 2 * kPerThread);
    EXPECT_EQ(KZRSIM::Library().framesOut, 0);
}
