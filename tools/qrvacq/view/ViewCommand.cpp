// view: the grab loop on a thread of its own, the latest frame handed to the
// pages on request (a page asks for the next frame when it has drawn the last
// one, so a slow browser skips frames instead of queueing them), and an HTTP
// server for the page, the statistics and the features.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "CameraNodes.h"
#include "LiveView.h"
#include "PngWriter.h"
#include "Text.h"

// After the host data headers: cpp-httplib brings zlib, whose global typedef
// intf would shadow their parameters of that name.
#include <httplib.h>

namespace qrvacq {

namespace {

using json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t g_viewInterrupted = 0;

extern "C" void OnViewInterrupt(int) {
    g_viewInterrupted = 1;
}

/// One view per camera on this machine: a second `view` of the same serial is
/// told the camera is in use instead of fighting over it.
class ViewLock {
public:
    explicit ViewLock(const std::string& serial) {
        std::string name = "qrvacq-view-";
        for (char c : serial) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        const char* dir = std::getenv("XDG_RUNTIME_DIR");
        m_path = std::string(dir && *dir ? dir : "/tmp") + "/" + name + ".lock";
        m_fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(m_fd);
            m_fd = -1;
            m_busy = true;
        }
    }
    ~ViewLock() {
        if (m_fd >= 0) ::close(m_fd);
    }
    ViewLock(const ViewLock&) = delete;
    ViewLock& operator=(const ViewLock&) = delete;
    bool Busy() const { return m_busy; }

private:
    std::string m_path;
    int m_fd = -1;
    bool m_busy = false;
};

/// 8-bit grey or RGB bytes for the page's canvas, every step-th pixel of every
/// step-th row: samples wider than 8 bits keep their top byte; layouts other
/// than RGB show their first channel.
std::string DisplayBytes(const QRVImage& image, int step, int& channels, int& width, int& height) {
    const int inChannels = std::max(image.Channels(), 1);
    const int bits = image.BitsPerChannel();
    const std::size_t bytesPerSample = bits > 8 ? 2 : 1;
    const std::size_t inWidth = static_cast<std::size_t>(std::max(image.Width(), 0));
    const std::size_t inHeight = static_cast<std::size_t>(std::max(image.Height(), 0));
    const std::size_t rowBytes = inWidth * static_cast<std::size_t>(inChannels) * bytesPerSample;
    const unsigned char* data = image.Data();
    if (!data || rowBytes == 0 || inHeight == 0 || image.DataSize() < rowBytes * inHeight) return {};
    const std::size_t s = static_cast<std::size_t>(std::max(step, 1));
    channels = inChannels == 3 ? 3 : 1;
    const std::size_t outWidth = (inWidth + s - 1) / s, outHeight = (inHeight + s - 1) / s;
    width = static_cast<int>(outWidth);
    height = static_cast<int>(outHeight);
    const std::size_t outChannels = static_cast<std::size_t>(channels);
    if (s == 1 && bytesPerSample == 1 && outChannels == static_cast<std::size_t>(inChannels))
        return std::string(reinterpret_cast<const char*>(data), rowBytes * inHeight);
    std::string out(outWidth * outHeight * outChannels, '\0');
    const int shift = bits > 8 ? std::min(bits, 16) - 8 : 0;
    char* o = &out[0];
    for (std::size_t y = 0; y < inHeight; y += s) {
        const unsigned char* row = data + y * rowBytes;
        for (std::size_t x = 0; x < inWidth; x += s) {
            const std::size_t sample = x * static_cast<std::size_t>(inChannels);
            for (std::size_t c = 0; c < outChannels; ++c) {
                if (bytesPerSample == 2) {
                    std::uint16_t raw;
                    std::memcpy(&raw, row + (sample + c) * 2, 2);
                    *o++ = static_cast<char>((raw >> shift) & 0xFFu);
                } else {
                    *o++ = static_cast<char>(row[sample + c]);
                }
            }
        }
    }
    return out;
}

/// The grab loop and what it saw. GrabImage runs on the loop's thread only;
/// pages read the latest frame and the statistics under the lock.
class LiveSource {
public:
    LiveSource(const PluginApi& api, QRVCameraHandle handle, int timeoutMs)
        : m_api(api), m_handle(handle), m_timeoutMs(timeoutMs) {}
    ~LiveSource() { Finish(); }
    LiveSource(const LiveSource&) = delete;
    LiveSource& operator=(const LiveSource&) = delete;

