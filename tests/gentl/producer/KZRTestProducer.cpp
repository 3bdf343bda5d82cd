// A GenTL producer for tests, the demo and the benchmark: one system with a GigE
// Vision interface (one area camera) and a Camera Link interface (one frame grabber
// with one camera behind it). Registers live in memory; frames are a test pattern
// (x + y + frame number) rendered by one thread per running data stream.
//
// Variants (compile definitions) misbehave on purpose for the consumer's tests:
//   KZR_TL_VERSION_MAJOR=2   reports another GenTL version
//   KZR_TL_NO_QUEUE          lacks DSQueueBuffer
//   KZR_TL_INIT_FAILS        GCInitLib fails
//   KZR_TL_UNTERMINATED      fills every text buffer without a terminator
//   KZR_TL_HOSTILE           only the old GCGetPortURL; texts without terminator and
//                            with oversize sizes; a Web: URL for the GigE camera and
//                            a File: URL for the grabber; device counts beyond its
//                            devices; buffer facts (width, filled size) beyond the buffer
//   KZR_TL_STATIC_GLOBALS    keeps its state in ordinary static objects, destroyed at
//                            exit or unload; a call after that aborts the process
//                            (where a real producer would crash only sometimes)
//   KZR_TL_CLOSE_JOINS       TLOpen starts a worker thread that TLClose stops and joins
//
// Environment, read at each call, for tests of the consumer's checks:
//   KZR_TL_TEST_URL          the area camera's description URL instead of its own;
//                            {addr} and {len} stand for where its description lies
//                            (lower-case hexadecimal), {LEN} for the length in upper case
//   KZR_TL_TEST_OPEN_ERROR   IFOpenDevice fails with this code
//   KZR_TL_TEST_LOST         while set (not empty), the cameras are gone: remote port access and
//                            new-buffer events time out
#include <zlib.h>

#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "GenTL.h"
#include "KZRTestDescriptions.h"

#ifndef KZR_TL_VERSION_MAJOR
#define KZR_TL_VERSION_MAJOR 1
#endif

using namespace KZRGENICAM::gentl;

#if defined(_WIN32)
#define KZR_TL_EXPORT extern "C" __declspec(dllexport) GC_ERROR GC_CALLTYPE
#else
#define KZR_TL_EXPORT extern "C" __attribute__((visibility("default"))) GC_ERROR GC_CALLTYPE
#endif

