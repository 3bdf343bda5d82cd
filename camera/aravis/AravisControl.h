// Bounded control-channel transactions for Aravis's GigE Vision and USB3 Vision
// devices.
//
// Aravis 0.8 waits out its own resends on every register access of a camera that
// has gone (5 x 500 ms on GigE Vision), and offers no setting for it. The camera
// therefore runs each transaction of its device on a worker thread and waits one
// time-out for it; then it asks a GigE Vision device on a socket of its own
// whether it is still there, up to the retry count, and keeps waiting while it
// answers. Once nothing answers the camera counts as lost, the caller gets a
// time-out error at once, and the transaction still in flight finishes (or fails)
// on the worker, which keeps the device alive until then.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

#include "AravisSystem.h"
#include "GObjectPtr.h"

namespace KZRGENICAM::detail {

/// KZR_ARAVIS_CONTROL_TIMEOUT_MS (default 500, Aravis's own resend interval) and
/// KZR_ARAVIS_CONTROL_RETRIES (default 1): how long one exchange with the camera
/// may stay unanswered, and how many more exchanges (liveness probes on GigE
/// Vision) are tried before the camera counts as lost.
struct SControlSettings {
    int timeoutMs = 500;
    int retries = 1;
    static SControlSettings FromEnvironment();
    /// How long a camera that no longer answers keeps a transaction waiting.
    int BoundMs() const { return timeoutMs * (retries + 1); }
};

/// Routes read and write of the device through the worker from construction to
/// destruction. One per open camera; devices of a class not routed (Route) keep
/// Aravis's own, unbounded, calls.
class CControlChannel {
public:
    /// probe: where liveness is asked (GVCP, UDP); by default a GigE Vision
    /// device's own control address, none for other devices.
    CControlChannel(ArvDevice* device, std::shared_ptr<std::atomic<bool>> lost,
                    SControlSettings settings, std::optional<sockaddr_in> probe = std::nullopt);
    /// Never waits for a transaction in flight: the worker finishes it alone.
    ~CControlChannel();
    CControlChannel(const CControlChannel&) = delete;
    CControlChannel& operator=(const CControlChannel&) = delete;

    /// Hands the camera's last reference to the worker, so that dropping the
    /// device of a lost camera (its own leave-control write and heartbeat stop,
    /// several seconds in Aravis) does not block the caller. Called once, before
    /// destruction.
    void RetireLater(GObjectPtr<ArvCamera> camera);

    /// Routes Aravis's GigE Vision and USB3 Vision device classes; before the
    /// first device is made.
    static void Install();
    /// Routes one device class (idempotent); before the first device of it is made.
    static void Route(GType deviceType);
    /// Drops the last references of a lost camera's stream and camera on a thread
    /// of their own, which JoinRetired waits for: their finalizers wait out Aravis
    /// (seconds), and the caller (a frame's release) must not.
    static void DropLater(GObjectPtr<ArvStream> stream, GObjectPtr<ArvCamera> camera);
    /// Waits for the workers of channels already destroyed and for DropLater
    /// (library shutdown). What is still running at unload is joined then.
    static void JoinRetired();

    struct SShared;

private:
    ArvDevice* m_device;
    std::shared_ptr<SShared> m_shared;
};

}  // namespace KZRGENICAM::detail
