// CGenICamCamera: the session behind one plug-in handle. It owns the camera
// object of the camera access library, the discovery records of its last search
// and the state that the parameter and acquisition operations share.
//
// Threads: the entry points may call any operation from any host thread. Only
// GrabImageEx serialises itself (m_frameMutex); StopAcquire reaches a running grab
// through the atomic m_abortWait. The flags that several threads read and write
// are atomic, and no operation changes session state to steer another one.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <utility>

#include "GenApi.h"
#include "KZRGeniCam.h"
#include "QRVCameraInfo.h"
#include "QRVData.h"
#include "ZelChunkData.h"
#include "platform/Platform.h"

class CGenICamCamera {
public:
    CGenICamCamera();
    ~CGenICamCamera();
    CGenICamCamera(const CGenICamCamera&) = delete;
    CGenICamCamera& operator=(const CGenICamCamera&) = delete;

    // Session
    int Open(QRVString serialNumber, QRVString configPath);
    bool IsOpen();
    int Close();

    // Discovery and configuration files
    void RefreshCameraInfos(const char* filter);
    int GetCameraList(QRVCameraInfoArray* list);
    int GetCardList(QRVCardInfoArray* list);
    static QRVInterface InterfaceFromTransport(int transport);
    bool LoadCameraConfigFile(QRVString path);
    int ApplyConfigEntry(const char* name, const char* value);

    // Parameters
    void ResolveNodeName(QRVString requested, QRVString& resolved);
    bool NodeExists(QRVString name);
    int GetNodeType(QRVString name);
    int SetParamBool(QRVString name, bool value);
    int SetParamInt(QRVString name, int value);
    int SetParamFloat(QRVString name, float value);
    int GetParamBool(QRVString name, bool* value);
    int GetParamInt(QRVString name, int* value, int* min, int* max, int* inc);
    int GetParamFloat(QRVString name, float* value, float* min, float* max, float* inc);
    int SetParamStr(QRVString name, QRVString value);
    int GetParamStr(QRVString name, QRVString* value, QRVStringArray* entries);
    int SetRegisterData(QRVString name, const unsigned char* data, int count);
    int GetRegisterData(QRVString name, unsigned char* buffer, int count);
    int ExecuteCMD(QRVString name);

    // Acquisition
    int StartAcquire(int start, int unused);
    int StopAcquire();
    int UpdateTriggerMode();
    int FireSoftwareTrigger(std::uint32_t timeoutMs);
    int GrabImage(QRVImage* image, int timeoutMs);
    int GrabImageEx(QRVImage* image, ZelChunkData* chunks, int timeoutMs);

    // Read-only views for tests and diagnostics.
    int TriggerMode() const { return m_triggerMode.load(); }
    bool Grabbing() const { return m_grabbing.load(); }
    bool AbortRaised() const { return m_abortWait.load(); }
    bool CameraLink() const { return m_cameraLink; }
    KZRGENICAM::ICamera* Camera() const { return m_camera; }
    std::size_t CameraInfoCount() const { return m_cameraInfos.size(); }
    void SetCameraInfosForTesting(std::list<KZRGENICAM::ICameraInfo*> infos) {
        m_cameraInfos = std::move(infos);
    }
    qrv::platform::FrameMutex& FrameMutexForTesting() { return m_frameMutex; }

private:
    enum class ENeed { Read, Write };

    /// The frame every parameter operation shares: camera test, name resolution,
    /// the device node map, the typed node pointer Ptr with its access test, and
    /// the exception guard around body(node). prologue runs after the resolution,
    /// before the guard.
    template <class Ptr, class Prologue, class Body>
    int OnDeviceNode(const QRVString& name, ENeed need, Prologue&& prologue, Body&& body);
    template <class Ptr, class Body>
    int OnDeviceNode(const QRVString& name, ENeed need, Body&& body) {
        return OnDeviceNode<Ptr>(
            name, need, [] {}, std::forward<Body>(body));
    }

    /// The node-type query; with resolveAliases false it looks the name up as
    /// given. The choice belongs to the call, so that a probe on one thread never
    /// changes what a query on another thread does.
    int NodeType(const QRVString& name, bool resolveAliases);
    bool CameraReady();
    void ReleaseCameraInfos();
    void StopStream();

    std::atomic<int> m_triggerMode{0};
    KZRGENICAM::ICamera* m_camera = nullptr;
    std::list<KZRGENICAM::ICameraInfo*> m_cameraInfos;
    std::atomic<bool> m_grabbing{false};
    qrv::platform::FrameMutex m_frameMutex;
    std::atomic<bool> m_abortWait{false};
    bool m_cameraLink = false;
};
