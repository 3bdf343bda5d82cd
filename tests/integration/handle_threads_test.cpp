// Several host threads on one handle: every answer must be one a single thread
// could get, a Close while calls run is safe, and under ThreadSanitizer the
// session's and the registry's shared state show no race. Every loop is bounded
// in rounds and time.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <thread>
#include <vector>

#include "PluginLibrary.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr char kSerial[] = "THREADS-0001";
constexpr int kRounds = 50000;

/// Runs each job on its own thread until stop() or kRounds or 20 s.
void RunTogether(const std::vector<std::function<void(int)>>& jobs,
                 const std::function<bool()>& stop) {
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(20);
    std::vector<std::thread> threads;
    for (const auto& job : jobs) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds && !stop() && Clock::now() < deadline; ++i) job(i);
        });
    }
    for (std::thread& thread : threads) thread.join();
}

using PluginHandleThreads = PluginTest;

TEST_F(PluginHandleThreads, FallbackNamesStartStopGrabsAndCloseKeepSingleThreadAnswers) {
    Use(kSerial, [](GenApi::CMemoryNodeMap& map) {
        map.AddInteger("GainRaw", 0, 0, 1 << 30, 1);  // "Gain" resolves here
        map.AddFloat("ExposureTimeAbs", 100, 1, 100000);
        map.AddEnumeration("TriggerMode", {{"Off", 0}, {"On", 1}}, "Off");
        map.AddEnumeration("TriggerSource", {{"Software", 0}, {"Line0", 1}}, "Software");
        map.AddCommand("TriggerSoftware");
    });
    QRVCameraHandle h = nullptr;
    ASSERT_EQ(api->Open(kSerial, &h, "", ""), 0);
    std::atomic<int> wrong{0}, lastGain{-1};
    const auto expect = [&wrong](bool ok) { wrong += ok ? 0 : 1; };
    const std::set<int> grabbed = {0, QRV_ERR_GRAB_ABORTED, QRV_ERR_ACQUISITION_STOPPED};
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(400);
    QRVImage images[2];
    ZelChunkData chunks;
    RunTogether(
        {[&](int i) {
             expect(api->GetNodeType(h, "Gain") == 2 && api->SetParamInt(h, "Gain", i) == 0);
             lastGain = i;
         },
         [&](int) {
             float value = 0;
             expect(api->GetParamFloat(h, "ExposureTime", &value, nullptr, nullptr, nullptr) == 0);
             expect(api->GetNodeType(h, "ExposureTime") == 3);
         },
         [&](int) { expect(api->StartAcquire(h, 4, 0) == 0); },
         [&](int) { expect(api->StopAcquire(h) == 0); },
         [&](int) { expect(grabbed.count(api->GrabImage(h, &images[0], 20)) == 1); },
         [&](int) { expect(grabbed.count(api->GrabImageEx(h, &images[1], &chunks, 20)) == 1); }},
        [&] { return Clock::now() > end; });
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(KZRSIM::DeviceNodeMap(kSerial)->PeekInt("GainRaw"), lastGain.load());

    // Close while start, stop and a grab still run on other threads.
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(api->Close(h), 0);
        closed = true;
    });
    RunTogether({[&](int) {
                     api->StartAcquire(h, 4, 0);
                     api->StopAcquire(h);
                 },
                 [&](int) { api->GrabImage(h, &images[0], 20); }},
                [&] { return closed.load(); });
    closer.join();
    ExpectAllBack();
}

using PluginCloseThreads = PluginTest;

// Calls that start after Close returned are refused; while it runs a call sees
// the session live or gone, or a grab cut short by the stop.
TEST_F(PluginCloseThreads, CloseDuringCallsIsSafeAndLaterCallsAreRefused) {
    Use(
        kSerial, [](GenApi::CMemoryNodeMap& map) { map.AddInteger("Width", 64, 1, 4096); }, 500);
    QRVCameraHandle h = nullptr;
    ASSERT_EQ(api->Open(kSerial, &h, "", ""), 0);
    ASSERT_EQ(api->StartAcquire(h, 2, 0), 0);
    std::atomic<int> rounds{0};
    std::atomic<bool> closed{false}, after{false};
    std::vector<int> during, late;
    std::thread closer([&] {
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
        while (rounds.load() < 20 && Clock::now() < deadline) std::this_thread::yield();
        EXPECT_EQ(api->Close(h), 0);
        closed = true;
    });
    QRVImage image;
    RunTogether({[&](int) {
                    const bool afterClose = closed.load();  // read first: the calls come later
                    int width = 0;
                    std::vector<int>& out = afterClose ? late : during;
                    out.push_back(api->GrabImage(h, &image, 50));
                    out.push_back(api->GetParamInt(h, "Width", &width, nullptr, nullptr, nullptr));
                    ++rounds;
                    after = afterClose;
                }},
                [&] { return after.load(); });
    closer.join();
    ASSERT_FALSE(late.empty()) << "the caller stopped before Close";
    for (const int result : late) EXPECT_EQ(result, QRV_ERR_CAMERA_NOT_OPEN);
    const std::set<int> allowed = {0, QRV_ERR_CAMERA_NOT_OPEN, QRV_ERR_GRAB_ABORTED,
                                   QRV_ERR_GRAB_TIMEOUT};
    for (const int result : during) EXPECT_EQ(allowed.count(result), 1u) << result;
    ExpectAllBack();
}

// One thread opens and closes over and over while another writes through a
// handle closed before: its allocator cache offers the closed session's memory to
// the next Open, yet no write may land on any of the sessions opened meanwhile.
TEST_F(PluginCloseThreads, StaleHandleNeverReachesTheSessionsOpenedAfterIt) {
    Use(kSerial, [](GenApi::CMemoryNodeMap& map) { map.AddInteger("Width", 64, 1, 4096); });
    std::atomic<QRVCameraHandle> stale{nullptr};
    std::atomic<int> opened{0}, staleCalls{0};
    std::set<int> results;
    RunTogether({[&](int i) {
                     QRVCameraHandle handle = nullptr;
                     if (api->Open(kSerial, &handle, "", "") != 0) return;
                     if (i == 0) {
                         api->Close(handle);
                         stale = handle;
                         const Clock::time_point until = Clock::now() + std::chrono::seconds(10);
                         while (staleCalls.load() == 0 && Clock::now() < until) {
                             std::this_thread::yield();
                         }
                         return;
                     }
                     ++opened;
                     api->Close(handle);
                 },
                 [&](int) {
                     const QRVCameraHandle h = stale.load();
                     if (!h) return std::this_thread::sleep_for(std::chrono::milliseconds(1));
                     results.insert(api->SetParamInt(h, "Width", 8));
                     results.insert(api->StartAcquire(h, 1, 0));
                     ++staleCalls;
                 }},
                [&] { return opened.load() >= 2000; });
    EXPECT_GT(opened.load(), 0);
    EXPECT_EQ(results, std::set<int>{QRV_ERR_CAMERA_NOT_OPEN});
    EXPECT_EQ(KZRSIM::DeviceNodeMap(kSerial)->PeekInt("Width"), 64);
    EXPECT_EQ(KZRSIM::Counters(kSerial).startGrabbing, 0);
    ExpectAllBack();
}

}  // namespace
