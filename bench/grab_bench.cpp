// Grab throughput through the entry points on simulated cameras whose frames are
// always ready, so the figures are the plug-in's own cost: the fetch, the copy
// into the host image and, for GrabImageEx, the joined chunk data.
//
// Reference: a grab is at best one copy of a frame that is not in cache into the
// host's image. The reference does exactly that, in the same run: memcpy from a
// ring of kSimRing frame-sized sources (the simulator hands its frames out of a
// ring of as many buffers) into one reused destination. Grab and reference copy
// alternate, each first on every other iteration, and each is timed alone; the
// figures are the medians, and the ratio is ours over the reference in
// throughput (reference median / grab median): 1.0 is a grab at the copy limit.
// Benchmarks print; they never fail on timing.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "KZRSim.h"
#include "QRVAcqGenIcam.h"

namespace {

using Clock = std::chrono::steady_clock;

/// Buffers per frame layout that the simulator rotates through.
constexpr int kSimRing = 4;

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
        // QRV_BENCH_PLUGIN names another build of the plug-in, to compare two builds.
        const char* override = std::getenv("QRV_BENCH_PLUGIN");
        const char* path = override && *override ? override : QRV_PLUGIN_PATH;
        void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            std::fprintf(stderr, "dlopen %s: %s\n", path, dlerror());
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

std::string Serial(int index) {
    char serial[32];
    std::snprintf(serial, sizeof serial, "BENCH-%04d", index);
    return serial;
}

/// count Mono8 cameras of one size, frames always ready.
void UseCameras(int count, int width, int height, bool withChunks) {
    KZRSIM::Scenario scenario;
    for (int i = 0; i < count; ++i) {
        KZRSIM::CameraSpec desc;
        desc.serial = Serial(i);
        desc.width = width;
        desc.height = height;
        desc.pixelFormat = "Mono8";
        desc.frameRate = 0;
        if (withChunks) {
            desc.chunks = {std::vector<uint8_t>(8, 1), std::vector<uint8_t>(16, 2),
                           std::vector<uint8_t>(40, 3)};
        }
        scenario.cameras.push_back(desc);
    }
    KZRSIM::Reset();
    KZRSIM::SetScenario(scenario);
}

/// One open camera of the active scenario, streaming unless told otherwise.
class CCamera {
public:
    explicit CCamera(int index, bool start = true) {
        const SPlugin& p = Plugin();
        if (!p.ok || p.Open(Serial(index).c_str(), &m_handle, "", "") != 0) return;
        m_ok = !start || p.StartAcquire(m_handle, 8, 0) == 0;
    }
    ~CCamera() {
        if (m_handle) {
            Plugin().StopAcquire(m_handle);
            Plugin().Close(m_handle);
        }
    }
    CCamera(const CCamera&) = delete;
    CCamera& operator=(const CCamera&) = delete;