namespace {

constexpr uint64_t kXmlAddress = 0x10000;
enum : uint64_t {
    RegWidth = 0x100,
    RegHeight = 0x104,
    RegPixelFormat = 0x108,
    RegPayloadSize = 0x10C,
    RegAcqStart = 0x110,
    RegAcqStop = 0x114,
    RegTLParamsLocked = 0x118,
    RegTriggerMode = 0x11C,
    RegTriggerSoftware = 0x120,
    RegChunkMode = 0x124,
    RegIncomplete = 0x128,
    RegExposure = 0x130,
    RegVendor = 0x140,
    RegModel = 0x160,
    RegSerial = 0x180,
    RegGrabberFirmware = 0x118
};
constexpr uint32_t kMono8 = 0x01080001, kMono16 = 0x01100007, kRGB8 = 0x02180014;
constexpr uint64_t kChunkIdImage = 1, kChunkIdFrameInfo = 0x4B5A5201;
constexpr size_t kChunkInfoSize = 16;  // frame id, then timestamp (little-endian)

struct SPort {
    std::vector<uint8_t> memory;
    std::string url;
    uint32_t Get(uint64_t a) const {
        uint32_t v;
        std::memcpy(&v, &memory[a], 4);
        return v;
    }
    void Set(uint64_t a, uint32_t v) { std::memcpy(&memory[a], &v, 4); }
};

struct SDevice;
struct SStream;

struct SBuffer {
    void* base;
    size_t size;
    void* user;
    SStream* stream;
    bool queued = false;
    bool incomplete = false;
    size_t filled = 0, imageSize = 0;
    uint64_t width = 0, height = 0, frameId = 0, timestamp = 0;
    uint32_t pixelFormat = 0;
    bool chunks = false;
};

struct SEvent {
    SStream* stream;
    int kills = 0;  // pending aborts of EventGetData
};

struct SStream {
    SDevice* device;
    std::vector<std::unique_ptr<SBuffer>> announced;
    std::deque<SBuffer*> input, output;
    std::unique_ptr<SEvent> event;
    bool started = false, stopping = false;
    uint64_t delivered = 0;
    std::thread worker;
};

struct SDevice {
    std::string id, serial, model, tltype;
    SPort remote;
    SPort local;  // the device module's own port; description only on the grabber
    bool open = false;
    bool acquiring = false;
    int triggers = 0;
    uint64_t frameCounter = 0;
    std::unique_ptr<SStream> stream;
};

struct SInterface {
    std::string id, tltype;
    std::unique_ptr<SDevice> device;
    bool open = false;
};

struct SSystem {
    std::vector<std::unique_ptr<SInterface>> interfaces;
    bool open = false;
};

enum class EKind { System, Interface, Device, Remote, Stream, Buffer, Event };

struct SGlobals {
    std::mutex mutex;
    std::condition_variable cv;
    bool initialised = false;
    SSystem system;
    std::map<const void*, EKind> handles;  // live handles, for validation
    std::thread systemWorker;              // KZR_TL_CLOSE_JOINS: TLOpen to TLClose
    bool systemWorkerStop = false;
};

#if defined(KZR_TL_STATIC_GLOBALS)
SGlobals g_globals;
bool g_globalsDestroyed = false;  // trivial: still readable after destruction
struct SDestroyedMark {
    ~SDestroyedMark() { g_globalsDestroyed = true; }
} g_destroyedMark;

SGlobals& Globals() {
    return g_globals;
}

void CheckAlive() {
    if (!g_globalsDestroyed) return;
    std::fputs("KZR test producer: called after its static objects were destroyed\n", stderr);
    std::abort();
}
#else
// The producer's state is never destroyed: a consumer may close the library from
// its own exit handlers, after static destructors of ours would have run. It lives
// in the library's data, so nothing is left behind at dlclose once GCCloseLib
// has emptied it.
SGlobals& Globals() {
    alignas(SGlobals) static unsigned char storage[sizeof(SGlobals)];
    static SGlobals* globals = new (storage) SGlobals();
    return *globals;
}

void CheckAlive() {}
#endif

std::mutex& g_mutex = Globals().mutex;
std::condition_variable& g_cv = Globals().cv;
bool& g_initialised = Globals().initialised;
SSystem& g_system = Globals().system;
std::map<const void*, EKind>& g_handles = Globals().handles;

/// KZR_TL_TEST_LOST set and not empty.
bool DevicesLost() {
    const char* value = std::getenv("KZR_TL_TEST_LOST");
    return value && *value;
}

/// The lock every entry point takes.
std::mutex& EntryMutex() {
    CheckAlive();
    return g_mutex;
}

template <class T>
T* Handle(const void* h, EKind kind) {
    auto found = g_handles.find(h);
    if (found == g_handles.end() || found->second != kind) return nullptr;
    return static_cast<T*>(const_cast<void*>(h));
}

GC_ERROR PutString(const std::string& text, INFO_DATATYPE* type, void* buffer, size_t* size) {
    if (!size) return GC_ERR_INVALID_PARAMETER;
    if (type) *type = INFO_DATATYPE_STRING;
#if defined(KZR_TL_UNTERMINATED)
    // The whole buffer filled, no terminator anywhere, and a size beyond it.
    if (buffer && *size >= text.size()) {
        std::memset(buffer, 'X', *size);
        std::memcpy(buffer, text.data(), text.size());
    }
    *size += 100000;
    return GC_ERR_SUCCESS;
#elif defined(KZR_TL_HOSTILE)
    // No terminator, and a size far beyond what was written.
    if (buffer && *size >= text.size()) std::memcpy(buffer, text.data(), text.size());
    *size = text.size() + 100000;
    return GC_ERR_SUCCESS;
#else
    const size_t needed = text.size() + 1;
    if (!buffer) {
        *size = needed;
        return GC_ERR_SUCCESS;
    }
    if (*size < needed) return GC_ERR_BUFFER_TOO_SMALL;
    std::memcpy(buffer, text.c_str(), needed);
    *size = needed;
    return GC_ERR_SUCCESS;
#endif
}

template <class T>
GC_ERROR PutValue(T value, INFO_DATATYPE kind, INFO_DATATYPE* type, void* buffer, size_t* size) {
    if (!size) return GC_ERR_INVALID_PARAMETER;
    if (type) *type = kind;
    if (!buffer) {
        *size = sizeof(T);
        return GC_ERR_SUCCESS;
    }
    if (*size < sizeof(T)) return GC_ERR_BUFFER_TOO_SMALL;
    std::memcpy(buffer, &value, sizeof(T));
    *size = sizeof(T);
    return GC_ERR_SUCCESS;
}

void PutLE32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void PutLE16(std::string& out, uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

/// A zip archive with one deflated file, as GigE Vision cameras ship their descriptions.
std::string Zip(const std::string& name, const std::string& data) {
    z_stream z{};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string packed(deflateBound(&z, data.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(&packed[0]);
    z.avail_out = static_cast<uInt>(packed.size());
    deflate(&z, Z_FINISH);
    packed.resize(z.total_out);
    deflateEnd(&z);
    const uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    auto header = [&](std::string& out, bool central) {
        PutLE32(out, central ? 0x02014b50 : 0x04034b50);
        if (central) PutLE16(out, 20);
        PutLE16(out, 20);    // version needed
        PutLE16(out, 0);     // flags
        PutLE16(out, 8);     // deflate
        PutLE16(out, 0);     // time
        PutLE16(out, 0x21);  // 1980-01-01
        PutLE32(out, crc);
        PutLE32(out, static_cast<uint32_t>(packed.size()));
        PutLE32(out, static_cast<uint32_t>(data.size()));
        PutLE16(out, static_cast<uint16_t>(name.size()));
        PutLE16(out, 0);  // extra
        if (central) {
            PutLE16(out, 0);  // comment
            PutLE16(out, 0);  // disk
            PutLE16(out, 0);  // internal attributes
            PutLE32(out, 0);  // external attributes
            PutLE32(out, 0);  // local header offset
        }
        out += name;
    };
    std::string zip;
    header(zip, false);
    zip += packed;
    const size_t centralOffset = zip.size();
    header(zip, true);
    const size_t centralSize = zip.size() - centralOffset;
    PutLE32(zip, 0x06054b50);
    PutLE16(zip, 0);
    PutLE16(zip, 0);
    PutLE16(zip, 1);
    PutLE16(zip, 1);
    PutLE32(zip, static_cast<uint32_t>(centralSize));
    PutLE32(zip, static_cast<uint32_t>(centralOffset));
    PutLE16(zip, 0);
    return zip;
}

std::string Hex(uint64_t v) {
    char text[32];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(v));
    return text;
}

void ServeDescription(SPort& port, const std::string& fileName, const std::string& content) {
    port.memory.resize(kXmlAddress + content.size());
    std::memcpy(&port.memory[kXmlAddress], content.data(), content.size());
    port.url = "Local:" + fileName + ";" + Hex(kXmlAddress) + ";" + Hex(content.size());
}

void SetText(SPort& port, uint64_t address, const std::string& text) {
    std::memcpy(&port.memory[address], text.c_str(), std::min<size_t>(text.size() + 1, 32));
}

std::string WithModel(const std::string& model) {
    std::string xml = kAreaCameraXml;
    const std::string mark = "@MODEL@";
    xml.replace(xml.find(mark), mark.size(), model);
    return xml;
}

std::unique_ptr<SDevice> MakeCamera(const std::string& id, const std::string& serial,
                                    const std::string& model, const std::string& tltype,
                                    bool zipped) {
    auto d = std::make_unique<SDevice>();
    d->id = id;
    d->serial = serial;
    d->model = model;
    d->tltype = tltype;
    const std::string xml = WithModel(model);
    if (zipped)
        ServeDescription(d->remote, "KZRLineCamera.zip", Zip("KZRLineCamera.xml", xml));
    else
        ServeDescription(d->remote, "KZRAreaCamera.xml", xml);
#if defined(KZR_TL_HOSTILE)
    if (!zipped) d->remote.url = "Web:http://127.0.0.1/camera.xml";
#endif
    SPort& r = d->remote;
    r.Set(RegWidth, 640);
    r.Set(RegHeight, 480);
    r.Set(RegPixelFormat, kMono8);
    const double exposure = 5000.0;
    std::memcpy(&r.memory[RegExposure], &exposure, 8);
    SetText(r, RegVendor, "KZR Test");
    SetText(r, RegModel, model);
    SetText(r, RegSerial, serial);
    return d;
}

void BuildSystem() {
    g_system.interfaces.clear();
    auto gev = std::make_unique<SInterface>();
    gev->id = "KZR-IF-GEV";
    gev->tltype = TLTypeGEV;
    gev->device = MakeCamera("KZR-DEV-AREA", "KZRGEV0001", "KZR Area GEV", TLTypeGEV, false);
    auto cl = std::make_unique<SInterface>();
    cl->id = "KZR-IF-CL";
    cl->tltype = TLTypeCL;
    cl->device = MakeCamera("KZR-DEV-CL", "KZRCL0042", "KZR Line CL", TLTypeCL, true);
    ServeDescription(cl->device->local, "KZRGrabber.xml", kGrabberXml);
#if defined(KZR_TL_HOSTILE)
    cl->device->local.url = "File://" KZR_TL_SOURCE_DIR "/KZRGrabber.xml";
#endif
    cl->device->local.Set(RegGrabberFirmware, 0x0102);
    g_system.interfaces.push_back(std::move(gev));
    g_system.interfaces.push_back(std::move(cl));
}

uint32_t BytesPerPixel(uint32_t format) {
    return format == kMono16 ? 2 : format == kRGB8 ? 3 : 1;
}

uint64_t PayloadSize(const SDevice& d) {
    const uint64_t image = uint64_t(d.remote.Get(RegWidth)) * d.remote.Get(RegHeight) *
                           BytesPerPixel(d.remote.Get(RegPixelFormat));
    return d.remote.Get(RegChunkMode) ? image + 8 + kChunkInfoSize + 8 : image;
}

void PutTrailer(uint8_t* at, uint32_t id, uint32_t length) {
    // GigE Vision chunk trailers are big-endian.
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<uint8_t>(id >> (24 - 8 * i));
        at[4 + i] = static_cast<uint8_t>(length >> (24 - 8 * i));
    }
}

/// Fills one buffer; called without the lock, on a buffer no one else touches.
void Render(SBuffer& b, uint64_t width, uint64_t height, uint32_t format, bool chunks,
            uint64_t frameId) {
    const uint32_t bpp = BytesPerPixel(format);
    const size_t image = width * height * bpp;
    b.width = width;
    b.height = height;
    b.pixelFormat = format;
    b.frameId = frameId;
    b.timestamp = frameId * 1000;
    b.chunks = chunks;
    b.imageSize = image;
    const size_t total = chunks ? image + 8 + kChunkInfoSize + 8 : image;
    if (total > b.size) {
        b.incomplete = true;
        b.filled = 0;
        return;
    }
    auto* p = static_cast<uint8_t*>(b.base);
    for (uint64_t y = 0; y < height; ++y) {
        uint8_t* row = p + y * width * bpp;
        for (uint64_t x = 0; x < width; ++x) {
            const uint8_t v = static_cast<uint8_t>(x + y + frameId);
            for (uint32_t c = 0; c < bpp; ++c) row[x * bpp + c] = v;
        }
    }
    if (chunks) {
        PutTrailer(p + image, static_cast<uint32_t>(kChunkIdImage), static_cast<uint32_t>(image));
        uint8_t* info = p + image + 8;
        std::memcpy(info, &frameId, 8);
        std::memcpy(info + 8, &b.timestamp, 8);
        PutTrailer(info + kChunkInfoSize, static_cast<uint32_t>(kChunkIdFrameInfo), kChunkInfoSize);
    }
    b.filled = total;
}

void Worker(SStream* s) {
    std::unique_lock<std::mutex> lock(g_mutex);
    SDevice& d = *s->device;
    for (;;) {
        g_cv.wait(lock, [&] {
            return s->stopping || (d.acquiring && !s->input.empty() &&
                                   (!d.remote.Get(RegTriggerMode) || d.triggers > 0));
        });
        if (s->stopping) return;
        if (d.remote.Get(RegTriggerMode)) --d.triggers;
        SBuffer* b = s->input.front();
        s->input.pop_front();
        const uint64_t w = d.remote.Get(RegWidth), h = d.remote.Get(RegHeight);
        const uint32_t f = d.remote.Get(RegPixelFormat);
        const bool chunks = d.remote.Get(RegChunkMode) != 0;
        const uint64_t frameId = ++d.frameCounter;
        b->incomplete = false;
        if (d.remote.Get(RegIncomplete) > 0) {
            d.remote.Set(RegIncomplete, d.remote.Get(RegIncomplete) - 1);
            b->incomplete = true;
        }
        lock.unlock();
        Render(*b, w, h, f, chunks, frameId);
        lock.lock();
        b->queued = false;
        s->output.push_back(b);
        ++s->delivered;
        g_cv.notify_all();
    }
}

/// Called with g_mutex held; lets it go while the worker ends.
void StopWorker(SStream& s) {
    std::unique_lock<std::mutex> lock(g_mutex, std::adopt_lock);
    if (!s.started) {
        lock.release();
        return;
    }
    s.stopping = true;
    g_cv.notify_all();
    std::thread worker = std::move(s.worker);
    lock.unlock();
    worker.join();
    lock.lock();
    s.started = false;
    s.stopping = false;
    lock.release();
}

GC_ERROR ReadPort(SPort& port, SDevice* d, uint64_t address, void* buffer, size_t* size) {
    if (!buffer || !size) return GC_ERR_INVALID_PARAMETER;
    if (address > port.memory.size() || *size > port.memory.size() - address)
        return GC_ERR_INVALID_ADDRESS;
    if (d && &port == &d->remote) port.Set(RegPayloadSize, static_cast<uint32_t>(PayloadSize(*d)));
    std::memcpy(buffer, &port.memory[address], *size);
    return GC_ERR_SUCCESS;
}

GC_ERROR WriteRemote(SDevice& d, uint64_t address, const void* buffer, size_t size) {
    SPort& r = d.remote;
    if (address >= kXmlAddress || size > kXmlAddress - address) return GC_ERR_INVALID_ADDRESS;
    const bool locked = r.Get(RegTLParamsLocked) != 0;
    const bool shaping = address <= RegPixelFormat + 3 && address + size > RegWidth;
    const bool chunkMode = address <= RegChunkMode + 3 && address + size > RegChunkMode;
    if (locked && (shaping || chunkMode)) return GC_ERR_ACCESS_DENIED;
    if (address < 0x200 && address + size > RegVendor && address < RegSerial + 32)
        return GC_ERR_ACCESS_DENIED;
    std::vector<uint8_t> before(r.memory.begin(), r.memory.begin() + 0x200);
    std::memcpy(&r.memory[address], buffer, size);
    if (shaping) {
        const uint32_t w = r.Get(RegWidth), h = r.Get(RegHeight), f = r.Get(RegPixelFormat);
        if (w < 16 || w > 2048 || h < 1 || h > 2048 ||
            (f != kMono8 && f != kMono16 && f != kRGB8)) {
            std::memcpy(r.memory.data(), before.data(), before.size());
            return GC_ERR_INVALID_VALUE;
        }
    }
    auto touched = [&](uint64_t reg) { return address <= reg && address + size >= reg + 4; };
    if (touched(RegAcqStart) && r.Get(RegAcqStart)) d.acquiring = true;
    if (touched(RegAcqStop) && r.Get(RegAcqStop)) d.acquiring = false;
    if (touched(RegTriggerSoftware) && r.Get(RegTriggerSoftware) && d.acquiring) ++d.triggers;
    g_cv.notify_all();
    return GC_ERR_SUCCESS;
}

GC_ERROR WriteLocal(SPort& port, uint64_t address, const void* buffer, size_t size) {
    if (port.memory.empty()) return GC_ERR_NOT_AVAILABLE;
    if (address >= kXmlAddress || size > kXmlAddress - address) return GC_ERR_INVALID_ADDRESS;
    if (address + size > RegGrabberFirmware && address < RegGrabberFirmware + 4)
        return GC_ERR_ACCESS_DENIED;
    std::memcpy(&port.memory[address], buffer, size);
    return GC_ERR_SUCCESS;
}

SPort* PortOf(PORT_HANDLE h, SDevice** device) {
    *device = nullptr;
    if (auto* d = Handle<SDevice>(h, EKind::Device)) {
        *device = d;
        return &d->local;
    }
    auto found = g_handles.find(h);
    if (found == g_handles.end() || found->second != EKind::Remote) return nullptr;
    // A remote port handle is the address of its device's remote port.
    for (auto& i : g_system.interfaces) {
        if (&i->device->remote == h) {
            *device = i->device.get();
            return &i->device->remote;
        }
    }
    return nullptr;
}

/// The URL a port names: its own, or KZR_TL_TEST_URL on the area camera's remote port.
std::string UrlOf(const SPort& port, const SDevice* d) {
    const char* test = std::getenv("KZR_TL_TEST_URL");
    if (!test || !d || &port != &d->remote || d->id != "KZR-DEV-AREA") return port.url;
    std::string url = test;
    const uint64_t length = port.memory.size() - kXmlAddress;
    std::string upper = Hex(length);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::pair<const char*, std::string> marks[] = {
        {"{addr}", Hex(kXmlAddress)}, {"{len}", Hex(length)}, {"{LEN}", upper}};
    for (const auto& mark : marks)
        for (size_t at; (at = url.find(mark.first)) != std::string::npos;)
            url.replace(at, std::strlen(mark.first), mark.second);
    return url;
}

SInterface* InterfaceById(const char* id) {
    if (!id) return nullptr;
    for (auto& i : g_system.interfaces)
        if (i->id == id) return i.get();
    return nullptr;
}

void CloseStream(SDevice& d) {
    if (!d.stream) return;
    StopWorker(*d.stream);
    for (auto& b : d.stream->announced) g_handles.erase(b.get());
    if (d.stream->event) g_handles.erase(d.stream->event.get());
    g_handles.erase(d.stream.get());
    d.stream.reset();
}

void CloseDevice(SDevice& d) {
    CloseStream(d);
    g_handles.erase(&d);
    g_handles.erase(&d.remote);
    d.open = false;
    d.acquiring = false;
}

GC_ERROR DeviceInfo(const SDevice& d, DEVICE_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer,
                    size_t* size) {
    switch (cmd) {
        case DEVICE_INFO_ID:
            return PutString(d.id, type, buffer, size);
        case DEVICE_INFO_VENDOR:
            return PutString("KZR Test", type, buffer, size);
        case DEVICE_INFO_MODEL:
            return PutString(d.model, type, buffer, size);
        case DEVICE_INFO_TLTYPE:
            return PutString(d.tltype, type, buffer, size);
        case DEVICE_INFO_DISPLAYNAME:
            return PutString("KZR Test " + d.model, type, buffer, size);
        case DEVICE_INFO_SERIAL_NUMBER:
            return PutString(d.serial, type, buffer, size);
        case DEVICE_INFO_ACCESS_STATUS:
            return PutValue<int32_t>(d.open ? 4 : 1, INFO_DATATYPE_INT32, type, buffer, size);
        default:
            return GC_ERR_NOT_AVAILABLE;
    }
}

}  // namespace

// ---- library and system ----

KZR_TL_EXPORT GCInitLib(void) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    if (g_initialised) return GC_ERR_RESOURCE_IN_USE;
#if defined(KZR_TL_INIT_FAILS)
    return GC_ERR_IO;
#endif
    BuildSystem();
    g_initialised = true;
    return GC_ERR_SUCCESS;
}

