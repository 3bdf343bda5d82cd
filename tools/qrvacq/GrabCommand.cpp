// grab: StartAcquire, N grabs, StopAcquire. The loop only grabs and copies: PNG
// encoding runs on the frame writer's thread, so the figures are the camera's.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

#include "ChunkValues.h"
#include "Commands.h"
#include "FrameWriter.h"
#include "JsonOut.h"
#include "KZRStreamStats.h"
#include "Platform.h"
#include "Text.h"

namespace qrvacq {

namespace {

using json = nlohmann::ordered_json;

// Ctrl-C ends the grab instead of the process, so that StopAcquire and Close
// still run. A grab may wait without limit (--timeout -1, an external trigger
// that never comes), so a flag checked between grabs is not enough: a watcher
// thread sees the flag the handler sets and calls StopAcquire, which ends the
// wait.
class InterruptWatch {
public:
    InterruptWatch(const PluginApi& api, QRVCameraHandle handle)
        : m_api(api), m_handle(handle), m_installed(platform::CatchInterrupt()) {
        if (m_installed) m_watcher = std::thread([this] { Watch(); });
    }
    ~InterruptWatch() {
        m_done = true;
        if (m_watcher.joinable()) m_watcher.join();
        if (m_installed) platform::ReleaseInterrupt();
    }
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

private:
    void Watch() {
        while (!m_done) {
            if (platform::Interrupted()) {
                m_api.StopAcquire(m_handle);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    const PluginApi& m_api;
    QRVCameraHandle m_handle;
    std::atomic<bool> m_done{false};
    std::thread m_watcher;
    bool m_installed = false;
};

using Clock = std::chrono::steady_clock;

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Frames per second, MB/s, failures by code and the interval between
// successive good frames.
struct GrabStats {
    int grabbed = 0;
    int attempted = 0;
    double bytes = 0;
    std::map<int, int> failures;
    double lastFrame = -1;  // seconds since start
    double minInterval = 0, maxInterval = 0, sumInterval = 0;
    int intervals = 0;
    FrameIdGaps gaps;  ///< fed from ChunkFrameID when the frames carry it

    void Frame(double at, std::size_t size) {
        ++grabbed;
        bytes += static_cast<double>(size);
        if (lastFrame >= 0) {
            const double interval = at - lastFrame;
            minInterval = intervals ? std::min(minInterval, interval) : interval;
            maxInterval = intervals ? std::max(maxInterval, interval) : interval;
            sumInterval += interval;
            ++intervals;
        }
        lastFrame = at;
    }
    double Fps(double seconds) const { return seconds > 0 ? grabbed / seconds : 0.0; }
    double MBps(double seconds) const { return seconds > 0 ? bytes / seconds / 1e6 : 0.0; }

    std::string RateText(double seconds) const {
        char text[96];
        std::snprintf(text, sizeof(text), "%.1f fps, %.1f MB/s", Fps(seconds), MBps(seconds));
        return text;
    }
    std::string IntervalText() const {
        if (!intervals) return "frame interval: -";
        char text[128];
        std::snprintf(text, sizeof(text), "frame interval: min %.2f ms, mean %.2f ms, max %.2f ms",
                      minInterval * 1e3, sumInterval / intervals * 1e3, maxInterval * 1e3);
        return text;
    }
    /// ", lost N" once frame ids are known.
    std::string LostText() const {
        return gaps.Known() ? ", lost " + std::to_string(gaps.Lost()) : std::string();
    }
    std::string FailureText(bool withMeaning) const {
        if (failures.empty()) return "none";
        std::string text;
        for (const auto& [code, count] : failures) {
            if (!text.empty()) text += "; ";
            text += std::to_string(count) + " x " +
                    (withMeaning ? DescribeResult(code) : std::to_string(code));
        }
        return text;
    }
    json Json(double seconds) const {
        json out = {{"grabbed", grabbed},
                    {"attempted", attempted},
                    {"seconds", seconds},
                    {"fps", Fps(seconds)},
                    {"MBps", MBps(seconds)}};
        out["interval"] = intervals ? json{{"min", minInterval},
                                           {"mean", sumInterval / intervals},
                                           {"max", maxInterval}}
                                    : json(nullptr);
        json list = json::array();
        for (const auto& [code, count] : failures) {
            const char* name = QRVAcqResultName(code);
            list.push_back({{"code", code}, {"name", name ? name : ""}, {"count", count}});
        }
        out["failures"] = list;
        return out;
    }
};

// The stream's own counters, read from the camera library: the plug-in's entry
// points never reach the stream. Packets are known only on a GigE Vision stream.
struct StreamCounters {
    explicit StreamCounters(const std::string& serial) : m_serial(serial) {}
    /// Keeps the last reading when the camera library has no grabbing stream of
    /// this serial any more (Ctrl-C stopped it).
    void Read() {
        if (KZRGENICAM::GetStreamStatistics(m_serial.c_str(), m_stats)) m_known = true;
    }
    bool Packets() const { return m_known && m_stats.packets; }
    /// ", resent N, missing M packets" when packets are known.
    std::string PacketText() const {
        if (!Packets()) return std::string();
        return ", resent " + std::to_string(m_stats.resentPackets) + ", missing " +
               std::to_string(m_stats.missingPackets) + " packets";
    }
    const KZRGENICAM::StreamStatistics& Stats() const { return m_stats; }

private:
    std::string m_serial;
    KZRGENICAM::StreamStatistics m_stats;
    bool m_known = false;
};

// The statistics line on a terminal's stderr, redrawn once a second. It stays
// at the bottom: a frame line erases it, prints above it and draws it again.
class Progress {
public:
    Progress(int total, StreamCounters& stream)
        : m_total(total), m_enabled(platform::StderrIsTerminal()), m_stream(stream) {}
    ~Progress() { Erase(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void Erase() {
        if (!m_shown) return;
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        m_shown = false;
    }
    /// The last statistics again, after a frame line.
    void Redraw() {
        if (m_text.empty() || m_shown) return;
        std::fputs(m_text.c_str(), stderr);
        std::fflush(stderr);
        m_shown = true;
    }
    void Update(const GrabStats& stats, Clock::time_point start) {
        if (!m_enabled) return;
        const double elapsed = SecondsSince(start);
        if (elapsed < 1.0 || Clock::now() - m_lastDraw < std::chrono::seconds(1)) return;
        m_stream.Read();
        m_text = "\r\033[Kgrab: " + std::to_string(stats.attempted) + "/" +
                 std::to_string(m_total) + " frames, " + stats.RateText(elapsed) + ", " +
                 stats.IntervalText() + stats.LostText() +
                 ", failures: " + stats.FailureText(false) + m_stream.PacketText();
        m_shown = false;
        Redraw();
        m_lastDraw = Clock::now();
    }

private:
    int m_total;
    bool m_enabled;
    StreamCounters& m_stream;
    bool m_shown = false;
    std::string m_text;
    Clock::time_point m_lastDraw{};
};

// Enough for a few seconds of a fast camera; beyond that the disk is too slow
// and frames are skipped rather than stalling the camera.
constexpr std::size_t kWriterQueueBytes = std::size_t{512} << 20;

}  // namespace

int RunGrab(const PluginApi& api, const CameraTarget& target, const GrabOptions& options,
            bool& cameraLost) {
    cameraLost = false;
    namespace fs = std::filesystem;
    const bool writing = !options.outDir.empty();
    if (writing) {
        std::error_code ec;
        // Frames of an earlier run would mix with this one's: refused, or
        // removed with --overwrite.
        std::vector<fs::path> older;
        for (fs::directory_iterator it(options.outDir, ec), end; !ec && it != end;
             it.increment(ec)) {
            const std::string name = it->path().filename().string();
            std::error_code typeError;
            if (it->is_regular_file(typeError) && name.rfind("frame_", 0) == 0 &&
                (EndsWith(name, ".png") || EndsWith(name, ".chunks.bin")))
                older.push_back(it->path());
        }
        if (!older.empty() && !options.overwrite) {
            std::sort(older.begin(), older.end());
            std::cerr << "qrvacq: " << options.outDir << " holds "
                      << Counted(static_cast<long long>(older.size()), "file")
                      << " of an earlier grab (" << older.front().filename().string()
                      << " ...); choose another folder, or --overwrite to remove them first\n";
            return kExitUsage;
        }
        for (const fs::path& path : older) {
            if (!fs::remove(path, ec) && ec) {
                std::cerr << "qrvacq: cannot remove " << path.string() << ": " << ec.message()
                          << "\n";
                return kExitUsage;
            }
        }
        ec.clear();
        fs::create_directories(options.outDir, ec);
        if (ec) {
            std::cerr << "qrvacq: cannot create " << options.outDir << ": " << ec.message() << "\n";
            return kExitUsage;
        }
    }
    // Chunk features and their ids come from the camera library, which must not
    // hold the camera once the plug-in opens it.
    ChunkValues chunkValues;
    bool decoding = false;
    if (options.chunks) {
        std::string why;
        decoding = chunkValues.Learn(target.serial, why);
        if (!decoding) {
            std::cerr << "qrvacq: chunks are not decoded: " << why << "\n";
        } else if (!chunkValues.WideFeatures().empty()) {
            std::cerr << "qrvacq: " << chunkValues.WideFeatures()
                      << ": the plug-in reads integers as 32 bits; shown are the low 32 bits\n";
        }
    }
    OpenCamera camera(api);
    if (!camera.Open(target)) return kExitCallFailed;
    const QRVCameraHandle handle = camera.Handle();
    // Settings go into this session, so that they hold for the frames even on a
    // camera that forgets them on close.
    if (!options.settings.empty()) {
        nlohmann::json readings;
        const int written = WriteSettings(api, handle, options.settings, readings);
        // Strings and 64-bit integers need the node map, which the plug-in holds now.
        for (nlohmann::json& reading : readings) {
            if (!reading.contains("nodeMap")) continue;
            reading.erase("nodeMap");
            reading["error"] = {{"code", QRV_ERR_PARAMETER_ACCESS},
                                {"name", "QRV_ERR_PARAMETER_ACCESS"},
                                {"meaning", QRVAcqResultMeaning(QRV_ERR_PARAMETER_ACCESS)}};
            reading["reason"] =
                "only the node map takes this value; write it with qrvacq set before the grab";
        }
        if (options.json) {
            for (nlohmann::json& reading : readings) {
                nlohmann::json line = {{"type", "setting"}};
                line.update(reading);
                std::cout << DumpJson(line) << "\n";
            }
        } else {
            PrintSettings(readings);
        }
        if (written != kExitOk) {
            if (written == kExitCallFailed) std::cerr << "qrvacq: grab not started\n";
            return written;
        }
    }
    const int started = api.StartAcquire(handle, options.startArg, 0);
    if (started != QRV_OK) {
        std::cerr << "qrvacq: start acquisition: " << DescribeResult(started) << "\n";
        return kExitCallFailed;
    }

    int status = kExitOk;
    bool lost = false;
    GrabStats stats;
    QRVImage image;
    ZelChunkData chunks;
    std::unique_ptr<FrameWriter> writer;
    if (writing) writer = std::make_unique<FrameWriter>(options.outDir, kWriterQueueBytes);
    const Clock::time_point start = Clock::now();
    double elapsed = 0;
    StreamCounters stream(target.serial);
    {
        InterruptWatch interruptWatch(api, handle);
        Progress progress(options.count, stream);
        for (int index = 1; index <= options.count && !platform::Interrupted(); ++index) {
            const std::uint64_t updatesBefore = chunks.getUpdateCount();
            const int result = options.chunks
                                   ? api.GrabImageEx(handle, &image, &chunks, options.timeoutMs)
                                   : api.GrabImage(handle, &image, options.timeoutMs);
            const double at = SecondsSince(start);
            // The grab that Ctrl-C's StopAcquire cut short is no failure of the camera.
            if (result != QRV_OK && platform::Interrupted()) break;
            ++stats.attempted;
            const bool chunksArrived = options.chunks && chunks.getUpdateCount() != updatesBefore;
            const std::size_t chunkBytes = chunksArrived ? chunks.getSize() : 0;
            bool decoded = false;
            if (result == QRV_OK) {
                stats.Frame(at, image.DataSize());
                uint32_t frameId = 0;
                if (decoding && chunksArrived) {
                    chunkValues.Read(api, handle);
                    decoded = true;
                }
                if (decoded && chunkValues.FrameId(frameId))
                    stats.gaps.Next(frameId);
                else
                    stats.gaps.WithoutId();
            } else {
                ++stats.failures[result];
            }
            if (options.quiet) {
                // no frame line
            } else if (options.json) {
                progress.Erase();
                json line = {{"type", "frame"}, {"index", index}, {"code", result}, {"time", at}};
                if (result == QRV_OK) {
                    line.update({{"width", image.Width()},
                                 {"height", image.Height()},
                                 {"channels", image.Channels()},
                                 {"bits", image.BitsPerChannel()},
                                 {"bytes", image.DataSize()}});
                    if (options.chunks) line["chunkBytes"] = chunkBytes;
                    if (decoded) line["chunkValues"] = chunkValues.Json();
                } else {
                    const char* name = QRVAcqResultName(result);
                    line["name"] = name ? name : "";
                }
                std::cout << DumpJson(line) << std::endl;  // flushed: a reader may wait per frame
            } else {
                std::string text = "frame " + std::to_string(index) + ": ";
                if (result == QRV_OK) {
                    text += "0 QRV_OK " + std::to_string(image.Width()) + "x" +
                            std::to_string(image.Height()) + "x" +
                            std::to_string(image.Channels()) + "x" +
                            std::to_string(image.BitsPerChannel());
                    if (options.chunks) text += " chunks=" + std::to_string(chunkBytes);
                    const std::string values = decoded ? chunkValues.Text() : std::string();
                    if (!values.empty()) text += ": " + values;
                } else {
                    text += DescribeResult(result);
                }
                progress.Erase();
                std::cout << text << std::endl;
            }
            progress.Redraw();
            if (result == QRV_OK && writer) {
                GrabbedFrame frame;
                frame.index = index;
                frame.image = image;
                if (chunkBytes > 0)
                    frame.chunks.assign(chunks.getData(), chunks.getData() + chunkBytes);
                writer->Push(std::move(frame));
            }
            if (writer && writer->Failed()) break;
            // A camera that is gone fails every further grab; say so once.
            if (result != QRV_OK && !api.IsOpen(handle)) {
                lost = true;
                break;
            }
            progress.Update(stats, start);
        }
        elapsed = SecondsSince(start);
    }
    // Before the stop: the stream leaves the camera library with it.
    stream.Read();
    const bool interrupted = platform::Interrupted();
    if (interrupted)
        std::cerr << "qrvacq: interrupted after " << Counted(stats.attempted, "frame") << "\n";
    cameraLost = lost;
    if (lost) {
        std::cerr << "qrvacq: the camera was lost after " << Counted(stats.attempted, "grab")
                  << " (IsOpen answers false); grab stopped\n";
        status = kExitCallFailed;
    }

    const int stopped = api.StopAcquire(handle);
    if (stopped != QRV_OK && !lost) {
        std::cerr << "qrvacq: stop acquisition: " << DescribeResult(stopped) << "\n";
        status = kExitCallFailed;
    }
    // A lost camera still gives its handle back; its 101007 is no news.
    if (camera.Close(!lost) != QRV_OK && !lost) status = kExitCallFailed;
    if (writer) {
        writer->Finish();
        if (writer->Failed()) {
            std::cerr << "qrvacq: " << writer->Error() << "; grab stopped\n";
            status = kExitCallFailed;
        }
    }
    if (!stats.failures.empty()) status = kExitCallFailed;

    std::error_code ec;
    const std::string directory =
        writing ? fs::absolute(options.outDir, ec).lexically_normal().string() : "";
    if (options.json) {
        json summary = {{"type", "summary"}, {"requested", options.count}};
        summary.update(stats.Json(elapsed));
        if (options.chunks)
            summary["lostFrames"] = stats.gaps.Known() ? json(stats.gaps.Lost()) : json(nullptr);
        if (stream.Packets())
            summary["packets"] = {{"resent", stream.Stats().resentPackets},
                                  {"missing", stream.Stats().missingPackets}};
        summary.update({{"interrupted", interrupted}, {"cameraLost", lost}});
        if (writer) {
            summary["written"] = writer->Written();
            summary["notWritten"] = writer->Skipped();
            summary["writeError"] = writer->Failed() ? json(writer->Error()) : json(nullptr);
            summary["directory"] = directory;
        }
        std::cout << DumpJson(summary) << "\n";
    } else {
        std::cout << "grabbed " << stats.grabbed << " of " << Counted(options.count, "frame")
                  << " in ";
        char seconds[32];
        std::snprintf(seconds, sizeof(seconds), "%.3f s", elapsed);
        std::cout << seconds << ", " << stats.RateText(elapsed);
        if (interrupted) std::cout << " (interrupted)";
        if (lost) std::cout << " (camera lost)";
        std::cout << "\n" << stats.IntervalText() << "\n";
        std::cout << "failures: " << stats.FailureText(true) << "\n";
        if (stream.Packets())
            std::cout << "packets: resent " << stream.Stats().resentPackets << ", missing "
                      << stream.Stats().missingPackets << "\n";
        if (options.chunks) {
            std::cout << "lost frames: ";
            if (stats.gaps.Known())
                std::cout << stats.gaps.Lost() << " (gaps in ChunkFrameID)\n";
            else
                std::cout << "unknown (no ChunkFrameID in the frames)\n";
        }
        if (writer) {
            std::cout << Counted(writer->Written(), "frame") << " written to " << directory;
            if (writer->Skipped() > 0)
                std::cout << "; " << writer->Skipped() << " not written (the writer fell behind)";
            if (writer->Failed()) std::cout << "; 1 write failure";
            std::cout << "\n";
        }
    }
    if (writer && writer->Skipped() > 0) status = kExitCallFailed;
    if (interrupted) return kExitInterrupted;
    return status;
}

}  // namespace qrvacq