    void Begin() {
        m_acquiring = true;
        m_thread = std::thread([this] { Loop(); });
    }
    /// Ends the loop: a grab that waits is ended by StopAcquire from this thread.
    void Finish() {
        if (!m_thread.joinable()) return;
        m_finishing = true;
        if (m_acquiring.exchange(false)) m_api.StopAcquire(m_handle);
        m_wake.notify_all();
        m_thread.join();
    }
    int Start() {
        std::lock_guard<std::mutex> lock(m_controlMutex);
        if (m_acquiring) return QRV_OK;
        const int result = m_api.StartAcquire(m_handle, 0, 0);
        if (result == QRV_OK) {
            m_acquiring = true;
            m_wake.notify_all();
        }
        return result;
    }
    int Stop() {
        std::lock_guard<std::mutex> lock(m_controlMutex);
        if (!m_acquiring.exchange(false)) return QRV_OK;
        return m_api.StopAcquire(m_handle);
    }
    bool Acquiring() const { return m_acquiring; }
    bool Lost() const { return m_lost; }

    /// Waits up to timeout for a frame newer than after; false when none came.
    /// maxWidth: the widest picture the page shows; a wider frame is sent decimated.
    bool NextFrame(std::uint64_t after, int maxWidth, std::chrono::milliseconds timeout,
                   std::string& bytes, json& header) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_frameReady.wait_for(lock, timeout, [&] { return m_count > after || m_finishing; }))
            return false;
        if (m_count <= after) return false;
        const int step = maxWidth > 0 ? std::max(1, (m_latest.Width() + maxWidth - 1) / maxWidth) : 1;
        int channels = 1, width = 0, height = 0;
        bytes = DisplayBytes(m_latest, step, channels, width, height);
        header = {{"frame", m_count},
                  {"width", width},
                  {"height", height},
                  {"step", step},
                  {"sourceWidth", m_latest.Width()},
                  {"sourceHeight", m_latest.Height()},
                  {"channels", channels},
                  {"bits", m_latest.BitsPerChannel()}};
        ++m_shown;
        return !bytes.empty();
    }
    /// The latest frame as PNG bytes; empty with why set when there is none.
    std::string LatestPng(std::string& why) {
        QRVImage copy;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_count == 0) {
                why = "no frame yet";
                return {};
            }
            copy = m_latest;
        }
        const std::string path = std::filesystem::temp_directory_path().string() +
                                 "/qrvacq-view-" + std::to_string(::getpid()) + ".png";
        if (!WritePng(copy, path, why)) return {};
        std::ifstream in(path, std::ios::binary);
        std::string png((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::remove(path.c_str());
        return png;
    }
    json Statistics() {
        std::lock_guard<std::mutex> lock(m_mutex);
        json failures = json::array();
        for (const auto& [code, count] : m_failures)
            failures.push_back({{"code", code}, {"text", DescribeResult(code)}, {"count", count}});
        return {{"acquiring", m_acquiring.load()}, {"lost", m_lost.load()},
                {"grabbed", m_count},              {"shown", m_shown},
                {"fps", m_fps},                    {"MBps", m_mbps},
                {"failures", failures}};
    }
    std::uint64_t Grabbed() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_count;
    }
    std::uint64_t Shown() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_shown;
    }

private:
    void Loop() {
        QRVImage image;
        Clock::time_point windowStart = Clock::now();
        std::uint64_t windowFrames = 0;
        double windowBytes = 0;
        while (!m_finishing) {
            if (!m_acquiring) {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait_for(lock, std::chrono::milliseconds(100),
                                [&] { return m_acquiring || m_finishing; });
                windowStart = Clock::now();
                windowFrames = 0;
                windowBytes = 0;
                m_fps = m_mbps = 0;
                continue;
            }
            const int result = m_api.GrabImage(m_handle, &image, m_timeoutMs);
            std::lock_guard<std::mutex> lock(m_mutex);
            if (result == QRV_OK) {
                std::swap(image, m_latest);  // the page reads m_latest; no copy of the pixels
                ++m_count;
                ++windowFrames;
                windowBytes += static_cast<double>(m_latest.DataSize());
                m_frameReady.notify_all();
            } else if (m_acquiring && !m_finishing) {
                ++m_failures[result];
                if (!m_api.IsOpen(m_handle)) {
                    m_lost = true;
                    m_acquiring = false;
                }
            }
            const double seconds = std::chrono::duration<double>(Clock::now() - windowStart).count();
            if (seconds >= 1.0) {
                m_fps = static_cast<double>(windowFrames) / seconds;
                m_mbps = windowBytes / seconds / 1e6;
                windowStart = Clock::now();
                windowFrames = 0;
                windowBytes = 0;
            }
        }
        m_frameReady.notify_all();
    }

    const PluginApi& m_api;
    QRVCameraHandle m_handle;
    int m_timeoutMs;
    std::thread m_thread;
    std::mutex m_controlMutex;  // Start and Stop from several pages
    std::atomic<bool> m_acquiring{false};
    std::atomic<bool> m_finishing{false};
    std::atomic<bool> m_lost{false};
    std::mutex m_mutex;
    std::condition_variable m_frameReady;
    std::condition_variable m_wake;
    QRVImage m_latest;
    std::uint64_t m_count = 0;
    std::uint64_t m_shown = 0;
    std::map<int, int> m_failures;
    double m_fps = 0, m_mbps = 0;
};

