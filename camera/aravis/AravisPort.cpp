#include "AravisPort.h"

#include <cstdio>
#include <limits>
#include <string>

namespace KZRGENICAM::detail {

CAravisPort::CAravisPort(ArvDevice* device, std::shared_ptr<std::atomic<bool>> lost)
    : m_device(device), m_lost(std::move(lost)) {}

void CAravisPort::Fail(const char* call, GError* error, int64_t address) const {
    char where[96];
    std::snprintf(where, sizeof where, "%s at 0x%llx failed", call,
                  static_cast<unsigned long long>(address));
    std::string message = where;
    int code = -1;
    const bool device = error && error->domain == ARV_DEVICE_ERROR;
    if (error) {
        if (error->message) message += std::string(": ") + error->message;
        code = error->code;
        g_error_free(error);
    }
    if (device && (code == ARV_DEVICE_ERROR_TIMEOUT || code == ARV_DEVICE_ERROR_NOT_CONNECTED)) {
        if (m_lost) m_lost->store(true);
        if (code == ARV_DEVICE_ERROR_TIMEOUT) GENICAM_THROW(TimeoutException, message.c_str());
    }
    if (device && (code == ARV_DEVICE_ERROR_PROTOCOL_ERROR_ACCESS_DENIED ||
                   code == ARV_DEVICE_ERROR_PROTOCOL_ERROR_WRITE_PROTECT))
        GENICAM_THROW(AccessException, message.c_str());
    GENICAM_THROW(RuntimeException, message.c_str());
}

void CAravisPort::Read(void* buffer, int64_t address, int64_t length) {
    if (m_lost && m_lost->load()) GENICAM_THROW(RuntimeException, "reading: the device is lost");
    if (address < 0 || length < 0 || length > std::numeric_limits<guint32>::max())
        GENICAM_THROW(InvalidArgumentException, "reading: address or length out of range");
    if (length == 0) return;
    GError* error = nullptr;
    if (!arv_device_read_memory(m_device, static_cast<guint64>(address),
                                static_cast<guint32>(length), buffer, &error))
        Fail("reading memory", error, address);
}

void CAravisPort::Write(const void* buffer, int64_t address, int64_t length) {
    if (m_lost && m_lost->load()) GENICAM_THROW(RuntimeException, "writing: the device is lost");
    if (address < 0 || length < 0 || length > std::numeric_limits<guint32>::max())
        GENICAM_THROW(InvalidArgumentException, "writing: address or length out of range");
    if (length == 0) return;
    GError* error = nullptr;
    // Aravis takes a mutable pointer but only reads from it.
    if (!arv_device_write_memory(m_device, static_cast<guint64>(address),
                                 static_cast<guint32>(length), const_cast<void*>(buffer), &error))
        Fail("writing memory", error, address);
}

}  // namespace KZRGENICAM::detail
