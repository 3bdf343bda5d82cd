// The library's free functions: a registry of transports that every query walks
// in registration order.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "BuiltinTransports.h"
#include "KZRGeniCam.h"
#include "KZREvents.h"
#include "Transport.h"

namespace KZRGENICAM {

ICameraInfo::~ICameraInfo() = default;
IChunk::~IChunk() = default;
IFrame::~IFrame() = default;
IModule::~IModule() = default;
ICamera::~ICamera() = default;

namespace {

class CRegistry {
public:
    CRegistry() {
        m_transports.push_back(detail::MakeSimTransport());
#if defined(KZR_WITH_ARAVIS)
        m_transports.push_back(detail::MakeAravisTransport());
#endif
#if defined(KZR_WITH_GENTL)
        m_transports.push_back(detail::MakeGenTLTransport());
#endif
    }

    void Add(std::unique_ptr<ITransport> transport) {
        if (!transport) return;
        std::lock_guard<std::mutex> initLock(m_initMutex);
        ITransport* raw = transport.get();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_transports.push_back(std::move(transport));
        }
        // A transport added while the library runs must not miss its start.
        if (m_initCount > 0) raw->start();
    }

    /// Transports are never removed, so the pointers stay valid without the lock
    /// and a slow transport does not hold up the others' callers.
    /// Every transport, also the switched-off ones (start and stop stay paired).
    std::vector<ITransport*> All() {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<ITransport*> out;
        for (auto& t : m_transports) out.push_back(t.get());
        return out;
    }

    std::vector<ITransport*> Snapshot() {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<ITransport*> out;
        out.reserve(m_transports.size());
        for (auto& t : m_transports) {
            if (!SwitchedOff(*t)) out.push_back(t.get());
        }
        return out;
    }

    /// KZR_ARAVIS=off leaves the Aravis transport out, KZR_GENTL=off the GenTL
    /// producers, e.g. for tests that must see only simulated cameras and should not
    /// wait for a GigE Vision discovery. Read at every query, so the setting can
    /// change while the library runs.
    static bool SwitchedOff(const ITransport& transport) {
        const char* variable = std::strcmp(transport.name(), "aravis") == 0  ? "KZR_ARAVIS"
                               : std::strcmp(transport.name(), "gentl") == 0 ? "KZR_GENTL"
                                                                             : nullptr;
        if (!variable) return false;
        const char* value = std::getenv(variable);
        return value && (std::strcmp(value, "off") == 0 || std::strcmp(value, "0") == 0);
    }

    void Init() {
        std::lock_guard<std::mutex> initLock(m_initMutex);
        detail::SimNoteInit();
        if (m_initCount++ == 0)
            for (ITransport* t : All()) t->start();
    }

    void UnInit() {
        std::lock_guard<std::mutex> initLock(m_initMutex);
        detail::SimNoteUnInit();
        if (m_initCount == 0) return;
        if (--m_initCount == 0)
            for (ITransport* t : All()) t->stop();
    }

private:
    std::mutex m_initMutex;  // serialises Init/UnInit/registration with transport start/stop
    std::mutex m_mutex;      // guards m_transports
    std::vector<std::unique_ptr<ITransport>> m_transports;
    int m_initCount = 0;
};

bool Listed(const std::list<ICameraInfo*>& listed, const char* serial) {
    if (!serial || !*serial) return false;
    for (const ICameraInfo* info : listed)
        if (info && std::strcmp(info->getSerialNumber(), serial) == 0) return true;
    return false;
}

CRegistry& Registry() {
    static CRegistry registry;
    return registry;
}

}  // namespace

void RegisterTransport(std::unique_ptr<ITransport> transport) {
    Registry().Add(std::move(transport));
}

void Init() {
    Registry().Init();
}

void UnInit() {
    Registry().UnInit();
}

std::list<ICameraInfo*> Discovery(const char* filter) {
    std::list<ICameraInfo*> out;
    for (ITransport* t : Registry().Snapshot()) {
        std::list<ICameraInfo*> found;
        t->discover(filter, found);
        // A real camera that two transports (or two producers) reach is listed once,
        // by the first that reports it; CreateCameraBySN asks in the same order, so
        // that one serves it. Simulated scenarios keep what they declare.
        const bool real = std::strcmp(t->name(), "sim") != 0;
        for (ICameraInfo* info : found) {
            if (real && info && Listed(out, info->getSerialNumber()))
                info->release();
            else
                out.push_back(info);
        }
    }
    return out;
}

ICamera* CreateCameraBySN(const char* serialNumber) {
    if (!serialNumber) return nullptr;
    for (ITransport* t : Registry().Snapshot()) {
        if (ICamera* camera = t->createCameraBySN(serialNumber)) return camera;
    }
    return nullptr;
}

std::vector<std::string> GetCLSerials() {
    std::vector<std::string> out;
    for (ITransport* t : Registry().Snapshot()) t->clSerials(out);
    return out;
}

std::vector<std::string> GetCLProtocols() {
    std::vector<std::string> out;
    for (ITransport* t : Registry().Snapshot()) t->clProtocols(out);
    return out;
}

const char* FrameResultName(int code) {
    switch (code) {
        case FrameOk:
            return "ok";
        case FrameTimeout:
            return "timeout";
        case FrameNotRunning:
            return "not running";
        case FrameIncomplete:
            return "incomplete";
        case FrameDeviceLost:
            return "device lost";
        case FrameFailed:
            return "failed";
        default:
            return code > 0 ? "camera error" : "unknown error";
    }
}

int NextEvent(ICamera* camera, CameraEvent& event, int timeoutMs) {
    auto* source = dynamic_cast<detail::IEventSource*>(camera);
    return source ? source->nextEvent(event, timeoutMs) : EventUnsupported;
}

}  // namespace KZRGENICAM
