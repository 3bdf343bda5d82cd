#include "SimCamera.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "StreamRegistry.h"

namespace KZRSIM::detail {

using KZRGENICAM::FrameFailed;
using KZRGENICAM::FrameNotRunning;
using KZRGENICAM::FrameOk;
using KZRGENICAM::FrameTimeout;

namespace {

/// How long a software-trigger waiter sleeps before it reads the trigger setting
/// again (a write to TriggerMode has no observer of ours).
constexpr std::chrono::milliseconds kTriggerRecheck(20);

bool ReadString(const GenApi::CMemoryNodeMap& map, const char* name, std::string& value) {
    if (!map.Has(name)) return false;
    try {
        value = map.PeekString(name);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

CSimCamera::CSimCamera(std::shared_ptr<Entry> entry, uint64_t epoch)
    : m_entry(std::move(entry)),
      m_epoch(epoch),
      m_info(m_entry->desc, true, epoch),
      m_device(m_entry->device.get()),
      m_grabber(m_entry->grabber.get()),
      m_pool(std::make_shared<CFramePool>()),
      m_chunks(m_entry->desc.chunks.empty()
                   ? nullptr
                   : std::make_shared<CChunkSet>(m_entry->desc.chunks, m_entry->desc.chunkIds)),
      m_chunkMap(m_entry->device && m_entry->device->HasChunkFeatures() ? m_entry->device.get()
                                                                        : nullptr) {}

CameraCounters& CSimCamera::CountersLocked(State& g) {
    // Counters are only ever cleared together with an epoch change, so the entry
    // found in this epoch stays where it is.
    if (!m_counters || m_countersEpoch != g.epoch) {
        m_counters = &g.counters[Desc().serial];
        m_countersEpoch = g.epoch;
    }
    return *m_counters;
}

template <class F>
void CSimCamera::Count(F&& update) {
    State& g = Global();
    std::lock_guard<std::mutex> lock(g.mutex);
    update(CountersLocked(g));
}

void CSimCamera::StopLocked() {
    m_running = false;
    ++m_stops;
    m_entry->cv.notify_all();
}

int CSimCamera::open(int /*mode*/) {
    Count([](CameraCounters& c) { ++c.open; });
    CheckFault(Desc().faults, "open");
    if (Desc().openError != 0) return Desc().openError;
    std::lock_guard<std::mutex> lock(m_entry->mutex);
    m_open = true;
    return 0;
}

CSimCamera::~CSimCamera() {
    KZRGENICAM::detail::RemoveStream(this);
}

int CSimCamera::close() {
    Count([](CameraCounters& c) { ++c.close; });
    CheckFault(Desc().faults, "close");
    KZRGENICAM::detail::RemoveStream(this);
    std::lock_guard<std::mutex> lock(m_entry->mutex);
    m_open = false;
    StopLocked();
    return 0;
}

bool CSimCamera::isOpen() {
    CheckFault(Desc().faults, "isOpen");
    std::lock_guard<std::mutex> lock(m_entry->mutex);
    return m_open;
}

bool CSimCamera::isConnected() {
    CheckFault(Desc().faults, "isConnected");
    std::lock_guard<std::mutex> lock(m_entry->mutex);
    return m_open && Desc().connected;
}

int CSimCamera::startGrabbing(int bufferCount, int maxFrames) {
    Count([&](CameraCounters& c) {
        ++c.startGrabbing;
        LogCall(c.startArgs, bufferCount, maxFrames);
    });
    CheckFault(Desc().faults, "startGrabbing");
    if (Desc().startError != 0) return Desc().startError;
    Entry& e = *m_entry;
    std::lock_guard<std::mutex> lock(e.mutex);
    ObserveTrigger(e, e.device.get(), e.deviceTrigger);
    ObserveTrigger(e, e.grabber.get(), e.grabberTrigger);
    // Triggers given while nothing was grabbing are lost, as on a real camera.
    e.deviceTrigger.pending = 0;
    e.grabberTrigger.pending = 0;
    m_running = true;
    m_nextId = 1;
    m_delivered = 0;
    m_maxFrames = maxFrames;
    m_start = Clock::now();
    m_completed.store(0);
    m_failed.store(0);
    KZRGENICAM::detail::EnterStream(this, Desc().serial.c_str(),
                                    [this](KZRGENICAM::StreamStatistics& out) {
                                        out.completed = m_completed.load();
                                        out.failures = m_failed.load();
                                    });
    return 0;
}

int CSimCamera::stopGrabbing() {
    Count([](CameraCounters& c) { ++c.stopGrabbing; });
    CheckFault(Desc().faults, "stopGrabbing");
    if (Desc().stopError != 0) return Desc().stopError;
    KZRGENICAM::detail::RemoveStream(this);
    std::lock_guard<std::mutex> lock(m_entry->mutex);
    StopLocked();
    return 0;
}

CSimCamera::Trigger CSimCamera::ReadTrigger() {
    Entry& e = *m_entry;
    Trigger t;
    GenApi::CMemoryNodeMap* map = nullptr;
    std::string mode, source;
    bool on = false;
    if (Desc().transport == KZRGENICAM::TransportCameraLink && e.grabber) {
        map = e.grabber.get();
        on = ReadString(*map, "FrameTriggerCtrl", mode) && mode != "Disable";
        on = on && ReadString(*map, "FrameTriggerSource", source);
    } else if (e.device) {
        map = e.device.get();
        on = ReadString(*map, "TriggerMode", mode) && mode == "On";
        on = on && ReadString(*map, "TriggerSource", source);
    }
    if (!on || source != "Software") return t;
    t.software = true;
    t.count = map == e.grabber.get() ? &e.grabberTrigger : &e.deviceTrigger;
    ObserveTrigger(e, map, *t.count);
    std::string selector;
    if (ReadString(*map, "TriggerSelector", selector) && selector == "LineStart") {
        int64_t height = e.layout.height;
        try {
            if (map->Has("Height")) height = map->PeekInt("Height");
        } catch (const std::exception&) {
        }
        t.needed = std::max<int64_t>(height, 1);
    }
    return t;
}

uint64_t CSimCamera::ChunkSourceValue(const std::string& source, uint64_t frameId) const {
    if (source == "FrameID") return frameId;
    if (source == "Timestamp")
        return static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - m_start).count());
    const GenApi::CMemoryNodeMap* map = m_entry->device.get();
    if (!map || !map->Has(source)) return 0;
    try {
        if (map->GetNode(source.c_str())->GetPrincipalInterfaceType() == GenApi::intfIFloat) {
            const double value = map->PeekFloat(source);
            uint64_t bits = 0;
            std::memcpy(&bits, &value, sizeof(bits));
            return bits;
        }
        return static_cast<uint64_t>(map->PeekInt(source));
    } catch (const std::exception&) {
        return 0;
    }
}

KZRGENICAM::IFrame* CSimCamera::Deliver(Layout layout, bool valid,
                                        std::shared_ptr<CChunkSet> chunks) {
    const uint64_t id = m_nextId++;
    // The camera's own blocks carry this frame's values: a copy of its own.
    if (chunks && chunks == m_chunks && !Desc().chunkValues.empty()) {
        chunks = std::make_shared<CChunkSet>(Desc().chunks, Desc().chunkIds);
        for (const ChunkValue& value : Desc().chunkValues)
            chunks->Stamp(value.block, value.offset, ChunkSourceValue(value.source, id));
    }
    if (m_chunkMap) {
        if (chunks)
            chunks->AttachTo(*m_chunkMap);
        else
            m_chunkMap->AttachChunks(nullptr, 0);
    }
    if (m_maxFrames > 0 && ++m_delivered >= m_maxFrames) StopLocked();
    m_completed.fetch_add(1, std::memory_order_relaxed);
    Buffer buffer = m_pool->Acquire(layout, id);
    uint64_t epoch = 0;
    CameraCounters* counters = nullptr;
    {
        State& g = Global();
        std::lock_guard<std::mutex> lock(g.mutex);
        CameraCounters& c = CountersLocked(g);
        counters = &c;
        ++c.framesDelivered;
        ++c.framesOut;
        ++g.library.framesOut;
        epoch = g.epoch;
    }
    return new CSimFrame(counters, epoch, m_pool, layout, std::move(buffer), id, valid,
                         std::move(chunks));
}

int CSimCamera::getFrame(KZRGENICAM::IFrame** frame, int64_t timeoutMs) {
    Count([&](CameraCounters& c) {
        ++c.getFrame;
        LogCall(c.getFrameTimeouts, timeoutMs);
    });
    CheckFault(Desc().faults, "getFrame");
    if (!frame) return FrameFailed;
    Entry& e = *m_entry;
    std::unique_lock<std::mutex> lock(e.mutex);
    if (!m_running) return FrameNotRunning;
    const uint64_t stops = m_stops;
    auto stopped = [&] { return m_stops != stops || !m_running; };

    if (m_scriptPos < Desc().script.size()) {
        const FrameStep& step = Desc().script[m_scriptPos++];
        if (step.delayMs > 0 &&
            e.cv.wait_for(lock, std::chrono::milliseconds(step.delayMs), stopped))
            return FrameNotRunning;
        if (!step.fault.empty()) {
            lock.unlock();
            RaiseFault(step.fault, "getFrame");
        }
        if (step.code != 0) {
            m_failed.fetch_add(1, std::memory_order_relaxed);
            return step.code;
        }
        m_nextId += static_cast<uint64_t>(std::max(step.lost, 0));
        Layout layout = e.layout;
        if (step.width >= 0) layout.width = step.width;
        if (step.height >= 0) layout.height = step.height;
        if (step.channels > 0) layout.channels = step.channels;
        if (step.bits > 0) layout.bits = step.bits > 8 ? 16 : 8;
        if (step.channels > 0 || step.bits > 0)
            layout.pixelFormat = FormatFor(layout.channels, layout.bits, e.layout.pixelFormat);
        auto chunks =
            step.hasChunks
                ? (step.chunks.empty() ? nullptr : std::make_shared<CChunkSet>(step.chunks))
                : m_chunks;
        *frame = Deliver(layout, step.valid, std::move(chunks));
        const uint64_t now = static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - m_start).count());
        for (KZRGENICAM::CameraEvent event : step.events) {
            event.timestamp = now;
            if (m_events.size() >= kMaxEvents) m_events.pop_front();
            m_events.push_back(std::move(event));
        }
        if (!step.events.empty()) e.cv.notify_all();
        return FrameOk;
    }