KZR_TL_EXPORT GCCloseLib(void) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    if (!g_initialised) return GC_ERR_NOT_INITIALIZED;
    for (auto& i : g_system.interfaces)
        if (i->device->open) CloseDevice(*i->device);
    g_handles.clear();
    g_system = SSystem();
    g_initialised = false;
    return GC_ERR_SUCCESS;
}

KZR_TL_EXPORT GCGetInfo(TL_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) {
    switch (cmd) {
        case TL_INFO_ID:
            return PutString("KZRTestTL", type, buffer, size);
        case TL_INFO_VENDOR:
            return PutString("KZR Test", type, buffer, size);
        case TL_INFO_MODEL:
            return PutString("KZR Test Producer", type, buffer, size);
        case TL_INFO_TLTYPE:
            return PutString("Mixed", type, buffer, size);
        case TL_INFO_GENTL_VER_MAJOR:
            return PutValue<uint32_t>(KZR_TL_VERSION_MAJOR, INFO_DATATYPE_UINT32, type, buffer,
                                      size);
        case TL_INFO_GENTL_VER_MINOR:
            return PutValue<uint32_t>(5, INFO_DATATYPE_UINT32, type, buffer, size);
        default:
            return GC_ERR_NOT_AVAILABLE;
    }
}

KZR_TL_EXPORT GCGetLastError(GC_ERROR* code, char* text, size_t* size) {
    if (code) *code = GC_ERR_ERROR;
    return PutString("KZR test producer: see the call's result", nullptr, text, size);
}

