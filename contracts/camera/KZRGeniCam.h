// Camera access library: discovers GenICam cameras over its transports, opens
// them by serial number and hands out camera, frame and discovery-record objects
// and the GenApi node maps of a camera's modules.
//
// Ownership: Discovery's records belong to the caller until it calls release()
// on each, exactly once. CreateCameraBySN's camera belongs to the caller until it
// calls release(), exactly once (close() does not free it). A frame from getFrame
// belongs to the caller until release(), exactly once; the frame's chunk blocks and
// image data live until then. getInfo(), getDeviceModule() and getGrabberModule()
// lend objects that live as long as the camera. Objects are never freed by delete.
//
// Threads: every function and object may be used from any thread. One thread may
// wait in getFrame while another calls stopGrabbing or close: the waiting call then
// returns -12.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "GenApi.h"

#if defined(_WIN32)
#if defined(KZRGENICAM_BUILD)
#define KZR_API __declspec(dllexport)
#else
#define KZR_API __declspec(dllimport)
#endif
#else
#define KZR_API __attribute__((visibility("default")))
#endif

namespace KZRGENICAM {

/// Transport codes of getInterfaceType.
enum ETransport : int {
    TransportGigE = 1,
    TransportUSB3 = 2,
    TransportCameraLink = 4,
    TransportGenTL = 8  // any other GenTL transport
};

/// Results of ICamera::getFrame. Other negative values are further failures:
/// FrameDeviceLost -30 (the camera is gone), FrameFailed -31 (any other failure).
enum EFrameResult : int {
    FrameOk = 0,
    FrameTimeout = -11,     // no frame within the time-out
    FrameNotRunning = -12,  // acquisition not running, or stopped while waiting
    FrameIncomplete = -23,  // a frame arrived but its image data is incomplete or corrupt
    FrameDeviceLost = -30,
    FrameFailed = -31
};

/// One discovery record.
class KZR_API ICameraInfo {
public:
    virtual int getInterfaceType() const = 0;
    virtual const char* getId() const = 0;
    virtual const char* getSerialNumber() const = 0;
    virtual const char* getManufacturer() const = 0;
    virtual const char* getModelName() const = 0;
    /// Transport-specific link text (for Camera Link, the grabber port path).
    virtual const char* getLinkName() const = 0;
    /// Gives the record back; the pointer is dangling afterwards.
    virtual void release() = 0;

protected:
    virtual ~ICameraInfo();
};

/// One chunk block of a frame, owned by the frame.
class KZR_API IChunk {
public:
    virtual const void* getData() const = 0;
    virtual uint64_t getSize() const = 0;

protected:
    virtual ~IChunk();
};

/// One frame. Layout values (the same as QRVImage::GenImageExt's):
///   getWidth (layout value 1), getHeight (2), getChannels (3: channels per pixel),
///   getBitsPerChannel (4: 8 or 16); rows packed without padding.
class KZR_API IFrame {
public:
    /// False when the frame carries no usable image.
    virtual bool isValid() const = 0;
    virtual int64_t getChannels() const = 0;
    virtual int64_t getHeight() const = 0;
    /// The frame's chunk blocks in frame order; empty without chunk data.
    virtual std::list<IChunk*> getChunkList() const = 0;
    virtual int64_t getBitsPerChannel() const = 0;
    virtual int64_t getWidth() const = 0;
    virtual void* getImageData() const = 0;
    /// Gives the frame back to the library; the pointer is dangling afterwards.
    virtual void release() = 0;
    // Further facts that the plug-in does not use.
    /// GenICam pixel format code (PFNC), e.g. 0x01080001 Mono8.
    virtual uint32_t getPixelFormat() const = 0;
    virtual uint64_t getFrameId() const = 0;
    virtual uint64_t getImageSize() const = 0;

protected:
    virtual ~IFrame();
};

/// A module of a camera (its device, or its frame grabber) with a node map.
class KZR_API IModule {
public:
    /// The module's node map, or null; lives as long as the camera.
    virtual GenApi::INodeMap* getNodeMap() = 0;

protected:
    virtual ~IModule();
};

class KZR_API ICamera {
public:
    /// Opens the camera; 0 when open (also when it already was), else the camera's
    /// own error number (positive).
    virtual int open(int mode) = 0;
    virtual int close() = 0;
    virtual bool isOpen() = 0;
    virtual bool isConnected() = 0;
    /// Starts streaming; 0 on success. bufferCount: frames the transport may queue
    /// (0 or less: the transport's default). maxFrames: frames to deliver before the
    /// stream stops by itself, -1 for no limit.
    virtual int startGrabbing(int bufferCount, int maxFrames) = 0;
    virtual int stopGrabbing() = 0;
    /// Waits up to timeoutMs for the next frame (a negative time-out waits without
    /// limit). *frame must be null on entry; on 0 it holds a frame to release.
    virtual int getFrame(IFrame** frame, int64_t timeoutMs) = 0;
    /// The camera's own discovery record (owned by the camera: do not release).
    virtual ICameraInfo* getInfo() = 0;
    /// The frame grabber's module (Camera Link only), or null.
    virtual IModule* getGrabberModule() = 0;
    /// The camera device's module, or null.
    virtual IModule* getDeviceModule() = 0;
    /// Selects the Camera Link serial port and protocol; 0 on success.
    virtual int setSerialPort(const char* protocol, const char* port) = 0;
    /// Destroys the camera object (closing it first when it is open).
    virtual void release() = 0;

protected:
    virtual ~ICamera();
};

/// Starts the library; calls nest (each Init needs one UnInit).
KZR_API void Init();
KZR_API void UnInit();

/// Finds cameras. filter null: every transport; "CLTLKZR.cti": the Camera Link
/// transport layer only; any other text: the transports whose producer file name
/// equals it. The caller owns the records.
KZR_API std::list<ICameraInfo*> Discovery(const char* filter);

/// The camera with this serial number (UTF-8, exact), or null.
KZR_API ICamera* CreateCameraBySN(const char* serialNumber);

/// Camera Link serial port names and protocol names, in the library's order.
KZR_API std::vector<std::string> GetCLSerials();
KZR_API std::vector<std::string> GetCLProtocols();

/// Short name of a getFrame result ("timeout", "not running", ...).
KZR_API const char* FrameResultName(int code);

}  // namespace KZRGENICAM