    const bool limited = timeoutMs >= 0;
    const Clock::time_point deadline =
        limited ? Clock::now() + std::chrono::milliseconds(timeoutMs) : Clock::time_point::max();
    const double rate = Desc().frameRate;
    for (;;) {
        if (stopped()) return FrameNotRunning;
        const Trigger trigger = ReadTrigger();
        const Clock::time_point now = Clock::now();
        Clock::time_point wakeAt;
        if (trigger.software) {
            if (trigger.count->pending >= trigger.needed) {
                trigger.count->pending -= trigger.needed;
                break;
            }
            wakeAt = now + kTriggerRecheck;
        } else {
            if (!(rate > 0)) break;
            const auto due =
                m_start + std::chrono::duration_cast<Clock::duration>(
                              std::chrono::duration<double>(static_cast<double>(m_nextId) / rate));
            if (now >= due) break;
            wakeAt = due;
        }
        if (now >= deadline) return FrameTimeout;
        e.cv.wait_until(lock, std::min(wakeAt, deadline));
    }
    *frame = Deliver(e.layout, Desc().validFrames, m_chunks);
    return FrameOk;
}

KZRGENICAM::ICameraInfo* CSimCamera::getInfo() {
    CheckFault(Desc().faults, "getInfo");
    return &m_info;
}