KZR_TL_EXPORT TLOpen(TL_HANDLE* handle) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    if (!g_initialised) return GC_ERR_NOT_INITIALIZED;
    if (!handle) return GC_ERR_INVALID_PARAMETER;
    if (g_system.open) return GC_ERR_RESOURCE_IN_USE;
    g_system.open = true;
    g_handles[&g_system] = EKind::System;
    *handle = &g_system;
#if defined(KZR_TL_CLOSE_JOINS)
    SGlobals& globals = Globals();
    globals.systemWorkerStop = false;
    globals.systemWorker = std::thread([&globals] {
        std::unique_lock<std::mutex> wait(globals.mutex);
        globals.cv.wait(wait, [&globals] { return globals.systemWorkerStop; });
    });
#endif
    return GC_ERR_SUCCESS;
}

KZR_TL_EXPORT TLClose(TL_HANDLE handle) {
    std::unique_lock<std::mutex> lock(EntryMutex());
    if (!Handle<SSystem>(handle, EKind::System)) return GC_ERR_INVALID_HANDLE;
    g_handles.erase(handle);
    g_system.open = false;
#if defined(KZR_TL_CLOSE_JOINS)
    // Waits for the thread to end: inside DllMain this never returns.
    SGlobals& globals = Globals();
    globals.systemWorkerStop = true;
    std::thread worker = std::move(globals.systemWorker);
    lock.unlock();
    g_cv.notify_all();
    if (worker.joinable()) worker.join();
#endif
    return GC_ERR_SUCCESS;
}

