// Control API of the simulated transport of the camera access library. Tests and
// demos describe cameras here (or in a JSON scenario file, see
// docs/simulated-cameras.md) and read what the library was asked to do.
//
// The simulated transport is always registered. It finds nothing until a
// scenario is set: by SetScenario / LoadScenario* here, or at Init from the
// environment variable KZR_SIM (a scenario file path, or "demo").
// Every function here is thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "KZREvents.h"
#include "KZRGeniCam.h"
#include "MemoryNodeMap.h"

namespace KZRSIM {

/// Operations of the simulated objects into which an exception can be injected.
/// Keys in CameraSpec::faults: "open", "close", "isOpen", "isConnected",
/// "startGrabbing", "stopGrabbing", "getFrame", "getInfo", "getDeviceModule",
/// "getGrabberModule", "setSerialPort", "getInterfaceType", "getSerialNumber".
/// Value: "genicam" (GenICam RuntimeException) or "std" (std::runtime_error).
using FaultMap = std::map<std::string, std::string>;

/// One scripted result of getFrame, consumed in order before normal behaviour
/// resumes.
struct FrameStep {
    int code = 0;       ///< 0 deliver a frame, else return this code
    int delayMs = 0;    ///< wait this long first (stopGrabbing cuts it short: -12)
    bool valid = true;  ///< with code 0: the frame's isValid answer
    int width = -1;     ///< with code 0: override the layout (-1 keeps the camera's)
    int height = -1;
    int channels = -1;
    int bits = -1;
    bool hasChunks = false;  ///< with code 0: use chunks below instead of the camera's
    std::vector<std::vector<uint8_t>> chunks;
    std::string fault;  ///< "genicam" or "std": getFrame raises instead
    /// With code 0: frames the camera lost before this one (their ids are skipped).
    int lost = 0;
    /// Sent when the frame is delivered (timestamp: ns since the stream started).
    std::vector<KZRGENICAM::CameraEvent> events;
};

/// A value the simulator writes into a chunk block of every frame, 8 bytes
/// little-endian at offset: "FrameID" (the frame's id), "Timestamp" (nanoseconds
/// since startGrabbing), or the name of a device feature (a float as an IEEE
/// double, anything else as a 64-bit integer).
struct ChunkValue {
    std::size_t block = 0;  ///< index into CameraSpec::chunks
    std::size_t offset = 0;
    std::string source;
};

struct CameraSpec {
    // Discovery record
    bool nullRecord = false;  ///< Discovery returns a null pointer in this place
    std::string serial;
    std::string vendor = "KZR Sim";
    std::string model = "SimCam";
    std::string id;    ///< empty: "DEV-" + serial
    std::string link;  ///< link name text
    int transport = KZRGENICAM::TransportGigE;
    bool listed = true;  ///< appears in Discovery at all
    /// Appears for the Camera Link filter "CLTLKZR.cti"; default: transport == 4.
    int inClFilter = -1;  ///< -1 default, 0 no, 1 yes

    // Camera object
    bool creatable = true;  ///< CreateCameraBySN finds it
    int openError = 0;      ///< open() returns this (0 success)
    bool connected = true;  ///< isConnected answer while open
    bool deviceModule = true;
    bool deviceNodeMap = true;
    bool grabberModule = false;
    bool grabberNodeMap = true;
    FaultMap faults;
    /// Fill the device / grabber node maps. Called once when the scenario is set;
    /// the maps then persist (settings survive close and reopen).
    std::function<void(GenApi::CMemoryNodeMap&)> buildDevice;
    std::function<void(GenApi::CMemoryNodeMap&)> buildGrabber;

