// QRVAcqGenIcam: the camera acquisition plug-in's 22 entry points, for hosts that
// load the module at run time (dlopen/dlsym, LoadLibrary/GetProcAddress).
//
// Every entry point returns 0 on success or one of the result codes below
// (IsOpen returns a bool; GetCameraList and GetCardList the number of records).
// No exception ever leaves an entry point. A handle is what Open wrote; a null,
// unknown or closed handle gives QRV_ERR_CAMERA_NOT_OPEN and touches nothing.
// Strings are passed by value; the host owns every object it passes by address.
#pragma once

#include "QRVCameraInfo.h"
#include "QRVData.h"
#include "ZelChunkData.h"

#if defined(_WIN32)
#if defined(QRVACQ_BUILD)
#define QRVACQ_API extern "C" __declspec(dllexport)
#else
#define QRVACQ_API extern "C" __declspec(dllimport)
#endif
#else
#define QRVACQ_API extern "C" __attribute__((visibility("default")))
#endif

/// Opaque camera handle: null stands for no camera.
typedef void* QRVCameraHandle;

/// Result codes of the entry points.
enum QRVAcqResult {
    QRV_OK = 0,
    QRV_ERR_NO_NODEMAP = -1,  ///< no feature module or node map; GetNodeType: no such feature
    QRV_ERR_CAMERA_CONFIG_FILE = 100009,   ///< Camera Link camera: the .cam file was not applied
    QRV_ERR_ACQUISITION_STOPPED = 101003,  ///< GrabImageEx: acquisition not running or stopped
    QRV_ERR_CAMERA_NOT_FOUND = 101005,     ///< no camera with that serial number
    QRV_ERR_CAMERA_NOT_OPEN = 101007,      ///< no camera, camera not open, or not a live handle
    QRV_ERR_GRAB_ABORTED = 101011,  ///< GrabImage: trigger aborted by StopAcquire, or not running
    QRV_ERR_CAMERA_OPEN_FAILED = 101016,  ///< the camera refused to open
    QRV_ERR_PARAMETER_ACCESS =
        101022,  ///< no such node, wrong type, not readable/writable, bad buffer
    QRV_ERR_START_GRABBING = 101030,     ///< the camera failed to start streaming
    QRV_ERR_GRAB_TIMEOUT = 101033,       ///< no frame in time, or the software trigger failed
    QRV_ERR_GRAB_FAILED = 101034,        ///< the frame fetch failed otherwise
    QRV_ERR_CAMERA_IMAGE_DATA = 101037,  ///< incomplete or invalid image data
    QRV_ERR_GENICAM_EXCEPTION = 101040,  ///< GenICam raised an exception
    QRV_ERR_EXCEPTION = 101041           ///< any other exception, or out of memory
};

/// Symbolic name of a result code ("QRV_ERR_CAMERA_IMAGE_DATA"), or null.
inline const char* QRVAcqResultName(int code) {
    switch (code) {
        case QRV_OK:
            return "QRV_OK";
        case QRV_ERR_NO_NODEMAP:
            return "QRV_ERR_NO_NODEMAP";
        case QRV_ERR_CAMERA_CONFIG_FILE:
            return "QRV_ERR_CAMERA_CONFIG_FILE";
        case QRV_ERR_ACQUISITION_STOPPED:
            return "QRV_ERR_ACQUISITION_STOPPED";
        case QRV_ERR_CAMERA_NOT_FOUND:
            return "QRV_ERR_CAMERA_NOT_FOUND";
        case QRV_ERR_CAMERA_NOT_OPEN:
            return "QRV_ERR_CAMERA_NOT_OPEN";
        case QRV_ERR_GRAB_ABORTED:
            return "QRV_ERR_GRAB_ABORTED";
        case QRV_ERR_CAMERA_OPEN_FAILED:
            return "QRV_ERR_CAMERA_OPEN_FAILED";
        case QRV_ERR_PARAMETER_ACCESS:
            return "QRV_ERR_PARAMETER_ACCESS";
        case QRV_ERR_START_GRABBING:
            return "QRV_ERR_START_GRABBING";
        case QRV_ERR_GRAB_TIMEOUT:
            return "QRV_ERR_GRAB_TIMEOUT";
        case QRV_ERR_GRAB_FAILED:
            return "QRV_ERR_GRAB_FAILED";
        case QRV_ERR_CAMERA_IMAGE_DATA:
            return "QRV_ERR_CAMERA_IMAGE_DATA";
        case QRV_ERR_GENICAM_EXCEPTION:
            return "QRV_ERR_GENICAM_EXCEPTION";
        case QRV_ERR_EXCEPTION:
            return "QRV_ERR_EXCEPTION";
        default:
            return nullptr;
    }
}

