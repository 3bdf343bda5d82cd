#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "MemoryNodeMap.h"

using namespace GenApi;

TEST(FaultInjection, AlwaysFaultRaisesBeforeTheOperationActs) {
    CMemoryNodeMap map;
    map.AddInteger("Width", 8, 0, 100).InjectFault({EFaultOp::SetValue, EFaultKind::GenICam, 0});
    CIntegerPtr width(map.GetNode("Width"));
    for (int i = 0; i < 3; ++i) EXPECT_THROW(width->SetValue(16), GenICam::RuntimeException);
    EXPECT_EQ(width->GetValue(), 8) << "a faulted write must not change the value";
    // The fault fires even where the operation itself would have failed otherwise.
    map.Ref("Width").Access(RO);
    EXPECT_THROW(width->SetValue(16), GenICam::RuntimeException);
    EXPECT_EQ(map.CallCount("Width", EFaultOp::SetValue), 4);
    EXPECT_EQ(map.CallCount("Width", EFaultOp::GetValue), 1);
}

TEST(FaultInjection, NthFaultRaisesOnlyOnThatCall) {
    CMemoryNodeMap map;
    map.AddFloat("Gain", 1.0, 0.0, 10.0).InjectFault({EFaultOp::GetValue, EFaultKind::Std, 2});
    CFloatPtr gain(map.GetNode("Gain"));
    EXPECT_NO_THROW(gain->GetValue());
    try {
        gain->GetValue();
        ADD_FAILURE() << "second read did not fault";
    } catch (const GenICam::GenericException&) {
        ADD_FAILURE() << "a Std fault must not be a GenICam exception";
    } catch (const std::runtime_error&) {
    }
    EXPECT_NO_THROW(gain->GetValue());
    EXPECT_NO_THROW(gain->SetValue(2.0)) << "other operations are not counted by the fault";
    EXPECT_EQ(map.CallCount("Gain", EFaultOp::GetValue), 3);
}

TEST(FaultInjection, AnyMatchesEveryValueOperationButNotTheAccessQuery) {
    CMemoryNodeMap map;
    map.AddEnumeration("Mode", {{"A", 0}, {"B", 1}}, "A")
        .InjectFault({EFaultOp::Any, EFaultKind::GenICam, 3});
    CEnumerationPtr mode(map.GetNode("Mode"));
    EXPECT_TRUE(IsWritable(mode));
    gcstring_vector symbolics;
    EXPECT_NO_THROW(mode->GetSymbolics(symbolics));
    EXPECT_NO_THROW(mode->ToString());
    EXPECT_THROW(mode->FromString("B"), GenICam::RuntimeException);
    EXPECT_EQ(mode->GetIntValue(), 0);
    EXPECT_EQ(map.CallCount("Mode", EFaultOp::Any), 4);
    EXPECT_EQ(map.CallCount("Mode", EFaultOp::GetAccessMode), 1);
}

TEST(FaultInjection, CommandFaultsAndPeekBypass) {
    CMemoryNodeMap map;
    map.AddCommand("Start").InjectFault({EFaultOp::Execute, EFaultKind::GenICam, 1});
    map.AddInteger("Width", 8, 0, 100).InjectFault({EFaultOp::Any, EFaultKind::Std, 0});
    CCommandPtr start(map.GetNode("Start"));
    EXPECT_THROW(start->Execute(), GenICam::RuntimeException);
    start->Execute();
    EXPECT_EQ(map.ExecuteCount("Start"), 1);
    EXPECT_EQ(map.CallCount("Start", EFaultOp::Execute), 2);
    map.PokeInt("Width", 9);
    EXPECT_EQ(map.PeekInt("Width"), 9);
    EXPECT_THROW(CIntegerPtr(map.GetNode("Width"))->GetMin(), std::runtime_error);
}

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
