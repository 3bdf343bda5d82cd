// A GenTL producer for tests, the demo and the benchmark: one system with a GigE
// Vision interface (one area camera) and a Camera Link interface (one frame grabber
// with one camera behind it). Registers live in memory; frames are a test pattern
// (x + y + frame number) rendered by one thread per running data stream. It answers
// only the info queries the consumer asks; any other is not available.
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
//                            events time out
//
// The area camera sends one remote device event per delivered frame (kEventIdExposureEnd,
// its data the frame id as 8 bytes); the grabber's camera has none.
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include "GenTL.h"
#include "KZRTestDescriptions.h"

#ifndef KZR_TL_VERSION_MAJOR
#define KZR_TL_VERSION_MAJOR 1
#endif
#ifndef KZR_TL_INIT_FAILS
#define KZR_TL_INIT_FAILS 0
#endif
#ifndef KZR_TL_UNTERMINATED
#define KZR_TL_UNTERMINATED 0
#endif
#ifndef KZR_TL_HOSTILE
#define KZR_TL_HOSTILE 0
#endif
#ifndef KZR_TL_CLOSE_JOINS
#define KZR_TL_CLOSE_JOINS 0
#endif

using namespace KZRGENICAM::gentl;

#if defined(_WIN32)
#define KZR_TL_EXPORT extern "C" __declspec(dllexport) GC_ERROR GC_CALLTYPE
#else
#define KZR_TL_EXPORT extern "C" __attribute__((visibility("default"))) GC_ERROR GC_CALLTYPE
#endif

