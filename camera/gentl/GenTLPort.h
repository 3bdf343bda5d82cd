// The register space of a GenTL module as a GenApi port: the engine reads and
// writes the producer's registers through GCReadPort / GCWritePort. And the
// module's description, fetched from where its port's URL says.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "GenApi.h"
#include "GenTLProducer.h"

namespace KZRGENICAM::detail {

/// Keeps a producer handle open for as long as anything uses it.
class CGenTLDeviceHandle {
public:
    CGenTLDeviceHandle(std::shared_ptr<CGenTLProducer> producer, gentl::DEV_HANDLE handle)
        : m_producer(std::move(producer)), m_handle(handle) {}
    ~CGenTLDeviceHandle() { m_producer->Api().DevClose(m_handle); }
    CGenTLDeviceHandle(const CGenTLDeviceHandle&) = delete;
    CGenTLDeviceHandle& operator=(const CGenTLDeviceHandle&) = delete;

    const SGenTLApi& Api() const { return m_producer->Api(); }
    const std::string& ProducerName() const { return m_producer->FileName(); }
    gentl::DEV_HANDLE Get() const { return m_handle; }

private:
    std::shared_ptr<CGenTLProducer> m_producer;
    gentl::DEV_HANDLE m_handle;
};

/// A port over one GenTL port handle (the remote device's, or the local device's).
/// A failing call raises a GenICam exception with the producer's own error text
/// (GCGetLastError): TimeoutException on a time-out, AccessException on a refused
/// access, RuntimeException otherwise. A time-out or a dead handle marks the camera
/// lost; from then on every call fails at once without reaching the producer.
class CGenTLPort final : public GenApi::IPort {
public:
    CGenTLPort(std::shared_ptr<CGenTLDeviceHandle> device, gentl::PORT_HANDLE port,
               std::shared_ptr<std::atomic<bool>> lost);
    /// NA once the camera is lost, so that every feature over the port is unavailable.
    GenApi::EAccessMode GetAccessMode() const override {
        return m_lost && m_lost->load() ? GenApi::NA : GenApi::RW;
    }
    void Read(void* buffer, int64_t address, int64_t length) override;
    void Write(const void* buffer, int64_t address, int64_t length) override;

private:
    [[noreturn]] void Fail(const char* call, gentl::GC_ERROR rc, int64_t address) const;

    std::shared_ptr<CGenTLDeviceHandle> m_device;
    gentl::PORT_HANDLE m_port;
    std::shared_ptr<std::atomic<bool>> m_lost;
};

/// The port's GenICam description as its URL names it ("Local:" or "File:", plain
/// or zipped), unpacked to XML text. Empty with why set on failure.
std::string ReadPortDescription(const CGenTLDeviceHandle& device, gentl::PORT_HANDLE port,
                                std::string& why);

}  // namespace KZRGENICAM::detail