/// Writes one feature through the same path as `set` (WriteSettings), a command
/// through ExecuteCMD; answers what the feature holds now, or "error".
json WriteFeature(const PluginApi& api, QRVCameraHandle handle, const std::string& name,
                  const std::string& text) {
    const QRVString node(name.c_str());
    if (api.GetNodeType(handle, node) == 5) {
        const int result = api.ExecuteCMD(handle, node);
        if (result == QRV_OK) return {{"name", name}};
        return {{"name", name}, {"error", DescribeResult(result)}};
    }
    nlohmann::json readings;
    WriteSettings(api, handle, {name + "=" + text}, readings);
    if (readings.empty())
        return {{"name", name}, {"error", Quote(text) + " is not a valid value for " + name}};
    json reading = readings.front();
    if (reading.contains("error")) {
        std::string why = DescribeResult(reading["error"].value("code", 0));
        if (reading.contains("reason")) why += ": " + reading["reason"].get<std::string>();
        reading["error"] = why;
    } else if (reading.contains("nodeMap")) {
        reading["error"] = "a 64-bit value: the view writes through the plug-in only; use qrvacq set";
    }
    return reading;
}

/// ReadFeature with its error as one line of text, for the page.
json ReadForPage(const PluginApi& api, QRVCameraHandle handle, const std::string& name) {
    json reading = ReadFeature(api, handle, name);
    if (reading.contains("error")) reading["error"] = DescribeResult(reading["error"].value("code", 0));
    return reading;
}

bool IsLoopback(const std::string& address) {
    return address == "127.0.0.1" || address == "localhost" || address == "::1";
}

}  // namespace