namespace {

// Registers of the camera description (KZRAreaCamera.xml) and of the grabber's.
constexpr uint64_t kXmlAddress = 0x10000, RegWidth = 0x100, RegHeight = 0x104,
                   RegPixelFormat = 0x108, RegPayloadSize = 0x10C, RegAcqStart = 0x110,
                   RegAcqStop = 0x114, RegTLParamsLocked = 0x118, RegTriggerMode = 0x11C,
                   RegTriggerSoftware = 0x120, RegChunkMode = 0x124, RegIncomplete = 0x128,
                   RegExposure = 0x130, RegVendor = 0x140, RegModel = 0x160, RegSerial = 0x180,
                   RegGrabberFirmware = 0x118;
constexpr uint32_t kMono16 = 0x01100007, kRGB8 = 0x02180014;
constexpr uint32_t kChunkIdImage = 1, kChunkIdFrameInfo = 0x4B5A5201, kChunkInfoSize = 16;
constexpr uint64_t kEventIdExposureEnd = 0x9001;
constexpr size_t kMaxPendingEvents = 64;

using Lock = std::unique_lock<std::mutex>;
struct SDevice;
struct SStream;

struct SPort {
    std::vector<uint8_t> memory;
    std::string url;
    SDevice* device = nullptr;
    bool remote = false;
    uint32_t Get(uint64_t a) const {
        uint32_t v;
        std::memcpy(&v, &memory[a], 4);
        return v;
    }
    void Set(uint64_t a, uint32_t v) { std::memcpy(&memory[a], &v, 4); }
};

struct SBuffer {
    void* base;
    size_t size;
    void* user;
    SStream* stream;
    bool queued = false, incomplete = false, chunks = false;
    size_t filled = 0, imageSize = 0;
    uint64_t width = 0, height = 0, frameId = 0;
    uint32_t pixelFormat = 0;
};

struct SEvent {
    SStream* stream;              // of a new-buffer event; null for the remote device's
    int kills = 0;                // pending aborts of EventGetData
    std::deque<uint64_t> frames;  // remote device events not fetched: their frame ids
};

struct SStream {
    SDevice* device;
    std::list<SBuffer> announced;
    std::deque<SBuffer*> input, output;
    SEvent event{this, 0, {}};
    bool started = false, stopping = false;
    std::thread worker;
};

/// What the consumer did with its streams, read by its lifecycle tests through
/// KZRTestAudit: streams closed while acquiring, streams closed with buffers still
/// announced, and the buffers announced when the last stream started.
struct SAudit {
    int32_t closedAcquiring = 0, closedWithBuffers = 0, announcedAtStart = 0;
} g_audit;

struct SDevice {
    std::string id, serial, model, tltype;
    SPort remote;
    SPort local;  // the device module's own port; description only on the grabber
    bool open = false, acquiring = false;
    int triggers = 0;
    uint64_t frameCounter = 0;
    SEvent events{nullptr, 0, {}};
    std::unique_ptr<SStream> stream;
};

struct SInterface {
    std::string id;
    SDevice device;
    bool open = false;
};

struct SSystem {
    std::unique_ptr<SInterface> interfaces[2];
    bool open = false;
};

struct SGlobals {
    std::mutex mutex;
    std::condition_variable cv;
    bool initialised = false;
    SSystem system;
    std::map<const void*, const std::type_info*> handles;  // live handles and their types
    std::thread systemWorker;                              // KZR_TL_CLOSE_JOINS: TLOpen to TLClose
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
SSystem& g_system = Globals().system;
std::map<const void*, const std::type_info*>& g_handles = Globals().handles;

/// KZR_TL_TEST_LOST set and not empty.
bool DevicesLost() {
    const char* value = std::getenv("KZR_TL_TEST_LOST");
    return value && *value;
}

template <class T>
T* Live(T* object) {
    g_handles[object] = &typeid(T);
    return object;
}

template <class T>
T* Handle(const void* h) {
    auto found = g_handles.find(h);
    if (found == g_handles.end() || *found->second != typeid(T)) return nullptr;
    return static_cast<T*>(const_cast<void*>(h));
}

/// Runs body(object, lock) on the live T behind handle under the producer's lock.
template <class T, class Body>
GC_ERROR With(const void* handle, Body body) {
    CheckAlive();
    Lock lock(g_mutex);
    T* object = Handle<T>(handle);
    return object ? body(*object, lock) : GC_ERR_INVALID_HANDLE;
}

template <class T>
GC_ERROR Out(T* to, T value) {
    if (!to) return GC_ERR_INVALID_PARAMETER;
    *to = value;
    return GC_ERR_SUCCESS;
}

/// One answer of an info or id query: a text, or a number of an integer type.
struct SInfo {
    SInfo(std::string t) : type(INFO_DATATYPE_STRING), text(std::move(t)) {}
    SInfo(INFO_DATATYPE k, uint64_t v) : type(k), number(v) {}
    INFO_DATATYPE type;
    std::string text;
    uint64_t number = 0;
};

GC_ERROR Put(const SInfo& info, INFO_DATATYPE* type, void* buffer, size_t* size) {
    if (!size) return GC_ERR_INVALID_PARAMETER;
    if (type) *type = info.type;
    const std::string& text = info.text;
    const bool isText = info.type == INFO_DATATYPE_STRING;
    if (isText && (KZR_TL_UNTERMINATED || KZR_TL_HOSTILE)) {
        // No terminator, and a size far beyond what was written (or, unterminated,
        // beyond the whole buffer, filled).
        if (buffer && *size >= text.size()) {
            if (KZR_TL_UNTERMINATED) std::memset(buffer, 'X', *size);
            std::memcpy(buffer, text.data(), text.size());
        }
        *size = (KZR_TL_UNTERMINATED ? *size : text.size()) + 100000;
        return GC_ERR_SUCCESS;
    }
    const size_t width = isText                              ? text.size() + 1
                         : info.type == INFO_DATATYPE_BOOL8  ? 1
                         : info.type == INFO_DATATYPE_UINT32 ? 4
                                                             : 8;
    if (buffer && *size < width) return GC_ERR_BUFFER_TOO_SMALL;
    // Numbers: the low bytes of a little-endian uint64_t.
    const void* from = isText ? static_cast<const void*>(text.c_str()) : &info.number;
    if (buffer) std::memcpy(buffer, from, width);
    *size = width;
    return GC_ERR_SUCCESS;
}

template <class Cmd>
GC_ERROR Answer(Cmd cmd, std::initializer_list<std::pair<Cmd, SInfo>> table, INFO_DATATYPE* type,
                void* buffer, size_t* size) {
    for (const auto& row : table)
        if (row.first == cmd) return Put(row.second, type, buffer, size);
    return GC_ERR_NOT_AVAILABLE;
}

/// Little-endian fields, each as many bytes wide as its digit in widths says.
void PutLE(std::string& out, const char* widths, std::initializer_list<uint32_t> values) {
    for (uint32_t v : values)
        for (int i = 0, n = *widths++ - '0'; i < n; ++i)
            out.push_back(static_cast<char>(v >> (8 * i)));
}

/// A zip archive with one deflated file, as GigE Vision cameras ship their descriptions.
std::string Zip(const std::string& name, const std::string& data) {
    // A zlib stream without its 2-byte header and 4-byte check is raw deflate data.
    uLongf length = compressBound(static_cast<uLong>(data.size()));
    std::string packed(length, '\0');
    compress2(reinterpret_cast<Bytef*>(&packed[0]), &length,
              reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()), 9);
    packed = packed.substr(2, length - 6);
    const auto crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    const auto packedSize = static_cast<uint32_t>(packed.size());
    const auto dataSize = static_cast<uint32_t>(data.size());
    const auto nameSize = static_cast<uint32_t>(name.size());
    // Local header, data, central header, end record: version 2.0, no flags,
    // deflate, dated 1980-01-01, no extra fields or comments, one disk.
    std::string zip;
    PutLE(zip, "42222244422",
          {0x04034b50, 20, 0, 8, 0, 0x21, crc, packedSize, dataSize, nameSize, 0});
    zip += name + packed;
    const auto centralOffset = static_cast<uint32_t>(zip.size());
    PutLE(
        zip, "42222224442222244",
        {0x02014b50, 20, 20, 0, 8, 0, 0x21, crc, packedSize, dataSize, nameSize, 0, 0, 0, 0, 0, 0});
    zip += name;
    const auto centralSize = static_cast<uint32_t>(zip.size()) - centralOffset;
    PutLE(zip, "42222442", {0x06054b50, 0, 0, 1, 1, centralSize, centralOffset, 0});
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

std::unique_ptr<SInterface> MakeInterface(const char* ifId, const char* tltype, const char* id,
                                          const char* serial, const std::string& model) {
    auto i = std::make_unique<SInterface>();
    i->id = ifId;
    SDevice& d = i->device;
    d.id = id;
    d.serial = serial;
    d.model = model;
    d.tltype = tltype;
    d.remote.device = d.local.device = &d;
    d.remote.remote = true;
    std::string xml = kAreaCameraXml;
    xml.replace(xml.find("@MODEL@"), 7, model);
    if (d.tltype == TLTypeCL)
        ServeDescription(d.remote, "KZRLineCamera.zip", Zip("KZRLineCamera.xml", xml));
    else
        ServeDescription(d.remote, "KZRAreaCamera.xml", xml);
    SPort& r = d.remote;
    r.Set(RegWidth, 640);
    r.Set(RegHeight, 480);
    r.Set(RegPixelFormat, 0x01080001);  // Mono8
    const double exposure = 5000.0;
    std::memcpy(&r.memory[RegExposure], &exposure, 8);
    const std::pair<uint64_t, std::string> texts[] = {
        {RegVendor, "KZR Test"}, {RegModel, model}, {RegSerial, serial}};
    for (const auto& t : texts) std::memcpy(&r.memory[t.first], t.second.c_str(), t.second.size());
    return i;
}

void BuildSystem() {
    g_system.interfaces[0] =
        MakeInterface("KZR-IF-GEV", TLTypeGEV, "KZR-DEV-AREA", "KZRGEV0001", "KZR Area GEV");
    g_system.interfaces[1] =
        MakeInterface("KZR-IF-CL", TLTypeCL, "KZR-DEV-CL", "KZRCL0042", "KZR Line CL");
    SPort& grabber = g_system.interfaces[1]->device.local;
    ServeDescription(grabber, "KZRGrabber.xml", kGrabberXml);
    grabber.Set(RegGrabberFirmware, 0x0102);
#if KZR_TL_HOSTILE
    g_system.interfaces[0]->device.remote.url = "Web:http://127.0.0.1/camera.xml";
    grabber.url = "File://" KZR_TL_SOURCE_DIR "/KZRGrabber.xml";
#endif
}

uint32_t BytesPerPixel(uint32_t format) {
    return format == kMono16 ? 2 : format == kRGB8 ? 3 : 1;
}

uint64_t PayloadSize(const SPort& r) {
    const uint64_t image =
        uint64_t(r.Get(RegWidth)) * r.Get(RegHeight) * BytesPerPixel(r.Get(RegPixelFormat));
    return r.Get(RegChunkMode) ? image + 8 + kChunkInfoSize + 8 : image;
}

/// A GigE Vision chunk trailer (big-endian id and length) at p.
void PutTrailer(uint8_t* p, uint32_t id, uint32_t length) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(id >> (24 - 8 * i));
        p[4 + i] = static_cast<uint8_t>(length >> (24 - 8 * i));
    }
}

