// Software triggers read from the device map, or from the frame grabber's map
// for Camera Link.
#include <sstream>

#include "SimScenario.h"
#include "TestData.h"

using namespace KZRGENICAM;

class TriggerTest : public SimTest, public ::testing::WithParamInterface<Row> {};

// Rows of triggers.txt: a camera's trigger nodes => steps and what each grab returns.
TEST_P(TriggerTest, FramesFollowTheTriggers) {
    std::string name, mode, source;
    int lineStartHeight = 0, cameraLink = 0;
    std::istringstream(GetParam().first) >> name >> mode >> source >> lineStartHeight >> cameraLink;
    const std::string& steps = GetParam().second;
    auto desc = Cam("T");
    desc.frameRate = 0;  // untriggered frames are ready at once
    desc.buildDevice = [=](GenApi::CMemoryNodeMap& m) {
        if (mode == "-") return;
        m.AddEnumeration("TriggerMode", {{"Off", 0}, {"On", 1}}, mode);
        m.AddEnumeration("TriggerSource", {{"Software", 0}, {"Line1", 1}}, source);
        m.AddCommand("TriggerSoftware");
        if (lineStartHeight == 0) return;
        m.AddEnumeration("TriggerSelector", {{"FrameStart", 0}, {"LineStart", 1}}, "LineStart");
        m.AddInteger("Height", lineStartHeight, 1, 100);
    };
    if (cameraLink) {
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
    for (size_t step = 0; step < steps.size(); ++step) {
        const char s = steps[step];
        IFrame* frame = nullptr;
        if (s == '|') {
            ASSERT_EQ(camera->startGrabbing(0, -1), 0);
        } else if (s == 'd' || s == 'g') {
            IModule* module = s == 'g' ? camera->getGrabberModule() : camera->getDeviceModule();
            GenApi::CCommandPtr(module->getNodeMap()->GetNode("TriggerSoftware"))->Execute();
        } else if (s == 'o' && cameraLink) {
            KZRSIM::GrabberNodeMap("T")->PokeString("FrameTriggerCtrl", "Disable");
        } else if (s == 'o') {
            KZRSIM::DeviceNodeMap("T")->PokeString("TriggerMode", "Off");
        } else {
            EXPECT_EQ(camera->getFrame(&frame, 20), s == '+' ? FrameOk : FrameTimeout)
                << "step " << step << " of " << steps;
            if (frame) frame->release();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, TriggerTest, ::testing::ValuesIn(Rows("triggers.txt")),
                         [](const auto& p) {
                             return p.param.first.substr(0, p.param.first.find(' '));
                         });
