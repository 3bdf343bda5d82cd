// The bounded control channel on a memory device that stops answering: the
// transaction that meets the silence returns after the bound with a time-out and
// marks the camera lost, every later one fails at once, and neither destroying
// the channel nor dropping the device waits for the transaction in flight.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>

#include "AravisControl.h"
#include "MemoryDevice.h"

namespace {

using KZRGENICAM::detail::CControlChannel;
using KZRGENICAM::detail::GObjectPtr;
using KZRGENICAM::detail::SControlSettings;
using Clock = std::chrono::steady_clock;

const char* const kXml =
    "<?xml version=\"1.0\"?><RegisterDescription ModelName=\"M\" VendorName=\"V\">"
    "<Port Name=\"Device\"/></RegisterDescription>";

class ControlChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        CControlChannel::Route(KzrMemoryDeviceType());
        device.reset(KzrMemoryDeviceNew(kXml, 0x100));
        settings.timeoutMs = 50;
        settings.retries = 1;
        channel = std::make_unique<CControlChannel>(device.get(), lost, settings);
    }

    GObjectPtr<ArvDevice> device;
    std::shared_ptr<std::atomic<bool>> lost = std::make_shared<std::atomic<bool>>(false);
    SControlSettings settings;
    std::unique_ptr<CControlChannel> channel;
};

TEST_F(ControlChannelTest, AnsweredTransactionsPassThrough) {
    guint32 value = 0x12345678;
    ASSERT_TRUE(arv_device_write_register(device.get(), 0x10, value, nullptr));
    guint32 back = 0;
    ASSERT_TRUE(arv_device_read_register(device.get(), 0x10, &back, nullptr));
    EXPECT_EQ(back, value);
    uint8_t bytes[4] = {};
    ASSERT_TRUE(arv_device_read_memory(device.get(), 0x10, 4, bytes, nullptr));
    EXPECT_EQ(bytes[0], 0x12);
    // Aravis's own errors come through unchanged.
    GError* error = nullptr;
    EXPECT_FALSE(arv_device_read_memory(device.get(), 0x1000, 4, bytes, &error));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code, ARV_DEVICE_ERROR_PROTOCOL_ERROR_INVALID_ADDRESS);
    g_clear_error(&error);
    EXPECT_FALSE(lost->load());
}

TEST_F(ControlChannelTest, SilenceMarksTheCameraLostAndLaterCallsFailAtOnce) {
    KzrMemoryDeviceSetDelay(device.get(), 400);
    guint32 value = 0;
    GError* error = nullptr;
    EXPECT_FALSE(arv_device_read_register(device.get(), 0x10, &value, &error));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code, ARV_DEVICE_ERROR_TIMEOUT);
    g_clear_error(&error);
    EXPECT_TRUE(lost->load());

    uint8_t bytes[4] = {1, 2, 3, 4};
    EXPECT_FALSE(arv_device_write_memory(device.get(), 0x10, 4, bytes, &error));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code, ARV_DEVICE_ERROR_NOT_CONNECTED);
    g_clear_error(&error);

    // The worker still holds the first transaction; neither the channel nor the
    // device waits for it here.
    channel.reset();
    device.reset();
    CControlChannel::JoinRetired();
}

TEST_F(ControlChannelTest, AnAbandonedTransactionGivesItsDeviceBack) {
    KzrMemoryDeviceSetDelay(device.get(), 200);
    guint32 value = 0;
    EXPECT_FALSE(arv_device_read_register(device.get(), 0x10, &value, nullptr));
    ASSERT_TRUE(lost->load());
    channel.reset();
    CControlChannel::JoinRetired();
    // The device outlived the abandoned transaction and is ours alone again.
    EXPECT_EQ(G_OBJECT(device.get())->ref_count, 1u);
}

}  // namespace