/// Fills one buffer with the shape in b; called without the lock, on a buffer no
/// one else touches.
void Render(SBuffer& b) {
    const uint32_t bpp = BytesPerPixel(b.pixelFormat);
    b.imageSize = b.width * b.height * bpp;
    const size_t total = b.chunks ? b.imageSize + 8 + kChunkInfoSize + 8 : b.imageSize;
    b.filled = 0;
    if (total > b.size) {
        b.incomplete = true;
        return;
    }
    auto* p = static_cast<uint8_t*>(b.base);
    uint8_t* q = p;
    for (uint64_t y = 0; y < b.height; ++y)
        for (uint64_t x = 0; x < b.width; ++x)
            for (uint32_t c = 0; c < bpp; ++c) *q++ = static_cast<uint8_t>(x + y + b.frameId);
    if (b.chunks) {
        const auto image = static_cast<uint32_t>(b.imageSize);
        PutTrailer(p + image, kChunkIdImage, image);
        const uint64_t info[2] = {b.frameId, b.frameId * 1000};  // id, timestamp
        std::memcpy(p + image + 8, info, kChunkInfoSize);
        PutTrailer(p + image + 8 + kChunkInfoSize, kChunkIdFrameInfo, kChunkInfoSize);
    }
    b.filled = total;
}

void Worker(SStream* s) {
    Lock lock(g_mutex);
    SDevice& d = *s->device;
    SPort& r = d.remote;
    for (;;) {
        g_cv.wait(lock, [&] {
            return s->stopping ||
                   (d.acquiring && !s->input.empty() && (!r.Get(RegTriggerMode) || d.triggers > 0));
        });
        if (s->stopping) return;
        if (r.Get(RegTriggerMode)) --d.triggers;
        SBuffer* b = s->input.front();
        s->input.pop_front();
        b->width = r.Get(RegWidth);
        b->height = r.Get(RegHeight);
        b->pixelFormat = r.Get(RegPixelFormat);
        b->chunks = r.Get(RegChunkMode) != 0;
        b->frameId = ++d.frameCounter;
        b->incomplete = r.Get(RegIncomplete) > 0;
        if (b->incomplete) r.Set(RegIncomplete, r.Get(RegIncomplete) - 1);
        lock.unlock();
        Render(*b);
        lock.lock();
        b->queued = false;
        s->output.push_back(b);
        if (Handle<SEvent>(&d.events) && d.events.frames.size() < kMaxPendingEvents)
            d.events.frames.push_back(b->frameId);
        g_cv.notify_all();
    }
}