    bool Ok() const { return m_ok; }
    QRVCameraHandle Handle() const { return m_handle; }
    bool Start() { return Plugin().StartAcquire(m_handle, 8, 0) == 0; }

private:
    QRVCameraHandle m_handle = nullptr;
    bool m_ok = false;
};

/// The fair reference's sources and destination: kSimRing frame-sized buffers
/// with content (so that their pages are real) and one reused, pre-touched
/// destination.
class CCopyRing {
public:
    explicit CCopyRing(std::size_t bytes) : m_bytes(bytes), m_destination(bytes, 0) {
        for (int i = 0; i < kSimRing; ++i) {
            m_sources.emplace_back(bytes);
            for (std::size_t b = 0; b < bytes; ++b) {
                m_sources.back()[b] = static_cast<unsigned char>(b * 7 + i);
            }
        }
    }
    void CopyNext() {
        std::memcpy(m_destination.data(), m_sources[m_next].data(), m_bytes);
        m_next = (m_next + 1) % kSimRing;
        benchmark::ClobberMemory();
    }

private:
    std::size_t m_bytes;
    std::vector<std::vector<unsigned char>> m_sources;
    std::vector<unsigned char> m_destination;
    int m_next = 0;
};

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// ---- One camera, one thread ------------------------------------------------

double Median(std::vector<double>& values) {
    if (values.empty()) return 0;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

void BM_Grab(benchmark::State& state, bool extended) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    UseCameras(1, width, height, extended);
    CCamera camera(0);
    if (!camera.Ok()) {
        state.SkipWithError("cannot open or start the simulated camera through the plug-in");
        return;
    }
    const SPlugin& p = Plugin();
    QRVImage image;
    ZelChunkData chunks;
    CCopyRing ring(bytes);
    auto grab = [&] {
        return extended ? p.GrabImageEx(camera.Handle(), &image, &chunks, 1000)
                        : p.GrabImage(camera.Handle(), &image, 1000);
    };
    // Let the camera render its frame ring and the host image reach full size.
    for (int i = 0; i < 2 * kSimRing; ++i) {
        if (grab() != 0) {
            state.SkipWithError("warm-up grab failed");
            return;
        }
        ring.CopyNext();
    }
    if (image.DataSize() != bytes || (extended && chunks.getSize() != 64)) {
        state.SkipWithError("grabbed frame has an unexpected size");
        return;
    }

    std::vector<double> grabTimes;
    std::vector<double> copyTimes;
    bool grabFirst = true;
    auto timedGrab = [&] {
        const Clock::time_point t0 = Clock::now();
        const int result = grab();
        const double seconds = Seconds(Clock::now() - t0);
        grabTimes.push_back(seconds);
        return result == 0;
    };
    auto timedCopy = [&] {
        const Clock::time_point t0 = Clock::now();
        ring.CopyNext();
        copyTimes.push_back(Seconds(Clock::now() - t0));
    };
    for (auto _ : state) {
        bool ok = true;
        if (grabFirst) {
            ok = timedGrab();
            timedCopy();
        } else {
            timedCopy();
            ok = timedGrab();
        }
        grabFirst = !grabFirst;
        if (!ok) {
            state.SkipWithError("grab failed");
            break;
        }
        state.SetIterationTime(grabTimes.back());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
    const double grabMedian = Median(grabTimes);
    const double copyMedian = Median(copyTimes);
    if (grabMedian > 0 && copyMedian > 0) {
        state.counters["grab_us"] = grabMedian * 1e6;
        state.counters["reference_us"] = copyMedian * 1e6;
        // Throughput ratio, ours over the reference: 1.0 = as fast as the copy.
        state.counters["ours_vs_reference"] = copyMedian / grabMedian;
        state.counters["overhead_us"] = (grabMedian - copyMedian) * 1e6;
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
        ->Args({160, 120})    // 0.02 MP: fixed cost per grab
        ->Args({640, 480})    // 0.3 MP
        ->Args({2592, 1944})  // 5 MP
        ->Args({5120, 5120})  // 25 MP
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
}

// ---- The handle lookup on every call's path ----------------------------------

/// An entry point that does nothing but find its session: a closed handle, and
/// a live one among many open sessions asked something that needs no camera.
void BM_HandleLookup(benchmark::State& state) {
    const bool live = state.range(0) != 0;
    constexpr int kOpen = 16;
    UseCameras(kOpen, 64, 48, false);
    std::vector<std::unique_ptr<CCamera>> cameras;
    for (int i = 0; i < kOpen; ++i) cameras.push_back(std::make_unique<CCamera>(i, false));
    QRVCameraHandle closed = nullptr;
    {
        CCamera gone(0, false);
        closed = gone.Handle();
    }
    const QRVCameraHandle handle = live ? cameras[kOpen / 2]->Handle() : closed;
    const SPlugin& p = Plugin();
    const int expected = live ? 0 : 101007;
    for (auto _ : state) {
        // A stop of a session that is not grabbing asks the camera nothing.
        if (p.StopAcquire(handle) != expected) {
            state.SkipWithError("unexpected result");
            break;
        }
    }
}

BENCHMARK(BM_HandleLookup)->ArgName("live")->Arg(0)->Arg(1)->Unit(benchmark::kNanosecond);

BENCHMARK(BM_GrabImage)->Apply(Sizes);
BENCHMARK(BM_GrabImageExChunks)->Apply(Sizes);

// ---- Many cameras, one host thread each --------------------------------------

constexpr int kManyWidth = 640;
constexpr int kManyHeight = 480;
constexpr int kFramesPerRound = 32;

/// Runs body(t) on count threads at once and returns the wall time from the
/// common start to the last finish.
template <class Body>
double RunTogether(int count, Body&& body) {
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < count; ++t) {
        threads.emplace_back([&, t] {
            ++ready;
            while (!go.load()) std::this_thread::yield();
            body(t);
        });
    }
    while (ready.load() < count) std::this_thread::yield();
    const Clock::time_point start = Clock::now();
    go = true;
    for (std::thread& thread : threads) thread.join();
    return Seconds(Clock::now() - start);
}

void BM_ManyCameras(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const std::size_t bytes = static_cast<std::size_t>(kManyWidth) * kManyHeight;
    UseCameras(count, kManyWidth, kManyHeight, false);
    std::vector<std::unique_ptr<CCamera>> cameras;
    std::vector<std::unique_ptr<QRVImage>> images;
    std::vector<std::unique_ptr<CCopyRing>> rings;
    for (int i = 0; i < count; ++i) {
        cameras.push_back(std::make_unique<CCamera>(i));
        images.push_back(std::make_unique<QRVImage>());
        rings.push_back(std::make_unique<CCopyRing>(bytes));
        if (!cameras.back()->Ok()) {
            state.SkipWithError("cannot open or start a simulated camera");
            return;
        }
    }
    const SPlugin& p = Plugin();
    std::atomic<int> failures{0};
    auto grabRound = [&](int t) {
        for (int f = 0; f < kFramesPerRound; ++f) {
            if (p.GrabImage(cameras[t]->Handle(), images[t].get(), 1000) != 0) ++failures;
        }
    };
    auto copyRound = [&](int t) {
        for (int f = 0; f < kFramesPerRound; ++f) rings[t]->CopyNext();
    };
    RunTogether(count, grabRound);  // warm-up: frame rings rendered, images sized
    double grabSeconds = 0;
    double copySeconds = 0;
    for (auto _ : state) {
        const double grab = RunTogether(count, grabRound);
        const double copy = RunTogether(count, copyRound);
        grabSeconds += grab;
        copySeconds += copy;
        state.SetIterationTime(grab);
    }
    if (failures.load() != 0) {
        state.SkipWithError("a grab failed");
        return;
    }
    const double total = static_cast<double>(state.iterations()) * count * kFramesPerRound *
                         static_cast<double>(bytes) / 1e9;
    state.counters["cameras"] = count;
    state.counters["grab_GBps"] = total / grabSeconds;
    state.counters["memcpy_GBps"] = total / copySeconds;
    state.counters["grab_vs_memcpy"] = copySeconds / grabSeconds;
}

BENCHMARK(BM_ManyCameras)
    ->ArgName("cameras")
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// ---- Resident memory -------------------------------------------------------

/// Resident set size of this process in bytes (Linux /proc).
double ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

/// Bytes the C heap has handed out and not taken back (small blocks and mapped
/// ones): finer than the resident size, which moves in pages.
double HeapBytes() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks) + static_cast<double>(info.hblkhd);
}

