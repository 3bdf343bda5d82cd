#include "AravisControl.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
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

/// One GigE Vision READREG of the bootstrap's version register on a socket of
/// our own: true when the device answers within the time-out. Reading needs no
/// control privilege, so it works beside the session Aravis holds.
bool ProbeGigE(const sockaddr_in& target, int timeoutMs) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return true;  // cannot tell: do not call the camera lost
    bool answered = false;
    static std::atomic<uint16_t> s_id{0x4000};
    uint16_t id = ++s_id;
    if (id == 0) id = ++s_id;
    const uint8_t command[12] = {0x42,        0x01, 0x00, 0x80, 0x00, 0x04, uint8_t(id >> 8),
                                 uint8_t(id), 0,    0,    0,    0};
    // Connected: a closed port on the camera's side fails the receive at once.
    if (connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0 &&
        send(fd, command, sizeof command, 0) == static_cast<ssize_t>(sizeof command)) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0) break;
            pollfd in{fd, POLLIN, 0};
            if (poll(&in, 1, static_cast<int>(left)) <= 0) break;
            uint8_t ack[64];
            const ssize_t got = recv(fd, ack, sizeof ack, 0);
            if (got < 0) break;  // refused: nothing listens there any more
            // Any acknowledge of ours, success or not, shows the device alive.
            if (got >= 8 && ack[2] == 0x00 && ack[3] == 0x81 && ack[6] == uint8_t(id >> 8) &&
                ack[7] == uint8_t(id)) {
                answered = true;
                break;
            }
        }
    }
    close(fd);
    return answered;
}

/// Threads that drop a lost camera's last references. Never destroyed itself: a
/// thread may be handed over while the library is being unloaded.
struct SRetired {
    std::mutex mutex;
    std::vector<std::thread> threads;
    bool closing = false;  // unloading: whatever is left is dropped in place
};

SRetired& Retired() {
    static SRetired* retired = new SRetired();
    return *retired;
}

/// At unload or exit, after the last UnInit: a lost camera closed since then
/// still has its thread running, and a joinable thread must not be destroyed.
struct SRetiredJoiner {
    ~SRetiredJoiner() {
        std::vector<std::thread> threads;
        {
            std::lock_guard<std::mutex> lock(Retired().mutex);
            Retired().closing = true;
            threads.swap(Retired().threads);
        }
        for (std::thread& thread : threads) thread.join();
    }
} g_retiredJoiner;

/// Keeps thread for JoinRetired; false (thread untouched) when unloading.
bool Retire(std::thread& thread) {
    std::lock_guard<std::mutex> lock(Retired().mutex);
    if (Retired().closing) return false;
    try {
        Retired().threads.push_back(std::move(thread));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

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
    bool probe = false;  // GigE Vision: liveness is asked on a socket of our own
    sockaddr_in target{};
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

    /// Waits one time-out for the job; then, while the job is pending, asks a
    /// GigE Vision device whether it is still there (up to retries attempts of a
    /// time-out each) and goes on waiting as long as it answers: a slow command
    /// (pending acknowledge) is not a lost camera. Without a probe the job gets
    /// retries more time-outs. False: the camera is gone.
    bool AwaitAnswer(std::unique_lock<std::mutex>& lock, const SJob& job) {
        const auto slice = std::chrono::milliseconds(settings.timeoutMs);
        if (done.wait_for(lock, slice, [&] { return job.done; })) return true;
        if (!probe) return done.wait_for(lock, slice * settings.retries, [&] { return job.done; });
        for (;;) {
            bool alive = false;
            for (int attempt = 0; attempt < settings.retries && !alive && !job.done; ++attempt) {
                lock.unlock();
                alive = ProbeGigE(target, settings.timeoutMs);
                lock.lock();
            }
            if (job.done) return true;
            if (!alive) return false;
            if (done.wait_for(lock, slice, [&] { return job.done; })) return true;
        }
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
        if (!AwaitAnswer(lock, *job)) {
            lost->store(true);
            g_set_error(error, ARV_DEVICE_ERROR, ARV_DEVICE_ERROR_TIMEOUT,
                        "control channel: no answer within %d ms and %d retries",
                        settings.timeoutMs, settings.retries);
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
        std::lock_guard<std::mutex> lock(Retired().mutex);
        threads.swap(Retired().threads);
    }
    for (std::thread& thread : threads) thread.join();
}

void CControlChannel::DropLater(GObjectPtr<ArvStream> stream, GObjectPtr<ArvCamera> camera) {
    auto drop = [s = stream.release(), c = camera.release()] {
        // The stream's receiving thread ends before the device it reads from goes.
        if (s) g_object_unref(s);
        if (c) g_object_unref(c);
    };
    std::thread thread;
    try {
        thread = std::thread(drop);
    } catch (const std::system_error&) {
        drop();  // no thread to be had: the caller waits
        return;
    }
    if (!Retire(thread)) thread.join();
}

CControlChannel::CControlChannel(ArvDevice* device, std::shared_ptr<std::atomic<bool>> lost,
                                 SControlSettings settings, std::optional<sockaddr_in> probe)
    : m_device(device), m_shared(std::make_shared<SShared>()) {
    m_shared->lost = std::move(lost);
    m_shared->settings = settings;
    if (probe) {
        m_shared->probe = true;
        m_shared->target = *probe;
    } else if (ARV_IS_GV_DEVICE(device)) {
        GSocketAddress* address = arv_gv_device_get_device_address(ARV_GV_DEVICE(device));
        m_shared->probe = address &&
                          g_socket_address_to_native(address, &m_shared->target,
                                                     sizeof m_shared->target, nullptr) &&
                          m_shared->target.sin_family == AF_INET;
    }
    m_shared->worker = std::thread([shared = m_shared] { shared->Work(); });
    g_object_set_qdata(G_OBJECT(device), ChannelQuark(), m_shared.get());
}

void CControlChannel::RetireLater(GObjectPtr<ArvCamera> camera) {
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    m_shared->retired = std::move(camera);
}

CControlChannel::~CControlChannel() {
    if (g_object_get_qdata(G_OBJECT(m_device), ChannelQuark()) == m_shared.get())
        g_object_set_qdata(G_OBJECT(m_device), ChannelQuark(), nullptr);
    std::thread worker;
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->quit = true;
        m_shared->wake.notify_one();
        worker = std::move(m_shared->worker);
    }
    // Idle or about to be when the camera answers: nothing blocks it.
    if (!m_shared->lost->load() || !Retire(worker)) worker.join();
}

}  // namespace KZRGENICAM::detail