/// Lets the lock go while the worker ends.
void StopWorker(SStream& s, Lock& lock) {
    if (!s.started) return;
    s.stopping = true;
    g_cv.notify_all();
    std::thread worker = std::move(s.worker);
    lock.unlock();
    if (worker.joinable()) worker.join();  // not when another stop already waits for it
    lock.lock();
    s.started = s.stopping = false;
}

void CloseStream(SDevice& d, Lock& lock) {
    if (!d.stream) return;
    StopWorker(*d.stream, lock);
    for (auto& b : d.stream->announced) g_handles.erase(&b);
    g_handles.erase(&d.stream->event);
    g_handles.erase(d.stream.get());
    d.stream.reset();
    g_cv.notify_all();
}

void CloseDevice(SDevice& d, Lock& lock) {
    CloseStream(d, lock);
    g_handles.erase(&d);
    g_handles.erase(&d.remote);
    g_handles.erase(&d.events);
    d.open = d.acquiring = false;
}

/// Runs body(port) on a port: a device handle is its local port.
template <class Body>
GC_ERROR WithPort(PORT_HANDLE handle, Body body) {
    CheckAlive();
    Lock lock(g_mutex);
    SDevice* d = Handle<SDevice>(handle);
    SPort* port = d ? &d->local : Handle<SPort>(handle);
    if (!port) return GC_ERR_INVALID_HANDLE;
    if (port->remote && DevicesLost()) return GC_ERR_TIMEOUT;
    return body(*port);
}

/// Runs body(stream, buffer) on a buffer of that stream.
template <class Body>
GC_ERROR WithBuffer(DS_HANDLE handle, BUFFER_HANDLE buffer, Body body) {
    return With<SStream>(handle, [&](SStream& s, Lock&) {
        SBuffer* b = Handle<SBuffer>(buffer);
        return b && b->stream == &s ? body(s, *b) : GC_ERR_INVALID_BUFFER;
    });
}

/// The URL a port names: its own, or KZR_TL_TEST_URL on the area camera's remote port.
std::string UrlOf(const SPort& port) {
    const char* test = std::getenv("KZR_TL_TEST_URL");
    if (!test || !port.remote || port.device->id != "KZR-DEV-AREA") return port.url;
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
    for (auto& i : g_system.interfaces)
        if (id && i->id == id) return i.get();
    return nullptr;
}

}  // namespace

// ---- library and system ----

KZR_TL_EXPORT GCInitLib(void) {
    CheckAlive();
    Lock lock(g_mutex);
    if (Globals().initialised) return GC_ERR_RESOURCE_IN_USE;
    if (KZR_TL_INIT_FAILS) return GC_ERR_IO;
    BuildSystem();
    Globals().initialised = true;
    return GC_ERR_SUCCESS;
}

KZR_TL_EXPORT GCCloseLib(void) {
    CheckAlive();
    Lock lock(g_mutex);
    if (!Globals().initialised) return GC_ERR_NOT_INITIALIZED;
    for (auto& i : g_system.interfaces)
        if (i->device.open) CloseDevice(i->device, lock);
    g_handles.clear();
    g_system = SSystem();
    Globals().initialised = false;
    return GC_ERR_SUCCESS;
}

KZR_TL_EXPORT GCGetInfo(TL_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) {
    return Answer(cmd,
                  {{TL_INFO_TLTYPE, SInfo("Mixed")},
                   {TL_INFO_GENTL_VER_MAJOR, SInfo(INFO_DATATYPE_UINT32, KZR_TL_VERSION_MAJOR)}},
                  type, buffer, size);
}

KZR_TL_EXPORT GCGetLastError(GC_ERROR* code, char* text, size_t* size) {
    if (code) *code = GC_ERR_ERROR;
    return Put(SInfo("KZR test producer: see the call's result"), nullptr, text, size);
}

KZR_TL_EXPORT TLOpen(TL_HANDLE* handle) {
    CheckAlive();
    Lock lock(g_mutex);
    if (!Globals().initialised) return GC_ERR_NOT_INITIALIZED;
    if (g_system.open || !handle) return GC_ERR_RESOURCE_IN_USE;
    g_system.open = true;
    Live(&g_system);
    SGlobals& globals = Globals();
    globals.systemWorkerStop = false;
    if (KZR_TL_CLOSE_JOINS)
        globals.systemWorker = std::thread([&globals] {
            Lock wait(globals.mutex);
            globals.cv.wait(wait, [&globals] { return globals.systemWorkerStop; });
        });
    return Out<TL_HANDLE>(handle, &g_system);
}

KZR_TL_EXPORT TLClose(TL_HANDLE handle) {
    return With<SSystem>(handle, [&](SSystem& system, Lock& lock) {
        g_handles.erase(handle);
        // Waits for the thread to end: inside DllMain this never returns.
        Globals().systemWorkerStop = true;
        std::thread worker = std::move(Globals().systemWorker);
        lock.unlock();
        g_cv.notify_all();
        if (worker.joinable()) worker.join();
        return Out(&system.open, false);
    });
}

