#include "StreamRegistry.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace KZRGENICAM {

namespace {

struct Entry {
    const void* owner;
    std::string serial;
    detail::StreamStatsReader reader;
};

struct Streams {
    std::mutex mutex;
    std::vector<Entry> entries;  // a handful: one per grabbing camera
};

Streams& TheStreams() {
    static Streams* streams = new Streams;  // outlives cameras released at exit
    return *streams;
}

}  // namespace

namespace detail {

void EnterStream(const void* owner, const char* serial, StreamStatsReader reader) {
    if (!owner || !serial || !reader) return;
    Streams& s = TheStreams();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = std::find_if(s.entries.begin(), s.entries.end(),
                           [&](const Entry& e) { return e.owner == owner; });
    if (it == s.entries.end()) {
        s.entries.push_back({owner, serial, std::move(reader)});
    } else {
        it->serial = serial;
        it->reader = std::move(reader);
    }
}

void RemoveStream(const void* owner) {
    Streams& s = TheStreams();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.entries.erase(std::remove_if(s.entries.begin(), s.entries.end(),
                                   [&](const Entry& e) { return e.owner == owner; }),
                    s.entries.end());
}

}  // namespace detail

bool GetStreamStatistics(const char* serial, StreamStatistics& out) {
    if (!serial) return false;
    try {
        Streams& s = TheStreams();
        std::lock_guard<std::mutex> lock(s.mutex);
        // The latest entry wins: a camera opened again under the same serial.
        for (auto it = s.entries.rbegin(); it != s.entries.rend(); ++it) {
            if (it->serial != serial) continue;
            StreamStatistics read;
            it->reader(read);
            out = read;
            return true;
        }
    } catch (const std::exception&) {
    }
    return false;
}

}  // namespace KZRGENICAM
