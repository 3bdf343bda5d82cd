// Software triggers read from the device map, or from the frame grabber's map
// for Camera Link.
#include <sstream>

#include "SimScenario.h"
#include "TestData.h"

using namespace KZRGENICAM;

class TriggerTest : public SimTest, public ::testing::WithParamInterface<Row> {};

// Rows of triggers.txt: a camera's trigger nodes => steps and what each grab returns.
TEST_P(TriggerTest, FramesFollowTheTriggers) {
    std::string name, keys;
    std::istringstream row(GetParam().input);
    row >> name;
    std::getline(row, keys);
    UseJson(R"({"serial": "T", "frameRate": 0, )" + keys + "}");
    const std::string& steps = GetParam().expected;
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
        } else if (s == 'o' && camera->getGrabberModule()) {
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
                         [](const auto& p) { return p.param.Name(); });
