// Several host threads on one handle: fallback names, start, stop, both grabs and
// a final Close. Each answer must be one a single thread could get; under
// ThreadSanitizer the session's shared state must show no race.
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
constexpr int kRounds = 50000;  // per thread; the run normally ends by time first
constexpr auto kRunFor = std::chrono::milliseconds(400);

using PluginHandleThreads = PluginTest;

TEST_F(PluginHandleThreads, FallbackNamesStartStopAndGrabsKeepSingleThreadAnswers) {
    KZRSIM::CameraSpec desc;
    desc.serial = kSerial;
    desc.frameRate = 0;
    desc.buildDevice = [](GenApi::CMemoryNodeMap& map) {
        map.AddInteger("GainRaw", 0, 0, 1 << 30, 1);  // "Gain" resolves here
        map.AddFloat("ExposureTimeAbs", 100, 1, 100000);
        map.AddEnumeration("TriggerMode", {{"Off", 0}, {"On", 1}}, "Off");
        map.AddEnumeration("TriggerSource", {{"Software", 0}, {"Line0", 1}}, "Software");
        map.AddCommand("TriggerSoftware");
    };
    Use({desc});
    QRVCameraHandle handle = nullptr;
    ASSERT_EQ(api->Open(kSerial, &handle, "", ""), 0);

    // All threads start together and run until kRunFor has passed.
    std::atomic<bool> go{false};
    std::atomic<bool> stop{false};
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(20);
    auto running = [&](int i) {
        while (!go.load()) std::this_thread::yield();
        return i < kRounds && !stop.load() && Clock::now() < deadline;
    };
    std::atomic<int> wrong{0};
    std::atomic<int> lastGain{-1};
    auto expect = [&](bool ok) {
        if (!ok) ++wrong;
    };
    const std::set<int> grabResults = {0, QRV_ERR_GRAB_ABORTED, QRV_ERR_ACQUISITION_STOPPED};
    std::vector<std::function<void()>> jobs = {
        [&] {
            for (int i = 0; running(i); ++i) {
                expect(api->GetNodeType(handle, "Gain") == 2);
                expect(api->SetParamInt(handle, "Gain", i) == 0);
                lastGain = i;
            }
        },
        [&] {
            for (int i = 0; running(i); ++i) {
                float value = 0;
                expect(api->GetParamFloat(handle, "ExposureTime", &value, nullptr, nullptr,
                                          nullptr) == 0);
                expect(api->GetNodeType(handle, "ExposureTime") == 3);
            }
        },
        [&] {
            for (int i = 0; running(i); ++i) expect(api->StartAcquire(handle, 4, 0) == 0);
        },
        [&] {
            for (int i = 0; running(i); ++i) expect(api->StopAcquire(handle) == 0);
        },
        [&] {
            QRVImage image;
            for (int i = 0; running(i); ++i) {
                expect(grabResults.count(api->GrabImage(handle, &image, 20)) == 1);
            }
        },
        [&] {
            QRVImage image;
            ZelChunkData chunks;
            for (int i = 0; running(i); ++i) {
                expect(grabResults.count(api->GrabImageEx(handle, &image, &chunks, 20)) == 1);
            }
        },
    };
    std::vector<std::thread> threads;
    for (auto& job : jobs) threads.emplace_back(job);
    go = true;
    std::this_thread::sleep_for(kRunFor);
    stop = true;
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(KZRSIM::DeviceNodeMap(kSerial)->PeekInt("GainRaw"), lastGain.load());

    // Close while start, stop and a grab still run on other threads.
    std::atomic<bool> closed{false};
    std::vector<std::thread> late;
    for (int t = 0; t < 2; ++t) {
        late.emplace_back([&, t] {
            QRVImage image;
            for (int i = 0; i < kRounds && !closed.load() && Clock::now() < deadline; ++i) {
                if (t == 0) {
                    api->StartAcquire(handle, 4, 0);
                    api->StopAcquire(handle);
                } else {
                    api->GrabImage(handle, &image, 20);
                }
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(api->Close(handle), 0);
    closed = true;
    for (auto& thread : late) thread.join();

    const KZRSIM::LibraryCounters lib = KZRSIM::Library();
    EXPECT_EQ(lib.camerasOut, 0);
    EXPECT_EQ(lib.framesOut, 0);
    EXPECT_EQ(lib.doubleReleases, 0);
}

}  // namespace