KZRGENICAM::IModule* CSimCamera::getGrabberModule() {
    CheckFault(Desc().faults, "getGrabberModule");
    return Desc().grabberModule ? &m_grabber : nullptr;
}

KZRGENICAM::IModule* CSimCamera::getDeviceModule() {
    CheckFault(Desc().faults, "getDeviceModule");
    return Desc().deviceModule ? &m_device : nullptr;
}

int CSimCamera::setSerialPort(const char* protocol, const char* port) {
    Count([&](CameraCounters& c) {
        ++c.setSerialPort;
        LogCall(c.serialPortArgs, protocol ? protocol : "", port ? port : "");
    });
    CheckFault(Desc().faults, "setSerialPort");
    return 0;
}

void CSimCamera::release() {
    State& g = Global();
    {
        std::lock_guard<std::mutex> lock(g.mutex);
        if (!FirstReleaseLocked(g, m_released)) return;
        ++g.counters[Desc().serial].release;
        if (m_epoch == g.epoch) --g.library.camerasOut;
    }
    KZRGENICAM::detail::RemoveStream(this);
    {
        std::lock_guard<std::mutex> lock(m_entry->mutex);
        m_open = false;
        StopLocked();
    }
    std::unique_ptr<CGraveItem> evicted;
    std::lock_guard<std::mutex> lock(g.mutex);
    evicted = BuryLocked(this);
}

int CSimCamera::nextEvent(KZRGENICAM::CameraEvent& event, int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_entry->mutex);
    if (!m_entry->cv.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                              [this] { return !m_events.empty(); }))
        return KZRGENICAM::EventTimeout;
    event = std::move(m_events.front());
    m_events.pop_front();
    return KZRGENICAM::EventReceived;
}

}  // namespace KZRSIM::detail
