// Acquisition start and stop, trigger handling and the two grabs.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>

#include "acquisition/FrameGuard.h"
#include "log/ErrorLog.h"
#include "parameters/NodeAccess.h"
#include "session/GenICamCamera.h"

using qrv::CFrameGuard;
using qrv::NodeMapOf;

namespace {

/// Hands the frame's pixels to the host image. False when the image refuses the
/// frame's layout: the image still holds an earlier frame, which must not be
/// reported as this one. A grab without an image only consumes the frame.
bool ToHostImage(KZRGENICAM::IFrame& frame, QRVImage* image) {
    if (!image) return true;
    return image->GenImageExt(frame.getImageData(), static_cast<int>(frame.getWidth()),
                              static_cast<int>(frame.getHeight()),
                              static_cast<int>(frame.getChannels()),
                              static_cast<int>(frame.getBitsPerChannel()), QRVImage::Default);
}

/// The current text of an enumeration or string feature, read from the camera
/// (verified, past the cache). 0, -1 without a node map, or 101022 when the
/// feature is missing, of another kind or not readable.
int ReadFeatureText(GenApi::INodeMap* map, const char* name, GenICam::gcstring& value) {
    if (!map) return -1;
    GenApi::INode* const node = map->GetNode(name);
    GenApi::CEnumerationPtr enumeration = node;
    if (GenApi::IsReadable(enumeration)) {
        value = enumeration->ToString(true, true);
        return 0;
    }
    GenApi::CStringPtr text = node;
    if (!GenApi::IsReadable(text)) return QRV_ERR_PARAMETER_ACCESS;
    value = text->ToString(true, true);
    return 0;
}

}  // namespace

int CGenICamCamera::StartAcquire(int start, int /*unused*/) {
    if (!CameraReady()) return QRV_ERR_CAMERA_NOT_OPEN;
    if (m_grabbing.load()) return 0;
    if (m_camera->startGrabbing(start, -1) != 0) {
        ModuleLog() << LogBegin << "startGrabbing Failed" << LogEnd;
        return QRV_ERR_START_GRABBING;
    }
    m_grabbing.store(true);
    return 0;
}

int CGenICamCamera::StopAcquire() {
    if (!CameraReady()) return QRV_ERR_CAMERA_NOT_OPEN;
    StopStream();
    return 0;
}

int CGenICamCamera::UpdateTriggerMode() {
    if (!CameraReady()) return QRV_ERR_CAMERA_NOT_OPEN;
    const char* modeName = m_cameraLink ? "FrameTriggerCtrl" : "TriggerMode";
    const char* offValue = m_cameraLink ? "Disable" : "Off";
    const char* sourceName = m_cameraLink ? "FrameTriggerSource" : "TriggerSource";

    // Runs before every grab, so it reads the two features as GetParamStr does
    // (same node map, same results) without its host strings, name fallbacks
    // and entry lists: none of the trigger names has a fallback.
    GenApi::INodeMap* map = nullptr;
    GenICam::gcstring mode;
    const int result = qrv::Guarded([&] {
        map = NodeMapOf(m_cameraLink ? m_camera->getGrabberModule() : m_camera->getDeviceModule());
        return ReadFeatureText(map, modeName, mode);
    });
    if (result != 0) return result;
    if (mode == offValue) {
        m_triggerMode.store(0);
        return result;
    }
    GenICam::gcstring source;  // stays empty when it cannot be read
    qrv::Guarded([&] { return ReadFeatureText(map, sourceName, source); });
    m_triggerMode.store(source == "Software" ? 1 : 2);
    return result;
}

int CGenICamCamera::FireSoftwareTrigger(std::uint32_t timeoutMs) {
    GenApi::INodeMap* map =
        NodeMapOf(m_cameraLink ? m_camera->getGrabberModule() : m_camera->getDeviceModule());
    if (!map) return -1;
    GenApi::CCommandPtr trigger = map->GetNode("TriggerSoftware");
    if (!trigger.IsValid()) return -1;

    const std::uint32_t start = qrv::platform::GetTickCount();
    while (!trigger->IsDone(true)) {
        // Unsigned difference: correct across the counter's wrap-around.
        const std::uint32_t elapsed = qrv::platform::GetTickCount() - start;
        if (elapsed > timeoutMs) return -1;
        qrv::platform::Sleep(1);
    }

    GenApi::CEnumerationPtr selector = map->GetNode("TriggerSelector");
    const bool lineStart =
        selector.IsValid() && selector->ToString(false, false) == GenICam::gcstring("LineStart");
    if (!lineStart) {
        trigger->Execute(true);
        return 0;
    }

    GenApi::CIntegerPtr height = map->GetNode("Height");
    if (!height.IsValid()) return 0;
    const int lines = static_cast<int>(static_cast<std::uint32_t>(height->GetValue(true, true)));
    for (int line = 0; line < lines; ++line) {
        if (m_abortWait.load()) {
            m_abortWait.store(false);
            return -2;
        }
        trigger->Execute(true);
    }
    return 0;
}