KZR_TL_EXPORT TLUpdateInterfaceList(TL_HANDLE handle, bool8_t* changed, uint64_t) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    if (!Handle<SSystem>(handle, EKind::System)) return GC_ERR_INVALID_HANDLE;
    if (changed) *changed = 0;
    return GC_ERR_SUCCESS;
}

KZR_TL_EXPORT TLGetNumInterfaces(TL_HANDLE handle, uint32_t* count) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    if (!Handle<SSystem>(handle, EKind::System)) return GC_ERR_INVALID_HANDLE;
    if (!count) return GC_ERR_INVALID_PARAMETER;
    *count = static_cast<uint32_t>(g_system.interfaces.size());
    return GC_ERR_SUCCESS;
}

KZR_TL_EXPORT TLGetInterfaceID(TL_HANDLE handle, uint32_t index, char* id, size_t* size) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    if (!Handle<SSystem>(handle, EKind::System)) return GC_ERR_INVALID_HANDLE;
    if (index >= g_system.interfaces.size()) return GC_ERR_INVALID_INDEX;
    return PutString(g_system.interfaces[index]->id, nullptr, id, size);
}

KZR_TL_EXPORT TLGetInterfaceInfo(TL_HANDLE handle, const char* ifId, INTERFACE_INFO_CMD cmd,
                                 INFO_DATATYPE* type, void* buffer, size_t* size) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    if (!Handle<SSystem>(handle, EKind::System)) return GC_ERR_INVALID_HANDLE;
    SInterface* i = InterfaceById(ifId);
    if (!i) return GC_ERR_INVALID_ID;
    if (cmd == INTERFACE_INFO_ID || cmd == INTERFACE_INFO_DISPLAYNAME)
        return PutString(i->id, type, buffer, size);
    if (cmd == INTERFACE_INFO_TLTYPE) return PutString(i->tltype, type, buffer, size);
    return GC_ERR_NOT_AVAILABLE;
}

KZR_TL_EXPORT TLOpenInterface(TL_HANDLE handle, const char* ifId, IF_HANDLE* out) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    if (!Handle<SSystem>(handle, EKind::System)) return GC_ERR_INVALID_HANDLE;
    if (!out) return GC_ERR_INVALID_PARAMETER;
    SInterface* i = InterfaceById(ifId);
    if (!i) return GC_ERR_INVALID_ID;
    if (i->open) return GC_ERR_RESOURCE_IN_USE;
    i->open = true;
    g_handles[i] = EKind::Interface;
    *out = i;
    return GC_ERR_SUCCESS;
}

// ---- interfaces ----

KZR_TL_EXPORT IFClose(IF_HANDLE handle) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    auto* i = Handle<SInterface>(handle, EKind::Interface);
    if (!i) return GC_ERR_INVALID_HANDLE;
    i->open = false;
    g_handles.erase(handle);
    return GC_ERR_SUCCESS;
}

KZR_TL_EXPORT IFUpdateDeviceList(IF_HANDLE handle, bool8_t* changed, uint64_t) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    if (!Handle<SInterface>(handle, EKind::Interface)) return GC_ERR_INVALID_HANDLE;
    if (changed) *changed = 0;
    return GC_ERR_SUCCESS;
}

KZR_TL_EXPORT IFGetNumDevices(IF_HANDLE handle, uint32_t* count) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    if (!Handle<SInterface>(handle, EKind::Interface)) return GC_ERR_INVALID_HANDLE;
    if (!count) return GC_ERR_INVALID_PARAMETER;
#if defined(KZR_TL_HOSTILE)
    *count = 3;  // only the first exists
#else
    *count = 1;
#endif
    return GC_ERR_SUCCESS;
}

KZR_TL_EXPORT IFGetDeviceID(IF_HANDLE handle, uint32_t index, char* id, size_t* size) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    auto* i = Handle<SInterface>(handle, EKind::Interface);
    if (!i) return GC_ERR_INVALID_HANDLE;
    if (index != 0) return GC_ERR_INVALID_INDEX;
    return PutString(i->device->id, nullptr, id, size);
}

KZR_TL_EXPORT IFGetDeviceInfo(IF_HANDLE handle, const char* devId, DEVICE_INFO_CMD cmd,
                              INFO_DATATYPE* type, void* buffer, size_t* size) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    auto* i = Handle<SInterface>(handle, EKind::Interface);
    if (!i) return GC_ERR_INVALID_HANDLE;
    if (!devId || i->device->id != devId) return GC_ERR_INVALID_ID;
    return DeviceInfo(*i->device, cmd, type, buffer, size);
}