KZR_TL_EXPORT TLUpdateInterfaceList(TL_HANDLE handle, bool8_t* changed, uint64_t) {
    return With<SSystem>(handle, [&](SSystem&, Lock&) { return Out<bool8_t>(changed, 0); });
}

KZR_TL_EXPORT TLGetNumInterfaces(TL_HANDLE handle, uint32_t* count) {
    return With<SSystem>(handle, [&](SSystem&, Lock&) { return Out<uint32_t>(count, 2); });
}

KZR_TL_EXPORT TLGetInterfaceID(TL_HANDLE handle, uint32_t index, char* id, size_t* size) {
    return With<SSystem>(handle, [&](SSystem& system, Lock&) {
        return index < 2 ? Put(SInfo(system.interfaces[index]->id), nullptr, id, size)
                         : GC_ERR_INVALID_INDEX;
    });
}

KZR_TL_EXPORT TLGetInterfaceInfo(TL_HANDLE handle, const char* ifId, INTERFACE_INFO_CMD cmd,
                                 INFO_DATATYPE* type, void* buffer, size_t* size) {
    return With<SSystem>(handle, [&](SSystem&, Lock&) {
        SInterface* i = InterfaceById(ifId);
        return i ? Answer(cmd, {{INTERFACE_INFO_TLTYPE, SInfo(i->device.tltype)}}, type, buffer,
                          size)
                 : GC_ERR_INVALID_ID;
    });
}

KZR_TL_EXPORT TLOpenInterface(TL_HANDLE handle, const char* ifId, IF_HANDLE* out) {
    return With<SSystem>(handle, [&](SSystem&, Lock&) -> GC_ERROR {
        SInterface* i = InterfaceById(ifId);
        if (!i) return GC_ERR_INVALID_ID;
        if (i->open) return GC_ERR_RESOURCE_IN_USE;
        i->open = true;
        return Out<IF_HANDLE>(out, Live(i));
    });
}

// ---- interfaces ----

KZR_TL_EXPORT IFClose(IF_HANDLE handle) {
    return With<SInterface>(handle, [&](SInterface& i, Lock&) {
        g_handles.erase(handle);
        return Out(&i.open, false);
    });
}

KZR_TL_EXPORT IFUpdateDeviceList(IF_HANDLE handle, bool8_t* changed, uint64_t) {
    return With<SInterface>(handle, [&](SInterface&, Lock&) { return Out<bool8_t>(changed, 0); });
}

KZR_TL_EXPORT IFGetNumDevices(IF_HANDLE handle, uint32_t* count) {
    return With<SInterface>(
        handle, [&](SInterface&, Lock&) { return Out<uint32_t>(count, KZR_TL_HOSTILE ? 3 : 1); });
}

KZR_TL_EXPORT IFGetDeviceID(IF_HANDLE handle, uint32_t index, char* id, size_t* size) {
    return With<SInterface>(handle, [&](SInterface& i, Lock&) {
        return index == 0 ? Put(SInfo(i.device.id), nullptr, id, size) : GC_ERR_INVALID_INDEX;
    });
}

KZR_TL_EXPORT IFGetDeviceInfo(IF_HANDLE handle, const char* devId, DEVICE_INFO_CMD cmd,
                              INFO_DATATYPE* type, void* buffer, size_t* size) {
    return With<SInterface>(handle, [&](SInterface& i, Lock&) {
        const SDevice& d = i.device;
        return !devId || d.id != devId ? GC_ERR_INVALID_ID
                                       : Answer(cmd,
                                                {{DEVICE_INFO_VENDOR, SInfo("KZR Test")},
                                                 {DEVICE_INFO_MODEL, SInfo(d.model)},
                                                 {DEVICE_INFO_TLTYPE, SInfo(d.tltype)},
                                                 {DEVICE_INFO_SERIAL_NUMBER, SInfo(d.serial)}},
                                                type, buffer, size);
    });
}

KZR_TL_EXPORT IFOpenDevice(IF_HANDLE handle, const char* devId, DEVICE_ACCESS_FLAGS,
                           DEV_HANDLE* out) {
    return With<SInterface>(handle, [&](SInterface& i, Lock&) -> GC_ERROR {
        SDevice& d = i.device;
        if (!devId || d.id != devId) return GC_ERR_INVALID_ID;
        if (const char* error = std::getenv("KZR_TL_TEST_OPEN_ERROR"))
            return static_cast<GC_ERROR>(std::strtol(error, nullptr, 10));
        if (d.open) return GC_ERR_RESOURCE_IN_USE;
        d.open = true;
        d.remote.Set(RegTLParamsLocked, 0);
        Live(&d.remote);
        return Out<DEV_HANDLE>(out, Live(&d));
    });
}

// ---- devices ----

KZR_TL_EXPORT DevClose(DEV_HANDLE handle) {
    return With<SDevice>(handle, [&](SDevice& d, Lock& lock) {
        CloseDevice(d, lock);
        return GC_ERR_SUCCESS;
    });
}

