// The bounded control channel on a memory device that stops answering: the
// transaction that meets the silence returns after the bound with a time-out and
// marks the camera lost, every later one fails at once, and neither destroying
// the channel nor dropping the device waits for the transaction in flight.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

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

/// A GigE Vision control port on 127.0.0.1 that acknowledges every read.
class CGvcpResponder {
public:
    CGvcpResponder() {
        m_fd = socket(AF_INET, SOCK_DGRAM, 0);
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
        m_thread = std::thread([this] { Serve(); });
    }
    ~CGvcpResponder() {
        m_stop = true;
        m_thread.join();
        close(m_fd);
    }
    sockaddr_in address{};
    std::atomic<int> answered{0};

private:
    void Serve() {
        while (!m_stop) {
            pollfd in{m_fd, POLLIN, 0};
            if (poll(&in, 1, 20) <= 0) continue;
            uint8_t command[64];
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t got = recvfrom(m_fd, command, sizeof command, 0,
                                         reinterpret_cast<sockaddr*>(&from), &length);
            if (got < 8) continue;
            const uint8_t ack[12] = {0, 0, 0x00, 0x81, 0, 4, command[6], command[7], 0, 0, 0, 0};
            sendto(m_fd, ack, sizeof ack, 0, reinterpret_cast<sockaddr*>(&from), length);
            ++answered;
        }
    }
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

TEST_F(ControlChannelTest, ASlowButAnsweringCameraIsNotLost) {
    CGvcpResponder responder;
    channel.reset();
    channel = std::make_unique<CControlChannel>(device.get(), lost, settings, responder.address);
    KzrMemoryDeviceSetDelay(device.get(), 300);  // six time-outs of 50 ms
    guint32 value = 0;
    GError* error = nullptr;
    EXPECT_TRUE(arv_device_read_register(device.get(), 0x10, &value, &error));
    EXPECT_EQ(error, nullptr);
    g_clear_error(&error);
    EXPECT_FALSE(lost->load());
    EXPECT_GT(responder.answered.load(), 0);
}

TEST_F(ControlChannelTest, AClosedControlPortMeansTheCameraIsGone) {
    sockaddr_in closed{};
    {
        CGvcpResponder gone;  // a port that was just in use and is closed now
        closed = gone.address;
    }
    channel.reset();
    channel = std::make_unique<CControlChannel>(device.get(), lost, settings, closed);
    KzrMemoryDeviceSetDelay(device.get(), 300);
    guint32 value = 0;
    EXPECT_FALSE(arv_device_read_register(device.get(), 0x10, &value, nullptr));
    EXPECT_TRUE(lost->load());
    channel.reset();
    device.reset();
    CControlChannel::JoinRetired();
}

}  // namespace