KZR_TL_EXPORT IFOpenDevice(IF_HANDLE handle, const char* devId, DEVICE_ACCESS_FLAGS,
                           DEV_HANDLE* out) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    auto* i = Handle<SInterface>(handle, EKind::Interface);
    if (!i) return GC_ERR_INVALID_HANDLE;
    if (!out) return GC_ERR_INVALID_PARAMETER;
    if (!devId || i->device->id != devId) return GC_ERR_INVALID_ID;
    if (const char* error = std::getenv("KZR_TL_TEST_OPEN_ERROR"))
        return static_cast<GC_ERROR>(std::strtol(error, nullptr, 10));
    SDevice& d = *i->device;
    if (d.open) return GC_ERR_RESOURCE_IN_USE;
    d.open = true;
    d.remote.Set(RegTLParamsLocked, 0);
    g_handles[&d] = EKind::Device;
    g_handles[&d.remote] = EKind::Remote;
    *out = &d;
    return GC_ERR_SUCCESS;
}

// ---- devices ----

KZR_TL_EXPORT DevClose(DEV_HANDLE handle) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    auto* d = Handle<SDevice>(handle, EKind::Device);
    if (!d) return GC_ERR_INVALID_HANDLE;
    CloseDevice(*d);
    return GC_ERR_SUCCESS;
}

KZR_TL_EXPORT DevGetPort(DEV_HANDLE handle, PORT_HANDLE* port) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    auto* d = Handle<SDevice>(handle, EKind::Device);
    if (!d) return GC_ERR_INVALID_HANDLE;
    if (!port) return GC_ERR_INVALID_PARAMETER;
    *port = &d->remote;
    return GC_ERR_SUCCESS;
}

KZR_TL_EXPORT DevGetNumDataStreams(DEV_HANDLE handle, uint32_t* count) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    if (!Handle<SDevice>(handle, EKind::Device)) return GC_ERR_INVALID_HANDLE;
    if (!count) return GC_ERR_INVALID_PARAMETER;
    *count = 1;
    return GC_ERR_SUCCESS;
}

KZR_TL_EXPORT DevGetDataStreamID(DEV_HANDLE handle, uint32_t index, char* id, size_t* size) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    if (!Handle<SDevice>(handle, EKind::Device)) return GC_ERR_INVALID_HANDLE;
    if (index != 0) return GC_ERR_INVALID_INDEX;
    return PutString("Stream0", nullptr, id, size);
}

KZR_TL_EXPORT DevOpenDataStream(DEV_HANDLE handle, const char* id, DS_HANDLE* out) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    auto* d = Handle<SDevice>(handle, EKind::Device);
    if (!d) return GC_ERR_INVALID_HANDLE;
    if (!out) return GC_ERR_INVALID_PARAMETER;
    if (!id || std::strcmp(id, "Stream0") != 0) return GC_ERR_INVALID_ID;
    if (d->stream) return GC_ERR_RESOURCE_IN_USE;
    d->stream = std::make_unique<SStream>();
    d->stream->device = d;
    g_handles[d->stream.get()] = EKind::Stream;
    *out = d->stream.get();
    return GC_ERR_SUCCESS;
}

// ---- ports ----

KZR_TL_EXPORT GCReadPort(PORT_HANDLE handle, uint64_t address, void* buffer, size_t* size) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    SDevice* d = nullptr;
    SPort* port = PortOf(handle, &d);
    if (!port) return GC_ERR_INVALID_HANDLE;
    if (d && port == &d->remote && DevicesLost()) return GC_ERR_TIMEOUT;
    if (port->memory.empty()) return GC_ERR_NOT_AVAILABLE;
    return ReadPort(*port, d, address, buffer, size);
}

KZR_TL_EXPORT GCWritePort(PORT_HANDLE handle, uint64_t address, const void* buffer, size_t* size) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    SDevice* d = nullptr;
    SPort* port = PortOf(handle, &d);
    if (!port) return GC_ERR_INVALID_HANDLE;
    if (d && port == &d->remote && DevicesLost()) return GC_ERR_TIMEOUT;
    if (!buffer || !size) return GC_ERR_INVALID_PARAMETER;
    return port == &d->remote ? WriteRemote(*d, address, buffer, *size)
                              : WriteLocal(*port, address, buffer, *size);
}

KZR_TL_EXPORT GCGetPortURL(PORT_HANDLE handle, char* url, size_t* size) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    SDevice* d = nullptr;
    SPort* port = PortOf(handle, &d);
    if (!port) return GC_ERR_INVALID_HANDLE;
    if (port->url.empty()) return GC_ERR_NOT_AVAILABLE;
    return PutString(UrlOf(*port, d), nullptr, url, size);
}

#if !defined(KZR_TL_HOSTILE)
KZR_TL_EXPORT GCGetNumPortURLs(PORT_HANDLE handle, uint32_t* count) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    SDevice* d = nullptr;
    SPort* port = PortOf(handle, &d);
    if (!port) return GC_ERR_INVALID_HANDLE;
    if (!count) return GC_ERR_INVALID_PARAMETER;
    *count = port->url.empty() ? 0 : 1;
    return GC_ERR_SUCCESS;
}

KZR_TL_EXPORT GCGetPortURLInfo(PORT_HANDLE handle, uint32_t index, URL_INFO_CMD cmd,
                               INFO_DATATYPE* type, void* buffer, size_t* size) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    SDevice* d = nullptr;
    SPort* port = PortOf(handle, &d);
    if (!port) return GC_ERR_INVALID_HANDLE;
    if (index != 0 || port->url.empty()) return GC_ERR_INVALID_INDEX;
    if (cmd != URL_INFO_URL) return GC_ERR_NOT_AVAILABLE;
    return PutString(UrlOf(*port, d), type, buffer, size);
}
#endif

// ---- events ----

KZR_TL_EXPORT GCRegisterEvent(EVENTSRC_HANDLE source, EVENT_TYPE type, EVENT_HANDLE* out) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    auto* s = Handle<SStream>(source, EKind::Stream);
    if (!s) return GC_ERR_INVALID_HANDLE;
    if (type != EVENT_NEW_BUFFER) return GC_ERR_NOT_IMPLEMENTED;
    if (!out) return GC_ERR_INVALID_PARAMETER;
    if (s->event) return GC_ERR_RESOURCE_IN_USE;
    s->event = std::make_unique<SEvent>();
    s->event->stream = s;
    g_handles[s->event.get()] = EKind::Event;
    *out = s->event.get();
    return GC_ERR_SUCCESS;
}

