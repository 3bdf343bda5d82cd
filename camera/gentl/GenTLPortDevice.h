// An Aravis device whose memory is a GenTL port: Aravis's GenICam engine reads
// and writes the producer's registers through GCReadPort / GCWritePort, so that
// the node-map adapter of the Aravis transport serves GenTL devices unchanged.
#pragma once

#include <memory>
#include <string>

#include "AravisSystem.h"
#include "GObjectPtr.h"
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

/// The port's GenICam description as its URL names it: "Local:" (plain or zip) or
/// "File:"; "Web:" is refused. Empty with why set on failure.
std::string ReadPortDescription(const CGenTLDeviceHandle& device, gentl::PORT_HANDLE port,
                                std::string& why);

/// A new Aravis device over the port, with its GenICam tree built from xml; null
/// (why set) when the description yields no tree.
GObjectPtr<ArvDevice> MakeGenTLPortDevice(std::shared_ptr<CGenTLDeviceHandle> device,
                                          gentl::PORT_HANDLE port, const std::string& xml,
                                          std::string& why);

}  // namespace KZRGENICAM::detail