    // Acquisition
    int startError = 0;  ///< startGrabbing returns this
    int stopError = 0;   ///< stopGrabbing returns this and the stream keeps running
    std::string pixelFormat =
        "Mono8";  ///< Mono8, Mono16, RGB8, BayerRG8, BayerGB8, BayerGR8, BayerBG8
    int width = 64;
    int height = 48;
    double frameRate = 30.0;  ///< free run; 0 or less: a frame is always ready
    bool validFrames = true;
    std::vector<std::vector<uint8_t>> chunks;  ///< appended to every frame
    /// Chunk ids of the blocks above, by position; a block beyond the list has id 0.
    /// Ids reach the device map's chunk features (CMemNodeRef::Chunk) per frame.
    std::vector<uint64_t> chunkIds;
    std::vector<ChunkValue> chunkValues;
    std::vector<FrameStep> script;
};

struct Scenario {
    std::vector<CameraSpec> cameras;
    std::vector<std::string> clSerials;
    std::vector<std::string> clProtocols;
};

/// Replaces the active scenario (node maps are built anew). Objects handed out
/// under the old scenario stay valid until released.
KZR_API void SetScenario(const Scenario& scenario);
/// Parses a JSON scenario without activating it; throws std::runtime_error naming
/// the source and the line and column of a malformed document or a bad value.
KZR_API Scenario ParseScenarioJson(const std::string& json,
                                   const std::string& sourceName = "<json>");
/// Reads a JSON scenario and activates it; throws std::runtime_error naming the file (or source)
/// and the line and column of a malformed document or a bad value.
KZR_API void LoadScenarioFile(const std::string& path);
KZR_API void LoadScenarioJson(const std::string& json, const std::string& sourceName = "<json>");
/// The built-in demo set.
KZR_API Scenario DemoScenario();
/// No scenario: the transport finds nothing. Counters are cleared.
KZR_API void Reset();

/// The persistent node maps of a scenario camera (null when it has none).
KZR_API GenApi::CMemoryNodeMap* DeviceNodeMap(const std::string& serial);
KZR_API GenApi::CMemoryNodeMap* GrabberNodeMap(const std::string& serial);

/// The per-call argument logs below keep the last kCallLogDepth entries, oldest
/// first; the counters beside them count every call. A host may grab from
/// simulated cameras for days without the logs growing.
constexpr std::size_t kCallLogDepth = 64;

struct CameraCounters {
    int create = 0;  ///< CreateCameraBySN returned an object for it
    int open = 0;
    int close = 0;
    int release = 0;
    int startGrabbing = 0;
    std::vector<std::pair<int, int>> startArgs;  ///< bufferCount, maxFrames; last kCallLogDepth
    int stopGrabbing = 0;
    int setSerialPort = 0;
    /// protocol, port; last kCallLogDepth
    std::vector<std::pair<std::string, std::string>> serialPortArgs;
    int getFrame = 0;
    std::vector<int64_t> getFrameTimeouts;  ///< last kCallLogDepth
    int framesDelivered = 0;
    int framesOut = 0;  ///< delivered and not yet released
};

struct LibraryCounters {
    int init = 0;
    int uninit = 0;
    int discovery = 0;
    /// "(null)" for a null filter; last kCallLogDepth
    std::vector<std::string> discoveryFilters;
    int recordsOut = 0;      ///< discovery records handed out and not yet released
    int camerasOut = 0;      ///< camera objects created and not yet released
    int framesOut = 0;       ///< frames handed out and not yet released, all cameras
    int doubleReleases = 0;  ///< release() called on an object already given back
};

KZR_API CameraCounters Counters(const std::string& serial);
KZR_API LibraryCounters Library();
KZR_API void ResetCounters();

/// Pixel value of the test pattern: byte offset `offset` of the image data of the
/// frame with id frameId (frames count from 1 per startGrabbing) for the camera's
/// layout. The first 8 bytes of every frame hold frameId little-endian; the rest is
/// a diagonal ramp that shifts with the frame id. With phase = (frameId - 1) % 4,
/// sample (x, y, channel c) is (x + 2*y + 50*c + 16*phase) & 0xFF for 8-bit formats
/// and (64*x + 16*y + 4096*c + 1024*phase) & 0xFFFF, little-endian, for Mono16.
/// Offsets past the image give 0.
KZR_API uint8_t PatternByte(const CameraSpec& camera, uint64_t frameId, uint64_t offset);

}  // namespace KZRSIM
