// Frames per second and per-frame cost from the test producer: through the plug-in
// (GrabImage into a host image) against the producer's C API used directly by a
// client that copies each frame out of the buffer and queues it again. Both read a
// private instance of the same producer (the reference loads a copy of the .cti),
// in alternating rounds of the same run. Prints figures; not a test.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "GenTL.h"
#include "GenTLPluginApi.h"

using namespace KZRGENICAM::gentl;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFrames = 1000;
constexpr int kRounds = 9;
constexpr int kBuffers = 4;

struct SReference {
#define KZR_BENCH_FIELD(name, params) P##name name = nullptr;
    KZR_GENTL_FUNCTIONS(KZR_BENCH_FIELD)
#undef KZR_BENCH_FIELD
};

bool Check(GC_ERROR rc, const char* what) {
    if (rc != GC_ERR_SUCCESS) std::fprintf(stderr, "reference: %s failed (%d)\n", what, rc);
    return rc == GC_ERR_SUCCESS;
}

/// Seconds for kFrames frames through the producer's C API, or a negative value.
/// freshCopy: each frame is copied into a newly allocated host buffer, as the
/// plug-in's caller gets a new image per GrabImage (large allocations cost much
/// more under Wine than on Linux).
double ReferenceRound(const SReference& api, bool freshCopy) {
    TL_HANDLE tl = nullptr;
    IF_HANDLE iface = nullptr;
    DEV_HANDLE dev = nullptr;
    PORT_HANDLE port = nullptr;
    DS_HANDLE ds = nullptr;
    EVENT_HANDLE event = nullptr;
    if (!Check(api.GCInitLib(), "GCInitLib") || !Check(api.TLOpen(&tl), "TLOpen") ||
        !Check(api.TLOpenInterface(tl, "KZR-IF-GEV", &iface), "TLOpenInterface") ||
        !Check(api.IFOpenDevice(iface, "KZR-DEV-AREA", DEVICE_ACCESS_CONTROL, &dev),
               "IFOpenDevice") ||
        !Check(api.DevGetPort(dev, &port), "DevGetPort") ||
        !Check(api.DevOpenDataStream(dev, "Stream0", &ds), "DevOpenDataStream"))
        return -1;
    size_t payload = 0, size = sizeof payload;
    INFO_DATATYPE type;
    api.DSGetInfo(ds, STREAM_INFO_PAYLOAD_SIZE, &type, &payload, &size);
    std::vector<std::vector<uint8_t>> memory(kBuffers, std::vector<uint8_t>(payload));
    std::vector<BUFFER_HANDLE> buffers(kBuffers);
    for (int i = 0; i < kBuffers; ++i) {
        api.DSAnnounceBuffer(ds, memory[i].data(), payload, nullptr, &buffers[i]);
        api.DSQueueBuffer(ds, buffers[i]);
    }
    api.GCRegisterEvent(ds, EVENT_NEW_BUFFER, &event);
    const uint32_t one = 1;
    size = 4;
    api.GCWritePort(port, 0x118, &one, &size);  // TLParamsLocked
    api.DSStartAcquisition(ds, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE);
    size = 4;
    api.GCWritePort(port, 0x110, &one, &size);  // AcquisitionStart
    std::vector<uint8_t> host(payload);
    const auto start = Clock::now();
    int frames = 0;
    for (; frames < kFrames; ++frames) {
        EVENT_NEW_BUFFER_DATA data{};
        size = sizeof data;
        if (api.EventGetData(event, &data, &size, 2000) != GC_ERR_SUCCESS) break;
        uint8_t* base = nullptr;
        size_t baseSize = sizeof base;
        api.DSGetBufferInfo(ds, data.BufferHandle, BUFFER_INFO_BASE, &type, &base, &baseSize);
        if (freshCopy) {
            std::vector<uint8_t> fresh(base, base + payload);
            host.swap(fresh);
        } else {
            std::memcpy(host.data(), base, payload);
        }
        api.DSQueueBuffer(ds, data.BufferHandle);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    size = 4;
    api.GCWritePort(port, 0x114, &one, &size);  // AcquisitionStop
    api.DSStopAcquisition(ds, ACQ_STOP_FLAGS_KILL);
    api.DSFlushQueue(ds, ACQ_QUEUE_ALL_DISCARD);
    api.GCUnregisterEvent(ds, EVENT_NEW_BUFFER);
    for (BUFFER_HANDLE b : buffers) api.DSRevokeBuffer(ds, b, nullptr, nullptr);
    api.DSClose(ds);
    api.DevClose(dev);
    api.IFClose(iface);
    api.TLClose(tl);
    api.GCCloseLib();
    return frames == kFrames ? seconds : -1;
}

/// Seconds for kFrames GrabImage calls through the plug-in, or a negative value.
double PluginRound(const SPluginApi& api) {
    QRVCameraHandle handle = nullptr;
    if (api.Open(QRVString("KZRGEV0001"), &handle, QRVString(""), QRVString("")) != QRV_OK)
        return -1;
    if (api.StartAcquire(handle, kBuffers, 0) != QRV_OK) {
        api.Close(handle);
        return -1;
    }
    const auto start = Clock::now();
    int frames = 0;
    for (; frames < kFrames; ++frames) {
        QRVImage image;
        if (api.GrabImage(handle, &image, 2000) != QRV_OK) break;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    api.StopAcquire(handle);
    api.Close(handle);
    return frames == kFrames ? seconds : -1;
}

}  // namespace

int main() {
    namespace fs = std::filesystem;
    const std::string folder = ProducerFolder("producer");
    SetTestEnv("KZR_ARAVIS", "off");
    SetTestEnv("GENICAM_GENTL64_PATH", folder.c_str());

    // A private copy, so that the reference has its own producer instance.
    std::error_code ec;
    const fs::path copy =
        fs::temp_directory_path(ec) /
        ("kzr_gentl_bench_" + std::to_string(Clock::now().time_since_epoch().count()) + ".cti");
    if (ec || !fs::copy_file(fs::u8path(folder) / "KZRTestTL.cti", copy, ec)) {
        std::fprintf(stderr, "cannot copy the test producer: %s\n", ec.message().c_str());
        return 1;
    }
    std::string loadError;
    void* library = qrvtest::OpenLibrary(copy.u8string(), loadError);
    if (!library) {
        fs::remove(copy, ec);
        std::fprintf(stderr, "%s\n", loadError.c_str());
        return 1;
    }
    SReference reference;
#define KZR_BENCH_RESOLVE(name, params) \
    reference.name = reinterpret_cast<P##name>(qrvtest::FindSymbol(library, #name));
    KZR_GENTL_FUNCTIONS(KZR_BENCH_RESOLVE)
#undef KZR_BENCH_RESOLVE

    std::string error;
    const SPluginApi* plugin = Plugin(error);
    if (!plugin) {
        std::fprintf(stderr, "plug-in: %s\n", error.c_str());
        return 1;
    }
    // The machine may be shared: each round pairs a reference run with a plug-in run
    // right after it, and the median of the rounds' ratios is reported.
    std::vector<double> ratios, freshRatios, oursTimes, refTimes, freshTimes;
    for (int round = 0; round < kRounds; ++round) {
        const double r = ReferenceRound(reference, false);
        const double f = ReferenceRound(reference, true);
        const double o = PluginRound(*plugin);
        if (r < 0 || f < 0 || o < 0) {
            std::fprintf(stderr, "round %d failed\n", round);
            return 1;
        }
        refTimes.push_back(r);
        freshTimes.push_back(f);
        oursTimes.push_back(o);
        ratios.push_back(r / o);
        freshRatios.push_back(f / o);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const double oursFps = kFrames / median(oursTimes), refFps = kFrames / median(refTimes);
    const double freshFps = kFrames / median(freshTimes);
    std::printf(
        "GenTL test producer, 640x480 Mono8, %d buffers, %d frames per run, median of %d rounds\n",
        kBuffers, kFrames, kRounds);
    std::printf("reference (producer C API, copy out, requeue): %9.1f frames/s  %8.2f us/frame\n",
                refFps, 1e6 / refFps);
    std::printf("reference, copy into a new host buffer:        %9.1f frames/s  %8.2f us/frame\n",
                freshFps, 1e6 / freshFps);
    std::printf("plug-in (GrabImage into a host image):         %9.1f frames/s  %8.2f us/frame\n",
                oursFps, 1e6 / oursFps);
    std::printf("per-frame overhead of the plug-in: %.2f us\n", 1e6 / oursFps - 1e6 / refFps);
    std::printf(
        "ratio ours/reference throughput (median of the rounds): %.3f (1.0 = at the reference)\n",
        median(ratios));
    std::printf("ratio ours/reference with a new host buffer per frame: %.3f\n",
                median(freshRatios));
    // Windows keeps a loaded file; it goes once the copy is unloaded.
    qrvtest::CloseLibrary(library);
    fs::remove(copy, ec);
    return 0;
}
