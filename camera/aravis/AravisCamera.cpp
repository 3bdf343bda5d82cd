#include "AravisCamera.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>

#include "StreamRegistry.h"

namespace KZRGENICAM::detail {

namespace {

constexpr int kDefaultBuffers = 8;
// getFrame waits in slices so that a stop or a lost device ends the wait soon.
constexpr gint64 kWaitSliceUs = 50000;

std::atomic<int> g_alive{0};

int OpenErrorNumber(const GError* error) {
    if (error && error->domain == ARV_DEVICE_ERROR && error->code >= 0) return error->code + 1;
    return 1;
}

void OnControlLost(ArvDevice* /*device*/, gpointer flag) {
    static_cast<std::shared_ptr<std::atomic<bool>>*>(flag)->get()->store(true);
}

void FreeFlag(gpointer flag, GClosure* /*closure*/) {
    delete static_cast<std::shared_ptr<std::atomic<bool>>*>(flag);
}

}  // namespace

GenApi::INodeMap* CAravisDeviceModule::getNodeMap() {
    GenApi::CEngineNodeMap* map = m_current.load();
    if (map && m_lost->load() && !m_cutOff.exchange(true)) map->Detach();
    return map;
}

void CAravisDeviceModule::Attach(std::unique_ptr<GenApi::CEngineNodeMap> map) {
    m_cutOff.store(false);
    m_current.store(map.get());
    m_maps.push_back(std::move(map));
}

void CAravisDeviceModule::Detach() {
    if (GenApi::CEngineNodeMap* map = m_current.exchange(nullptr)) map->Detach();
}

int CAravisCamera::Alive() {
    return g_alive.load();
}

CAravisCamera::CAravisCamera(SDeviceRecord record) : m_info(std::move(record), true) {
    ++g_alive;
}

CAravisCamera::~CAravisCamera() {
    close();
    --g_alive;
}

void CAravisCamera::release() {
    close();
    delete this;
}

int CAravisCamera::open(int /*mode*/) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_open.load()) return 0;
    CGError error;
    ArvCamera* camera = nullptr;
    {
        std::lock_guard<std::mutex> system(AravisSystemMutex());
        camera = arv_camera_new(m_info.getId(), error.Out());
    }
    if (!camera) return OpenErrorNumber(error.Get());
    m_camera.reset(camera);

    ArvDevice* device = arv_camera_get_device(camera);
    m_lost->store(false);
    m_control =
        std::make_unique<CControlChannel>(device, m_lost, SControlSettings::FromEnvironment());
    // The description Aravis fetched, on our engine over the device's registers
    // (through the bounded control channel).
    size_t size = 0;
    const char* xml = arv_device_get_genicam_xml(device, &size);
    std::unique_ptr<GenApi::CEngineNodeMap> map;
    try {
        if (xml && size > 0)
            map = GenApi::CEngineNodeMap::Load(std::string(xml, size),
                                               std::make_shared<CAravisPort>(device, m_lost),
                                               m_info.getId());
    } catch (const GenICam::GenericException& e) {
        std::fprintf(stderr, "KZRGeniCam Aravis %s: description refused: %s\n", m_info.getId(),
                     e.GetDescription());
    } catch (const std::bad_alloc&) {
    }
    if (!map) {
        m_control.reset();
        m_camera.reset();
        return 1;
    }

    // The signal comes from Aravis's heartbeat thread; the handler owns its own
    // reference of the flag, so a late emission never touches a freed camera.
    m_lostHandler = g_signal_connect_data(device, "control-lost", G_CALLBACK(OnControlLost),
                                          new std::shared_ptr<std::atomic<bool>>(m_lost), FreeFlag,
                                          GConnectFlags(0));
    m_module.Attach(std::move(map));
    m_open.store(true);
    return 0;
}

int CAravisCamera::close() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_open.load()) return 0;
    StopLocked();
    m_module.Detach();
    if (m_lostHandler)
        g_signal_handler_disconnect(arv_camera_get_device(m_camera.get()), m_lostHandler);
    m_lostHandler = 0;
    // Dropping a lost device waits out Aravis's own resends and heartbeat: the
    // control channel's worker does it, after the transactions still in flight.
    if (m_lost->load()) m_control->RetireLater(std::move(m_camera));
    m_control.reset();
    m_camera.reset();
    m_open.store(false);
    return 0;
}

void CAravisCamera::SetTLParamsLocked(bool locked) {
    // Not every camera has it.
    auto* feature = dynamic_cast<GenApi::IInteger*>(m_module.Current()->GetNode("TLParamsLocked"));
    if (!feature) return;
    try {
        feature->SetValue(locked ? 1 : 0);
    } catch (const GenICam::GenericException&) {
    }
}

