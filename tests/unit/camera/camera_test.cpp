// Camera objects: open/close state, modules and node maps, injected faults.
#include <stdexcept>

#include "SimScenario.h"
#include "TestData.h"

using namespace KZRGENICAM;

class CameraTest : public SimTest {};

TEST_F(CameraTest, OpenCloseConnectionAndRelease) {
    UseJson(R"({"serial": "A"}, {"serial": "OFF", "connected": false},
        {"serial": "ERR", "openError": 7})");

    CameraGuard a(CreateCameraBySN("A"));
    EXPECT_FALSE(a->isOpen());
    EXPECT_FALSE(a->isConnected());
    EXPECT_EQ(a->open(0), 0);
    EXPECT_EQ(a->open(0), 0);
    EXPECT_TRUE(a->isOpen());
    EXPECT_TRUE(a->isConnected());
    EXPECT_EQ(a->close(), 0);
    EXPECT_FALSE(a->isOpen());
    EXPECT_EQ(KZRSIM::Counters("A").open, 2);
    EXPECT_EQ(KZRSIM::Counters("A").close, 1);

    CameraGuard off(CreateCameraBySN("OFF"));
    ASSERT_EQ(off->open(0), 0);
    EXPECT_FALSE(off->isConnected());

    CameraGuard err(CreateCameraBySN("ERR"));
    EXPECT_EQ(err->open(0), 7);
    EXPECT_FALSE(err->isOpen());

    // Releasing a camera that acquires closes it without counting a close.
    ICamera* started = CreateCameraBySN("A");
    ASSERT_EQ(started->open(0), 0);
    ASSERT_EQ(started->startGrabbing(0, -1), 0);
    const int outBefore = KZRSIM::Library().camerasOut;
    started->release();
    EXPECT_EQ(KZRSIM::Counters("A").release, 1);
    EXPECT_EQ(KZRSIM::Counters("A").close, 1);
    EXPECT_EQ(KZRSIM::Library().camerasOut, outBefore - 1);
}

TEST_F(CameraTest, ModulesFollowTheCameraDescription) {
    UseJson(R"({"serial": "F", "transport": 4, "grabberModule": true,
        "device": {"nodes": [{"name": "Width", "type": "Integer", "value": 64, "max": 4096}]},
        "grabber": {"nodes": [{"name": "Port", "type": "String", "value": "p0"}]}},
        {"serial": "B", "deviceNodeMap": false}, {"serial": "N", "deviceModule": false})");

    CameraGuard f(CreateCameraBySN("F"));
    ASSERT_NE(f->getDeviceModule(), nullptr);
    ASSERT_NE(f->getGrabberModule(), nullptr);
    GenApi::INodeMap* device = f->getDeviceModule()->getNodeMap();
    EXPECT_EQ(device, KZRSIM::DeviceNodeMap("F"));
    EXPECT_EQ(f->getGrabberModule()->getNodeMap(), KZRSIM::GrabberNodeMap("F"));
    GenApi::CIntegerPtr width = device->GetNode("Width");
    ASSERT_TRUE(width.IsValid());
    width->SetValue(128);

    // The map persists across camera objects: settings survive a reopen.
    CameraGuard again(CreateCameraBySN("F"));
    GenApi::CIntegerPtr width2 = again->getDeviceModule()->getNodeMap()->GetNode("Width");
    EXPECT_EQ(width2->GetValue(), 128);

    CameraGuard b(CreateCameraBySN("B"));
    ASSERT_NE(b->getDeviceModule(), nullptr);
    EXPECT_EQ(b->getDeviceModule()->getNodeMap(), nullptr);
    EXPECT_EQ(b->getGrabberModule(), nullptr);
    CameraGuard n(CreateCameraBySN("N"));
    EXPECT_EQ(n->getDeviceModule(), nullptr);
    EXPECT_EQ(KZRSIM::DeviceNodeMap("N"), nullptr);
}

class CameraFaultTest : public SimTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(CameraFaultTest, NamedOperationRaisesEachKind) {
    const std::string op = GetParam();
    auto call = [&](ICamera* c) {
        IFrame* frame = nullptr;
        if (op == "open") c->open(0);
        if (op == "close") c->close();
        if (op == "isOpen") c->isOpen();
        if (op == "isConnected") c->isConnected();
        if (op == "startGrabbing") c->startGrabbing(0, -1);
        if (op == "stopGrabbing") c->stopGrabbing();
        if (op == "getFrame") c->getFrame(&frame, 0);
        if (op == "getInfo") c->getInfo();
        if (op == "getDeviceModule") c->getDeviceModule();
        if (op == "getGrabberModule") c->getGrabberModule();
        if (op == "setSerialPort") c->setSerialPort("p", "q");
    };
    UseJson(R"({"serial": "G", "faults": {")" + op + R"(": "genicam"}},
        {"serial": "S", "faults": {")" +
            op + R"(": "std"}}, {"serial": "OK"})");

    CameraGuard g(CreateCameraBySN("G"));
    CameraGuard s(CreateCameraBySN("S"));
    CameraGuard ok(CreateCameraBySN("OK"));
    EXPECT_THROW(call(g.camera), GenICam::RuntimeException);
    // GenICam exceptions are not std::runtime_error, so this tells the kinds apart.
    EXPECT_THROW(call(s.camera), std::runtime_error);
    EXPECT_NO_THROW(call(ok.camera));
}

INSTANTIATE_TEST_SUITE_P(Operations, CameraFaultTest,
                         ::testing::Values("open", "close", "isOpen", "isConnected",
                                           "startGrabbing", "stopGrabbing", "getFrame", "getInfo",
                                           "getDeviceModule", "getGrabberModule", "setSerialPort"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                             return std::string(param.param);
                         });