KZR_TL_EXPORT DevGetPort(DEV_HANDLE handle, PORT_HANDLE* port) {
    return With<SDevice>(handle,
                         [&](SDevice& d, Lock&) { return Out<PORT_HANDLE>(port, &d.remote); });
}

KZR_TL_EXPORT DevGetNumDataStreams(DEV_HANDLE handle, uint32_t* count) {
    return With<SDevice>(handle, [&](SDevice&, Lock&) { return Out<uint32_t>(count, 1); });
}

KZR_TL_EXPORT DevGetDataStreamID(DEV_HANDLE handle, uint32_t index, char* id, size_t* size) {
    return With<SDevice>(handle, [&](SDevice&, Lock&) {
        return index == 0 ? Put(SInfo("Stream0"), nullptr, id, size) : GC_ERR_INVALID_INDEX;
    });
}

KZR_TL_EXPORT DevOpenDataStream(DEV_HANDLE handle, const char* id, DS_HANDLE* out) {
    return With<SDevice>(handle, [&](SDevice& d, Lock&) -> GC_ERROR {
        if (!id || std::strcmp(id, "Stream0") != 0) return GC_ERR_INVALID_ID;
        if (d.stream || !out) return GC_ERR_RESOURCE_IN_USE;
        d.stream = std::make_unique<SStream>();
        d.stream->device = &d;
        return Out<DS_HANDLE>(out, Live(d.stream.get()));
    });
}

// ---- ports ----

KZR_TL_EXPORT GCReadPort(PORT_HANDLE handle, uint64_t address, void* buffer, size_t* size) {
    return WithPort(handle, [&](SPort& port) -> GC_ERROR {
        if (port.memory.empty()) return GC_ERR_NOT_AVAILABLE;
        if (!buffer || !size) return GC_ERR_INVALID_PARAMETER;
        if (address > port.memory.size() || *size > port.memory.size() - address)
            return GC_ERR_INVALID_ADDRESS;
        if (port.remote) port.Set(RegPayloadSize, static_cast<uint32_t>(PayloadSize(port)));
        std::memcpy(buffer, &port.memory[address], *size);
        return GC_ERR_SUCCESS;
    });
}

KZR_TL_EXPORT GCWritePort(PORT_HANDLE handle, uint64_t address, const void* buffer, size_t* size) {
    return WithPort(handle, [&](SPort& port) -> GC_ERROR {
        if (port.memory.empty()) return GC_ERR_NOT_AVAILABLE;
        if (!buffer || !size) return GC_ERR_INVALID_PARAMETER;
        if (address >= kXmlAddress || *size > kXmlAddress - address) return GC_ERR_INVALID_ADDRESS;
        std::memcpy(&port.memory[address], buffer, *size);
        SDevice& d = *port.device;
        auto set = [&](uint64_t reg) {
            return port.remote && address <= reg && address + *size >= reg + 4 && port.Get(reg);
        };
        if (set(RegAcqStart)) d.acquiring = true;
        if (set(RegAcqStop)) d.acquiring = false;
        if (set(RegTriggerSoftware) && d.acquiring) ++d.triggers;
        g_cv.notify_all();
        return GC_ERR_SUCCESS;
    });
}

KZR_TL_EXPORT GCGetPortURL(PORT_HANDLE handle, char* url, size_t* size) {
    return WithPort(handle, [&](SPort& port) {
        return port.url.empty() ? GC_ERR_NOT_AVAILABLE
                                : Put(SInfo(UrlOf(port)), nullptr, url, size);
    });
}

#if !KZR_TL_HOSTILE
KZR_TL_EXPORT GCGetNumPortURLs(PORT_HANDLE handle, uint32_t* count) {
    return WithPort(handle, [&](SPort& port) { return Out<uint32_t>(count, !port.url.empty()); });
}

KZR_TL_EXPORT GCGetPortURLInfo(PORT_HANDLE handle, uint32_t index, URL_INFO_CMD cmd,
                               INFO_DATATYPE* type, void* buffer, size_t* size) {
    return WithPort(handle, [&](SPort& port) {
        return index != 0 || port.url.empty()
                   ? GC_ERR_INVALID_INDEX
                   : Answer(cmd, {{URL_INFO_URL, SInfo(UrlOf(port))}}, type, buffer, size);
    });
}
#endif

// ---- events ----

/// The event of that type on a stream or device handle; null when it has none.
SEvent* EventOf(EVENTSRC_HANDLE source, EVENT_TYPE type) {
    if (SStream* s = Handle<SStream>(source)) return type == EVENT_NEW_BUFFER ? &s->event : nullptr;
    SDevice* d = Handle<SDevice>(source);
    return d && type == EVENT_REMOTE_DEVICE && d->id == "KZR-DEV-AREA" ? &d->events : nullptr;
}

KZR_TL_EXPORT GCRegisterEvent(EVENTSRC_HANDLE source, EVENT_TYPE type, EVENT_HANDLE* out) {
    CheckAlive();
    Lock lock(g_mutex);
    if (!Handle<SStream>(source) && !Handle<SDevice>(source)) return GC_ERR_INVALID_HANDLE;
    SEvent* e = EventOf(source, type);
    if (!e) return GC_ERR_NOT_IMPLEMENTED;
    if (Handle<SEvent>(e)) return GC_ERR_RESOURCE_IN_USE;
    e->kills = 0;
    e->frames.clear();
    return Out<EVENT_HANDLE>(out, Live(e));
}