KZR_TL_EXPORT GCUnregisterEvent(EVENTSRC_HANDLE source, EVENT_TYPE type) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    auto* s = Handle<SStream>(source, EKind::Stream);
    if (!s) return GC_ERR_INVALID_HANDLE;
    if (type != EVENT_NEW_BUFFER || !s->event) return GC_ERR_NOT_AVAILABLE;
    g_handles.erase(s->event.get());
    s->event.reset();
    g_cv.notify_all();
    return GC_ERR_SUCCESS;
}

KZR_TL_EXPORT EventGetData(EVENT_HANDLE handle, void* buffer, size_t* size, uint64_t timeoutMs) {
    std::unique_lock<std::mutex> lock(g_mutex);
    auto* e = Handle<SEvent>(handle, EKind::Event);
    if (!e) return GC_ERR_INVALID_HANDLE;
    if (!buffer || !size) return GC_ERR_INVALID_PARAMETER;
    if (*size < sizeof(EVENT_NEW_BUFFER_DATA)) return GC_ERR_BUFFER_TOO_SMALL;
    if (DevicesLost()) return GC_ERR_TIMEOUT;
    SStream* s = e->stream;
    auto ready = [&] {
        return !Handle<SEvent>(handle, EKind::Event) || e->kills > 0 || !s->output.empty();
    };
    if (timeoutMs == GENTL_INFINITE)
        g_cv.wait(lock, ready);
    else if (!g_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready))
        return GC_ERR_TIMEOUT;
    if (!Handle<SEvent>(handle, EKind::Event)) return GC_ERR_ABORT;
    if (e->kills > 0) {
        --e->kills;
        return GC_ERR_ABORT;
    }
    SBuffer* b = s->output.front();
    s->output.pop_front();
    EVENT_NEW_BUFFER_DATA data{b, b->user};
    std::memcpy(buffer, &data, sizeof data);
    *size = sizeof data;
    return GC_ERR_SUCCESS;
}

KZR_TL_EXPORT EventFlush(EVENT_HANDLE handle) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    auto* e = Handle<SEvent>(handle, EKind::Event);
    if (!e) return GC_ERR_INVALID_HANDLE;
    e->stream->output.clear();
    return GC_ERR_SUCCESS;
}

KZR_TL_EXPORT EventKill(EVENT_HANDLE handle) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    auto* e = Handle<SEvent>(handle, EKind::Event);
    if (!e) return GC_ERR_INVALID_HANDLE;
    ++e->kills;
    g_cv.notify_all();
    return GC_ERR_SUCCESS;
}

// ---- data streams ----

KZR_TL_EXPORT DSAnnounceBuffer(DS_HANDLE handle, void* base, size_t size, void* user,
                               BUFFER_HANDLE* out) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    auto* s = Handle<SStream>(handle, EKind::Stream);
    if (!s) return GC_ERR_INVALID_HANDLE;
    if (!base || !out || size == 0) return GC_ERR_INVALID_PARAMETER;
    auto b = std::make_unique<SBuffer>();
    b->base = base;
    b->size = size;
    b->user = user;
    b->stream = s;
    g_handles[b.get()] = EKind::Buffer;
    *out = b.get();
    s->announced.push_back(std::move(b));
    return GC_ERR_SUCCESS;
}

#if !defined(KZR_TL_NO_QUEUE)
KZR_TL_EXPORT DSQueueBuffer(DS_HANDLE handle, BUFFER_HANDLE buffer) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    auto* s = Handle<SStream>(handle, EKind::Stream);
    auto* b = Handle<SBuffer>(buffer, EKind::Buffer);
    if (!s) return GC_ERR_INVALID_HANDLE;
    if (!b || b->stream != s) return GC_ERR_INVALID_BUFFER;
    if (b->queued) return GC_ERR_RESOURCE_IN_USE;
    b->queued = true;
    s->input.push_back(b);
    g_cv.notify_all();
    return GC_ERR_SUCCESS;
}
#endif

KZR_TL_EXPORT DSRevokeBuffer(DS_HANDLE handle, BUFFER_HANDLE buffer, void** base, void** user) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    auto* s = Handle<SStream>(handle, EKind::Stream);
    auto* b = Handle<SBuffer>(buffer, EKind::Buffer);
    if (!s) return GC_ERR_INVALID_HANDLE;
    if (!b || b->stream != s) return GC_ERR_INVALID_BUFFER;
    if (b->queued || s->started) return GC_ERR_BUSY;
    for (auto it = s->output.begin(); it != s->output.end();)
        it = *it == b ? s->output.erase(it) : it + 1;
    if (base) *base = b->base;
    if (user) *user = b->user;
    g_handles.erase(b);
    for (auto it = s->announced.begin(); it != s->announced.end(); ++it) {
        if (it->get() == b) {
            s->announced.erase(it);
            break;
        }
    }
    return GC_ERR_SUCCESS;
}

KZR_TL_EXPORT DSFlushQueue(DS_HANDLE handle, ACQ_QUEUE_TYPE op) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    auto* s = Handle<SStream>(handle, EKind::Stream);
    if (!s) return GC_ERR_INVALID_HANDLE;
    switch (op) {
        case ACQ_QUEUE_INPUT_TO_OUTPUT:
            for (SBuffer* b : s->input) {
                b->queued = false;
                b->filled = 0;
                s->output.push_back(b);
            }
            s->input.clear();
            break;
        case ACQ_QUEUE_OUTPUT_DISCARD:
            s->output.clear();
            break;
        case ACQ_QUEUE_ALL_DISCARD:
            for (SBuffer* b : s->input) b->queued = false;
            s->input.clear();
            s->output.clear();
            break;
        default:
            return GC_ERR_NOT_IMPLEMENTED;
    }
    g_cv.notify_all();
    return GC_ERR_SUCCESS;
}

KZR_TL_EXPORT DSStartAcquisition(DS_HANDLE handle, ACQ_START_FLAGS, uint64_t) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    auto* s = Handle<SStream>(handle, EKind::Stream);
    if (!s) return GC_ERR_INVALID_HANDLE;
    if (s->started) return GC_ERR_RESOURCE_IN_USE;
    s->started = true;
    s->worker = std::thread(Worker, s);
    return GC_ERR_SUCCESS;
}

KZR_TL_EXPORT DSStopAcquisition(DS_HANDLE handle, ACQ_STOP_FLAGS) {
    g_mutex.lock();
    auto* s = Handle<SStream>(handle, EKind::Stream);
    if (!s) {
        g_mutex.unlock();
        return GC_ERR_INVALID_HANDLE;
    }
    const bool started = s->started;
    StopWorker(*s);
    g_mutex.unlock();
    return started ? GC_ERR_SUCCESS : GC_ERR_RESOURCE_IN_USE;
}

