// One GenTL producer (.cti): the loaded library, its resolved functions, its
// opened system and interfaces. Shared by the transport's listing and by every
// camera and frame that still needs the producer; the last owner closes it.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "GenTL.h"

namespace KZRGENICAM::detail {

struct SGenTLApi {
#define KZR_GENTL_FIELD(name, params) gentl::P##name name = nullptr;
    KZR_GENTL_FUNCTIONS(KZR_GENTL_FIELD)
    KZR_GENTL_OPTIONAL_FUNCTIONS(KZR_GENTL_FIELD)
#undef KZR_GENTL_FIELD
};

/// What a producer tells about one device.
struct SGenTLDeviceRecord {
    int transport = 8;
    std::string id;  // the device id inside its interface
    std::string serial;
    std::string vendor;
    std::string model;
    std::string link;
    std::string interfaceId;
};

/// Writes a message about a producer to the library's diagnostics (stderr).
void GenTLMessage(const std::string& producer, const std::string& text);

/// Text from a GenTL info or id call into a bounded buffer: a missing terminator or
/// a size larger than the buffer never reads past it. Empty on failure.
template <class Call>
std::string GenTLText(Call call) {
    char text[1024] = {};
    size_t size = sizeof text - 1;
    if (call(text, &size) != gentl::GC_ERR_SUCCESS) return std::string();
    if (size > sizeof text - 1) size = sizeof text - 1;
    size_t length = 0;
    while (length < size && text[length] != '\0') ++length;
    return std::string(text, length);
}

class CGenTLProducer {
public:
    /// Loads, checks and opens the producer at path; null (with a message naming
    /// it) when it is missing functions, speaks another GenTL version or fails.
    static std::shared_ptr<CGenTLProducer> Load(const std::string& path);
    ~CGenTLProducer();
    CGenTLProducer(const CGenTLProducer&) = delete;
    CGenTLProducer& operator=(const CGenTLProducer&) = delete;

    const SGenTLApi& Api() const { return m_api; }
    const std::string& Path() const { return m_path; }
    /// The file name without folders ("KZRTestTL.cti").
    const std::string& FileName() const { return m_fileName; }

    /// Every device of every interface; failing interfaces and devices are skipped.
    std::vector<SGenTLDeviceRecord> List();
    /// The opened interface of that id (opened on first use), or null.
    gentl::IF_HANDLE Interface(const std::string& id);

    /// ": <text>" from GCGetLastError, or empty.
    std::string LastError() const;
    /// See CloseGenTLProducersAtExit.
    void CloseForExit();

private:
    CGenTLProducer() = default;
    void Close();

    std::string m_path;
    std::string m_fileName;
    void* m_library = nullptr;
    SGenTLApi m_api;
    bool m_initialised = false;
    bool m_closedAtExit = false;
    gentl::TL_HANDLE m_system = nullptr;
    std::mutex m_mutex;  // the interface list
    std::vector<std::pair<std::string, gentl::IF_HANDLE>> m_interfaces;
};

/// Closes every loaded producer (interfaces, system, library) and turns later
/// calls into GC_ERR_NOT_INITIALIZED: the exit handler, registered at each load
/// so that it runs before the static destructors of the producers loaded so far.
void CloseGenTLProducersAtExit();

/// Transport code of a transport-layer type text: GEV 1, U3V 2, CL 4, else 8.
int GenTLTransportCode(const std::string& tlType);

}  // namespace KZRGENICAM::detail
