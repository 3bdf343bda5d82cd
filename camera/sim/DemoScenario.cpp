// The built-in demo set of the simulated transport (KZR_SIM=demo). Each camera
// stands for a kind of device the plug-in must handle: legacy feature names, a
// line-scan camera triggered per line, chunk data, 16-bit pixels and Camera Link
// behind a frame grabber (port chosen by serial number, or by link name).
// examples/demo-scenario.json holds the same set as data; a unit test keeps the
// two in step, so change both together.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "KZRSim.h"

namespace KZRSIM {
namespace {

using GenApi::CMemoryNodeMap;
using GenApi::ECommandCompletion;
using GenApi::RO;

// PFNC pixel format codes.
constexpr int64_t kMono8 = 0x01080001;
constexpr int64_t kMono10 = 0x01100003;
constexpr int64_t kMono12 = 0x01100005;
constexpr int64_t kMono16 = 0x01100007;
constexpr int64_t kRGB8 = 0x02180014;
constexpr int64_t kBGR8 = 0x02180015;

void AddIdentity(CMemoryNodeMap& map, const std::string& model) {
    map.AddString("DeviceVendorName", "KZR Sim").Access(RO);
    map.AddString("DeviceModelName", model).Access(RO);
}

// TriggerMode (Off/On), TriggerSource (Software first) and TriggerSoftware.
void AddTrigger(CMemoryNodeMap& map, const std::string& mode,
                const std::vector<std::pair<std::string, int64_t>>& sources) {
    map.AddEnumeration("TriggerMode", {{"Off", 0}, {"On", 1}}, mode);
    map.AddEnumeration("TriggerSource", sources, "Software");
    map.AddCommand("TriggerSoftware");
}

// (a) GigE area-scan camera with the legacy names ExposureTimeAbs, GainRaw and
// AcquisitionFrameRateAbs, so the plug-in must fall back from the standard names.
void BuildAreaDevice(CMemoryNodeMap& map) {
    map.AddCategory("Root", {"DeviceVendorName", "DeviceModelName", "DeviceSerialNumber",
                             "DeviceUserID", "Width", "Height", "PixelFormat", "ExposureTimeAbs",
                             "GainRaw", "AcquisitionFrameRateAbs", "TriggerMode", "TriggerSource",
                             "TriggerSoftware", "TestRegister", "ReverseX"});
    AddIdentity(map, "SimArea640");
    map.AddString("DeviceSerialNumber", "SIM-AREA-001").Access(RO);
    map.AddString("DeviceUserID", "", 16);
    map.AddInteger("Width", 640, 16, 640, 16).Access(RO);
    map.AddInteger("Height", 480, 16, 480, 16).Access(RO);
    map.AddEnumeration(
        "PixelFormat",
        {{"Mono8", kMono8}, {"Mono10", kMono10}, {"Mono12", kMono12}, {"Mono16", kMono16}},
        "Mono8");
    map.AddFloat("ExposureTimeAbs", 10000.0, 20.0, 1000000.0)
        .Text({"Exposure Time", "Time the sensor is exposed for each frame.", "", "us"});
    map.AddInteger("GainRaw", 100, 0, 1023)
        .Text({"Gain (raw)", "Analog gain in the sensor's own steps.", "", "", GenApi::Expert});
    map.AddFloat("AcquisitionFrameRateAbs", 30.0, 1.0, 30.0)
        .Text({"Frame Rate", "Frames per second in free run.", "", "Hz"});
    AddTrigger(map, "Off", {{"Software", 0}, {"Line0", 1}});
    map.AddIntRegister("TestRegister", 0x12345678, 0, 0xFFFFFFFF, 4, 0x1000);
    map.AddBoolean("ReverseX", false);
    // Present in the map but not features: name lookups must not take them.
    map.AddInteger("TLParamsLocked", 0, 0, 1).Feature(false);
    map.AddPort("Device", 0x10000).Feature(false);
}

// (b) USB3 line-scan camera, software-triggered once per line (TriggerSelector at
// LineStart, Height lines per frame).
void BuildLineDevice(CMemoryNodeMap& map) {
    map.AddCategory("Root", {"DeviceVendorName", "DeviceModelName", "DeviceUserID", "Width",
                             "Height", "PixelFormat", "ExposureTime", "Gain", "AcquisitionLineRate",
                             "TriggerSelector", "TriggerMode", "TriggerSource", "TriggerSoftware"});
    AddIdentity(map, "SimLine2048");
    map.AddString("DeviceUserID", "", 16);
    map.AddInteger("Width", 2048, 64, 2048, 64).Access(RO);
    map.AddInteger("Height", 64, 1, 1024);
    map.AddEnumeration("PixelFormat", {{"Mono8", kMono8}, {"Mono12", kMono12}}, "Mono8");
    map.AddFloat("ExposureTime", 50.0, 5.0, 10000.0);
    map.AddFloat("Gain", 0.0, 0.0, 24.0, {true, GenApi::fixedIncrement, 0.1});
    map.AddFloat("AcquisitionLineRate", 5000.0, 100.0, 20000.0);
    map.AddEnumeration("TriggerSelector", {{"FrameStart", 0}, {"LineStart", 1}}, "LineStart");
    AddTrigger(map, "On", {{"Software", 0}, {"Line0", 1}, {"Encoder0", 2}});
}

// (c) GenTL camera that appends three chunk blocks to every frame: the timestamp
// (chunk id 1), the frame id (2) and the exposure time (3), each read by its
// chunk feature.
void BuildChunkDevice(CMemoryNodeMap& map) {
    map.AddCategory("Root", {"DeviceVendorName", "DeviceModelName", "Width", "Height",
                             "PixelFormat", "ExposureTime", "TriggerMode", "TriggerSource",
                             "TriggerSoftware", "ChunkModeActive", "ChunkSelector", "ChunkEnable",
                             "ChunkTimestamp", "ChunkFrameID", "ChunkExposureTime"});
    AddIdentity(map, "SimChunk320");
    map.AddInteger("Width", 320, 320, 320).Access(RO);
    map.AddInteger("Height", 240, 240, 240).Access(RO);
    map.AddEnumeration("PixelFormat", {{"RGB8", kRGB8}, {"BGR8", kBGR8}, {"Mono8", kMono8}},
                       "RGB8");
    map.AddFloat("ExposureTime", 5000.0, 10.0, 100000.0);
    AddTrigger(map, "Off", {{"Software", 0}, {"Line0", 1}});
    map.AddBoolean("ChunkModeActive", true);
    map.AddEnumeration("ChunkSelector", {{"Timestamp", 0}, {"FrameID", 1}, {"ExposureTime", 2}},
                       "Timestamp");
    map.AddBoolean("ChunkEnable", true);
    constexpr int64_t kMax = INT64_MAX;
    map.AddInteger("ChunkTimestamp", 0, 0, kMax).Chunk(1, 0, 8);
    map.AddInteger("ChunkFrameID", 0, 0, kMax).Chunk(2, 0, 8);
    map.AddFloat("ChunkExposureTime", 0.0, 0.0, 1e9).Chunk(3, 0, 8);
}

// (d) GigE camera with 16-bit pixels.
void BuildMono16Device(CMemoryNodeMap& map) {
    map.AddCategory("Root", {"DeviceVendorName", "DeviceModelName", "Width", "Height",
                             "PixelFormat", "ExposureTime", "Gain", "TriggerMode", "TriggerSource",
                             "TriggerSoftware", "DeviceTemperature"});
    AddIdentity(map, "SimMono16");
    map.AddInteger("Width", 256, 256, 256).Access(RO);
    map.AddInteger("Height", 256, 256, 256).Access(RO);
    map.AddEnumeration("PixelFormat", {{"Mono8", kMono8}, {"Mono16", kMono16}}, "Mono16");
    map.AddFloat("ExposureTime", 20000.0, 100.0, 500000.0);
    map.AddFloat("Gain", 1.0, 1.0, 16.0);
    AddTrigger(map, "Off", {{"Software", 0}, {"Line0", 1}});
    map.AddFloat("DeviceTemperature", 42.5, -40.0, 125.0).Access(RO);
}

// Camera Link cameras: the device itself is reached through the grabber, which
// holds the settings a .cam file writes (examples/sim-cl-camera.cam) and the
// frame trigger.
void BuildClDevice(CMemoryNodeMap& map, const std::string& model) {
    map.AddCategory("Root", {"DeviceVendorName", "DeviceModelName"});
    AddIdentity(map, model);
}

void BuildClGrabber(CMemoryNodeMap& map) {
    map.AddCategory(
        "Root", {"Width", "Height", "PixelFormat", "TapGeometry", "ExposureTime", "StrobeEnable",
                 "FrameTriggerCtrl", "FrameTriggerSource", "TriggerSoftware", "CamFileName"});
    map.AddInteger("Width", 1024, 64, 4096, 8);
    map.AddInteger("Height", 768, 1, 4096);
    map.AddEnumeration("PixelFormat", {{"Mono8", kMono8}, {"Mono10", kMono10}, {"Mono12", kMono12}},
                       "Mono8");
    map.AddEnumeration("TapGeometry",
                       {{"Geometry_1X_1Y", 0}, {"Geometry_1X2_1Y", 1}, {"Geometry_2X_1Y", 2}},
                       "Geometry_1X_1Y");
    map.AddFloat("ExposureTime", 1000.0, 1.0, 100000.0);
    map.AddBoolean("StrobeEnable", false);
    map.AddEnumeration("FrameTriggerCtrl", {{"Disable", 0}, {"Enable", 1}}, "Disable");
    map.AddEnumeration("FrameTriggerSource", {{"Software", 0}, {"CC1", 1}}, "Software");
    map.AddCommand("TriggerSoftware", ECommandCompletion::Immediate);
    // A string: .cam files cannot write it.
    map.AddString("CamFileName", "", 128);
}

CameraSpec Camera(const std::string& serial, const std::string& model, int transport,
                  const std::string& link) {
    CameraSpec cam;
    cam.serial = serial;
    cam.model = model;
    cam.transport = transport;
    cam.link = link;
    return cam;
}

}  // namespace

KZR_API Scenario DemoScenario() {
    Scenario s;

    CameraSpec area =
        Camera("SIM-AREA-001", "SimArea640", KZRGENICAM::TransportGigE, "192.168.10.21");
    area.width = 640;
    area.height = 480;
    area.frameRate = 30.0;
    area.buildDevice = BuildAreaDevice;
    s.cameras.push_back(std::move(area));

    CameraSpec line = Camera("SIM-LINE-002", "SimLine2048", KZRGENICAM::TransportUSB3, "usb3:2-1");
    line.width = 2048;
    line.height = 64;
    line.frameRate = 10.0;
    line.buildDevice = BuildLineDevice;
    s.cameras.push_back(std::move(line));

    CameraSpec chunk =
        Camera("SIM-CHUNK-003", "SimChunk320", KZRGENICAM::TransportGenTL, "gentl:SimProducer/0");
    chunk.pixelFormat = "RGB8";
    chunk.width = 320;
    chunk.height = 240;
    chunk.frameRate = 20.0;
    // 8 + 16 + 40 bytes, each value in its block's first 8 bytes.
    chunk.chunks = {std::vector<uint8_t>(8, 0), std::vector<uint8_t>(16, 0),
                    std::vector<uint8_t>(40, 0xA5)};
    chunk.chunkIds = {1, 2, 3};
    chunk.chunkValues = {{0, 0, "Timestamp"}, {1, 0, "FrameID"}, {2, 0, "ExposureTime"}};
    chunk.buildDevice = BuildChunkDevice;
    s.cameras.push_back(std::move(chunk));

    CameraSpec mono16 =
        Camera("SIM-M16-004", "SimMono16", KZRGENICAM::TransportGigE, "192.168.10.24");
    mono16.pixelFormat = "Mono16";
    mono16.width = 256;
    mono16.height = 256;
    mono16.frameRate = 15.0;
    mono16.buildDevice = BuildMono16Device;
    s.cameras.push_back(std::move(mono16));

    // Its serial contains "KZRCL", so its last three characters pick the port
    // (P01); the link name carries the same key at characters 30..32.
    CameraSpec cl = Camera("SIM-KZRCL-P01", "SimCL-Base", KZRGENICAM::TransportCameraLink,
                           "KZRSIM_GRABBER_CARD0_CHANNEL0_P01");
    cl.width = 1024;
    cl.height = 768;
    cl.frameRate = 25.0;
    cl.grabberModule = true;
    cl.buildDevice = [](CMemoryNodeMap& map) { BuildClDevice(map, "SimCL-Base"); };
    cl.buildGrabber = BuildClGrabber;
    s.cameras.push_back(std::move(cl));

    // No "KZRCL" in the serial: the port key comes from the link name (P02).
    CameraSpec clLink = Camera("SIM-CL-005", "SimCL-Link", KZRGENICAM::TransportCameraLink,
                               "KZRSIM_GRABBER_CARD0_CHANNEL1_P02");
    clLink.width = 640;
    clLink.height = 480;
    clLink.frameRate = 25.0;
    clLink.grabberModule = true;
    clLink.buildDevice = [](CMemoryNodeMap& map) { BuildClDevice(map, "SimCL-Link"); };
    clLink.buildGrabber = BuildClGrabber;
    s.cameras.push_back(std::move(clLink));

    s.clSerials = {"ZOZIR_COM_P00", "ZOZIR_COM_P01", "COM_P01", "ZOZIR_COM_P02"};
    s.clProtocols = {"BaseProtocol", "ZOZIR_ProtoA", "ZOZIR_ProtoB"};
    return s;
}

}  // namespace KZRSIM
