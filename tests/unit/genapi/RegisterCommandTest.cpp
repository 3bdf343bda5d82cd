#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "MemoryNodeMap.h"

using namespace GenApi;
using GenICam::AccessException;
using GenICam::InvalidArgumentException;
using GenICam::OutOfRangeException;

TEST(RegisterNode, FixedLengthAndBufferChecks) {
    CMemoryNodeMap map;
    map.AddRegister("Lut", 3, {1, 2, 3, 4}, 0x100);
    CRegisterPtr reg(map.GetNode("Lut"));
    EXPECT_EQ(reg->GetLength(), 3);
    EXPECT_EQ(reg->GetAddress(), 0x100);
    std::vector<uint8_t> bytes(3);
    reg->Get(bytes.data(), 3);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 2, 3})) << "initial bytes are cut to the length";

    EXPECT_THROW(reg->Get(bytes.data(), 2), InvalidArgumentException);
    EXPECT_THROW(reg->Set(bytes.data(), 4), InvalidArgumentException);
    EXPECT_THROW(reg->Get(nullptr, 3), InvalidArgumentException);
    EXPECT_THROW(reg->Set(nullptr, 3), InvalidArgumentException);

    const uint8_t next[3] = {9, 8, 7};
    reg->Set(next, 3);
    EXPECT_EQ(reg->ToString(), "0x090807");
    reg->FromString("0x0a0B0c");
    reg->Get(bytes.data(), 3);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{10, 11, 12}));
    EXPECT_THROW(reg->FromString("0x0a0b"), InvalidArgumentException);

    map.Ref("Lut").Access(RO);
    EXPECT_THROW(reg->Set(next, 3), AccessException);
    map.Ref("Lut").Access(WO);
    EXPECT_THROW(reg->Get(bytes.data(), 3), AccessException);

    map.AddRegister("Padded", 4, {5});
    std::vector<uint8_t> padded(4, 0xFF);
    CRegisterPtr(map.GetNode("Padded"))->Get(padded.data(), 4);
    EXPECT_EQ(padded, (std::vector<uint8_t>{5, 0, 0, 0}));
}

TEST(IntRegisterNode, IntegerAndBytesShareStorage) {
    CMemoryNodeMap map;
    map.AddIntRegister("Gain", 0x0102, 0, 0xFFFF, 2);
    map.AddIntRegister("Offset", -2, -100, 100, 1);
    CIntegerPtr gain(map.GetNode("Gain"));
    CRegisterPtr gainBytes(map.GetNode("Gain"));
    uint8_t bytes[2] = {};
    gainBytes->Get(bytes, 2);
    EXPECT_EQ(bytes[0], 0x02);
    EXPECT_EQ(bytes[1], 0x01);
    const uint8_t written[2] = {0x34, 0x12};
    gainBytes->Set(written, 2);
    EXPECT_EQ(gain->GetValue(), 0x1234);
    EXPECT_THROW(gain->SetValue(0x10000), OutOfRangeException);
    EXPECT_THROW(gainBytes->Get(bytes, 4), InvalidArgumentException);

    // A signed range reads the bytes back sign-extended.
    EXPECT_EQ(CIntegerPtr(map.GetNode("Offset"))->GetValue(), -2);
    map.PokeInt("Offset", 7);
    uint8_t one = 0;
    CRegisterPtr(map.GetNode("Offset"))->Get(&one, 1);
    EXPECT_EQ(one, 7);
    EXPECT_THROW(map.AddIntRegister("Wide", 0, 0, 1, 9), std::invalid_argument);
}

TEST(PortNode, ReadWriteWithinItsSize) {
    CMemoryNodeMap map;
    map.AddPort("Device", 8);
    CPointer<IPort> port(map.GetNode("Device"));
    const uint32_t value = 0xA1B2C3D4;
    port->Write(&value, 4, 4);
    uint32_t back = 0;
    port->Read(&back, 4, 4);
    EXPECT_EQ(back, value);
    EXPECT_THROW(port->Read(&back, 6, 4), OutOfRangeException);
    EXPECT_THROW(port->Write(&value, -1, 4), OutOfRangeException);
}

TEST(CommandNode, ImmediateNeverAndNotWritable) {
    CMemoryNodeMap map;
    map.AddCommand("Now");
    map.AddCommand("Stuck", ECommandCompletion::Never);
    CCommandPtr now(map.GetNode("Now"));
    CCommandPtr stuck(map.GetNode("Stuck"));
    EXPECT_TRUE(now->IsDone());
    now->Execute();
    EXPECT_TRUE(now->IsDone());
    EXPECT_FALSE(stuck->IsDone());
    stuck->Execute();
    EXPECT_FALSE(stuck->IsDone());
    EXPECT_EQ(map.ExecuteCount("Now"), 1);
    EXPECT_THROW(now->ToString(), GenICam::LogicalErrorException);

    map.AddCommand("Reset").Access(RO);
    EXPECT_THROW(CCommandPtr(map.GetNode("Reset"))->Execute(), AccessException);
    EXPECT_EQ(map.ExecuteCount("Reset"), 0);
    map.AddInteger("Width", 1, 0, 10);
    EXPECT_THROW(map.Ref("Width").Completion(ECommandCompletion::Never), std::logic_error);
}

TEST(CommandNode, AfterPollsAnswersFalseThatManyTimesPerExecute) {
    CMemoryNodeMap map;
    map.AddCommand("Calibrate", ECommandCompletion::AfterPolls, 3);
    CCommandPtr cmd(map.GetNode("Calibrate"));
    EXPECT_TRUE(cmd->IsDone()) << "done before the first Execute";
    for (int round = 0; round < 2; ++round) {
        cmd->Execute();
        for (int poll = 0; poll < 3; ++poll) EXPECT_FALSE(cmd->IsDone()) << "poll " << poll;
        EXPECT_TRUE(cmd->IsDone());
        EXPECT_TRUE(cmd->IsDone());
    }
    EXPECT_EQ(map.ExecuteCount("Calibrate"), 2);
}

TEST(CommandNode, AfterDelayCompletesOnceTheDelayPassed) {
    CMemoryNodeMap map;
    map.AddCommand("Flush", ECommandCompletion::AfterDelay, 200);
    CCommandPtr cmd(map.GetNode("Flush"));
    EXPECT_TRUE(cmd->IsDone());
    const auto start = std::chrono::steady_clock::now();
    cmd->Execute();
    const bool doneAtOnce = cmd->IsDone();
    // Only trust "not yet" if the check itself ran well inside the delay.
    if (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(150)) {
        EXPECT_FALSE(doneAtOnce);
    }

    map.Ref("Flush").Completion(ECommandCompletion::AfterDelay, 5);
    cmd->Execute();
    bool done = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        done = cmd->IsDone();
    }
    EXPECT_TRUE(done);
}
