#include "GenTLCamera.h"

#include "GenTLStream.h"

namespace KZRGENICAM::detail {

using namespace gentl;

namespace {

constexpr int kDefaultBuffers = 8;
constexpr uint64_t kMaxPayload = 1ull << 30;

/// Sets an integer feature when the device has it (not every device has
/// TLParamsLocked); false only when the write failed.
bool SetFeatureIfPresent(GenApi::INodeMap& map, const char* name, int64_t value) {
    auto* feature = dynamic_cast<GenApi::IInteger*>(map.GetNode(name));
    if (!feature) return true;
    try {
        feature->SetValue(value);
        return true;
    } catch (const GenICam::GenericException&) {
        return false;
    }
}

bool Execute(GenApi::INodeMap& map, const char* name) {
    auto* command = dynamic_cast<GenApi::ICommand*>(map.GetNode(name));
    if (!command) return false;
    try {
        command->Execute();
        return true;
    } catch (const GenICam::GenericException&) {
        return false;
    }
}

/// The engine's map of a description over a port; null with why set when the
/// description does not load.
std::unique_ptr<GenApi::CEngineNodeMap> LoadMap(const std::string& xml,
                                                std::shared_ptr<GenApi::IPort> port,
                                                const std::string& name, std::string& why) {
    try {
        return GenApi::CEngineNodeMap::Load(xml, std::move(port), name);
    } catch (const GenICam::GenericException& e) {
        why = e.GetDescription();
    } catch (const std::bad_alloc&) {
        why = "out of memory loading the description";
    }
    return nullptr;
}

}  // namespace

GenApi::INodeMap* CGenTLModule::getNodeMap() {
    GenApi::CEngineNodeMap* map = m_current.load();
    if (map && m_lost->load() && !m_cutOff.exchange(true)) map->Detach();
    return map;
}

void CGenTLModule::Attach(std::unique_ptr<GenApi::CEngineNodeMap> map) {
    m_cutOff.store(false);
    m_current.store(map.get());
    m_maps.push_back(std::move(map));
}

void CGenTLModule::Detach() {
    if (GenApi::CEngineNodeMap* map = m_current.exchange(nullptr)) map->Detach();
}

CGenTLCamera::CGenTLCamera(std::shared_ptr<CGenTLProducer> producer, SGenTLDeviceRecord record)
    : m_producer(std::move(producer)), m_info(std::move(record), true) {}

CGenTLCamera::~CGenTLCamera() {
    close();
}

void CGenTLCamera::release() {
    close();
    delete this;
}

void CGenTLCamera::Refuse(const std::string& why) const {
    GenTLMessage(m_producer->FileName(), "device " + m_info.Record().id + " refused: " + why);
}

int CGenTLCamera::open(int /*mode*/) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_open.load()) return 0;
    const SGenTLApi& api = m_producer->Api();
    IF_HANDLE iface = m_producer->Interface(m_info.Record().interfaceId);
    if (!iface) return 1;
    DEV_HANDLE handle = nullptr;
    const GC_ERROR rc =
        api.IFOpenDevice(iface, m_info.Record().id.c_str(), DEVICE_ACCESS_CONTROL, &handle);
    // GenTL errors are negative; INT32_MIN has no positive counterpart.
    if (rc != GC_ERR_SUCCESS) return rc < 0 && rc != INT32_MIN ? -rc : 1;
    if (!handle) {
        Refuse("IFOpenDevice gave no handle");
        return 1;
    }
    auto device = std::make_shared<CGenTLDeviceHandle>(m_producer, handle);
    PORT_HANDLE remote = nullptr;
    if (api.DevGetPort(handle, &remote) != GC_ERR_SUCCESS || !remote) {
        Refuse("DevGetPort gave no remote device port");
        return 1;
    }
    std::string why;
    const std::string xml = ReadPortDescription(*device, remote, why);
    const std::shared_ptr<std::atomic<bool>>& lost = m_lost;
    lost->store(false);
    std::unique_ptr<GenApi::CEngineNodeMap> map =
        xml.empty() ? nullptr
                    : LoadMap(xml, std::make_shared<CGenTLPort>(device, remote, lost),
                              m_info.Record().id, why);
    if (!map) {
        Refuse(why);
        return 1;
    }
    m_device.Attach(std::move(map));

    // The local device (a frame grabber's own features) has a description only on
    // some producers; without one there is no grabber module.
    const std::string localXml = ReadPortDescription(*device, handle, why);
    if (!localXml.empty()) {
        std::unique_ptr<GenApi::CEngineNodeMap> local = LoadMap(
            localXml, std::make_shared<CGenTLPort>(device, handle, lost), m_info.Record().id, why);
        if (local) m_grabber.Attach(std::move(local));
    }
    m_handle = std::move(device);
    m_open.store(true);
    return 0;
}

int CGenTLCamera::close() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_open.load()) return 0;
    StopLocked();
    // A waiting nextEvent returns at once; the event is unregistered before the
    // device closes (a waiter still holds the device handle until it returns).
    if (m_events) {
        m_events->Kill();
        m_events->Unregister();
        m_events.reset();
    }
    m_eventsTried = false;
    m_device.Detach();
    m_grabber.Detach();
    m_handle.reset();  // closes the device unless a frame still holds its stream
    m_open.store(false);
    return 0;
}

