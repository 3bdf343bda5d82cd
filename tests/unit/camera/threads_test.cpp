// Calls from several threads at once: a waiter in getFrame woken by stop, close
// or a trigger from another thread. Suites start with Threads (label threads).
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "SimScenario.h"

using namespace KZRGENICAM;

namespace {

/// A stop, close or trigger wakes a waiter at once: well inside this bound on a
/// loaded machine or under ThreadSanitizer, far below a polling waiter's second.
constexpr std::chrono::milliseconds kPrompt(500);

struct WakeCase {
    const char* name;
    const char* waitsFor;  ///< "rate" (nothing due for 100 s), "script" (a 20 s step), "trigger"
    const char* wake;      ///< "stop", "close" or "trigger"
    int64_t timeoutMs;
    int expected;
};

void PrintTo(const WakeCase& c, std::ostream* os) {
    *os << c.name;
}

class ThreadsWakeTest : public SimTest, public ::testing::WithParamInterface<WakeCase> {};

TEST_P(ThreadsWakeTest, AnotherThreadWakesTheWaiter) {
    const WakeCase& c = GetParam();
    const std::string waitsFor = c.waitsFor, wake = c.wake;
    auto desc = Cam("A");
    desc.frameRate = waitsFor == "rate" ? 0.01 : 0;
    if (waitsFor == "script") {
        desc.script.resize(1);
        desc.script[0].delayMs = 20000;
    }
    if (waitsFor == "trigger") {
        desc.buildDevice = [](GenApi::CMemoryNodeMap& m) {
            m.AddEnumeration("TriggerMode", {{"Off", 0}, {"On", 1}}, "On");
            m.AddEnumeration("TriggerSource", {{"Software", 0}}, "Software");
            m.AddCommand("TriggerSoftware");
        };
    }
    Use({desc});
    CameraGuard camera(CreateCameraBySN("A"));
    ASSERT_EQ(camera->open(0), 0);
    ASSERT_EQ(camera->startGrabbing(0, -1), 0);
    std::promise<void> entered;
    std::future<int> result = std::async(std::launch::async, [&] {
        entered.set_value();
        IFrame* frame = nullptr;
        int rc = camera->getFrame(&frame, c.timeoutMs);
        if (frame) frame->release();
        return rc;
    });
    entered.get_future().wait();
    // Give the waiter time to block inside getFrame.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    if (wake == "stop") camera->stopGrabbing();
    if (wake == "close") camera->close();
    if (wake == "trigger") {
        GenApi::CCommandPtr(camera->getDeviceModule()->getNodeMap()->GetNode("TriggerSoftware"))
            ->Execute();
    }
    ASSERT_EQ(result.wait_for(kPrompt), std::future_status::ready);
    EXPECT_EQ(result.get(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Threads, ThreadsWakeTest,
    ::testing::Values(WakeCase{"StopUnlimited", "rate", "stop", -1, FrameNotRunning},
                      WakeCase{"CloseUnlimited", "rate", "close", -1, FrameNotRunning},
                      WakeCase{"StopCutsAScriptDelay", "script", "stop", 1000, FrameNotRunning},
                      WakeCase{"Trigger", "trigger", "trigger", 10000, FrameOk}),
    [](const auto& p) { return std::string(p.param.name); });

class ThreadsGrabTest : public SimTest {};

TEST_F(ThreadsGrabTest, ConcurrentGrabAndReleaseKeepCountsExact) {
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

}  // namespace