KZR_TL_EXPORT GCUnregisterEvent(EVENTSRC_HANDLE source, EVENT_TYPE type) {
    CheckAlive();
    Lock lock(g_mutex);
    g_cv.notify_all();
    SEvent* e = EventOf(source, type);
    return e && g_handles.erase(e) ? GC_ERR_SUCCESS : GC_ERR_NOT_AVAILABLE;
}

KZR_TL_EXPORT EventGetData(EVENT_HANDLE handle, void* buffer, size_t* size, uint64_t timeoutMs) {
    return With<SEvent>(handle, [&](SEvent& e, Lock& lock) -> GC_ERROR {
        if (!buffer || !size || *size < sizeof(EVENT_NEW_BUFFER_DATA))
            return GC_ERR_BUFFER_TOO_SMALL;
        if (DevicesLost()) return GC_ERR_TIMEOUT;
        // Unregistered or closed while waiting: e is not touched again.
        auto ready = [&] {
            return !Handle<SEvent>(handle) || e.kills > 0 ||
                   (e.stream ? !e.stream->output.empty() : !e.frames.empty());
        };
        if (timeoutMs == GENTL_INFINITE)
            g_cv.wait(lock, ready);
        else if (!g_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready))
            return GC_ERR_TIMEOUT;
        if (!Handle<SEvent>(handle)) return GC_ERR_ABORT;
        if (e.kills > 0) return --e.kills, GC_ERR_ABORT;
        if (!e.stream) {  // a remote device event: its id, then its data
            const uint64_t event[2] = {kEventIdExposureEnd, e.frames.front()};
            e.frames.pop_front();
            std::memcpy(buffer, event, sizeof event);
            return Out(size, sizeof event);
        }
        SBuffer* b = e.stream->output.front();
        e.stream->output.pop_front();
        const EVENT_NEW_BUFFER_DATA data{b, b->user};
        std::memcpy(buffer, &data, sizeof data);
        return Out(size, sizeof data);
    });
}

KZR_TL_EXPORT EventGetDataInfo(EVENT_HANDLE handle, const void* in, size_t inSize,
                               EVENT_DATA_INFO_CMD cmd, INFO_DATATYPE* type, void* out,
                               size_t* size) {
    return With<SEvent>(handle, [&](SEvent& e, Lock&) -> GC_ERROR {
        uint64_t event[2];
        if (e.stream || !in || inSize < sizeof event) return GC_ERR_INVALID_PARAMETER;
        std::memcpy(event, in, sizeof event);
        return Answer(cmd,
                      {{EVENT_DATA_ID, SInfo(Hex(event[0]))},
                       {EVENT_DATA_VALUE, SInfo(INFO_DATATYPE_BUFFER, event[1])}},
                      type, out, size);
    });
}

KZR_TL_EXPORT EventFlush(EVENT_HANDLE) {
    return GC_ERR_NOT_IMPLEMENTED;  // required, never called
}

KZR_TL_EXPORT EventKill(EVENT_HANDLE handle) {
    return With<SEvent>(handle, [&](SEvent& e, Lock&) {
        g_cv.notify_all();
        return Out(&e.kills, e.kills + 1);
    });
}

// ---- data streams ----

KZR_TL_EXPORT DSAnnounceBuffer(DS_HANDLE handle, void* base, size_t size, void* user,
                               BUFFER_HANDLE* out) {
    return With<SStream>(handle, [&](SStream& s, Lock&) -> GC_ERROR {
        if (!base || size == 0) return GC_ERR_INVALID_PARAMETER;
        s.announced.push_back(SBuffer{base, size, user, &s});
        return Out<BUFFER_HANDLE>(out, Live(&s.announced.back()));
    });
}

#if !defined(KZR_TL_NO_QUEUE)
KZR_TL_EXPORT DSQueueBuffer(DS_HANDLE handle, BUFFER_HANDLE buffer) {
    return WithBuffer(handle, buffer, [&](SStream& s, SBuffer& b) -> GC_ERROR {
        if (b.queued) return GC_ERR_RESOURCE_IN_USE;
        s.input.push_back(&b);
        g_cv.notify_all();
        return Out(&b.queued, true);
    });
}
#endif

KZR_TL_EXPORT DSRevokeBuffer(DS_HANDLE handle, BUFFER_HANDLE buffer, void** base, void** user) {
    return WithBuffer(handle, buffer, [&](SStream& s, SBuffer& b) -> GC_ERROR {
        if (b.queued || s.started) return GC_ERR_BUSY;
        s.output.erase(std::remove(s.output.begin(), s.output.end(), &b), s.output.end());
        if (base) *base = b.base;
        if (user) *user = b.user;
        g_handles.erase(&b);
        s.announced.remove_if([&](const SBuffer& x) { return &x == &b; });
        return GC_ERR_SUCCESS;
    });
}

