// Software triggers read from the device map, or from the frame grabber's map
// for Camera Link.
#include "SimScenario.h"

using namespace KZRGENICAM;

namespace {

// Steps, before and after the '|' that starts the stream: d / g execute
// TriggerSoftware on the device / grabber map, + is a grab that returns a frame,
// - one that times out, o switches the trigger off in the map that decides.
struct TriggerCase {
    const char* name;
    const char* mode;  ///< device TriggerMode; nullptr: no trigger nodes at all
    const char* source;
    int lineStartHeight;  ///< > 0: TriggerSelector LineStart and this Height
    bool cameraLink;      ///< the grabber's FrameTrigger nodes, enabled for Software
    const char* steps;
};

void PrintTo(const TriggerCase& c, std::ostream* os) {
    *os << c.steps;
}

class TriggerTest : public SimTest, public ::testing::WithParamInterface<TriggerCase> {};

TEST_P(TriggerTest, FramesFollowTheTriggers) {
    const TriggerCase& c = GetParam();
    auto desc = Cam("T");
    desc.frameRate = 0;  // untriggered frames are ready at once
    desc.buildDevice = [c](GenApi::CMemoryNodeMap& m) {
        if (!c.mode) return;
        m.AddEnumeration("TriggerMode", {{"Off", 0}, {"On", 1}}, c.mode);
        m.AddEnumeration("TriggerSource", {{"Software", 0}, {"Line1", 1}}, c.source);
        m.AddCommand("TriggerSoftware");
        if (c.lineStartHeight == 0) return;
        m.AddEnumeration("TriggerSelector", {{"FrameStart", 0}, {"LineStart", 1}}, "LineStart");
        m.AddInteger("Height", c.lineStartHeight, 1, 100);
    };
    if (c.cameraLink) {
        desc.transport = TransportCameraLink;
        desc.grabberModule = true;
        desc.buildGrabber = [](GenApi::CMemoryNodeMap& m) {
            m.AddEnumeration("FrameTriggerCtrl", {{"Disable", 0}, {"Enable", 1}}, "Enable");
            m.AddEnumeration("FrameTriggerSource", {{"Software", 0}, {"CC1", 1}}, "Software");
            m.AddCommand("TriggerSoftware");
        };
    }
    Use({desc});
    CameraGuard camera(CreateCameraBySN("T"));
    ASSERT_EQ(camera->open(0), 0);
    int step = 0;
    for (const char* s = c.steps; *s; ++s, ++step) {
        IFrame* frame = nullptr;
        if (*s == '|') {
            ASSERT_EQ(camera->startGrabbing(0, -1), 0);
        } else if (*s == 'd' || *s == 'g') {
            IModule* module = *s == 'g' ? camera->getGrabberModule() : camera->getDeviceModule();
            GenApi::CCommandPtr(module->getNodeMap()->GetNode("TriggerSoftware"))->Execute();
        } else if (*s == 'o' && c.cameraLink) {
            KZRSIM::GrabberNodeMap("T")->PokeString("FrameTriggerCtrl", "Disable");
        } else if (*s == 'o') {
            KZRSIM::DeviceNodeMap("T")->PokeString("TriggerMode", "Off");
        } else {
            EXPECT_EQ(camera->getFrame(&frame, 20), *s == '+' ? FrameOk : FrameTimeout)
                << "step " << step << " of " << c.steps;
            if (frame) frame->release();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, TriggerTest,
    ::testing::Values(
        // A trigger before the start is dropped; the mode is read at each call.
        TriggerCase{"DeviceSoftware", "On", "Software", 0, false, "d|-d+-dd++-o+"},
        TriggerCase{"LineStartNeedsHeightExecutions", "On", "Software", 3, false, "|dd-d+-"},
        TriggerCase{"ExternalSourceRunsFree", "On", "Line1", 0, false, "|+"},
        TriggerCase{"NoTriggerNodesRunFree", nullptr, nullptr, 0, false, "|+"},
        // The device says free run; the grabber decides for Camera Link.
        TriggerCase{"CameraLinkReadsTheGrabberMap", "Off", "Software", 0, true, "|-d-g+o+"}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
