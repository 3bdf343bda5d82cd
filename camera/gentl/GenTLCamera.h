// A camera reached through a GenTL producer: its record, its device module (the
// remote device) and grabber module (the producer's local device), its data
// stream sessions and frames.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "EngineNodeMap.h"
#include "GenTLEvents.h"
#include "GenTLPort.h"
#include "KZREvents.h"
#include "KZRGeniCam.h"
#include "RecordCameraInfo.h"

namespace KZRGENICAM::detail {

using CGenTLCameraInfo = CRecordCameraInfo<SGenTLDeviceRecord>;

/// A module whose node map comes and goes with the camera's opens; maps lent out
/// are kept (detached) until the camera goes, so they never dangle.
class CGenTLModule final : public IModule {
public:
    explicit CGenTLModule(std::shared_ptr<std::atomic<bool>> lost) : m_lost(std::move(lost)) {}
    ~CGenTLModule() override = default;
    /// Once the camera is lost the map is cut off its port: every feature is then
    /// unavailable (NA) instead of failing in the producer.
    GenApi::INodeMap* getNodeMap() override;
    GenApi::CEngineNodeMap* Current() const { return m_current.load(); }
    void Attach(std::unique_ptr<GenApi::CEngineNodeMap> map);
    void Detach();

private:
    std::shared_ptr<std::atomic<bool>> m_lost;
    std::vector<std::unique_ptr<GenApi::CEngineNodeMap>> m_maps;  // guarded by the camera's mutex
    std::atomic<GenApi::CEngineNodeMap*> m_current{nullptr};
    std::atomic<bool> m_cutOff{false};  // the current map was detached for a loss
};

class CGenTLSession;

class CGenTLCamera final : public ICamera, public IEventSource {
public:
    CGenTLCamera(std::shared_ptr<CGenTLProducer> producer, SGenTLDeviceRecord record);

    /// 0 when open; the producer's error number made positive (e.g. 1004 in use),
    /// 1 for anything else (no handle, no usable description).
    int open(int mode) override;
    int close() override;
    bool isOpen() override { return m_open.load(); }
    bool isConnected() override { return m_open.load() && !m_lost->load(); }
    int startGrabbing(int bufferCount, int maxFrames) override;
    int stopGrabbing() override;
    int getFrame(IFrame** frame, int64_t timeoutMs) override;
    ICameraInfo* getInfo() override { return &m_info; }
    IModule* getGrabberModule() override { return m_grabber.Current() ? &m_grabber : nullptr; }
    IModule* getDeviceModule() override { return &m_device; }
    /// GenTL has no serial port selection: accepted for Camera Link, refused otherwise.
    int setSerialPort(const char* protocol, const char* port) override;
    void release() override;
    /// The remote device's events; registered at the first call of an open.
    /// EventUnsupported when the producer gives none.
    int nextEvent(CameraEvent& event, int timeoutMs) override;

private:
    ~CGenTLCamera() override;
    int StopLocked();
    void Refuse(const std::string& why) const;

    std::mutex m_mutex;  // open, close, start, stop
    std::shared_ptr<CGenTLProducer> m_producer;
    CGenTLCameraInfo m_info;
    std::shared_ptr<std::atomic<bool>> m_lost = std::make_shared<std::atomic<bool>>(false);
    CGenTLModule m_device{m_lost};
    CGenTLModule m_grabber{m_lost};
    std::shared_ptr<CGenTLDeviceHandle> m_handle;
    std::shared_ptr<CGenTLSession> m_session;
    std::shared_ptr<CGenTLRemoteEvents> m_events;
    bool m_eventsTried = false;  // this open asked the producer for events
    std::atomic<bool> m_open{false};
};

}  // namespace KZRGENICAM::detail
