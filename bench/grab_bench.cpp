// Grab throughput through the entry points on a simulated camera whose frames
// are always ready, so the figures are the plug-in's own cost: the fetch, the
// copy into the host image and, for GrabImageEx, the joined chunk data.
//
// Each iteration times one grab and then one plain memcpy of the same bytes into
// a reused buffer; ratio_vs_memcpy is grab time over memcpy time (1.0 would be a
// grab that costs no more than copying its pixels once).
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "KZRSim.h"
#include "QRVAcqGenIcam.h"

namespace {

using Clock = std::chrono::steady_clock;

struct SPlugin {
    bool ok = false;
    PFN_Open Open = nullptr;
    PFN_Close Close = nullptr;
    PFN_StartAcquire StartAcquire = nullptr;
    PFN_StopAcquire StopAcquire = nullptr;
    PFN_GrabImage GrabImage = nullptr;
    PFN_GrabImageEx GrabImageEx = nullptr;
};

template <class T>
void Resolve(void* library, const char* name, T& out, bool& ok) {
    out = reinterpret_cast<T>(dlsym(library, name));
    if (!out) ok = false;
}

/// Loaded once and kept for the process, as a host keeps its plug-ins.
const SPlugin& Plugin() {
    static const SPlugin plugin = [] {
        SPlugin p;
        void* library = dlopen(QRV_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            std::fprintf(stderr, "dlopen %s: %s\n", QRV_PLUGIN_PATH, dlerror());
            return p;
        }
        p.ok = true;
        Resolve(library, "Open", p.Open, p.ok);
        Resolve(library, "Close", p.Close, p.ok);
        Resolve(library, "StartAcquire", p.StartAcquire, p.ok);
        Resolve(library, "StopAcquire", p.StopAcquire, p.ok);
        Resolve(library, "GrabImage", p.GrabImage, p.ok);
        Resolve(library, "GrabImageEx", p.GrabImageEx, p.ok);
        return p;
    }();
    return plugin;
}

/// An open, streaming Mono8 camera of the given size for one benchmark run.
class CStreamingCamera {
public:
    CStreamingCamera(int width, int height, bool withChunks) {
        KZRSIM::CameraSpec desc;
        desc.serial = "BENCH-0001";
        desc.width = width;
        desc.height = height;
        desc.pixelFormat = "Mono8";
        desc.frameRate = 0;
        if (withChunks) {
            desc.chunks = {std::vector<uint8_t>(8, 1), std::vector<uint8_t>(16, 2),
                           std::vector<uint8_t>(40, 3)};
        }
        KZRSIM::Scenario scenario;
        scenario.cameras.push_back(desc);
        KZRSIM::Reset();
        KZRSIM::SetScenario(scenario);
        const SPlugin& p = Plugin();
        if (!p.ok || p.Open("BENCH-0001", &m_handle, "", "") != 0) return;
        m_ok = p.StartAcquire(m_handle, 8, 0) == 0;
    }
    ~CStreamingCamera() {
        if (m_handle) {
            Plugin().StopAcquire(m_handle);
            Plugin().Close(m_handle);
        }
        KZRSIM::Reset();
    }
    CStreamingCamera(const CStreamingCamera&) = delete;
    CStreamingCamera& operator=(const CStreamingCamera&) = delete;

    bool Ok() const { return m_ok; }
    QRVCameraHandle Handle() const { return m_handle; }

private:
    QRVCameraHandle m_handle = nullptr;
    bool m_ok = false;
};

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

void BM_Grab(benchmark::State& state, bool extended) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    CStreamingCamera camera(width, height, extended);
    if (!camera.Ok()) {
        state.SkipWithError("cannot open or start the simulated camera through the plug-in");
        return;
    }
    const SPlugin& p = Plugin();
    QRVImage image;
    ZelChunkData chunks;
    std::vector<unsigned char> copy(bytes);
    auto grab = [&] {
        return extended ? p.GrabImageEx(camera.Handle(), &image, &chunks, 1000)
                        : p.GrabImage(camera.Handle(), &image, 1000);
    };
    // Let the camera render its frame ring and the host image reach full size.
    for (int i = 0; i < 8; ++i) {
        if (grab() != 0) {
            state.SkipWithError("warm-up grab failed");
            return;
        }
    }
    if (image.DataSize() != bytes || (extended && chunks.getSize() != 64)) {
        state.SkipWithError("grabbed frame has an unexpected size");
        return;
    }

    double grabSeconds = 0;
    double copySeconds = 0;
    for (auto _ : state) {
        const Clock::time_point t0 = Clock::now();
        const int result = grab();
        const Clock::time_point t1 = Clock::now();
        if (result != 0) {
            state.SkipWithError("grab failed");
            break;
        }
        std::memcpy(copy.data(), image.Data(), bytes);
        benchmark::ClobberMemory();
        const Clock::time_point t2 = Clock::now();
        grabSeconds += Seconds(t1 - t0);
        copySeconds += Seconds(t2 - t1);
        state.SetIterationTime(Seconds(t1 - t0));
    }
    benchmark::DoNotOptimize(copy.data());
    const double frames = static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
    state.counters["frames_per_s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    if (grabSeconds > 0 && copySeconds > 0) {
        state.counters["grab_GBps"] = frames * static_cast<double>(bytes) / grabSeconds / 1e9;
        state.counters["memcpy_GBps"] = frames * static_cast<double>(bytes) / copySeconds / 1e9;
        state.counters["ratio_vs_memcpy"] = grabSeconds / copySeconds;
    }
}

void BM_GrabImage(benchmark::State& state) {
    BM_Grab(state, false);
}
void BM_GrabImageExChunks(benchmark::State& state) {
    BM_Grab(state, true);
}

void Sizes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"w", "h"})
        ->Args({640, 480})
        ->Args({2592, 1944})
        ->Args({5120, 5120})
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_GrabImage)->Apply(Sizes);
BENCHMARK(BM_GrabImageExChunks)->Apply(Sizes);

}  // namespace

BENCHMARK_MAIN();