/// Resident memory that one open camera and one started stream add, averaged
/// over count cameras of the given size. The stream figure includes what the
/// first grabs allocate: the simulator's frame ring and the host image.
void BM_ResidentMemory(benchmark::State& state) {
    const int count = 16;
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    double perOpen = 0;
    double perStream = 0;
    double heapPerOpen = 0;
    double heapPerStream = 0;
    for (auto _ : state) {
        UseCameras(count, width, height, false);
        {
            // One camera through its whole life first, so that lazily created
            // state of the process (the library's, the allocator's) is not counted.
            CCamera first(count - 1);
            QRVImage image;
            for (int i = 0; i < kSimRing; ++i) Plugin().GrabImage(first.Handle(), &image, 1000);
        }
        std::vector<std::unique_ptr<CCamera>> cameras;
        std::vector<std::unique_ptr<QRVImage>> images;
        const double before = ResidentBytes();
        const double heapBefore = HeapBytes();
        for (int i = 0; i < count; ++i) cameras.push_back(std::make_unique<CCamera>(i, false));
        const double opened = ResidentBytes();
        const double heapOpened = HeapBytes();
        for (auto& camera : cameras) {
            images.push_back(std::make_unique<QRVImage>());
            camera->Start();
            for (int i = 0; i < kSimRing; ++i) {
                Plugin().GrabImage(camera->Handle(), images.back().get(), 1000);
            }
        }
        const double streaming = ResidentBytes();
        const double heapStreaming = HeapBytes();
        perOpen = (opened - before) / count;
        perStream = (streaming - opened) / count;
        heapPerOpen = (heapOpened - heapBefore) / count;
        heapPerStream = (heapStreaming - heapOpened) / count;
        state.SetIterationTime(1e-3);
    }
    state.counters["frame_kB"] = static_cast<double>(width) * height / 1024.0;
    state.counters["rss_per_open_kB"] = perOpen / 1024.0;
    state.counters["rss_per_stream_kB"] = perStream / 1024.0;
    state.counters["heap_per_open_kB"] = heapPerOpen / 1024.0;
    state.counters["heap_per_stream_kB"] = heapPerStream / 1024.0;
}

BENCHMARK(BM_ResidentMemory)
    ->ArgNames({"w", "h"})
    ->Args({640, 480})
    ->Args({2592, 1944})
    ->Iterations(1)
    ->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
