// Private state of the simulated transport: the active scenario's cameras, the
// counters that KZRSim.h reports, and the graveyard that makes a second release()
// of a handed-out object harmless.
//
// Lock order: a camera entry's mutex may be held while taking the global state's
// mutex, never the other way round; the global mutex is a leaf.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "KZRSim.h"

namespace KZRSIM::detail {

/// Distinct pre-rendered patterns per layout; frame k uses slot (k-1) % kRing.
constexpr uint64_t kRing = 4;

struct Layout {
    int width = 0;
    int height = 0;
    int channels = 1;
    int bits = 8;
    uint32_t pixelFormat = 0;

    uint64_t Size() const {
        return static_cast<uint64_t>(width) * static_cast<uint64_t>(height) *
               static_cast<uint64_t>(channels) * static_cast<uint64_t>(bits / 8);
    }
    bool operator<(const Layout& o) const {
        if (width != o.width) return width < o.width;
        if (height != o.height) return height < o.height;
        if (channels != o.channels) return channels < o.channels;
        if (bits != o.bits) return bits < o.bits;
        return pixelFormat < o.pixelFormat;
    }
};

/// Layout of a named pixel format; false for a name the simulator does not know.
bool FormatLayout(const std::string& pixelFormat, int& channels, int& bits, uint32_t& pfnc);
/// The camera's layout; an unknown pixel format counts as Mono8.
Layout LayoutOf(const CameraSpec& desc);
/// PFNC code for a channel/bit combination given by a script step.
uint32_t FormatFor(int channels, int bits, uint32_t fallback);

uint8_t PatternAt(const Layout& layout, uint64_t frameId, uint64_t offset);
/// Writes the whole image of ring slot `phase` (frame-id bytes excluded: they are
/// stamped per frame).
void RenderPattern(const Layout& layout, uint64_t phase, uint8_t* dst);

/// Raises what a fault value names: "std" a std::runtime_error, anything else a
/// GenICam RuntimeException.
[[noreturn]] void RaiseFault(const std::string& kind, const std::string& operation);
/// Raises when the fault map names this operation.
void CheckFault(const FaultMap& faults, const char* operation);

/// One camera of the active scenario. Camera objects share it (and keep it alive
/// when the scenario is replaced under them).
struct Entry {
    CameraSpec desc;
    Layout layout;

    /// Guards the acquisition state of every camera object of this entry and the
    /// trigger count; cv wakes getFrame waiters on stop, close and triggers.
    std::mutex mutex;
    std::condition_variable cv;
    /// TriggerSoftware executions not yet turned into frames, and the node each
    /// count observes; per map, since each map has its own command.
    struct TriggerCount {
        int64_t pending = 0;
        GenApi::INode* observed = nullptr;
    };
    TriggerCount deviceTrigger;
    TriggerCount grabberTrigger;

    // Declared last: destroyed first, so no observer outlives the fields above.
    std::unique_ptr<GenApi::CMemoryNodeMap> device;
    std::unique_ptr<GenApi::CMemoryNodeMap> grabber;
};

/// Base of everything that can go to the graveyard.
class CGraveItem {
public:
    virtual ~CGraveItem() = default;
};

struct State {
    std::mutex mutex;
    std::vector<std::shared_ptr<Entry>> cameras;
    std::vector<std::string> clSerials;
    std::vector<std::string> clProtocols;
    LibraryCounters library;
    std::map<std::string, CameraCounters> counters;
    /// Bumped by ResetCounters/Reset: objects handed out before do not touch the
    /// new counters when they are given back.
    uint64_t epoch = 1;
    /// Given-back objects; the oldest are freed beyond kGraveyardLimit so that a
    /// long stream of frames does not grow memory without bound.
    std::deque<std::unique_ptr<CGraveItem>> graveyard;
};

constexpr std::size_t kGraveyardLimit = 65536;

State& Global();

/// Appends to a per-call log, dropping the oldest entry beyond kCallLogDepth.
template <class T, class... Args>
void LogCall(std::vector<T>& log, Args&&... args) {
    if (log.size() >= kCallLogDepth) log.erase(log.begin());
    log.emplace_back(std::forward<Args>(args)...);
}

/// The first release() of a handed-out object marks it and answers true; any
/// later one only counts as a double release (caller holds Global().mutex).
inline bool FirstReleaseLocked(State& g, bool& released) {
    if (released) {
        ++g.library.doubleReleases;
        return false;
    }
    released = true;
    return true;
}

/// Moves a given-back object into the graveyard (caller holds Global().mutex);
/// returns what fell out of it, to be destroyed after unlocking.
std::unique_ptr<CGraveItem> BuryLocked(CGraveItem* item);

/// The entry of a creatable / any scenario camera with this serial, or null.
std::shared_ptr<Entry> FindEntry(const std::string& serial, bool creatableOnly);

/// Makes sure `map`'s TriggerSoftware node (if any) counts its executions into
/// `count`. Caller holds entry.mutex.
void ObserveTrigger(Entry& entry, GenApi::CMemoryNodeMap* map, Entry::TriggerCount& count);

}  // namespace KZRSIM::detail
