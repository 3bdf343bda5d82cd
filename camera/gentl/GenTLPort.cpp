#include "GenTLPort.h"

#include <cstdio>

#include "EngineNodeMap.h"
#include "GenTLDescriptionUrl.h"

namespace KZRGENICAM::detail {

using namespace gentl;

CGenTLPort::CGenTLPort(std::shared_ptr<CGenTLDeviceHandle> device, PORT_HANDLE port,
                       std::shared_ptr<std::atomic<bool>> lost)
    : m_device(std::move(device)), m_port(port), m_lost(std::move(lost)) {}

void CGenTLPort::Fail(const char* call, GC_ERROR rc, int64_t address) const {
    // The producer's text for its last error on this thread, when it has one.
    GC_ERROR last = GC_ERR_SUCCESS;
    const std::string text = GenTLText([&](char* buffer, size_t* size) {
        return m_device->Api().GCGetLastError(&last, buffer, size);
    });
    char where[96];
    std::snprintf(where, sizeof where, "%s at 0x%llx failed (GenTL error %d)", call,
                  static_cast<unsigned long long>(address), static_cast<int>(rc));
    const std::string message =
        text.empty() ? std::string(where) : std::string(where) + ": " + text;
    if (rc == GC_ERR_TIMEOUT || rc == GC_ERR_INVALID_HANDLE) {
        if (m_lost) m_lost->store(true);
        if (rc == GC_ERR_TIMEOUT) GENICAM_THROW(TimeoutException, message.c_str());
    }
    if (rc == GC_ERR_ACCESS_DENIED) GENICAM_THROW(AccessException, message.c_str());
    GENICAM_THROW(RuntimeException, message.c_str());
}

void CGenTLPort::Read(void* buffer, int64_t address, int64_t length) {
    if (m_lost && m_lost->load()) GENICAM_THROW(RuntimeException, "GCReadPort: the device is lost");
    if (length < 0 || address < 0)
        GENICAM_THROW(InvalidArgumentException, "GCReadPort: negative address or length");
    size_t done = static_cast<size_t>(length);
    const GC_ERROR rc =
        m_device->Api().GCReadPort(m_port, static_cast<uint64_t>(address), buffer, &done);
    if (rc != GC_ERR_SUCCESS) Fail("GCReadPort", rc, address);
    if (done != static_cast<size_t>(length)) Fail("GCReadPort", GC_ERR_IO, address);
}

void CGenTLPort::Write(const void* buffer, int64_t address, int64_t length) {
    if (m_lost && m_lost->load())
        GENICAM_THROW(RuntimeException, "GCWritePort: the device is lost");
    if (length < 0 || address < 0)
        GENICAM_THROW(InvalidArgumentException, "GCWritePort: negative address or length");
    size_t done = static_cast<size_t>(length);
    const GC_ERROR rc =
        m_device->Api().GCWritePort(m_port, static_cast<uint64_t>(address), buffer, &done);
    if (rc != GC_ERR_SUCCESS) Fail("GCWritePort", rc, address);
    if (done != static_cast<size_t>(length)) Fail("GCWritePort", GC_ERR_IO, address);
}

std::string ReadPortDescription(const CGenTLDeviceHandle& device, PORT_HANDLE port,
                                std::string& why) {
    const std::string url = PortDescriptionUrl(device.Api(), port);
    if (url.empty()) {
        why = "the port names no description";
        return std::string();
    }
    SDescriptionUrl where;
    if (!ParseDescriptionUrl(url, where, why)) return std::string();
    const std::string data = FetchDescription(device.Api(), port, where, why);
    if (data.empty()) return data;
    // Zipped or plain: the archive is recognised by its content, not by the name
    // the URL gives it.
    try {
        GenApi::SDescriptionLimits limits;
        limits.maxZipBytes = limits.maxXmlBytes = kMaxDescriptionBytes;
        return GenApi::UnpackDescription(data.data(), data.size(), limits);
    } catch (const GenICam::GenericException& e) {
        why = e.GetDescription();
    } catch (const std::bad_alloc&) {
        why = "out of memory unpacking the description";
    }
    return std::string();
}

}  // namespace KZRGENICAM::detail
