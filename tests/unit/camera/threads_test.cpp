// Calls from several threads at once: a waiter in getFrame woken by stop, close
// or a trigger from another thread. Suites start with Threads (label threads).
#include <atomic>
#include <chrono>
#include <future>
#include <sstream>
#include <thread>

#include "SimScenario.h"
#include "TestData.h"

using namespace KZRGENICAM;

namespace {

/// A stop, close or trigger wakes a waiter at once: well inside this bound on a
/// loaded machine or under ThreadSanitizer, far below a polling waiter's second.
constexpr std::chrono::milliseconds kPrompt(500);

// Rows of thread_wakes.txt: what a waiter in getFrame waits on and what wakes it.
class ThreadsWakeTest : public SimTest, public ::testing::WithParamInterface<Row> {};

TEST_P(ThreadsWakeTest, AnotherThreadWakesTheWaiter) {
    std::string name, wake, keys;
    int64_t timeoutMs = 0;
    std::istringstream row(GetParam().input);
    row >> name >> wake >> timeoutMs;
    std::getline(row, keys);
    UseJson(R"({"serial": "A", )" + keys + "}");
    CameraGuard camera(CreateCameraBySN("A"));
    ASSERT_EQ(camera->open(0), 0);
    ASSERT_EQ(camera->startGrabbing(0, -1), 0);
    std::promise<void> entered;
    std::future<int> result = std::async(std::launch::async, [&] {
        entered.set_value();
        IFrame* frame = nullptr;
        int rc = camera->getFrame(&frame, timeoutMs);
        if (frame) frame->release();
        return rc;
    });
    entered.get_future().wait();
    // Give the waiter time to block inside getFrame.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_EQ(result.wait_for(std::chrono::seconds(0)), std::future_status::timeout) << "no wait";
    if (wake == "stop") camera->stopGrabbing();
    if (wake == "close") camera->close();
    if (wake == "trigger") {
        GenApi::CCommandPtr(camera->getDeviceModule()->getNodeMap()->GetNode("TriggerSoftware"))
            ->Execute();
    }
    ASSERT_EQ(result.wait_for(kPrompt), std::future_status::ready);
    EXPECT_EQ(FrameResultName(result.get()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Threads, ThreadsWakeTest, ::testing::ValuesIn(Rows("thread_wakes.txt")),
                         [](const auto& p) { return p.param.Name(); });

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
