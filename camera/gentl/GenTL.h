// The C interface of a GenTL producer (GenICam GenTL 1.x): handles, enumerations,
// error codes and the function signatures a consumer resolves by name.
// Written from the public standard; only what this library and its test producer use.
#pragma once

#include <cstddef>
#include <cstdint>

// The standard's calling convention: __stdcall on 32-bit Windows; x64 and other
// systems have a single one.
#if defined(_WIN32) && !defined(_WIN64)
#define GC_CALLTYPE __stdcall
#else
#define GC_CALLTYPE
#endif

namespace KZRGENICAM::gentl {

using GC_ERROR = int32_t;
using bool8_t = uint8_t;
using TL_HANDLE = void*;
using IF_HANDLE = void*;
using DEV_HANDLE = void*;
using DS_HANDLE = void*;
using PORT_HANDLE = void*;
using BUFFER_HANDLE = void*;
using EVENT_HANDLE = void*;
using EVENTSRC_HANDLE = void*;

constexpr uint64_t GENTL_INFINITE = 0xFFFFFFFFFFFFFFFFull;

enum : GC_ERROR {
    GC_ERR_SUCCESS = 0,
    GC_ERR_ERROR = -1001,
    GC_ERR_NOT_INITIALIZED = -1002,
    GC_ERR_NOT_IMPLEMENTED = -1003,
    GC_ERR_RESOURCE_IN_USE = -1004,
    GC_ERR_ACCESS_DENIED = -1005,
    GC_ERR_INVALID_HANDLE = -1006,
    GC_ERR_INVALID_ID = -1007,
    GC_ERR_NO_DATA = -1008,
    GC_ERR_INVALID_PARAMETER = -1009,
    GC_ERR_IO = -1010,
    GC_ERR_TIMEOUT = -1011,
    GC_ERR_ABORT = -1012,
    GC_ERR_INVALID_BUFFER = -1013,
    GC_ERR_NOT_AVAILABLE = -1014,
    GC_ERR_INVALID_ADDRESS = -1015,
    GC_ERR_BUFFER_TOO_SMALL = -1016,
    GC_ERR_INVALID_INDEX = -1017,
    GC_ERR_PARSING_CHUNK_DATA = -1018,
    GC_ERR_INVALID_VALUE = -1019,
    GC_ERR_RESOURCE_EXHAUSTED = -1020,
    GC_ERR_OUT_OF_MEMORY = -1021,
    GC_ERR_BUSY = -1022
};

using INFO_DATATYPE = int32_t;
enum : INFO_DATATYPE {
    INFO_DATATYPE_UNKNOWN = 0,
    INFO_DATATYPE_STRING = 1,
    INFO_DATATYPE_INT32 = 5,
    INFO_DATATYPE_UINT32 = 6,
    INFO_DATATYPE_INT64 = 7,
    INFO_DATATYPE_UINT64 = 8,
    INFO_DATATYPE_FLOAT64 = 9,
    INFO_DATATYPE_PTR = 10,
    INFO_DATATYPE_BOOL8 = 11,
    INFO_DATATYPE_SIZET = 12,
    INFO_DATATYPE_BUFFER = 13
};

using TL_INFO_CMD = int32_t;
enum : TL_INFO_CMD {
    TL_INFO_ID = 0,
    TL_INFO_VENDOR = 1,
    TL_INFO_MODEL = 2,
    TL_INFO_VERSION = 3,
    TL_INFO_TLTYPE = 4,
    TL_INFO_NAME = 5,
    TL_INFO_PATHNAME = 6,
    TL_INFO_DISPLAYNAME = 7,
    TL_INFO_CHAR_ENCODING = 8,
    TL_INFO_GENTL_VER_MAJOR = 9,
    TL_INFO_GENTL_VER_MINOR = 10
};

using INTERFACE_INFO_CMD = int32_t;
enum : INTERFACE_INFO_CMD {
    INTERFACE_INFO_ID = 0,
    INTERFACE_INFO_DISPLAYNAME = 1,
    INTERFACE_INFO_TLTYPE = 2
};

using DEVICE_INFO_CMD = int32_t;
enum : DEVICE_INFO_CMD {
    DEVICE_INFO_ID = 0,
    DEVICE_INFO_VENDOR = 1,
    DEVICE_INFO_MODEL = 2,
    DEVICE_INFO_TLTYPE = 3,
    DEVICE_INFO_DISPLAYNAME = 4,
    DEVICE_INFO_ACCESS_STATUS = 5,
    DEVICE_INFO_USER_DEFINED_NAME = 6,
    DEVICE_INFO_SERIAL_NUMBER = 7,
    DEVICE_INFO_VERSION = 8
};

using DEVICE_ACCESS_FLAGS = int32_t;
enum : DEVICE_ACCESS_FLAGS {
    DEVICE_ACCESS_UNKNOWN = 0,
    DEVICE_ACCESS_NONE = 1,
    DEVICE_ACCESS_READONLY = 2,
    DEVICE_ACCESS_CONTROL = 3,
    DEVICE_ACCESS_EXCLUSIVE = 4
};

using STREAM_INFO_CMD = int32_t;
enum : STREAM_INFO_CMD {
    STREAM_INFO_ID = 0,
    STREAM_INFO_NUM_DELIVERED = 1,
    STREAM_INFO_NUM_UNDERRUN = 2,
    STREAM_INFO_NUM_ANNOUNCED = 3,
    STREAM_INFO_NUM_QUEUED = 4,
    STREAM_INFO_NUM_AWAIT_DELIVERY = 5,
    STREAM_INFO_NUM_STARTED = 6,
    STREAM_INFO_PAYLOAD_SIZE = 7,
    STREAM_INFO_IS_GRABBING = 8,
    STREAM_INFO_DEFINES_PAYLOADSIZE = 9,
    STREAM_INFO_TLTYPE = 10
};

using BUFFER_INFO_CMD = int32_t;
enum : BUFFER_INFO_CMD {
    BUFFER_INFO_BASE = 0,
    BUFFER_INFO_SIZE = 1,
    BUFFER_INFO_USER_PTR = 2,
    BUFFER_INFO_TIMESTAMP = 3,
    BUFFER_INFO_NEW_DATA = 4,
    BUFFER_INFO_IS_QUEUED = 5,
    BUFFER_INFO_IS_ACQUIRING = 6,
    BUFFER_INFO_IS_INCOMPLETE = 7,
    BUFFER_INFO_TLTYPE = 8,
    BUFFER_INFO_SIZE_FILLED = 9,
    BUFFER_INFO_WIDTH = 10,
    BUFFER_INFO_HEIGHT = 11,
    BUFFER_INFO_XOFFSET = 12,
    BUFFER_INFO_YOFFSET = 13,
    BUFFER_INFO_XPADDING = 14,
    BUFFER_INFO_YPADDING = 15,
    BUFFER_INFO_FRAMEID = 16,
    BUFFER_INFO_IMAGEPRESENT = 17,
    BUFFER_INFO_IMAGEOFFSET = 18,
    BUFFER_INFO_PAYLOADTYPE = 19,
    BUFFER_INFO_PIXELFORMAT = 20,
    BUFFER_INFO_PIXELFORMAT_NAMESPACE = 21
};

using PORT_INFO_CMD = int32_t;
enum : PORT_INFO_CMD {
    PORT_INFO_ID = 0,
    PORT_INFO_VENDOR = 1,
    PORT_INFO_MODEL = 2,
    PORT_INFO_TLTYPE = 3
};

using URL_INFO_CMD = int32_t;
constexpr URL_INFO_CMD URL_INFO_URL = 0;

using ACQ_START_FLAGS = int32_t;
constexpr ACQ_START_FLAGS ACQ_START_FLAGS_DEFAULT = 0;
using ACQ_STOP_FLAGS = int32_t;
constexpr ACQ_STOP_FLAGS ACQ_STOP_FLAGS_DEFAULT = 0;
constexpr ACQ_STOP_FLAGS ACQ_STOP_FLAGS_KILL = 1;

using ACQ_QUEUE_TYPE = int32_t;
enum : ACQ_QUEUE_TYPE {
    ACQ_QUEUE_INPUT_TO_OUTPUT = 0,
    ACQ_QUEUE_OUTPUT_DISCARD = 1,
    ACQ_QUEUE_ALL_TO_INPUT = 2,
    ACQ_QUEUE_UNQUEUED_TO_INPUT = 3,
    ACQ_QUEUE_ALL_DISCARD = 4
};

using EVENT_TYPE = int32_t;
enum : EVENT_TYPE { EVENT_ERROR = 0, EVENT_NEW_BUFFER = 1, EVENT_REMOTE_DEVICE = 4 };

using EVENT_DATA_INFO_CMD = int32_t;
enum : EVENT_DATA_INFO_CMD { EVENT_DATA_ID = 0, EVENT_DATA_VALUE = 1, EVENT_DATA_NUMID = 2 };

/// What EventGetData writes for EVENT_NEW_BUFFER.
struct EVENT_NEW_BUFFER_DATA {
    BUFFER_HANDLE BufferHandle;
    void* pUserPointer;
};

/// One entry of DSGetBufferChunkData.
struct SINGLE_CHUNK_DATA {
    uint64_t ChunkID;
    ptrdiff_t ChunkOffset;
    size_t ChunkLength;
};

/// Transport-layer type texts (TL_INFO_TLTYPE, DEVICE_INFO_TLTYPE, ...).
constexpr const char* TLTypeGEV = "GEV";
constexpr const char* TLTypeU3V = "U3V";
constexpr const char* TLTypeCL = "CL";

// The functions a consumer resolves; X(name, return, parameters).
// clang-format off
#define KZR_GENTL_FUNCTIONS(X)                                                                       \
    X(GCInitLib, (void))                                                                             \
    X(GCCloseLib, (void))                                                                            \
    X(GCGetInfo, (TL_INFO_CMD, INFO_DATATYPE*, void*, size_t*))                                      \
    X(GCGetLastError, (GC_ERROR*, char*, size_t*))                                                   \
    X(GCReadPort, (PORT_HANDLE, uint64_t, void*, size_t*))                                           \
    X(GCWritePort, (PORT_HANDLE, uint64_t, const void*, size_t*))                                    \
    X(GCGetPortURL, (PORT_HANDLE, char*, size_t*))                                                   \
    X(GCRegisterEvent, (EVENTSRC_HANDLE, EVENT_TYPE, EVENT_HANDLE*))                                 \
    X(GCUnregisterEvent, (EVENTSRC_HANDLE, EVENT_TYPE))                                              \
    X(EventGetData, (EVENT_HANDLE, void*, size_t*, uint64_t))                                        \
    X(EventFlush, (EVENT_HANDLE))                                                                    \
    X(EventKill, (EVENT_HANDLE))                                                                     \
    X(TLOpen, (TL_HANDLE*))                                                                          \
    X(TLClose, (TL_HANDLE))                                                                          \
    X(TLGetNumInterfaces, (TL_HANDLE, uint32_t*))                                                    \
    X(TLGetInterfaceID, (TL_HANDLE, uint32_t, char*, size_t*))                                       \
    X(TLGetInterfaceInfo, (TL_HANDLE, const char*, INTERFACE_INFO_CMD, INFO_DATATYPE*, void*, size_t*)) \
    X(TLOpenInterface, (TL_HANDLE, const char*, IF_HANDLE*))                                         \
    X(TLUpdateInterfaceList, (TL_HANDLE, bool8_t*, uint64_t))                                        \
    X(IFClose, (IF_HANDLE))                                                                          \
    X(IFGetNumDevices, (IF_HANDLE, uint32_t*))                                                       \
    X(IFGetDeviceID, (IF_HANDLE, uint32_t, char*, size_t*))                                          \
    X(IFUpdateDeviceList, (IF_HANDLE, bool8_t*, uint64_t))                                           \
    X(IFGetDeviceInfo, (IF_HANDLE, const char*, DEVICE_INFO_CMD, INFO_DATATYPE*, void*, size_t*))    \
    X(IFOpenDevice, (IF_HANDLE, const char*, DEVICE_ACCESS_FLAGS, DEV_HANDLE*))                      \
    X(DevGetPort, (DEV_HANDLE, PORT_HANDLE*))                                                        \
    X(DevGetNumDataStreams, (DEV_HANDLE, uint32_t*))                                                 \
    X(DevGetDataStreamID, (DEV_HANDLE, uint32_t, char*, size_t*))                                    \
    X(DevOpenDataStream, (DEV_HANDLE, const char*, DS_HANDLE*))                                      \
    X(DevClose, (DEV_HANDLE))                                                                        \
    X(DSAnnounceBuffer, (DS_HANDLE, void*, size_t, void*, BUFFER_HANDLE*))                           \
    X(DSFlushQueue, (DS_HANDLE, ACQ_QUEUE_TYPE))                                                     \
    X(DSStartAcquisition, (DS_HANDLE, ACQ_START_FLAGS, uint64_t))                                    \
    X(DSStopAcquisition, (DS_HANDLE, ACQ_STOP_FLAGS))                                                \
    X(DSGetInfo, (DS_HANDLE, STREAM_INFO_CMD, INFO_DATATYPE*, void*, size_t*))                       \
    X(DSClose, (DS_HANDLE))                                                                          \
    X(DSRevokeBuffer, (DS_HANDLE, BUFFER_HANDLE, void**, void**))                                    \
    X(DSQueueBuffer, (DS_HANDLE, BUFFER_HANDLE))                                                     \
    X(DSGetBufferInfo, (DS_HANDLE, BUFFER_HANDLE, BUFFER_INFO_CMD, INFO_DATATYPE*, void*, size_t*))
// Optional (later GenTL 1.x versions): used when present.
#define KZR_GENTL_OPTIONAL_FUNCTIONS(X)                                                              \
    X(DSGetBufferChunkData, (DS_HANDLE, BUFFER_HANDLE, SINGLE_CHUNK_DATA*, size_t*))                 \
    X(GCGetNumPortURLs, (PORT_HANDLE, uint32_t*))                                                    \
    X(GCGetPortURLInfo, (PORT_HANDLE, uint32_t, URL_INFO_CMD, INFO_DATATYPE*, void*, size_t*))    \
    X(EventGetDataInfo, (EVENT_HANDLE, const void*, size_t, EVENT_DATA_INFO_CMD, INFO_DATATYPE*, void*, size_t*))
// clang-format on

#define KZR_GENTL_TYPEDEF(name, params) using P##name = GC_ERROR(GC_CALLTYPE*) params;
KZR_GENTL_FUNCTIONS(KZR_GENTL_TYPEDEF)
KZR_GENTL_OPTIONAL_FUNCTIONS(KZR_GENTL_TYPEDEF)
#undef KZR_GENTL_TYPEDEF

}  // namespace KZRGENICAM::gentl
