#include "GenTLProducer.h"

#include <algorithm>
#include <cstdio>

#include "ProducerLibrary.h"

namespace KZRGENICAM::detail {

using namespace gentl;

namespace {

constexpr uint32_t kMaxInterfaces = 64;
constexpr uint32_t kMaxDevices = 256;
constexpr uint64_t kUpdateTimeoutMs = 1000;

/// Every producer alive in the process. Never destroyed: the exit handler and
/// static destructors reach it after other statics are gone.
struct SLiveProducers {
    std::mutex mutex;
    std::vector<CGenTLProducer*> producers;
};

SLiveProducers& Live() {
    static auto* live = new SLiveProducers();
    return *live;
}

/// A producer closed at exit answers every later call with this, for the
/// cameras and frames that still hold it.
template <class F>
struct SClosedCall;
template <class... A>
struct SClosedCall<GC_ERROR(GC_CALLTYPE*)(A...)> {
    static GC_ERROR GC_CALLTYPE Call(A...) { return GC_ERR_NOT_INITIALIZED; }
};

}  // namespace

void CloseGenTLProducersAtExit() {
    SLiveProducers& live = Live();
    std::lock_guard<std::mutex> lock(live.mutex);
    for (CGenTLProducer* p : live.producers) p->CloseForExit();
}

void GenTLMessage(const std::string& producer, const std::string& text) {
    std::fprintf(stderr, "KZRGeniCam GenTL %s: %s\n", producer.c_str(), text.c_str());
}

int GenTLTransportCode(const std::string& tlType) {
    if (tlType == TLTypeGEV) return 1;
    if (tlType == TLTypeU3V) return 2;
    if (tlType == TLTypeCL) return 4;
    return 8;
}

std::shared_ptr<CGenTLProducer> CGenTLProducer::Load(const std::string& path) {
    std::shared_ptr<CGenTLProducer> p(new CGenTLProducer());
    p->m_path = path;
    const size_t slash = path.find_last_of("/\\");
    p->m_fileName = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string error;
    p->m_library = OpenProducerLibrary(path, error);
    if (!p->m_library) {
        GenTLMessage(path, "not loaded: " + error);
        return nullptr;
    }
    std::string missing;
#define KZR_GENTL_RESOLVE(name, params)                                             \
    p->m_api.name = reinterpret_cast<P##name>(ProducerSymbol(p->m_library, #name)); \
    if (!p->m_api.name) missing += std::string(missing.empty() ? "" : ", ") + #name;
    KZR_GENTL_FUNCTIONS(KZR_GENTL_RESOLVE)
#undef KZR_GENTL_RESOLVE
#define KZR_GENTL_RESOLVE_OPTIONAL(name, params) \
    p->m_api.name = reinterpret_cast<P##name>(ProducerSymbol(p->m_library, #name));
    KZR_GENTL_OPTIONAL_FUNCTIONS(KZR_GENTL_RESOLVE_OPTIONAL)
#undef KZR_GENTL_RESOLVE_OPTIONAL
    if (!missing.empty()) {
        GenTLMessage(path, "skipped: missing " + missing);
        return nullptr;
    }
    GC_ERROR rc = p->m_api.GCInitLib();
    if (rc != GC_ERR_SUCCESS) {
        GenTLMessage(path,
                     "skipped: GCInitLib failed (" + std::to_string(rc) + ")" + p->LastError());
        return nullptr;
    }
    p->m_initialised = true;
    // Producers older than GenTL 1.1 do not tell their version: taken as 1.x.
    uint32_t major = 1;
    size_t size = sizeof major;
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    if (p->m_api.GCGetInfo(TL_INFO_GENTL_VER_MAJOR, &type, &major, &size) != GC_ERR_SUCCESS ||
        size != sizeof major)
        major = 1;
    if (major != 1) {
        GenTLMessage(path, "skipped: GenTL version " + std::to_string(major) +
                               ".x, this library speaks 1.x");
        return nullptr;
    }
    rc = p->m_api.TLOpen(&p->m_system);
    if (rc != GC_ERR_SUCCESS || !p->m_system) {
        p->m_system = nullptr;
        GenTLMessage(path, "skipped: TLOpen failed (" + std::to_string(rc) + ")" + p->LastError());
        return nullptr;
    }
    {
        SLiveProducers& live = Live();
        std::lock_guard<std::mutex> lock(live.mutex);
        live.producers.push_back(p.get());
    }
    // Registered after every load: the handler then runs before the static
    // destructors of the producer just loaded (a second run finds nothing open).
    RunBeforeEarlierStatics(&CloseGenTLProducersAtExit);
    return p;
}

CGenTLProducer::~CGenTLProducer() {
    {
        SLiveProducers& live = Live();
        std::lock_guard<std::mutex> lock(live.mutex);
        live.producers.erase(std::remove(live.producers.begin(), live.producers.end(), this),
                             live.producers.end());
    }
    Close();
}

std::string CGenTLProducer::LastError() const {
    GC_ERROR code = GC_ERR_SUCCESS;
    const std::string text = GenTLText([&](char* buffer, size_t* size) {
        return m_api.GCGetLastError ? m_api.GCGetLastError(&code, buffer, size) : GC_ERR_ERROR;
    });
    return text.empty() ? std::string() : ": " + text;
}

void CGenTLProducer::Close() {
    // Inside DllMain (process end, or a DLL unloading) the producer is left to
    // the system: nothing of it may run, and its code stays mapped.
    if (!MayCallProducers()) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& entry : m_interfaces) m_api.IFClose(entry.second);
        m_interfaces.clear();
    }
    if (m_system) m_api.TLClose(m_system);
    m_system = nullptr;
    if (m_initialised) m_api.GCCloseLib();
    m_initialised = false;
    // After an exit-time close the producer's statics may be gone: its code stays.
    if (m_library && !m_closedAtExit) CloseProducerLibrary(m_library);
    m_library = nullptr;
}