/// One-line meaning of a result code, or null.
inline const char* QRVAcqResultMeaning(int code) {
    switch (code) {
        case QRV_OK:
            return "success";
        case QRV_ERR_NO_NODEMAP:
            return "no feature module or node map, or no such feature";
        case QRV_ERR_CAMERA_CONFIG_FILE:
            return "the camera configuration file was not applied";
        case QRV_ERR_ACQUISITION_STOPPED:
            return "acquisition is not running or was stopped";
        case QRV_ERR_CAMERA_NOT_FOUND:
            return "no camera with that serial number";
        case QRV_ERR_CAMERA_NOT_OPEN:
            return "no open camera behind the handle";
        case QRV_ERR_GRAB_ABORTED:
            return "grab aborted, or acquisition not running";
        case QRV_ERR_CAMERA_OPEN_FAILED:
            return "the camera refused to open";
        case QRV_ERR_PARAMETER_ACCESS:
            return "no such node, wrong type, or not accessible";
        case QRV_ERR_START_GRABBING:
            return "the camera failed to start streaming";
        case QRV_ERR_GRAB_TIMEOUT:
            return "no frame in time, or the software trigger failed";
        case QRV_ERR_GRAB_FAILED:
            return "the frame fetch failed";
        case QRV_ERR_CAMERA_IMAGE_DATA:
            return "incomplete or invalid image data";
        case QRV_ERR_GENICAM_EXCEPTION:
            return "GenICam exception";
        case QRV_ERR_EXCEPTION:
            return "unexpected exception";
        default:
            return nullptr;
    }
}

// The entry points, in the export table's order, each with a pointer type for
// hosts that resolve it by name.
QRVACQ_API int Close(QRVCameraHandle handle);
QRVACQ_API int ExecuteCMD(QRVCameraHandle handle, QRVString command);
QRVACQ_API int GetCameraList(QRVCameraInfoArray* list);
QRVACQ_API int GetCardList(QRVCardInfoArray* list);
QRVACQ_API int GetNodeType(QRVCameraHandle handle, QRVString name);
QRVACQ_API int GetParamBool(QRVCameraHandle handle, QRVString name, bool* value);
QRVACQ_API int GetParamFloat(QRVCameraHandle handle, QRVString name, float* value, float* min,
                             float* max, float* inc);
QRVACQ_API int GetParamInt(QRVCameraHandle handle, QRVString name, int* value, int* min, int* max,
                           int* inc);
QRVACQ_API int GetParamStr(QRVCameraHandle handle, QRVString name, QRVString* value,
                           QRVStringArray* entries);
QRVACQ_API int GetRegisterData(QRVCameraHandle handle, QRVString name, unsigned char* buffer,
                               int count);
QRVACQ_API int GrabImage(QRVCameraHandle handle, QRVImage* image, int timeoutMs);
QRVACQ_API int GrabImageEx(QRVCameraHandle handle, QRVImage* image, ZelChunkData* chunks,
                           int timeoutMs);
QRVACQ_API bool IsOpen(QRVCameraHandle handle);
QRVACQ_API int Open(QRVString serialNumber, QRVCameraHandle* handle, QRVString unused,
                    QRVString configPath);
QRVACQ_API int SetCallBackFunc(QRVCameraHandle handle, int tag, void* callback);
QRVACQ_API int SetParamBool(QRVCameraHandle handle, QRVString name, bool value);
QRVACQ_API int SetParamFloat(QRVCameraHandle handle, QRVString name, float value);
QRVACQ_API int SetParamInt(QRVCameraHandle handle, QRVString name, int value);
QRVACQ_API int SetParamStr(QRVCameraHandle handle, QRVString name, QRVString value);
QRVACQ_API int SetRegisterData(QRVCameraHandle handle, QRVString name, const unsigned char* data,
                               int count);
QRVACQ_API int StartAcquire(QRVCameraHandle handle, int start, int unused);
QRVACQ_API int StopAcquire(QRVCameraHandle handle);

typedef int (*PFN_Close)(QRVCameraHandle);
typedef int (*PFN_ExecuteCMD)(QRVCameraHandle, QRVString);
typedef int (*PFN_GetCameraList)(QRVCameraInfoArray*);
typedef int (*PFN_GetCardList)(QRVCardInfoArray*);
typedef int (*PFN_GetNodeType)(QRVCameraHandle, QRVString);
typedef int (*PFN_GetParamBool)(QRVCameraHandle, QRVString, bool*);
typedef int (*PFN_GetParamFloat)(QRVCameraHandle, QRVString, float*, float*, float*, float*);
typedef int (*PFN_GetParamInt)(QRVCameraHandle, QRVString, int*, int*, int*, int*);
typedef int (*PFN_GetParamStr)(QRVCameraHandle, QRVString, QRVString*, QRVStringArray*);
typedef int (*PFN_GetRegisterData)(QRVCameraHandle, QRVString, unsigned char*, int);
typedef int (*PFN_GrabImage)(QRVCameraHandle, QRVImage*, int);
typedef int (*PFN_GrabImageEx)(QRVCameraHandle, QRVImage*, ZelChunkData*, int);
typedef bool (*PFN_IsOpen)(QRVCameraHandle);
typedef int (*PFN_Open)(QRVString, QRVCameraHandle*, QRVString, QRVString);
typedef int (*PFN_SetCallBackFunc)(QRVCameraHandle, int, void*);
typedef int (*PFN_SetParamBool)(QRVCameraHandle, QRVString, bool);
typedef int (*PFN_SetParamFloat)(QRVCameraHandle, QRVString, float);
typedef int (*PFN_SetParamInt)(QRVCameraHandle, QRVString, int);
typedef int (*PFN_SetParamStr)(QRVCameraHandle, QRVString, QRVString);
typedef int (*PFN_SetRegisterData)(QRVCameraHandle, QRVString, const unsigned char*, int);
typedef int (*PFN_StartAcquire)(QRVCameraHandle, int, int);
typedef int (*PFN_StopAcquire)(QRVCameraHandle);
