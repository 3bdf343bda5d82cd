#include "AravisControl.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace KZRGENICAM::detail {

namespace {

using Clock = std::chrono::steady_clock;

int EnvInt(const char* name, int fallback, int low, int high) {
    const char* text = std::getenv(name);
    if (!text || !*text) return fallback;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < low || value > high) return fallback;
    return static_cast<int>(value);
}

/// One register access; owned jointly by the caller and the worker, so that an
/// abandoned transaction writes only into its own buffer and keeps its device.
struct SJob {
    GObjectPtr<ArvDevice> device;
    std::function<gboolean(SJob&, GError**)> run;
    bool done = false;
    gboolean ok = FALSE;
    GError* error = nullptr;
    std::vector<uint8_t> data;
    ~SJob() {
        if (error) g_error_free(error);
    }
};

// Aravis's own implementations, saved once by Install.
struct SOriginal {
    decltype(ArvDeviceClass::read_memory) readMemory = nullptr;
    decltype(ArvDeviceClass::write_memory) writeMemory = nullptr;
    decltype(ArvDeviceClass::read_register) readRegister = nullptr;
    decltype(ArvDeviceClass::write_register) writeRegister = nullptr;
};
// Written once per class before any device of it exists, read-only after.
constexpr int kMaxRouted = 4;
std::mutex g_routeMutex;
GType g_routedTypes[kMaxRouted] = {};
SOriginal g_originals[kMaxRouted];
std::atomic<int> g_routedCount{0};

const SOriginal& OriginalOf(ArvDevice* device) {
    const GType type = G_TYPE_FROM_INSTANCE(device);
    const int count = g_routedCount.load();
    for (int i = 0; i < count; ++i)
        if (g_routedTypes[i] == type) return g_originals[i];
    return g_originals[0];  // unreachable: only routed classes call in here
}

GQuark ChannelQuark() {
    static const GQuark quark = g_quark_from_static_string("kzr-control-channel");
    return quark;
}

std::mutex g_retiredMutex;
std::vector<std::thread> g_retired;

}  // namespace

SControlSettings SControlSettings::FromEnvironment() {
    SControlSettings s;
    s.timeoutMs = EnvInt("KZR_ARAVIS_CONTROL_TIMEOUT_MS", s.timeoutMs, 1, 60000);
    s.retries = EnvInt("KZR_ARAVIS_CONTROL_RETRIES", s.retries, 0, 100);
    return s;
}

struct CControlChannel::SShared {
    std::mutex mutex;
    std::condition_variable wake;  // worker: a job or the end
    std::condition_variable done;  // callers: a job finished
    std::deque<std::shared_ptr<SJob>> jobs;
    bool quit = false;
    GObjectPtr<ArvCamera> retired;
    std::shared_ptr<std::atomic<bool>> lost;
    SControlSettings settings;
    std::thread worker;

    void Work() {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            wake.wait(lock, [&] { return quit || !jobs.empty(); });
            if (jobs.empty()) break;
            std::shared_ptr<SJob> job = jobs.front();
            jobs.pop_front();
            lock.unlock();
            GError* error = nullptr;
            const gboolean ok = job->run(*job, &error);
            lock.lock();
            job->ok = ok;
            job->error = error;
            job->done = true;
            done.notify_all();
        }
        GObjectPtr<ArvCamera> camera = std::move(retired);
        lock.unlock();
        camera.reset();  // may wait out Aravis on a lost device
    }

    gboolean Run(ArvDevice* device, const std::shared_ptr<SJob>& job, GError** error) {
        std::unique_lock<std::mutex> lock(mutex);
        if (lost->load() || quit) {
            g_set_error(error, ARV_DEVICE_ERROR, ARV_DEVICE_ERROR_NOT_CONNECTED,
                        "camera lost: control channel closed");
            return FALSE;
        }
        job->device.reset(static_cast<ArvDevice*>(g_object_ref(device)));
        jobs.push_back(job);
        wake.notify_one();
        const auto deadline = Clock::now() + std::chrono::milliseconds(settings.BoundMs());
        if (!done.wait_until(lock, deadline, [&] { return job->done; })) {
            lost->store(true);
            g_set_error(error, ARV_DEVICE_ERROR, ARV_DEVICE_ERROR_TIMEOUT,
                        "control channel: no answer within %d ms", settings.BoundMs());
            return FALSE;
        }
        if (job->error) g_propagate_error(error, std::exchange(job->error, nullptr));
        return job->ok;
    }
};

