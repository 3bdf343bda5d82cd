#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "MemoryNodeMap.h"

using namespace GenApi;

TEST(Observers, CalledAfterSuccessOnlyAndMayUseTheMap) {
    CMemoryNodeMap map;
    map.AddInteger("Width", 8, 0, 100);
    map.AddInteger("Seen", 0, 0, 100);
    map.AddCommand("Start");
    int writes = 0;
    int executes = 0;
    map.Ref("Width").OnWrite([&] {
        ++writes;
        // Reading and writing other nodes from inside the observer must not deadlock.
        CIntegerPtr(map.GetNode("Seen"))->SetValue(CIntegerPtr(map.GetNode("Width"))->GetValue());
    });
    map.Ref("Start").OnExecute([&] {
        ++executes;
        EXPECT_EQ(map.ExecuteCount("Start"), executes) << "counted before the observer runs";
    });
    CIntegerPtr width(map.GetNode("Width"));
    width->SetValue(42);
    EXPECT_EQ(map.PeekInt("Seen"), 42);
    width->FromString("43");
    EXPECT_EQ(map.PeekInt("Seen"), 43);
    EXPECT_THROW(width->SetValue(1000), GenICam::OutOfRangeException);
    map.PokeInt("Width", 7);
    EXPECT_EQ(writes, 2);
    CCommandPtr(map.GetNode("Start"))->Execute();
    EXPECT_EQ(executes, 1);
}

TEST(Observers, ObserverRunsWithTheLockReleased) {
    // Another thread must get into the map while the observer runs. Were the lock
    // still held, it would block until the observer returns; the bounded wait turns
    // that into a failure instead of a hang.
    CMemoryNodeMap map;
    map.AddBoolean("Armed", false);
    map.AddInteger("Other", 0, 0, 10);
    std::atomic<bool> otherThreadGotIn{false};
    bool sawItInside = false;
    std::thread other;
    map.Ref("Armed").OnWrite([&] {
        other = std::thread([&] {
            CIntegerPtr(map.GetNode("Other"))->SetValue(5);
            otherThreadGotIn = true;
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!otherThreadGotIn && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        sawItInside = otherThreadGotIn;
    });
    CBooleanPtr(map.GetNode("Armed"))->SetValue(true);
    other.join();
    EXPECT_TRUE(sawItInside);
    EXPECT_EQ(map.PeekInt("Other"), 5);
}
