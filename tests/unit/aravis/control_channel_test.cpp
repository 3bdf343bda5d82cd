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
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "AravisControl.h"
#include "MemoryDevice.h"

namespace {

using KZRGENICAM::detail::CControlChannel;
using KZRGENICAM::detail::GObjectPtr;
using KZRGENICAM::detail::SControlSettings;

const char* const kXml =
    "<?xml version=\"1.0\"?><RegisterDescription ModelName=\"M\" VendorName=\"V\">"
    "<Port Name=\"Device\"/></RegisterDescription>";

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

enum class EProbe { None, Answering, Closed };

struct SChannelCase {
    const char* name;
    EProbe probe;     // the control port the channel asks while a transaction waits
    int delayMs;      // how long the device takes for each transaction (time-out: 50 ms)
    bool lost;        // the transaction fails with a time-out and the camera is lost
    bool dropDevice;  // the device is dropped before the abandoned transaction ends
};

class ControlChannel : public ::testing::TestWithParam<SChannelCase> {};

TEST_P(ControlChannel, BoundsATransactionAndMarksTheCameraLostOnlyWhenSilent) {
    const SChannelCase& c = GetParam();
    CControlChannel::Route(KzrMemoryDeviceType());
    GObjectPtr<ArvDevice> device(KzrMemoryDeviceNew(kXml, 0x100));
    auto lost = std::make_shared<std::atomic<bool>>(false);
    SControlSettings settings;
    settings.timeoutMs = 50;
    settings.retries = 1;
    std::optional<CGvcpResponder> responder;
    std::optional<sockaddr_in> probe;
    if (c.probe != EProbe::None) probe = responder.emplace().address;
    if (c.probe == EProbe::Closed) responder.reset();  // a port just in use, closed now
    auto channel = std::make_unique<CControlChannel>(device.get(), lost, settings, probe);
    ASSERT_TRUE(arv_device_write_register(device.get(), 0x10, 0x12345678, nullptr));
    KzrMemoryDeviceSetDelay(device.get(), c.delayMs);

    guint32 value = 0;
    GError* error = nullptr;
    EXPECT_EQ(arv_device_read_register(device.get(), 0x10, &value, &error), !c.lost);
    EXPECT_EQ(lost->load(), c.lost);
    if (!c.lost) {
        EXPECT_EQ(error, nullptr);
        EXPECT_EQ(value, 0x12345678u);
        if (c.probe == EProbe::Answering) {
            EXPECT_GT(responder->answered.load(), 0);
        }
        // Aravis's own errors come through unchanged.
        uint8_t bytes[4] = {};
        EXPECT_FALSE(arv_device_read_memory(device.get(), 0x1000, 4, bytes, &error));
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->code, ARV_DEVICE_ERROR_PROTOCOL_ERROR_INVALID_ADDRESS);
        g_clear_error(&error);
        EXPECT_FALSE(lost->load());
        return;
    }
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code, ARV_DEVICE_ERROR_TIMEOUT);
    g_clear_error(&error);
    // Every later transaction fails at once.
    uint8_t bytes[4] = {1, 2, 3, 4};
    EXPECT_FALSE(arv_device_write_memory(device.get(), 0x10, 4, bytes, &error));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code, ARV_DEVICE_ERROR_NOT_CONNECTED);
    g_clear_error(&error);
    // The worker still holds the first transaction; neither the channel nor the
    // device waits for it here, and the device outlives it.
    channel.reset();
    if (c.dropDevice) device.reset();
    CControlChannel::JoinRetired();
    if (!c.dropDevice) {
        EXPECT_EQ(G_OBJECT(device.get())->ref_count, 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Transactions, ControlChannel,
    ::testing::Values(SChannelCase{"Answered", EProbe::None, 0, false, false},
                      SChannelCase{"SilenceDeviceDroppedFirst", EProbe::None, 400, true, true},
                      SChannelCase{"SilenceDeviceKept", EProbe::None, 200, true, false},
                      // Six time-outs, but the control port answers: only slow.
                      SChannelCase{"SlowButAnswering", EProbe::Answering, 300, false, false},
                      SChannelCase{"ControlPortClosed", EProbe::Closed, 300, true, true}),
    [](const ::testing::TestParamInfo<SChannelCase>& p) { return std::string(p.param.name); });

}  // namespace
