// A camera reached through Aravis (GigE Vision, USB3 Vision), its discovery
// record and its device module.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "AravisControl.h"
#include "AravisPort.h"
#include "AravisStream.h"
#include "AravisSystem.h"
#include "EngineNodeMap.h"
#include "GObjectPtr.h"
#include "KZRGeniCam.h"
#include "RecordCameraInfo.h"

namespace KZRGENICAM::detail {

/// What one listing tells about a device.
struct SDeviceRecord {
    int transport = TransportGenTL;
    std::string id;  // what arv_camera_new takes
    std::string serial;
    std::string vendor;
    std::string model;
    std::string link;
};

using CAravisCameraInfo = CRecordCameraInfo<SDeviceRecord>;

/// The device module: a node map of our engine per open, over the device's
/// registers, kept (detached) until the camera goes so that a map lent out before
/// close() never dangles.
class CAravisDeviceModule final : public IModule {
public:
    explicit CAravisDeviceModule(std::shared_ptr<std::atomic<bool>> lost)
        : m_lost(std::move(lost)) {}
    ~CAravisDeviceModule() override = default;
    /// Once the camera is lost the map is cut off its port: every feature is then
    /// unavailable (NA) instead of failing on the network.
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

class CAravisCamera final : public ICamera {
public:
    explicit CAravisCamera(SDeviceRecord record);

    /// 0 when open, else the Aravis device error code + 1 (1 for any other failure).
    int open(int mode) override;
    int close() override;
    bool isOpen() override { return m_open.load(); }
    bool isConnected() override { return m_open.load() && !m_lost->load(); }
    /// bufferCount: stream buffers of one payload each (0 or less: 8).
    /// maxFrames: getFrame answers FrameNotRunning after that many frames.
    int startGrabbing(int bufferCount, int maxFrames) override;
    int stopGrabbing() override;
    int getFrame(IFrame** frame, int64_t timeoutMs) override;
    ICameraInfo* getInfo() override { return &m_info; }
    IModule* getGrabberModule() override { return nullptr; }
    IModule* getDeviceModule() override { return &m_module; }
    /// Camera Link only: always refused here.
    int setSerialPort(const char* protocol, const char* port) override;
    void release() override;

    /// Camera objects alive in the process; Aravis must not be shut down under them.
    static int Alive();

private:
    ~CAravisCamera() override;
    int StopLocked();
    void SetTLParamsLocked(bool locked);
    /// Executes a command of the device's map; false when it has none or it failed.
    bool Execute(const char* command);

    std::mutex m_mutex;  // open, close, start, stop
    CAravisCameraInfo m_info;
    std::shared_ptr<std::atomic<bool>> m_lost = std::make_shared<std::atomic<bool>>(false);
    CAravisDeviceModule m_module{m_lost};
    GObjectPtr<ArvCamera> m_camera;
    std::unique_ptr<CControlChannel> m_control;  // while open
    gulong m_lostHandler = 0;
    std::shared_ptr<CStreamSession> m_session;
    std::atomic<bool> m_open{false};
};

}  // namespace KZRGENICAM::detail