namespace {

CControlChannel::SShared* ChannelOf(ArvDevice* device) {
    return static_cast<CControlChannel::SShared*>(
        g_object_get_qdata(G_OBJECT(device), ChannelQuark()));
}

gboolean ReadMemory(ArvDevice* device, guint64 address, guint32 size, void* buffer,
                    GError** error) {
    auto read = OriginalOf(device).readMemory;
    CControlChannel::SShared* channel = ChannelOf(device);
    if (!channel) return read(device, address, size, buffer, error);
    auto job = std::make_shared<SJob>();
    job->data.resize(size);
    job->run = [address, size, read](SJob& j, GError** e) {
        return read(j.device.get(), address, size, j.data.data(), e);
    };
    const gboolean ok = channel->Run(device, job, error);
    if (ok) std::memcpy(buffer, job->data.data(), size);
    return ok;
}

gboolean WriteMemory(ArvDevice* device, guint64 address, guint32 size, void* buffer,
                     GError** error) {
    auto write = OriginalOf(device).writeMemory;
    CControlChannel::SShared* channel = ChannelOf(device);
    if (!channel) return write(device, address, size, buffer, error);
    auto job = std::make_shared<SJob>();
    job->data.assign(static_cast<uint8_t*>(buffer), static_cast<uint8_t*>(buffer) + size);
    job->run = [address, size, write](SJob& j, GError** e) {
        return write(j.device.get(), address, size, j.data.data(), e);
    };
    return channel->Run(device, job, error);
}

gboolean ReadRegister(ArvDevice* device, guint64 address, guint32* value, GError** error) {
    auto read = OriginalOf(device).readRegister;
    CControlChannel::SShared* channel = ChannelOf(device);
    if (!channel) return read(device, address, value, error);
    auto job = std::make_shared<SJob>();
    job->data.resize(sizeof(guint32));
    job->run = [address, read](SJob& j, GError** e) {
        guint32 v = 0;
        const gboolean ok = read(j.device.get(), address, &v, e);
        std::memcpy(j.data.data(), &v, sizeof v);
        return ok;
    };
    const gboolean ok = channel->Run(device, job, error);
    if (ok) std::memcpy(value, job->data.data(), sizeof(guint32));
    return ok;
}

gboolean WriteRegister(ArvDevice* device, guint64 address, guint32 value, GError** error) {
    auto write = OriginalOf(device).writeRegister;
    CControlChannel::SShared* channel = ChannelOf(device);
    if (!channel) return write(device, address, value, error);
    auto job = std::make_shared<SJob>();
    job->run = [address, value, write](SJob& j, GError** e) {
        return write(j.device.get(), address, value, e);
    };
    return channel->Run(device, job, error);
}

}  // namespace

void CControlChannel::Route(GType type) {
    std::lock_guard<std::mutex> lock(g_routeMutex);
    const int count = g_routedCount.load();
    for (int i = 0; i < count; ++i)
        if (g_routedTypes[i] == type) return;
    if (count == kMaxRouted) return;
    SOriginal& original = g_originals[count];
    g_routedTypes[count] = type;
    // The class stays referenced for the life of the process: its table is ours.
    auto* klass = static_cast<ArvDeviceClass*>(g_type_class_ref(type));
    original.readMemory = klass->read_memory;
    original.writeMemory = klass->write_memory;
    original.readRegister = klass->read_register;
    original.writeRegister = klass->write_register;
    klass->read_memory = ReadMemory;
    klass->write_memory = WriteMemory;
    klass->read_register = ReadRegister;
    klass->write_register = WriteRegister;
    g_routedCount.store(count + 1);
}

void CControlChannel::Install() {
    Route(ARV_TYPE_GV_DEVICE);
    Route(ARV_TYPE_UV_DEVICE);
}

void CControlChannel::JoinRetired() {
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(g_retiredMutex);
        threads.swap(g_retired);
    }
    for (std::thread& thread : threads) thread.join();
}

CControlChannel::CControlChannel(ArvDevice* device, std::shared_ptr<std::atomic<bool>> lost,
                                 SControlSettings settings)
    : m_device(device), m_shared(std::make_shared<SShared>()) {
    m_shared->lost = std::move(lost);
    m_shared->settings = settings;
    m_shared->worker = std::thread([shared = m_shared] { shared->Work(); });
    g_object_set_qdata(G_OBJECT(device), ChannelQuark(), m_shared.get());
}

void CControlChannel::RetireLater(GObjectPtr<ArvCamera> camera) {
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    m_shared->retired = std::move(camera);
}

CControlChannel::~CControlChannel() {
    g_object_set_qdata(G_OBJECT(m_device), ChannelQuark(), nullptr);
    std::thread worker;
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->quit = true;
        m_shared->wake.notify_one();
        worker = std::move(m_shared->worker);
    }
    if (!m_shared->lost->load()) {
        worker.join();  // idle or about to be: nothing blocks it
        return;
    }
    std::lock_guard<std::mutex> lock(g_retiredMutex);
    g_retired.push_back(std::move(worker));
}

}  // namespace KZRGENICAM::detail