bool CAravisCamera::Execute(const char* command) {
    auto* node = dynamic_cast<GenApi::ICommand*>(m_module.Current()->GetNode(command));
    if (!node) return false;
    try {
        node->Execute();
        return true;
    } catch (const GenICam::GenericException&) {
        return false;
    }
}

int CAravisCamera::startGrabbing(int bufferCount, int maxFrames) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_open.load()) return 1;
    if (m_session) return 0;
    if (m_lost->load()) return 5;
    GenApi::CEngineNodeMap* map = m_module.Current();
    auto tree = map->Lock();

    int64_t payload = 0;
    if (auto* size = dynamic_cast<GenApi::IInteger*>(map->GetNode("PayloadSize"))) {
        try {
            payload = size->GetValue();
        } catch (const GenICam::GenericException&) {
        }
    }
    if (payload <= 0 || payload > std::numeric_limits<guint>::max()) return 2;
    CGError error;
    GObjectPtr<ArvStream> stream(
        arv_camera_create_stream(m_camera.get(), nullptr, nullptr, error.Out()));
    if (!stream) return 3;
    const int buffers = bufferCount > 0 ? bufferCount : kDefaultBuffers;
    for (int i = 0; i < buffers; ++i)
        arv_stream_push_buffer(stream.get(), arv_buffer_new_allocate(static_cast<size_t>(payload)));

    SetTLParamsLocked(true);
    if (!Execute("AcquisitionStart")) {
        SetTLParamsLocked(false);
        return 4;
    }
    const bool gige = ARV_IS_GV_DEVICE(arv_camera_get_device(m_camera.get()));
    GObjectPtr<ArvCamera> camera(static_cast<ArvCamera*>(g_object_ref(m_camera.get())));
    m_session = std::make_shared<CStreamSession>(std::move(camera), std::move(stream), gige,
                                                 maxFrames, m_lost);
    // The session leaves the registry at stop or, held by a frame, when it goes.
    CStreamSession* session = m_session.get();
    EnterStream(session, m_info.getSerialNumber(),
                [session](StreamStatistics& out) { session->ReadStatistics(out); });
    return 0;
}

int CAravisCamera::stopGrabbing() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return StopLocked();
}

int CAravisCamera::StopLocked() {
    if (!m_session) return 0;
    // Waiting getFrame calls see this within one wait slice.
    m_session->Stop();
    // A lost device would only make each of these writes wait out its time-out.
    if (!m_lost->load()) {
        auto tree = m_module.Current()->Lock();
        Execute("AcquisitionStop");
        SetTLParamsLocked(false);
    }
    RemoveStream(m_session.get());
    m_session.reset();
    return 0;
}

int CAravisCamera::getFrame(IFrame** frame, int64_t timeoutMs) {
    if (!frame || *frame) return FrameFailed;
    std::shared_ptr<CStreamSession> session;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        session = m_session;
    }
    if (!session || session->Exhausted()) return FrameNotRunning;
    if (m_lost->load()) return FrameDeviceLost;

    const gint64 start = g_get_monotonic_time();
    const gint64 limitUs =
        timeoutMs < 0
            ? std::numeric_limits<gint64>::max()
            : std::min<int64_t>(timeoutMs, std::numeric_limits<gint64>::max() / 1000) * 1000;
    ArvBuffer* buffer = nullptr;
    for (;;) {
        const gint64 elapsed = g_get_monotonic_time() - start;
        const gint64 slice = std::max<gint64>(0, std::min(kWaitSliceUs, limitUs - elapsed));
        buffer = arv_stream_timeout_pop_buffer(session->Stream(), static_cast<guint64>(slice));
        if (buffer) break;
        if (session->Stopped()) return FrameNotRunning;
        if (m_lost->load()) return FrameDeviceLost;
        if (g_get_monotonic_time() - start >= limitUs) return FrameTimeout;
    }
    if (session->Stopped()) {
        session->GiveBack(buffer);
        return FrameNotRunning;
    }
    if (arv_buffer_get_status(buffer) != ARV_BUFFER_STATUS_SUCCESS) {
        session->GiveBack(buffer);
        return m_lost->load() ? FrameDeviceLost : FrameIncomplete;
    }
    auto* out = new CArvFrame(session, buffer);
    // The camera's chunk features read this frame's chunks from now on.
    GenApi::CEngineNodeMap* map = m_module.Current();
    if (map && map->HasChunkFeatures()) out->AttachChunksTo(*map);
    *frame = out;
    session->CountFrame();
    return FrameOk;
}

int CAravisCamera::setSerialPort(const char* /*protocol*/, const char* /*port*/) {
    return 1;
}

}  // namespace KZRGENICAM::detail
