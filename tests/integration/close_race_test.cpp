// Close on one thread while another thread keeps calling on the same handle.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

#include "PluginLibrary.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kSerial[] = "RACE-0001";

using PluginCloseThreads = PluginTest;

TEST_F(PluginCloseThreads, CloseDuringCallsIsSafeAndLaterCallsAreRefused) {
    KZRSIM::CameraSpec desc;
    desc.serial = kSerial;
    desc.frameRate = 500;
    desc.buildDevice = [](GenApi::CMemoryNodeMap& map) { map.AddInteger("Width", 64, 1, 4096); };
    Use({desc});
    QRVCameraHandle handle = nullptr;
    ASSERT_EQ(api->Open(kSerial, &handle, "", ""), 0);
    ASSERT_EQ(api->StartAcquire(handle, 2, 0), 0);

    // Calls may return at once; a loaded machine can leave Close waiting for a while.
    constexpr int kMaxRounds = 2000000;
    std::atomic<int> rounds{0};
    std::atomic<bool> closed{false};
    std::vector<int> duringClose;
    std::vector<int> afterClose;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);

    std::thread caller([&] {
        QRVImage image;
        for (int i = 0; i < kMaxRounds && Clock::now() < deadline; ++i) {
            // Read the flag first: every call of a round that starts after it is
            // set comes after Close returned.
            const bool after = closed.load();
            int width = 0;
            const int grab = api->GrabImage(handle, &image, 50);
            const int param = api->GetParamInt(handle, "Width", &width, nullptr, nullptr, nullptr);
            std::vector<int>& out = after ? afterClose : duringClose;
            out.push_back(grab);
            out.push_back(param);
            ++rounds;
            if (after) break;
        }
    });
    while (rounds.load() < 20 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(api->Close(handle), 0);
    closed = true;
    caller.join();

    ASSERT_FALSE(afterClose.empty()) << "the caller stopped before Close";
    for (const int result : afterClose) EXPECT_EQ(result, QRV_ERR_CAMERA_NOT_OPEN);
    // While Close runs, a call sees the session either live or gone, or a grab
    // cut short by the stop.
    const std::set<int> allowed = {0, QRV_ERR_CAMERA_NOT_OPEN, QRV_ERR_GRAB_ABORTED,
                                   QRV_ERR_GRAB_TIMEOUT};
    for (const int result : duringClose) EXPECT_EQ(allowed.count(result), 1u) << result;
    EXPECT_FALSE(api->IsOpen(handle));

    const KZRSIM::LibraryCounters lib = KZRSIM::Library();
    EXPECT_EQ(lib.camerasOut, 0);
    EXPECT_EQ(lib.framesOut, 0);
    EXPECT_EQ(lib.doubleReleases, 0);
}

// One thread opens and closes the camera over and over while another keeps
// writing through a handle closed before it started: no write may land on any of
// the sessions opened meanwhile.
TEST_F(PluginCloseThreads, StaleHandleNeverReachesTheSessionsOpenedAfterIt) {
    KZRSIM::CameraSpec desc;
    desc.serial = kSerial;
    desc.buildDevice = [](GenApi::CMemoryNodeMap& map) { map.AddInteger("Width", 64, 1, 4096); };
    Use({desc});
    // The stale handle comes from the cycling thread, whose allocator cache then
    // offers the closed session's memory to the next Open.
    constexpr int kCycles = 2000;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
    std::atomic<QRVCameraHandle> staleHandle{nullptr};
    std::atomic<bool> done{false};
    std::atomic<int> opened{0};
    std::atomic<int> staleCalls{0};
    std::thread cycler([&] {
        QRVCameraHandle first = nullptr;
        if (api->Open(kSerial, &first, "", "") == 0 && api->Close(first) == 0) {
            staleHandle = first;
        }
        while (staleHandle.load() && staleCalls.load() == 0 && Clock::now() < deadline) {
            std::this_thread::yield();
        }
        for (int i = 0; staleHandle.load() && i < kCycles && Clock::now() < deadline; ++i) {
            QRVCameraHandle handle = nullptr;
            if (api->Open(kSerial, &handle, "", "") != 0) break;
            ++opened;
            api->Close(handle);
        }
        done = true;
    });
    while (!staleHandle.load() && !done.load()) std::this_thread::yield();
    const QRVCameraHandle stale = staleHandle.load();
    std::set<int> staleResults;
    for (int i = 0; stale && !done.load() && i < 10 * kCycles; ++i) {
        staleResults.insert(api->SetParamInt(stale, "Width", 8 + i % 8));
        staleResults.insert(api->StartAcquire(stale, 1, 0));
        ++staleCalls;
    }
    cycler.join();

    ASSERT_NE(stale, nullptr);
    EXPECT_GT(opened.load(), 0);
    EXPECT_EQ(staleResults, std::set<int>{QRV_ERR_CAMERA_NOT_OPEN});
    EXPECT_EQ(KZRSIM::DeviceNodeMap(kSerial)->PeekInt("Width"), 64);
    EXPECT_EQ(KZRSIM::Counters(kSerial).startGrabbing, 0);
    EXPECT_EQ(KZRSIM::Library().camerasOut, 0);
}

}  // namespace