int RunView(const PluginApi& api, const CameraTarget& target, const ViewOptions& options) {
    ViewLock viewLock(target.serial);
    if (viewLock.Busy()) {
        std::cerr << "qrvacq: " << target.serial
                  << " is in use by another qrvacq view on this machine\n";
        return kExitCallFailed;
    }
    // The tree comes from the camera library before the plug-in opens the camera:
    // the two must not hold one camera at once. Values are then read and written
    // through the entry points.
    json tree = json::array();
    {
        LibraryCamera library;
        std::string error;
        if (library.Open(target.serial, error) && library.DeviceMap())
            tree = FeatureTree(*library.DeviceMap());
    }

    OpenCamera camera(api);
    if (!camera.Open(target)) return kExitCallFailed;
    const QRVCameraHandle handle = camera.Handle();
    const int started = api.StartAcquire(handle, 0, 0);
    if (started != QRV_OK) {
        std::cerr << "qrvacq: start acquisition: " << DescribeResult(started) << "\n";
        return kExitCallFailed;
    }
    LiveSource source(api, handle, options.timeoutMs);
    source.Begin();

    std::mutex apiMutex;  // feature calls of several pages, one at a time
    // Pages that are open: each names itself in its requests (viewer=...) and
    // says goodbye when it is closed; one that stops asking counts as closed.
    std::mutex viewersMutex;
    std::map<std::string, Clock::time_point> viewers;
    bool seenPage = false;
    std::atomic<bool> closeRequested{false};
    auto touchViewer = [&](const httplib::Request& req) {
        if (!req.has_param("viewer")) return;
        std::lock_guard<std::mutex> lock(viewersMutex);
        seenPage = true;
        viewers[req.get_param_value("viewer")] = Clock::now();
    };
    httplib::Server server;
    auto asset = [&](const std::string& name, const char* type) {
        return [&, name, type](const httplib::Request&, httplib::Response& res) {
                res.set_content(*ViewAsset(name), type);
        };
    };
    server.Get("/", asset("index.html", "text/html; charset=utf-8"));
    server.Get("/view.js", asset("view.js", "text/javascript; charset=utf-8"));
    server.Get("/view.css", asset("view.css", "text/css; charset=utf-8"));
    server.Get("/api/info", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(json{{"serial", target.serial}}.dump(), "application/json");
    });
    server.Get("/api/frame", [&](const httplib::Request& req, httplib::Response& res) {
        touchViewer(req);
        std::uint64_t after = 0;
        int maxWidth = 0;
        try {
            if (req.has_param("after")) after = std::stoull(req.get_param_value("after"));
            if (req.has_param("maxwidth")) maxWidth = std::stoi(req.get_param_value("maxwidth"));
        } catch (const std::exception&) {
            res.status = 400;
            return;
        }
        std::string bytes;
        json header;
        if (!source.NextFrame(after, maxWidth, std::chrono::milliseconds(1000), bytes, header)) {
            res.status = 204;
            return;
        }
        res.set_header("X-Frame", header.dump());
        res.set_content(std::move(bytes), "application/octet-stream");
    });
    server.Get("/api/stats", [&](const httplib::Request& req, httplib::Response& res) {
        touchViewer(req);
        res.set_content(source.Statistics().dump(), "application/json");
    });
    server.Get("/api/features", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(tree.dump(), "application/json");
    });
    server.Get("/api/value", [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(apiMutex);
        res.set_content(ReadForPage(api, handle, req.get_param_value("name")).dump(),
                        "application/json");
    });
    server.Post("/api/set", [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(apiMutex);
        const json out = WriteFeature(api, handle, req.get_param_value("name"),
                                      req.get_param_value("value"));
        res.set_content(out.dump(), "application/json");
    });
    auto control = [&](const char* what, int result, httplib::Response& res) {
        json out = {{"action", what}, {"code", result}};
        if (result != QRV_OK) out["error"] = DescribeResult(result);
        res.set_content(out.dump(), "application/json");
    };
    server.Post("/api/start", [&](const httplib::Request&, httplib::Response& res) {
        control("start", source.Start(), res);
    });
    server.Post("/api/stop", [&](const httplib::Request&, httplib::Response& res) {
        control("stop", source.Stop(), res);
    });
    server.Post("/api/trigger", [&](const httplib::Request&, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(apiMutex);
        control("trigger", api.ExecuteCMD(handle, QRVString("TriggerSoftware")), res);
    });
    server.Get("/api/snapshot.png", [&](const httplib::Request&, httplib::Response& res) {
        std::string why;
        std::string png = source.LatestPng(why);
        if (png.empty()) {
            res.status = 409;
            res.set_content(why, "text/plain");
            return;
        }
        res.set_header("Content-Disposition",
                       "attachment; filename=\"" + target.serial + "-frame.png\"");
        res.set_content(std::move(png), "image/png");
    });
    // A closed page says goodbye; the view ends when no page is left asking.
    server.Post("/api/bye", [&](const httplib::Request& req, httplib::Response&) {
        std::lock_guard<std::mutex> lock(viewersMutex);
        viewers.erase(req.get_param_value("viewer"));
    });
    server.Post("/api/quit", [&](const httplib::Request&, httplib::Response&) {
        closeRequested = true;
    });

    if (!IsLoopback(options.bind)) {
        std::cerr << "qrvacq: warning: serving on " << options.bind
                  << ": anyone who reaches this address can see the camera and change its "
                     "features\n";
    }
    int port = options.port;
    if (port == 0) {
        port = server.bind_to_any_port(options.bind);
    } else if (!server.bind_to_port(options.bind, port)) {
        port = -1;
    }
    if (port < 0) {
        std::cerr << "qrvacq: cannot serve on " << options.bind << ":" << options.port << ": "
                  << std::strerror(errno) << "\n";
        source.Finish();
        return kExitCallFailed;
    }
    std::thread serving([&] { server.listen_after_bind(); });
    const std::string host = options.bind.find(':') != std::string::npos ? "[" + options.bind + "]"
                                                                          : options.bind;
    std::cout << "qrvacq: live view of " << target.serial << " at http://" << host << ":" << port
              << "/ (Ctrl-C ends it)" << std::endl;

    g_viewInterrupted = 0;
    struct sigaction action {}, previous {};
    action.sa_handler = OnViewInterrupt;
    sigemptyset(&action.sa_mask);
    const bool installed = sigaction(SIGINT, &action, &previous) == 0;
    std::string why = "interrupted";
    while (true) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (g_viewInterrupted) break;
        if (closeRequested) {
            why = "closed from the page";
            break;
        }
        if (source.Lost()) {
            why = "the camera was lost";
            break;
        }
        std::lock_guard<std::mutex> lock(viewersMutex);
        const Clock::time_point now = Clock::now();
        for (auto it = viewers.begin(); it != viewers.end();) {
            it = now - it->second > std::chrono::seconds(options.idleSeconds) ? viewers.erase(it)
                                                                               : std::next(it);
        }
        if (seenPage && viewers.empty()) {
            why = "the last page was closed";
            break;
        }
    }
    if (installed) sigaction(SIGINT, &previous, nullptr);

    server.stop();
    serving.join();
    source.Finish();
    const int closed = camera.Close(!source.Lost());
    std::cout << "qrvacq: view ended (" << why << "): " << source.Grabbed() << " frames grabbed, "
              << source.Shown() << " shown" << std::endl;
    if (source.Lost() || (closed != QRV_OK)) return kExitCallFailed;
    return g_viewInterrupted ? kExitInterrupted : kExitOk;
}

}  // namespace qrvacq
