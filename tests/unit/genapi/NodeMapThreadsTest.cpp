#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "MemoryNodeMap.h"

using namespace GenApi;

// Suites named Threads* carry the "threads" label for ThreadSanitizer runs.

TEST(ThreadsNodeMap, ConcurrentReadersAndWritersSeeConsistentValues) {
    CMemoryNodeMap map;
    map.AddInteger("Width", 0, 0, 1 << 20, 2);
    map.AddString("Name", "a", 64);
    map.AddEnumeration("Mode", {{"A", 0}, {"B", 1}}, "A");
    std::atomic<int> observed{0};
    map.Ref("Width").OnWrite([&] { observed.fetch_add(1, std::memory_order_relaxed); });
    constexpr int kRounds = 2000;
    std::atomic<bool> badRead{false};

    CIntegerPtr width(map.GetNode("Width"));
    CStringPtr name(map.GetNode("Name"));
    CEnumerationPtr mode(map.GetNode("Mode"));
    std::thread writer([&] {
        for (int i = 1; i <= kRounds; ++i) {
            width->SetValue(2 * i);
            name->SetValue(i % 2 ? "odd" : "even");
            mode->SetIntValue(i % 2);
        }
    });
    // This thread reads meanwhile.
    for (int i = 0; i < kRounds; ++i) {
        const int64_t w = width->GetValue();
        const gcstring n = name->GetValue();
        const gcstring m = mode->ToString();
        if (w % 2 != 0 || !(n == "a" || n == "odd" || n == "even") || !(m == "A" || m == "B")) {
            badRead = true;
        }
        map.AddBoolean("Scratch", i % 2 == 0);  // rebuilding the map while others read
    }
    writer.join();
    EXPECT_FALSE(badRead.load());
    EXPECT_EQ(map.PeekInt("Width"), 2 * kRounds);
    EXPECT_EQ(observed.load(), kRounds);
    EXPECT_EQ(map.CallCount("Width", EFaultOp::SetValue), kRounds);
}

TEST(ThreadsNodeMap, ObserverMayCallBackWhileAnotherThreadWrites) {
    CMemoryNodeMap map;
    map.AddCommand("Trigger");
    map.AddInteger("Frames", 0, 0, 1 << 30);
    map.Ref("Trigger").OnExecute([&] {
        CIntegerPtr frames(map.GetNode("Frames"));
        frames->SetValue(frames->GetValue() + 1);
    });
    constexpr int kPerThread = 500;
    auto run = [&] {
        CCommandPtr trigger(map.GetNode("Trigger"));
        for (int i = 0; i < kPerThread; ++i) trigger->Execute();
    };
    std::thread a(run);
    std::thread b(run);
    a.join();
    b.join();
    EXPECT_EQ(map.ExecuteCount("Trigger"), 2 * kPerThread);
    // The observer's read-then-write is not atomic across threads, so only bound it.
    EXPECT_GT(map.PeekInt("Frames"), 0);
    EXPECT_LE(map.PeekInt("Frames"), 2 * kPerThread);
}