int CGenTLCamera::startGrabbing(int bufferCount, int maxFrames) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_open.load()) return 1;
    if (m_session) return 0;
    const SGenTLApi& api = m_producer->Api();
    DEV_HANDLE dev = m_handle->Get();
    uint32_t streams = 0;
    if (api.DevGetNumDataStreams(dev, &streams) != GC_ERR_SUCCESS || streams == 0) return 2;
    const std::string id = GenTLText(
        [&](char* text, size_t* size) { return api.DevGetDataStreamID(dev, 0, text, size); });
    DS_HANDLE ds = nullptr;
    if (id.empty() || api.DevOpenDataStream(dev, id.c_str(), &ds) != GC_ERR_SUCCESS || !ds)
        return 3;
    auto session = std::make_shared<CGenTLSession>(m_handle, ds, maxFrames);

    GenApi::CEngineNodeMap* map = m_device.Current();
    auto tree = map->Lock();
    uint64_t payload = 0;
    {
        bool8_t defines = 0;
        size_t size = sizeof defines;
        INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
        uint64_t value = 0;
        size_t valueSize = sizeof value;
        if (api.DSGetInfo(ds, STREAM_INFO_DEFINES_PAYLOADSIZE, &type, &defines, &size) ==
                GC_ERR_SUCCESS &&
            defines &&
            api.DSGetInfo(ds, STREAM_INFO_PAYLOAD_SIZE, &type, &value, &valueSize) ==
                GC_ERR_SUCCESS &&
            valueSize == sizeof value)
            payload = value;
        if (payload == 0) {
            if (auto* payloadNode = dynamic_cast<GenApi::IInteger*>(map->GetNode("PayloadSize"))) {
                try {
                    const int64_t p = payloadNode->GetValue();
                    if (p > 0) payload = static_cast<uint64_t>(p);
                } catch (const GenICam::GenericException&) {
                }
            }
        }
    }
    std::string why;
    if (payload == 0 || payload > kMaxPayload) {
        GenTLMessage(m_producer->FileName(),
                     "no usable payload size (" + std::to_string(payload) + ")");
        return 4;
    }
    const int buffers = bufferCount > 0 ? bufferCount : kDefaultBuffers;
    if (!session->Prepare(buffers, static_cast<size_t>(payload), why)) {
        GenTLMessage(m_producer->FileName(), why);
        return 5;
    }
    // The acquisition sequence: lock the transport parameters, start the stream,
    // then the remote device.
    SetFeatureIfPresent(*map, "TLParamsLocked", 1);
    if (!session->StartStream(why)) {
        GenTLMessage(m_producer->FileName(), why);
        SetFeatureIfPresent(*map, "TLParamsLocked", 0);
        return 6;
    }
    if (!Execute(*map, "AcquisitionStart")) {
        session->Stop();
        SetFeatureIfPresent(*map, "TLParamsLocked", 0);
        return 7;
    }
    m_session = std::move(session);
    return 0;
}

int CGenTLCamera::stopGrabbing() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return StopLocked();
}

int CGenTLCamera::StopLocked() {
    if (!m_session) return 0;
    // Ends a getFrame waiting in the event at once (event kill); then the
    // acquisition sequence backwards: remote device, stream, parameters.
    m_session->Kill();
    GenApi::CEngineNodeMap* map = m_device.Current();
    auto tree = map->Lock();
    Execute(*map, "AcquisitionStop");
    m_session->Stop();
    SetFeatureIfPresent(*map, "TLParamsLocked", 0);
    // The last owner (this, or the last frame out) flushes, revokes and closes.
    m_session.reset();
    return 0;
}

int CGenTLCamera::getFrame(IFrame** frame, int64_t timeoutMs) {
    if (!frame || *frame) return FrameFailed;
    std::shared_ptr<CGenTLSession> session;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        session = m_session;
    }
    if (!session) return FrameNotRunning;
    if (m_lost->load()) return FrameDeviceLost;
    const int result = session->GetFrame(session, frame, timeoutMs);
    // The camera's chunk features read this frame's chunks from now on.
    GenApi::CEngineNodeMap* map = m_device.Current();
    if (result == FrameOk && map && map->HasChunkFeatures())
        static_cast<CGenTLFrame*>(*frame)->AttachChunksTo(*map);
    return result;
}

int CGenTLCamera::nextEvent(CameraEvent& event, int timeoutMs) {
    std::shared_ptr<CGenTLRemoteEvents> events;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_open.load()) return EventTimeout;
        if (!m_eventsTried) {
            m_eventsTried = true;
            m_events = CGenTLRemoteEvents::Register(m_handle);
        }
        if (!m_events) return EventUnsupported;
        events = m_events;
    }
    return events->Next(m_device.Current(), event, timeoutMs);
}

int CGenTLCamera::setSerialPort(const char* /*protocol*/, const char* /*port*/) {
    return m_info.getInterfaceType() == TransportCameraLink ? 0 : 1;
}

}  // namespace KZRGENICAM::detail