KZR_TL_EXPORT DSFlushQueue(DS_HANDLE handle, ACQ_QUEUE_TYPE op) {
    return With<SStream>(handle, [&](SStream& s, Lock&) -> GC_ERROR {
        if (op != ACQ_QUEUE_ALL_DISCARD) return GC_ERR_NOT_IMPLEMENTED;
        for (SBuffer* b : s.input) b->queued = false;
        s.input.clear();
        s.output.clear();
        g_cv.notify_all();
        return GC_ERR_SUCCESS;
    });
}

KZR_TL_EXPORT DSStartAcquisition(DS_HANDLE handle, ACQ_START_FLAGS, uint64_t) {
    return With<SStream>(handle, [&](SStream& s, Lock&) -> GC_ERROR {
        if (s.started) return GC_ERR_RESOURCE_IN_USE;
        g_audit.announcedAtStart = static_cast<int32_t>(s.announced.size());
        s.worker = std::thread(Worker, &s);
        return Out(&s.started, true);
    });
}

KZR_TL_EXPORT DSStopAcquisition(DS_HANDLE handle, ACQ_STOP_FLAGS) {
    return With<SStream>(handle, [&](SStream& s, Lock& lock) -> GC_ERROR {
        if (!s.started) return GC_ERR_RESOURCE_IN_USE;
        StopWorker(s, lock);
        return GC_ERR_SUCCESS;
    });
}

KZR_TL_EXPORT DSClose(DS_HANDLE handle) {
    return With<SStream>(handle, [&](SStream& s, Lock& lock) {
        g_audit.closedAcquiring += s.started;
        g_audit.closedWithBuffers += !s.announced.empty();
        CloseStream(*s.device, lock);
        return GC_ERR_SUCCESS;
    });
}

/// Not GenTL: the audit above in its order, then the streams acquiring now.
KZR_TL_EXPORT KZRTestAudit(int32_t* out) {
    Lock lock(g_mutex);
    out[0] = g_audit.closedAcquiring;
    out[1] = g_audit.closedWithBuffers;
    out[2] = g_audit.announcedAtStart;
    out[3] = 0;
    for (const auto& [handle, type] : g_handles)
        if (*type == typeid(SStream)) out[3] += static_cast<const SStream*>(handle)->started;
    return GC_ERR_SUCCESS;
}

KZR_TL_EXPORT DSGetInfo(DS_HANDLE handle, STREAM_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer,
                        size_t* size) {
    return With<SStream>(handle, [&](SStream& s, Lock&) {
        const uint64_t payload = PayloadSize(s.device->remote);
        return Answer(cmd,
                      {{STREAM_INFO_PAYLOAD_SIZE, SInfo(INFO_DATATYPE_SIZET, payload)},
                       {STREAM_INFO_DEFINES_PAYLOADSIZE, SInfo(INFO_DATATYPE_BOOL8, 1)}},
                      type, buffer, size);
    });
}

KZR_TL_EXPORT DSGetBufferInfo(DS_HANDLE handle, BUFFER_HANDLE buffer, BUFFER_INFO_CMD cmd,
                              INFO_DATATYPE* type, void* out, size_t* size) {
    return WithBuffer(handle, buffer, [&](SStream&, SBuffer& b) {
        const INFO_DATATYPE sizeT = INFO_DATATYPE_SIZET, u64 = INFO_DATATYPE_UINT64;
        const uint64_t inflate = KZR_TL_HOSTILE ? 1u << 20 : 0;  // facts beyond the buffer
        return Answer(cmd,
                      {{BUFFER_INFO_BASE, SInfo(INFO_DATATYPE_PTR, uintptr_t(b.base))},
                       {BUFFER_INFO_IS_INCOMPLETE, SInfo(INFO_DATATYPE_BOOL8, b.incomplete)},
                       {BUFFER_INFO_SIZE_FILLED, SInfo(sizeT, b.filled + inflate)},
                       {BUFFER_INFO_WIDTH, SInfo(sizeT, b.width + inflate)},
                       {BUFFER_INFO_HEIGHT, SInfo(sizeT, b.height)},
                       {BUFFER_INFO_XPADDING, SInfo(sizeT, 0)},
                       {BUFFER_INFO_IMAGEOFFSET, SInfo(sizeT, 0)},
                       {BUFFER_INFO_FRAMEID, SInfo(u64, b.frameId)},
                       {BUFFER_INFO_PIXELFORMAT, SInfo(u64, b.pixelFormat)}},
                      type, out, size);
    });
}

KZR_TL_EXPORT DSGetBufferChunkData(DS_HANDLE handle, BUFFER_HANDLE buffer,
                                   SINGLE_CHUNK_DATA* chunks, size_t* count) {
    return WithBuffer(handle, buffer, [&](SStream&, SBuffer& b) -> GC_ERROR {
        const size_t found = b.chunks && b.filled != 0 ? 2 : 0;
        if (chunks && count && *count < found) return GC_ERR_BUFFER_TOO_SMALL;
        const SINGLE_CHUNK_DATA list[2] = {
            {kChunkIdImage, 0, b.imageSize},
            {kChunkIdFrameInfo, static_cast<ptrdiff_t>(b.imageSize + 8), kChunkInfoSize}};
        if (chunks) std::memcpy(chunks, list, found * sizeof list[0]);
        return Out(count, found);
    });
}
