// grab: StartAcquire, N grabs with optional PNG and chunk output, StopAcquire.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

#include "Commands.h"
#include "PngWriter.h"
#include "Text.h"

namespace qrvacq {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) {
    g_interrupted = 1;
}

// Ctrl-C ends the grab loop instead of the process, so that StopAcquire and
// Close still run. No SA_RESTART: nothing here waits in a system call that
// should resume.
class InterruptGuard {
public:
    InterruptGuard() {
        g_interrupted = 0;
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        m_installed = sigaction(SIGINT, &action, &m_previous) == 0;
    }
    ~InterruptGuard() {
        if (m_installed) sigaction(SIGINT, &m_previous, nullptr);
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    struct sigaction m_previous {};
    bool m_installed = false;
};

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The progress line on a terminal's stderr: shown only once a grab takes longer
// than a second, and erased before stdout writes so the two do not interleave.
class Progress {
public:
    explicit Progress(int total) : m_total(total), m_enabled(isatty(STDERR_FILENO) == 1) {}
    ~Progress() { Erase(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void Erase() {
        if (!m_shown) return;
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        m_shown = false;
    }
    void Update(int done, int grabbed, Clock::time_point start) {
        if (!m_enabled) return;
        const double elapsed = SecondsSince(start);
        if (elapsed < 1.0 || Clock::now() - m_lastDraw < std::chrono::milliseconds(250)) return;
        std::fprintf(stderr, "\r\033[Kgrab: %d/%d frames, %.1f fps", done, m_total,
                     grabbed / elapsed);
        std::fflush(stderr);
        m_lastDraw = Clock::now();
        m_shown = true;
    }

private:
    int m_total;
    bool m_enabled;
    bool m_shown = false;
    Clock::time_point m_lastDraw{};
};

std::string FrameName(int index, const char* suffix) {
    char name[64];
    std::snprintf(name, sizeof(name), "frame_%04d%s", index, suffix);
    return name;
}

bool WriteBytes(const std::string& path, const unsigned char* data, std::size_t size) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(file.flush());
}

}  // namespace

int RunGrab(const PluginApi& api, const CameraTarget& target, const GrabOptions& options) {
    namespace fs = std::filesystem;
    if (!options.outDir.empty()) {
        std::error_code ec;
        fs::create_directories(options.outDir, ec);
        if (ec) {
            std::cerr << "qrvacq: cannot create " << options.outDir << ": " << ec.message() << "\n";
            return kExitUsage;
        }
    }
    OpenCamera camera(api);
    if (!camera.Open(target)) return kExitCallFailed;
    const QRVCameraHandle handle = camera.Handle();
    const int started = api.StartAcquire(handle, options.startArg, 0);
    if (started != QRV_OK) {
        std::cerr << "qrvacq: start acquisition: " << DescribeResult(started) << "\n";
        return kExitCallFailed;
    }

    int status = kExitOk;
    int grabbed = 0;
    int attempted = 0;
    std::map<int, int> failures;
    QRVImage image;
    ZelChunkData chunks;
    const Clock::time_point start = Clock::now();
    {
        InterruptGuard interruptGuard;
        Progress progress(options.count);
        for (int index = 1; index <= options.count && !g_interrupted; ++index) {
            const std::uint64_t updatesBefore = chunks.getUpdateCount();
            const int result = options.chunks
                                   ? api.GrabImageEx(handle, &image, &chunks, options.timeoutMs)
                                   : api.GrabImage(handle, &image, options.timeoutMs);
            ++attempted;
            const bool chunksArrived = options.chunks && chunks.getUpdateCount() != updatesBefore;
            std::string line = "frame " + std::to_string(index) + ": ";
            if (result == QRV_OK) {
                ++grabbed;
                line += "0 QRV_OK " + std::to_string(image.Width()) + "x" +
                        std::to_string(image.Height()) + "x" + std::to_string(image.Channels()) +
                        "x" + std::to_string(image.BitsPerChannel());
                if (options.chunks) {
                    line += " chunks=" + std::to_string(chunksArrived ? chunks.getSize() : 0);
                }
            } else {
                ++failures[result];
                line += DescribeResult(result);
            }
            progress.Erase();
            std::cout << line << std::endl;  // flushed: a reader may be waiting per frame
            if (result == QRV_OK && !options.outDir.empty()) {
                std::string error;
                const fs::path png = fs::path(options.outDir) / FrameName(index, ".png");
                if (!WritePng(image, png.string(), error)) {
                    std::cerr << "qrvacq: " << png.string() << ": " << error << "\n";
                    status = kExitCallFailed;
                }
                if (chunksArrived && chunks.getSize() > 0) {
                    const fs::path bin = fs::path(options.outDir) / FrameName(index, ".chunks.bin");
                    if (!WriteBytes(bin.string(), chunks.getData(), chunks.getSize())) {
                        std::cerr << "qrvacq: cannot write " << bin.string() << "\n";
                        status = kExitCallFailed;
                    }
                }
            }
            progress.Update(index, grabbed, start);
        }
    }
    const double elapsed = SecondsSince(start);
    if (g_interrupted) std::cerr << "qrvacq: interrupted after " << attempted << " frames\n";

    const int stopped = api.StopAcquire(handle);
    if (stopped != QRV_OK) {
        std::cerr << "qrvacq: stop acquisition: " << DescribeResult(stopped) << "\n";
        status = kExitCallFailed;
    }
    if (camera.Close() != QRV_OK) status = kExitCallFailed;

    char rate[96];
    std::snprintf(rate, sizeof(rate), "%.3f s, %.1f fps", elapsed,
                  elapsed > 0 ? grabbed / elapsed : 0.0);
    std::cout << "grabbed " << grabbed << " of " << attempted << " frames in " << rate << "\n";
    std::cout << "failures:";
    if (failures.empty()) std::cout << " none";
    for (const auto& [code, count] : failures) {
        std::cout << " " << count << " x " << DescribeResult(code) << ";";
    }
    std::cout << "\n";
    if (!failures.empty()) status = kExitCallFailed;
    if (!options.outDir.empty() && grabbed > 0) {
        std::error_code ec;
        std::cout << "frames written to "
                  << fs::absolute(options.outDir, ec).lexically_normal().string() << "\n";
    }
    return status;
}

}  // namespace qrvacq
