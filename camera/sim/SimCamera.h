// Camera object of the simulated transport: open/close, a scripted or paced
// stream, software triggers read from its node maps.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <string>

#include "SimFrame.h"
#include "SimRecord.h"
#include "SimState.h"

namespace KZRSIM::detail {

class CSimModule final : public KZRGENICAM::IModule {
public:
    explicit CSimModule(GenApi::INodeMap* map) : m_map(map) {}
    ~CSimModule() override = default;
    GenApi::INodeMap* getNodeMap() override { return m_map; }

private:
    GenApi::INodeMap* m_map;
};

class CSimCamera final : public KZRGENICAM::ICamera,
                         public KZRGENICAM::detail::IEventSource,
                         public CGraveItem {
public:
    CSimCamera(std::shared_ptr<Entry> entry, uint64_t epoch);
    ~CSimCamera() override;

    int open(int mode) override;
    int close() override;
    bool isOpen() override;
    bool isConnected() override;
    int startGrabbing(int bufferCount, int maxFrames) override;
    int stopGrabbing() override;
    int getFrame(KZRGENICAM::IFrame** frame, int64_t timeoutMs) override;
    KZRGENICAM::ICameraInfo* getInfo() override;
    KZRGENICAM::IModule* getGrabberModule() override;
    KZRGENICAM::IModule* getDeviceModule() override;
    int setSerialPort(const char* protocol, const char* port) override;
    void release() override;
    int nextEvent(KZRGENICAM::CameraEvent& event, int timeoutMs) override;

private:
    using Clock = std::chrono::steady_clock;

    struct Trigger {
        bool software = false;
        int64_t needed = 1;  // TriggerSoftware executions per frame
        Entry::TriggerCount* count = nullptr;
    };

    const CameraSpec& Desc() const { return m_entry->desc; }
    template <class F>
    void Count(F&& update);
    /// This camera's counters in the global state, found once per epoch rather
    /// than by serial on every frame. Caller holds Global().mutex.
    CameraCounters& CountersLocked(State& g);
    /// Halts the stream and wakes every waiter. Caller holds the entry mutex.
    void StopLocked();
    Trigger ReadTrigger();
    KZRGENICAM::IFrame* Deliver(Layout layout, bool valid, std::shared_ptr<CChunkSet> chunks);
    /// The value a ChunkValue source gives the frame with this id. Caller holds the entry mutex.
    uint64_t ChunkSourceValue(const std::string& source, uint64_t frameId) const;

    std::shared_ptr<Entry> m_entry;
    uint64_t m_epoch;
    CSimCameraInfo m_info;
    CSimModule m_device;
    CSimModule m_grabber;
    std::shared_ptr<CFramePool> m_pool;
    std::shared_ptr<CChunkSet> m_chunks;
    /// The device map when it has chunk features: each frame's blocks go to it.
    GenApi::CMemoryNodeMap* m_chunkMap = nullptr;
    bool m_released = false;               // guarded by Global().mutex
    CameraCounters* m_counters = nullptr;  // guarded by Global().mutex, valid in m_countersEpoch
    uint64_t m_countersEpoch = 0;

    // Guarded by m_entry->mutex.
    bool m_open = false;
    bool m_running = false;
    uint64_t m_stops = 0;  // bumped by every stop: a waiter that sees it change returns -12
    std::size_t m_scriptPos = 0;
    uint64_t m_nextId = 1;
    /// Events of delivered frames not yet fetched; the oldest go past kMaxEvents.
    std::deque<KZRGENICAM::CameraEvent> m_events;
    static constexpr std::size_t kMaxEvents = 1024;
    int64_t m_maxFrames = -1;
    // Since startGrabbing, for GetStreamStatistics; counted without a lock.
    std::atomic<uint64_t> m_completed{0};
    std::atomic<uint64_t> m_failed{0};
    int64_t m_delivered = 0;
    Clock::time_point m_start;
};

}  // namespace KZRSIM::detail
