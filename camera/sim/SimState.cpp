// The simulated transport's scenario and counters (the control side of KZRSim.h).
#include <utility>

#include "SimState.h"

namespace KZRSIM {
namespace detail {

State& Global() {
    static State state;
    return state;
}

std::unique_ptr<CGraveItem> BuryLocked(CGraveItem* item) {
    State& g = Global();
    g.graveyard.emplace_back(item);
    if (g.graveyard.size() <= kGraveyardLimit) return nullptr;
    std::unique_ptr<CGraveItem> oldest = std::move(g.graveyard.front());
    g.graveyard.pop_front();
    return oldest;
}

std::shared_ptr<Entry> FindEntry(const std::string& serial, bool creatableOnly) {
    State& g = Global();
    std::lock_guard<std::mutex> lock(g.mutex);
    for (const auto& e : g.cameras) {
        if (e->desc.serial == serial && (!creatableOnly || e->desc.creatable)) return e;
    }
    return nullptr;
}

void ObserveTrigger(Entry& entry, GenApi::CMemoryNodeMap* map, Entry::TriggerCount& count) {
    if (!map) return;
    GenApi::INode* node = map->GetNode("TriggerSoftware");
    // A node replaced after the scenario was set needs the observer again.
    if (!node || node == count.observed) return;
    Entry* e = &entry;
    Entry::TriggerCount* c = &count;
    map->Ref("TriggerSoftware").OnExecute([e, c] {
        std::lock_guard<std::mutex> lock(e->mutex);
        ++c->pending;
        e->cv.notify_all();
    });
    count.observed = node;
}

namespace {

std::shared_ptr<Entry> BuildEntry(const CameraSpec& desc) {
    auto e = std::make_shared<Entry>();
    e->desc = desc;
    e->layout = LayoutOf(desc);
    if (desc.deviceModule && desc.deviceNodeMap) {
        e->device = std::make_unique<GenApi::CMemoryNodeMap>("Device");
        if (desc.buildDevice) desc.buildDevice(*e->device);
    }
    if (desc.grabberModule && desc.grabberNodeMap) {
        e->grabber = std::make_unique<GenApi::CMemoryNodeMap>("Grabber");
        if (desc.buildGrabber) desc.buildGrabber(*e->grabber);
    }
    std::lock_guard<std::mutex> lock(e->mutex);
    ObserveTrigger(*e, e->device.get(), e->deviceTrigger);
    ObserveTrigger(*e, e->grabber.get(), e->grabberTrigger);
    return e;
}

void ClearCountersLocked(State& g) {
    g.library = LibraryCounters{};
    g.counters.clear();
    ++g.epoch;
}

}  // namespace
}  // namespace detail

void SetScenario(const Scenario& scenario) {
    using namespace detail;
    // Build outside the lock: the builders are caller code and may call back in.
    std::vector<std::shared_ptr<Entry>> cameras;
    cameras.reserve(scenario.cameras.size());
    for (const CameraSpec& desc : scenario.cameras) cameras.push_back(BuildEntry(desc));

    std::deque<std::unique_ptr<CGraveItem>> dead;
    State& g = Global();
    {
        std::lock_guard<std::mutex> lock(g.mutex);
        g.cameras.swap(cameras);
        g.clSerials = scenario.clSerials;
        g.clProtocols = scenario.clProtocols;
        g.graveyard.swap(dead);
    }
    // The old entries and the graveyard die here, outside the lock.
}

void Reset() {
    using namespace detail;
    std::vector<std::shared_ptr<Entry>> cameras;
    std::deque<std::unique_ptr<CGraveItem>> dead;
    State& g = Global();
    std::lock_guard<std::mutex> lock(g.mutex);
    g.cameras.swap(cameras);
    g.clSerials.clear();
    g.clProtocols.clear();
    g.graveyard.swap(dead);
    ClearCountersLocked(g);
}

GenApi::CMemoryNodeMap* DeviceNodeMap(const std::string& serial) {
    auto e = detail::FindEntry(serial, false);
    return e ? e->device.get() : nullptr;
}

GenApi::CMemoryNodeMap* GrabberNodeMap(const std::string& serial) {
    auto e = detail::FindEntry(serial, false);
    return e ? e->grabber.get() : nullptr;
}

CameraCounters Counters(const std::string& serial) {
    detail::State& g = detail::Global();
    std::lock_guard<std::mutex> lock(g.mutex);
    auto it = g.counters.find(serial);
    return it == g.counters.end() ? CameraCounters{} : it->second;
}

LibraryCounters Library() {
    detail::State& g = detail::Global();
    std::lock_guard<std::mutex> lock(g.mutex);
    return g.library;
}

void ResetCounters() {
    detail::State& g = detail::Global();
    std::lock_guard<std::mutex> lock(g.mutex);
    detail::ClearCountersLocked(g);
}

}  // namespace KZRSIM
