// The register space of an Aravis device as a GenApi port: the engine reads and
// writes the camera's memory through Aravis's control channel
// (arv_device_read_memory / arv_device_write_memory).
#pragma once

#include <atomic>
#include <memory>

#include "AravisSystem.h"
#include "GenApi.h"

namespace KZRGENICAM::detail {

/// A failing call raises a GenICam exception with Aravis's message: TimeoutException
/// on a time-out, AccessException on a refused write or read, RuntimeException
/// otherwise. A time-out (after Aravis's own retries) or a lost connection marks the
/// camera lost; from then on every call fails at once instead of each waiting out
/// the network again.
class CAravisPort final : public GenApi::IPort {
public:
    /// device is borrowed: the camera keeps it alive while the port is in use.
    CAravisPort(ArvDevice* device, std::shared_ptr<std::atomic<bool>> lost);
    /// NA once the camera is lost, so that every feature over the port is unavailable.
    GenApi::EAccessMode GetAccessMode() const override {
        return m_lost && m_lost->load() ? GenApi::NA : GenApi::RW;
    }
    void Read(void* buffer, int64_t address, int64_t length) override;
    void Write(const void* buffer, int64_t address, int64_t length) override;

private:
    [[noreturn]] void Fail(const char* call, GError* error, int64_t address) const;

    ArvDevice* m_device;
    std::shared_ptr<std::atomic<bool>> m_lost;
};

}  // namespace KZRGENICAM::detail