void CGenTLProducer::CloseForExit() {
    if (m_closedAtExit) return;
    Close();
    m_closedAtExit = true;
#define KZR_GENTL_CLOSED(name, params) \
    if (m_api.name) m_api.name = &SClosedCall<P##name>::Call;
    KZR_GENTL_FUNCTIONS(KZR_GENTL_CLOSED)
    KZR_GENTL_OPTIONAL_FUNCTIONS(KZR_GENTL_CLOSED)
#undef KZR_GENTL_CLOSED
}

IF_HANDLE CGenTLProducer::Interface(const std::string& id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& entry : m_interfaces)
        if (entry.first == id) return entry.second;
    IF_HANDLE handle = nullptr;
    const GC_ERROR rc = m_api.TLOpenInterface(m_system, id.c_str(), &handle);
    if (rc != GC_ERR_SUCCESS || !handle) {
        GenTLMessage(m_fileName, "interface " + id + " not opened (" + std::to_string(rc) + ")");
        return nullptr;
    }
    m_interfaces.emplace_back(id, handle);
    return handle;
}

std::vector<SGenTLDeviceRecord> CGenTLProducer::List() {
    std::vector<SGenTLDeviceRecord> out;
    bool8_t changed = 0;
    m_api.TLUpdateInterfaceList(m_system, &changed, kUpdateTimeoutMs);
    uint32_t interfaces = 0;
    if (m_api.TLGetNumInterfaces(m_system, &interfaces) != GC_ERR_SUCCESS) return out;
    if (interfaces > kMaxInterfaces) interfaces = kMaxInterfaces;
    const std::string systemType = GenTLText([&](char* text, size_t* size) {
        INFO_DATATYPE type;
        return m_api.GCGetInfo(TL_INFO_TLTYPE, &type, text, size);
    });
    for (uint32_t i = 0; i < interfaces; ++i) {
        const std::string ifId = GenTLText([&](char* text, size_t* size) {
            return m_api.TLGetInterfaceID(m_system, i, text, size);
        });
        if (ifId.empty()) continue;
        const std::string ifType = GenTLText([&](char* text, size_t* size) {
            INFO_DATATYPE type;
            return m_api.TLGetInterfaceInfo(m_system, ifId.c_str(), INTERFACE_INFO_TLTYPE, &type,
                                            text, size);
        });
        IF_HANDLE iface = Interface(ifId);
        if (!iface) continue;
        m_api.IFUpdateDeviceList(iface, &changed, kUpdateTimeoutMs);
        uint32_t devices = 0;
        if (m_api.IFGetNumDevices(iface, &devices) != GC_ERR_SUCCESS) continue;
        if (devices > kMaxDevices) devices = kMaxDevices;
        for (uint32_t d = 0; d < devices; ++d) {
            SGenTLDeviceRecord r;
            r.interfaceId = ifId;
            r.id = GenTLText([&](char* text, size_t* size) {
                return m_api.IFGetDeviceID(iface, d, text, size);
            });
            if (r.id.empty()) continue;
            auto info = [&](DEVICE_INFO_CMD cmd) {
                return GenTLText([&](char* text, size_t* size) {
                    INFO_DATATYPE type;
                    return m_api.IFGetDeviceInfo(iface, r.id.c_str(), cmd, &type, text, size);
                });
            };
            r.serial = info(DEVICE_INFO_SERIAL_NUMBER);
            // A device without a serial number is opened by its id.
            if (r.serial.empty()) r.serial = r.id;
            r.vendor = info(DEVICE_INFO_VENDOR);
            r.model = info(DEVICE_INFO_MODEL);
            std::string tlType = info(DEVICE_INFO_TLTYPE);
            if (tlType.empty()) tlType = ifType.empty() ? systemType : ifType;
            r.transport = GenTLTransportCode(tlType);
            r.link = m_fileName + "/" + ifId + "/" + r.id;
            out.push_back(std::move(r));
        }
    }
    return out;
}

}  // namespace KZRGENICAM::detail