int CGenICamCamera::GrabImage(QRVImage* image, int timeoutMs) {
    if (!m_camera) return QRV_ERR_CAMERA_NOT_OPEN;
    return qrv::Guarded([&]() -> int {
        CFrameGuard frame;
        UpdateTriggerMode();
        if (m_triggerMode.load() == 1) {
            m_abortWait.store(false);
            const int fired = FireSoftwareTrigger(static_cast<std::uint32_t>(timeoutMs));
            if (fired == -1) return QRV_ERR_GRAB_TIMEOUT;
            if (fired == -2) return QRV_ERR_GRAB_ABORTED;
        }

        const int code = m_camera->getFrame(frame.Slot(), static_cast<int64_t>(timeoutMs));
        if (code != 0) {
            ModuleLog() << LogBegin << "GrabImage Failed, ret = " << code << LogEnd;
            switch (code) {
                case KZRGENICAM::FrameIncomplete:
                    return QRV_ERR_CAMERA_IMAGE_DATA;
                case KZRGENICAM::FrameNotRunning:
                    return QRV_ERR_GRAB_ABORTED;
                case KZRGENICAM::FrameTimeout:
                    return QRV_ERR_GRAB_TIMEOUT;
                default:
                    return QRV_ERR_GRAB_FAILED;
            }
        }
        if (!frame.Get()) return QRV_ERR_GRAB_FAILED;
        if (!frame->isValid()) {
            ModuleLog() << LogBegin << "GrabImage Failed, error = QRV_ERR_CAMERA_IMAGE_DATA" << code
                        << LogEnd;
            return QRV_ERR_CAMERA_IMAGE_DATA;
        }
        if (!ToHostImage(*frame.Get(), image)) {
            ModuleLog() << LogBegin << "GrabImage Failed, error = QRV_ERR_CAMERA_IMAGE_DATA" << code
                        << LogEnd;
            return QRV_ERR_CAMERA_IMAGE_DATA;
        }
        return 0;
    });
}

namespace {

struct SFreeDeleter {
    void operator()(unsigned char* p) const { std::free(p); }
};

/// All chunk blocks of a frame back to back, in frame order, in one allocation.
/// Returns false when the buffer cannot be had.
bool JoinChunks(const std::list<KZRGENICAM::IChunk*>& blocks,
                std::unique_ptr<unsigned char, SFreeDeleter>& joined, std::uint64_t& total) {
    total = 0;
    for (const KZRGENICAM::IChunk* block : blocks) {
        if (block) total += block->getSize();
    }
    if (total == 0) return true;
    if (total > SIZE_MAX) return false;
    joined.reset(static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(total))));
    if (!joined) return false;
    std::size_t offset = 0;
    for (const KZRGENICAM::IChunk* block : blocks) {
        if (!block) continue;
        const std::size_t size = static_cast<std::size_t>(block->getSize());
        if (size > 0) std::memcpy(joined.get() + offset, block->getData(), size);
        offset += size;
    }
    return true;
}

}  // namespace

int CGenICamCamera::GrabImageEx(QRVImage* image, ZelChunkData* chunks, int timeoutMs) {
    if (!m_camera) return QRV_ERR_CAMERA_NOT_OPEN;
    return qrv::Guarded([&]() -> int {
        CFrameGuard frame;
        int code = 0;
        {
            // Trigger and fetch only; the lock is released on every way out.
            std::lock_guard<qrv::platform::FrameMutex> lock(m_frameMutex);
            if (m_triggerMode.load() == 1 &&
                FireSoftwareTrigger(static_cast<std::uint32_t>(timeoutMs)) != 0) {
                return QRV_ERR_GRAB_TIMEOUT;
            }
            code = m_camera->getFrame(frame.Slot(), static_cast<int64_t>(timeoutMs));
        }
        switch (code) {
            case 0:
                break;
            case KZRGENICAM::FrameIncomplete:
                return QRV_ERR_CAMERA_IMAGE_DATA;
            case KZRGENICAM::FrameNotRunning:
                return QRV_ERR_ACQUISITION_STOPPED;
            case KZRGENICAM::FrameTimeout:
                return QRV_ERR_GRAB_TIMEOUT;
            default:
                return QRV_ERR_GRAB_FAILED;
        }
        if (!frame.Get()) return QRV_ERR_GRAB_FAILED;
        if (!frame->isValid()) return QRV_ERR_CAMERA_IMAGE_DATA;
        if (!ToHostImage(*frame.Get(), image)) return QRV_ERR_CAMERA_IMAGE_DATA;

        const std::list<KZRGENICAM::IChunk*> blocks = frame->getChunkList();
        if (blocks.empty()) return 0;
        std::unique_ptr<unsigned char, SFreeDeleter> joined;
        std::uint64_t total = 0;
        if (!JoinChunks(blocks, joined, total)) return QRV_ERR_EXCEPTION;
        if (chunks) chunks->setData(total, joined.get());
        char line[128];
        std::snprintf(line, sizeof line, "#### getchunkdata length = %d\n",
                      static_cast<int>(static_cast<std::uint32_t>(total)));
        qrv::platform::OutputDebugStringA(line);
        return 0;
    });
}