KZR_TL_EXPORT DSClose(DS_HANDLE handle) {
    g_mutex.lock();
    auto* s = Handle<SStream>(handle, EKind::Stream);
    if (!s) {
        g_mutex.unlock();
        return GC_ERR_INVALID_HANDLE;
    }
    CloseStream(*s->device);
    g_cv.notify_all();
    g_mutex.unlock();
    return GC_ERR_SUCCESS;
}

KZR_TL_EXPORT DSGetInfo(DS_HANDLE handle, STREAM_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer,
                        size_t* size) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    auto* s = Handle<SStream>(handle, EKind::Stream);
    if (!s) return GC_ERR_INVALID_HANDLE;
    switch (cmd) {
        case STREAM_INFO_ID:
            return PutString("Stream0", type, buffer, size);
        case STREAM_INFO_PAYLOAD_SIZE:
            return PutValue<size_t>(PayloadSize(*s->device), INFO_DATATYPE_SIZET, type, buffer,
                                    size);
        case STREAM_INFO_DEFINES_PAYLOADSIZE:
            return PutValue<bool8_t>(1, INFO_DATATYPE_BOOL8, type, buffer, size);
        case STREAM_INFO_NUM_DELIVERED:
            return PutValue<uint64_t>(s->delivered, INFO_DATATYPE_UINT64, type, buffer, size);
        case STREAM_INFO_NUM_ANNOUNCED:
            return PutValue<size_t>(s->announced.size(), INFO_DATATYPE_SIZET, type, buffer, size);
        case STREAM_INFO_NUM_QUEUED:
            return PutValue<size_t>(s->input.size(), INFO_DATATYPE_SIZET, type, buffer, size);
        case STREAM_INFO_IS_GRABBING:
            return PutValue<bool8_t>(s->started, INFO_DATATYPE_BOOL8, type, buffer, size);
        case STREAM_INFO_TLTYPE:
            return PutString(s->device->tltype, type, buffer, size);
        default:
            return GC_ERR_NOT_AVAILABLE;
    }
}

KZR_TL_EXPORT DSGetBufferInfo(DS_HANDLE handle, BUFFER_HANDLE buffer, BUFFER_INFO_CMD cmd,
                              INFO_DATATYPE* type, void* out, size_t* size) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    auto* s = Handle<SStream>(handle, EKind::Stream);
    auto* b = Handle<SBuffer>(buffer, EKind::Buffer);
    if (!s) return GC_ERR_INVALID_HANDLE;
    if (!b || b->stream != s) return GC_ERR_INVALID_BUFFER;
#if defined(KZR_TL_HOSTILE)
    const uint64_t inflate = 1u << 20;  // facts beyond the buffer
#else
    const uint64_t inflate = 0;
#endif
    switch (cmd) {
        case BUFFER_INFO_BASE:
            return PutValue<void*>(b->base, INFO_DATATYPE_PTR, type, out, size);
        case BUFFER_INFO_SIZE:
            return PutValue<size_t>(b->size, INFO_DATATYPE_SIZET, type, out, size);
        case BUFFER_INFO_USER_PTR:
            return PutValue<void*>(b->user, INFO_DATATYPE_PTR, type, out, size);
        case BUFFER_INFO_TIMESTAMP:
            return PutValue<uint64_t>(b->timestamp, INFO_DATATYPE_UINT64, type, out, size);
        case BUFFER_INFO_IS_INCOMPLETE:
            return PutValue<bool8_t>(b->incomplete, INFO_DATATYPE_BOOL8, type, out, size);
        case BUFFER_INFO_SIZE_FILLED:
            return PutValue<size_t>(b->filled + inflate, INFO_DATATYPE_SIZET, type, out, size);
        case BUFFER_INFO_WIDTH:
            return PutValue<size_t>(b->width + inflate, INFO_DATATYPE_SIZET, type, out, size);
        case BUFFER_INFO_HEIGHT:
            return PutValue<size_t>(b->height, INFO_DATATYPE_SIZET, type, out, size);
        case BUFFER_INFO_XPADDING:
        case BUFFER_INFO_XOFFSET:
        case BUFFER_INFO_YOFFSET:
            return PutValue<size_t>(0, INFO_DATATYPE_SIZET, type, out, size);
        case BUFFER_INFO_FRAMEID:
            return PutValue<uint64_t>(b->frameId, INFO_DATATYPE_UINT64, type, out, size);
        case BUFFER_INFO_IMAGEPRESENT:
            return PutValue<bool8_t>(1, INFO_DATATYPE_BOOL8, type, out, size);
        case BUFFER_INFO_IMAGEOFFSET:
            return PutValue<size_t>(0, INFO_DATATYPE_SIZET, type, out, size);
        case BUFFER_INFO_PIXELFORMAT:
            return PutValue<uint64_t>(b->pixelFormat, INFO_DATATYPE_UINT64, type, out, size);
        case BUFFER_INFO_TLTYPE:
            return PutString(s->device->tltype, type, out, size);
        default:
            return GC_ERR_NOT_AVAILABLE;
    }
}

KZR_TL_EXPORT DSGetBufferChunkData(DS_HANDLE handle, BUFFER_HANDLE buffer,
                                   SINGLE_CHUNK_DATA* chunks, size_t* count) {
    std::lock_guard<std::mutex> lock(EntryMutex());
    auto* s = Handle<SStream>(handle, EKind::Stream);
    auto* b = Handle<SBuffer>(buffer, EKind::Buffer);
    if (!s) return GC_ERR_INVALID_HANDLE;
    if (!b || b->stream != s) return GC_ERR_INVALID_BUFFER;
    if (!count) return GC_ERR_INVALID_PARAMETER;
    if (!b->chunks || b->filled == 0) {
        *count = 0;
        return GC_ERR_SUCCESS;
    }
    const SINGLE_CHUNK_DATA found[2] = {
        {kChunkIdImage, 0, b->imageSize},
        {kChunkIdFrameInfo, static_cast<ptrdiff_t>(b->imageSize + 8), kChunkInfoSize}};
    if (!chunks) {
        *count = 2;
        return GC_ERR_SUCCESS;
    }
    if (*count < 2) return GC_ERR_BUFFER_TOO_SMALL;
    std::memcpy(chunks, found, sizeof found);
    *count = 2;
    return GC_ERR_SUCCESS;
}
