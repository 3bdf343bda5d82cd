// Software triggers read from the device map, or from the frame grabber's map
// for Camera Link.
#include <functional>

#include "SimScenario.h"

using namespace KZRGENICAM;

namespace {

void AddDeviceTrigger(GenApi::CMemoryNodeMap& m, const std::string& mode,
                      const std::string& source) {
    m.AddEnumeration("TriggerMode", {{"Off", 0}, {"On", 1}}, mode);
    m.AddEnumeration("TriggerSource", {{"Software", 0}, {"Line1", 1}}, source);
    m.AddCommand("TriggerSoftware");
}

}  // namespace

class TriggerTest : public SimTest {
protected:
    void TearDown() override {
        if (camera) camera->release();
        SimTest::TearDown();
    }
    // beforeStart runs on the opened camera before its stream starts.
    void Start(KZRSIM::CameraSpec desc, const std::function<void()>& beforeStart = {}) {
        desc.frameRate = 0;  // untriggered frames would be ready at once
        Use({desc});
        camera = CreateCameraBySN(desc.serial.c_str());
        ASSERT_EQ(camera->open(0), 0);
        if (beforeStart) beforeStart();
        ASSERT_EQ(camera->startGrabbing(0, -1), 0);
    }
    int Grab(int64_t timeoutMs = 0) {
        IFrame* frame = nullptr;
        int rc = camera->getFrame(&frame, timeoutMs);
        if (frame) frame->release();
        return rc;
    }
    void Execute(GenApi::INodeMap* map) {
        GenApi::CCommandPtr cmd = map->GetNode("TriggerSoftware");
        cmd->Execute();
    }
    ICamera* camera = nullptr;
};

TEST_F(TriggerTest, SoftwareTriggerReleasesOneFramePerExecution) {
    auto desc = Cam("T");
    desc.buildDevice = [](GenApi::CMemoryNodeMap& m) { AddDeviceTrigger(m, "On", "Software"); };
    Start(desc, [this] { Execute(camera->getDeviceModule()->getNodeMap()); });
    GenApi::INodeMap* map = camera->getDeviceModule()->getNodeMap();
    EXPECT_EQ(Grab(30), FrameTimeout) << "a trigger before the start is dropped";
    Execute(map);
    EXPECT_EQ(Grab(), FrameOk);
    EXPECT_EQ(Grab(), FrameTimeout);
    Execute(map);
    Execute(map);
    EXPECT_EQ(Grab(), FrameOk);
    EXPECT_EQ(Grab(), FrameOk);
    EXPECT_EQ(Grab(), FrameTimeout);

    // Trigger mode is read at each call: switching it off frees the stream.
    KZRSIM::DeviceNodeMap("T")->PokeString("TriggerMode", "Off");
    EXPECT_EQ(Grab(), FrameOk);
}

TEST_F(TriggerTest, LineStartNeedsHeightExecutions) {
    auto desc = Cam("L");
    desc.buildDevice = [](GenApi::CMemoryNodeMap& m) {
        AddDeviceTrigger(m, "On", "Software");
        m.AddEnumeration("TriggerSelector", {{"FrameStart", 0}, {"LineStart", 1}}, "LineStart");
        m.AddInteger("Height", 3, 1, 100);
    };
    Start(desc);
    GenApi::INodeMap* map = camera->getDeviceModule()->getNodeMap();
    Execute(map);
    Execute(map);
    EXPECT_EQ(Grab(), FrameTimeout);
    Execute(map);
    EXPECT_EQ(Grab(), FrameOk);
    EXPECT_EQ(Grab(), FrameTimeout);
}

TEST_F(TriggerTest, ExternalSourceOrMissingNodesRunFree) {
    auto line = Cam("X");
    line.buildDevice = [](GenApi::CMemoryNodeMap& m) { AddDeviceTrigger(m, "On", "Line1"); };
    Start(line);
    EXPECT_EQ(Grab(), FrameOk);
    camera->release();
    camera = nullptr;
    Start(Cam("Bare"));
    EXPECT_EQ(Grab(), FrameOk);
}

TEST_F(TriggerTest, CameraLinkReadsTheGrabberMap) {
    auto desc = Cam("CL");
    desc.transport = TransportCameraLink;
    desc.grabberModule = true;
    // The device says free run; the grabber decides for Camera Link.
    desc.buildDevice = [](GenApi::CMemoryNodeMap& m) { AddDeviceTrigger(m, "Off", "Software"); };
    desc.buildGrabber = [](GenApi::CMemoryNodeMap& m) {
        m.AddEnumeration("FrameTriggerCtrl", {{"Disable", 0}, {"Enable", 1}}, "Enable");
        m.AddEnumeration("FrameTriggerSource", {{"Software", 0}, {"CC1", 1}}, "Software");
        m.AddCommand("TriggerSoftware");
    };
    Start(desc);
    GenApi::INodeMap* grabber = camera->getGrabberModule()->getNodeMap();
    EXPECT_EQ(Grab(), FrameTimeout);
    Execute(camera->getDeviceModule()->getNodeMap());
    EXPECT_EQ(Grab(), FrameTimeout);
    Execute(grabber);
    EXPECT_EQ(Grab(), FrameOk);
    KZRSIM::GrabberNodeMap("CL")->PokeString("FrameTriggerCtrl", "Disable");
    EXPECT_EQ(Grab(), FrameOk);
}
