// The entry points from several host threads: a stop ends another thread's line
// loop, GrabImageEx triggers and fetches under the frame lock and GrabImage takes
// none, and log lines from several threads stay whole. These suites also run
// under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <mutex>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "KZRSim.h"
#include "QRVAcqGenIcam.h"
#include "log/ErrorLog.h"
#include "plugin/SessionRegistry.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr char kSerial[] = "THREADS-01";

/// A camera in software trigger mode with lines Height lines per frame, opened
/// and streaming; every loop of the test gives up after 10 s.
class ModuleThreads : public ::testing::Test {
protected:
    void Start(const char* selector, int64_t height, std::vector<KZRSIM::FrameStep> script = {}) {
        KZRSIM::CameraSpec desc;
        desc.serial = kSerial;
        desc.frameRate = 0;
        desc.script = std::move(script);
        desc.buildDevice = [selector, height](GenApi::CMemoryNodeMap& map) {
            map.AddEnumeration("TriggerMode", {{"Off", 0}, {"On", 1}}, "On");
            map.AddEnumeration("TriggerSource", {{"Software", 0}, {"Line0", 1}}, "Software");
            map.AddEnumeration("TriggerSelector", {{"FrameStart", 0}, {"LineStart", 1}}, selector);
            map.AddInteger("Height", height, 0, INT64_MAX);
            map.AddCommand("TriggerSoftware");
        };
        KZRSIM::SetScenario(KZRSIM::Scenario{{desc}, {}, {}});
        ASSERT_EQ(Open(kSerial, &m_handle, "", ""), 0);
        ASSERT_EQ(StartAcquire(m_handle, 0, 0), 0);
    }
    void TearDown() override {
        Close(m_handle);
        EXPECT_EQ(KZRSIM::Library().camerasOut, 0);
        EXPECT_EQ(KZRSIM::Library().framesOut, 0);
        KZRSIM::Reset();
    }
    static GenApi::CMemoryNodeMap& Device() { return *KZRSIM::DeviceNodeMap(kSerial); }

    /// Waits (bounded) until pred holds.
    template <class Pred>
    static bool Await(Pred&& pred) {
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
        while (!pred() && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return pred();
    }

    QRVCameraHandle m_handle = nullptr;
};

TEST_F(ModuleThreads, StopEndsTheLineLoopOfEitherGrab) {
    ASSERT_NO_FATAL_FAILURE(Start("LineStart", int64_t{1} << 30));
    std::atomic<int64_t> lines{0};
    const Clock::time_point cutOff = Clock::now() + std::chrono::seconds(10);
    Device().Ref("TriggerSoftware").OnExecute([&lines, cutOff] {
        if ((++lines & 0xFFF) == 0 && Clock::now() > cutOff)
            throw std::runtime_error("not stopped");
    });
    QRVImage image;
    ZelChunkData chunks;
    for (const bool ex : {false, true}) {
        SCOPED_TRACE(ex ? "GrabImageEx" : "GrabImage");
        ASSERT_EQ(StartAcquire(m_handle, 0, 0), 0);
        lines = 0;
        std::future<int> grab = std::async(std::launch::async, [&] {
            return ex ? GrabImageEx(m_handle, &image, &chunks, 1000)
                      : GrabImage(m_handle, &image, 1000);
        });
        EXPECT_TRUE(Await([&] { return lines.load() > 0; })) << "the line loop never started";
        EXPECT_EQ(StopAcquire(m_handle), 0);
        EXPECT_EQ(grab.get(), ex ? QRV_ERR_GRAB_TIMEOUT : QRV_ERR_GRAB_ABORTED);
    }
    EXPECT_EQ(KZRSIM::Counters(kSerial).getFrame, 0);
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_EQ(chunks.getUpdateCount(), 0u);
}

// The second grab may trigger only once the first one's slow fetch has returned;
// a GrabImage meanwhile needs no lock at all.
TEST_F(ModuleThreads, GrabImageExTriggersAndFetchesUnderTheLockGrabImageTakesNone) {
    KZRSIM::FrameStep slow;
    slow.delayMs = 200;
    ASSERT_NO_FATAL_FAILURE(Start("FrameStart", 1, {{}, slow, {}}));
    QRVImage image;
    ASSERT_EQ(GrabImage(m_handle, &image, 1000), 0);  // reads the trigger mode
    std::mutex seenMutex;
    std::vector<int> deliveredAtTrigger;
    Device().Ref("TriggerSoftware").OnExecute([&] {
        const int delivered = KZRSIM::Counters(kSerial).framesDelivered;
        std::lock_guard<std::mutex> lock(seenMutex);
        deliveredAtTrigger.push_back(delivered);
    });
    const auto grabEx = [this] {
        QRVImage own;
        return GrabImageEx(m_handle, &own, nullptr, 1000);
    };
    std::future<int> first = std::async(std::launch::async, grabEx);
    EXPECT_TRUE(Await([] { return Device().ExecuteCount("TriggerSoftware") > 1; }));
    std::future<int> second = std::async(std::launch::async, grabEx);
    EXPECT_EQ(first.get(), 0);
    EXPECT_EQ(second.get(), 0);
    EXPECT_EQ(deliveredAtTrigger, (std::vector<int>{1, 2}));

    qrv::platform::FrameMutex& mutex = qrv::Sessions().Find(m_handle)->FrameMutexForTesting();
    mutex.lock();
    std::future<int> grab =
        std::async(std::launch::async, [&] { return GrabImage(m_handle, &image, 1000); });
    const bool finished = grab.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    mutex.unlock();
    EXPECT_TRUE(finished) << "GrabImage waited for the frame lock";
    EXPECT_EQ(grab.get(), 0);
}

TEST(ErrorLogThreads, LinesFromSeveralThreadsNeverInterleave) {
    const std::string path = ::testing::TempDir() + "error_log_threads.txt";
    {
        CErrorLog log(path.c_str(), true);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&log, t] {
                for (int i = 0; i < 200; ++i)
                    log << LogBegin << "thread " << t << " line " << i << LogEnd;
            });
        }
        for (std::thread& thread : threads) thread.join();
    }
    std::ifstream in(path);
    int count = 0;
    const std::regex pattern(R"(\[[-0-9: ]+\] thread [0-9] line [0-9]+)");
    for (std::string line; std::getline(in, line); ++count)
        EXPECT_TRUE(std::regex_match(line, pattern)) << line;
    EXPECT_EQ(count, 800);
    std::remove(path.c_str());
}

}  // namespace
