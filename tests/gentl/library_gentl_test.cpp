// The GenTL transport through the camera access library, against the test producer.
#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "../common/LeaksExpected.h"
#include "GenTLFixture.h"
#include "KZREvents.h"

using namespace KZRGENICAM;

namespace {

GenApi::INodeMap* DeviceMap(ICamera& camera) {
    IModule* module = camera.getDeviceModule();
    return module ? module->getNodeMap() : nullptr;
}

/// Sets a feature of the device from its text form.
void Set(ICamera& camera, const char* name, const char* value) {
    GenApi::CValuePtr node(DeviceMap(camera)->GetNode(name));
    node->FromString(value);
}

/// The test producer's audit of this process's streams: closed while acquiring,
/// closed with buffers still announced, buffers announced at the last start, and
/// streams acquiring now.
std::array<int32_t, 4> Audit() {
    std::array<int32_t, 4> out{-1, -1, -1, -1};
    void* cti = dlopen((ProducerDir("producer") + "/KZRTestTL.cti").c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!cti) return out;
    if (auto audit = reinterpret_cast<int32_t (*)(int32_t*)>(dlsym(cti, "KZRTestAudit")))
        audit(out.data());
    dlclose(cti);
    return out;
}

void Trigger(ICamera& camera) {
    GenApi::CCommandPtr(DeviceMap(camera)->GetNode("TriggerSoftware"))->Execute();
}

/// Frames are the pattern (x + y + frame number) mod 256.
bool PatternHolds(const IFrame& frame) {
    const auto* p = static_cast<const uint8_t*>(frame.getImageData());
    const uint64_t id = frame.getFrameId();
    for (int64_t y = 0; y < frame.getHeight(); y += 7)
        for (int64_t x = 0; x < frame.getWidth(); x += 5)
            if (p[y * frame.getWidth() + x] != static_cast<uint8_t>(x + y + id)) return false;
    return true;
}

/// A folder of files that descriptions and producer paths point at, made once.
class CScratch {
public:
    static const std::string& Dir() {
        static CScratch scratch;
        return scratch.m_dir;
    }
    ~CScratch() { std::filesystem::remove_all(m_dir); }

private:
    CScratch() {
        std::string dir = (std::filesystem::temp_directory_path() / "kzrgentl.XXXXXX").string();
        m_dir = mkdtemp(&dir[0]) ? dir : std::string();
        std::filesystem::copy_file(std::string(KZR_TEST_SOURCE_DIR) + "/producer/KZRAreaCamera.xml",
                                   m_dir + "/area camera.xml");
        std::ofstream(m_dir + "/empty.xml").close();
        std::ofstream(m_dir + "/big.xml").close();
        std::filesystem::resize_file(m_dir + "/big.xml", (64u << 20) + 1);  // sparse
        mkfifo((m_dir + "/fifo").c_str(), 0600);
        std::filesystem::create_directory_symlink(ProducerDir("producer"), m_dir + "/alias");
        std::filesystem::create_directory(m_dir + "/linked");
        std::filesystem::create_symlink(ProducerDir("producer") + "/KZRTestTL.cti",
                                        m_dir + "/linked/Other.cti");
    }
    std::string m_dir;
};

std::string Expand(std::string text) {
    const std::pair<const char*, std::string> marks[] = {{"{tmp}", CScratch::Dir()},
                                                         {"{dir}", ProducerDir("producer")},
                                                         {"{build}", KZR_TEST_PRODUCER_DIR}};
    for (const auto& mark : marks)
        for (size_t at; (at = text.find(mark.first)) != std::string::npos;)
            text.replace(at, std::strlen(mark.first), mark.second);
    return text;
}

/// A case of a table: the test starts the library itself; what a row changed is undone.
class GenTLRowTest : public GenTLTest, public testing::WithParamInterface<SRow> {
protected:
    void SetUp() override {}
    void TearDown() override {
        setenv("KZR_GENTL", "on", 1);
        unsetenv("KZR_TL_TEST_URL");
        unsetenv("KZR_TL_TEST_OPEN_ERROR");
        GenTLTest::TearDown();
    }
};
using GenTLListingTest = GenTLRowTest;
using GenTLOpenTest = GenTLRowTest;
using GenTLTeardownTest = GenTLRowTest;

}  // namespace

/// Tests that stream: the producer renders frames in its own thread.
using ThreadsGenTLTest = GenTLTest;

TEST_P(GenTLListingTest, ProducerPathAndFilter) {
    const SRow& c = GetParam();
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(KZR_TEST_PRODUCER_DIR);
    testing::internal::CaptureStderr();
    Start(Expand(c["path"]));
    if (c["path"].empty()) unsetenv("GENICAM_GENTL64_PATH");
    setenv("KZR_GENTL", c["gentl"].c_str(), 1);
    const std::string filter = c["filter"];
    std::string serials, link;
    {
        CListing listing(filter.empty() ? nullptr : filter.c_str());
        std::vector<std::string> found;
        for (auto* r : listing.Records()) found.push_back(r->getSerialNumber());
        std::sort(found.begin(), found.end());
        for (const auto& s : found) serials += (serials.empty() ? "" : " ") + s;
        if (const ICameraInfo* area = listing.Find(kAreaSerial)) link = area->getLinkName();
    }
    const std::string messages = testing::internal::GetCapturedStderr();
    // Said once, not at every listing.
    testing::internal::CaptureStderr();
    CListing again(filter.empty() ? nullptr : filter.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    std::filesystem::current_path(before);
    EXPECT_EQ(serials, c["serials"]);
    EXPECT_TRUE(c["link"].empty() || link == c["link"]) << link;
    EXPECT_NE(messages.find(c["says"]), std::string::npos) << messages;
    // An alias loaded as a second producer would fail its GCInitLib.
    EXPECT_TRUE(c["never"].empty() || messages.find(c["never"]) == std::string::npos) << messages;
    if (filter.empty()) {
        const bool listed = serials.find(kAreaSerial) != std::string::npos;
        EXPECT_EQ(CameraPtr(CreateCameraBySN(kAreaSerial)) != nullptr, listed);
    }
}

INSTANTIATE_TEST_SUITE_P(Listings, GenTLListingTest,
                         testing::ValuesIn(LoadRows("listing_cases.tsv")), RowName);

TEST_F(GenTLTest, RecordsCarryTransportAndNames) {
    CListing all(nullptr);
    const ICameraInfo* area = all.Find(kAreaSerial);
    const ICameraInfo* line = all.Find(kLineSerial);
    ASSERT_NE(area, nullptr);
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(area->getInterfaceType(), TransportGigE);
    EXPECT_EQ(line->getInterfaceType(), TransportCameraLink);
    EXPECT_STREQ(area->getManufacturer(), "KZR Test");
    EXPECT_STREQ(area->getModelName(), "KZR Area GEV");
    EXPECT_STREQ(area->getId(), "KZR-DEV-AREA");
}

TEST_F(GenTLTest, TextsWithoutTerminatorAreCutAtTheBuffer) {
    TearDown();
    testing::internal::CaptureStderr();
    Start(ProducerDir("bad-text"));
    // Every text fills the buffer without a terminator: interface ids come back cut
    // at the buffer's end, the producer does not know them, nothing is listed.
    CListing all(nullptr);
    EXPECT_TRUE(all.Records().empty());
    const std::string messages = testing::internal::GetCapturedStderr();
    const std::string head = "KZRTestTLText.cti: interface ";
    const size_t at = messages.find(head + "KZR-IF-GEVXXX");
    ASSERT_NE(at, std::string::npos) << messages;
    EXPECT_EQ(messages.find(" not opened", at), at + head.size() + 1023);
}

// Values of each type through the plug-in's tests; here what they do not reach.
TEST_F(GenTLTest, NodeMapReadsAndWritesTheRemoteDevice) {
    CameraPtr camera = OpenCamera(kAreaSerial);
    ASSERT_TRUE(camera);
    EXPECT_EQ(camera->getGrabberModule(), nullptr);  // no local description on a GigE camera
    GenApi::INodeMap* map = DeviceMap(*camera);
    ASSERT_NE(map, nullptr);
    EXPECT_ANY_THROW(Set(*camera, "Width", "4096"));  // above the maximum
    GenApi::CRegisterPtr reg(map->GetNode("TestRegister"));
    const uint8_t out[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    uint8_t in[16] = {};
    reg->Set(out, 16);
    reg->Get(in, 16);
    EXPECT_EQ(std::memcmp(in, out, 16), 0);
    // A second open of a device in use is refused with the producer's error (in use).
    CameraPtr again(CreateCameraBySN(kAreaSerial));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->open(1), 1004);
}

TEST_F(ThreadsGenTLTest, FramesFollowTheShapeAndAreQueuedAgainOnRelease) {
    CameraPtr camera = OpenCamera(kAreaSerial);
    ASSERT_TRUE(camera);
    Set(*camera, "Width", "256");
    Set(*camera, "Height", "100");
    ASSERT_EQ(camera->startGrabbing(3, -1), 0);
    EXPECT_EQ(Audit()[2], 3);  // as many buffers announced as asked for
    // Parameters that shape the payload are locked while grabbing.
    EXPECT_ANY_THROW(Set(*camera, "Width", "128"));
    uint64_t last = 0;
    for (int i = 0; i < 10; ++i) {  // more frames than buffers: each release requeues
        IFrame* frame = nullptr;
        ASSERT_EQ(camera->getFrame(&frame, 2000), FrameOk) << i;
        EXPECT_TRUE(frame->isValid());
        EXPECT_EQ(frame->getWidth(), 256);
        EXPECT_EQ(frame->getHeight(), 100);
        EXPECT_EQ(frame->getChannels(), 1);
        EXPECT_EQ(frame->getBitsPerChannel(), 8);
        EXPECT_GT(frame->getFrameId(), last);
        last = frame->getFrameId();
        EXPECT_TRUE(PatternHolds(*frame));
        EXPECT_TRUE(frame->getChunkList().empty());
        frame->release();
    }
    ASSERT_EQ(camera->stopGrabbing(), 0);
    IFrame* frame = nullptr;
    EXPECT_EQ(camera->getFrame(&frame, 100), FrameNotRunning);
    Set(*camera, "Width", "128");  // unlocked again
    Set(*camera, "PixelFormat", "Mono16");
    ASSERT_EQ(camera->startGrabbing(2, 2), 0);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(camera->getFrame(&frame, 2000), FrameOk);
        EXPECT_EQ(frame->getWidth(), 128);
        EXPECT_EQ(frame->getBitsPerChannel(), 16);
        EXPECT_EQ(frame->getPixelFormat(), 0x01100007u);
        frame->release();
        frame = nullptr;
    }
    EXPECT_EQ(camera->getFrame(&frame, 100), FrameNotRunning);  // maxFrames reached
    // Closing a camera that still streams stops the stream, and revokes its buffers
    // before the stream is closed.
    EXPECT_EQ(Audit(), (std::array<int32_t, 4>{0, 0, 2, 1}));
    camera->close();
    EXPECT_EQ(Audit(), (std::array<int32_t, 4>{0, 0, 2, 0}));
}

TEST_F(ThreadsGenTLTest, FrameLimitHoldsForConcurrentCallers) {
    CameraPtr camera = OpenCamera(kAreaSerial);
    ASSERT_TRUE(camera);
    Set(*camera, "Width", "64");
    Set(*camera, "Height", "16");
    // Both callers wait before the first frame exists; then two frames come.
    Set(*camera, "TriggerMode", "On");
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(camera->startGrabbing(4, 1), 0);
        std::atomic<int> delivered{0};
        auto grab = [&] {
            IFrame* frame = nullptr;
            if (camera->getFrame(&frame, 2000) != FrameOk) return;
            ++delivered;
            frame->release();
        };
        std::thread first(grab), second(grab);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        Trigger(*camera);
        Trigger(*camera);
        first.join();
        second.join();
        ASSERT_EQ(delivered.load(), 1) << "round " << round;
        ASSERT_EQ(camera->stopGrabbing(), 0);
    }
}

// A stop that ends a waiting getFrame: through the plug-in's StopAcquire test.
TEST_F(ThreadsGenTLTest, GetFrameCodesTimeoutAndIncomplete) {
    CameraPtr camera = OpenCamera(kAreaSerial);
    ASSERT_TRUE(camera);
    Set(*camera, "TriggerMode", "On");
    Set(*camera, "TestIncompleteFrames", "1");
    ASSERT_EQ(camera->startGrabbing(2, -1), 0);
    IFrame* frame = nullptr;
    EXPECT_EQ(camera->getFrame(&frame, 50), FrameTimeout);
    Trigger(*camera);
    EXPECT_EQ(camera->getFrame(&frame, 2000), FrameIncomplete);
    Trigger(*camera);
    ASSERT_EQ(camera->getFrame(&frame, 2000), FrameOk);
    frame->release();
}

// Chunk data: through the plug-in's GrabImageEx test.
TEST_F(ThreadsGenTLTest, FramesHeldPastStopAndClose) {
    CameraPtr camera = OpenCamera(kAreaSerial);
    ASSERT_TRUE(camera);
    ASSERT_EQ(camera->startGrabbing(4, -1), 0);
    IFrame* first = nullptr;
    IFrame* second = nullptr;
    ASSERT_EQ(camera->getFrame(&first, 2000), FrameOk);
    ASSERT_EQ(camera->getFrame(&second, 2000), FrameOk);
    EXPECT_TRUE(PatternHolds(*second));
    camera->stopGrabbing();
    first->release();
    camera->close();
    EXPECT_TRUE(PatternHolds(*second));  // still lent after close
    second->release();
    // The device was closed by the last frame: it opens again.
    ASSERT_EQ(camera->open(1), 0);
    ASSERT_EQ(camera->startGrabbing(2, -1), 0);
    IFrame* again = nullptr;
    ASSERT_EQ(camera->getFrame(&again, 2000), FrameOk);
    again->release();
}

// A close ends a wait for the camera's next event at once, and gives the event
// registration back: the next open registers again and reads the frames' events.
TEST_F(ThreadsGenTLTest, CloseEndsAnEventWaitAndReopenedCamerasGetEventsAgain) {
    CameraPtr camera = OpenCamera(kAreaSerial);
    ASSERT_TRUE(camera);
    CameraEvent event;
    ASSERT_EQ(NextEvent(camera.get(), event, 0), EventTimeout);  // registers; nothing yet
    std::atomic<int> result{-2};
    const auto start = std::chrono::steady_clock::now();
    std::thread waiter([&] { result = NextEvent(camera.get(), event, 10000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    camera->close();
    waiter.join();
    EXPECT_NE(result.load(), EventReceived);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    ASSERT_EQ(camera->open(1), 0);
    ASSERT_EQ(NextEvent(camera.get(), event, 0), EventTimeout);  // events from here on
    ASSERT_EQ(camera->startGrabbing(2, -1), 0);
    IFrame* frame = nullptr;
    ASSERT_EQ(camera->getFrame(&frame, 2000), FrameOk);
    const uint64_t frameId = frame->getFrameId();
    frame->release();
    ASSERT_EQ(NextEvent(camera.get(), event, 2000), EventReceived);
    EXPECT_EQ(event.id, 0x9001u);
    EXPECT_EQ(event.data, (decltype(event.data){{"EventExposureEndFrameID", std::to_string(frameId)}}));
}

// Its zipped description and its grabber's features: through the plug-in's .cam file test.
TEST_F(GenTLTest, CameraLinkCameraGrabsAndTakesAnySerialPort) {
    CameraPtr camera = OpenCamera(kLineSerial);
    ASSERT_TRUE(camera);
    EXPECT_EQ(camera->setSerialPort("any", "any"), 0);
    ASSERT_EQ(camera->startGrabbing(2, -1), 0);
    IFrame* frame = nullptr;
    ASSERT_EQ(camera->getFrame(&frame, 2000), FrameOk);
    EXPECT_TRUE(PatternHolds(*frame));
    frame->release();
}

TEST_F(ThreadsGenTLTest, HostileProducersDevicesAreRefusedOrFailCleanly) {
    TearDown();
    Start(ProducerDir("bad-hostile"));
    testing::internal::CaptureStderr();
    CameraPtr refused(CreateCameraBySN(kAreaSerial));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->open(1), 1);
    const std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_NE(messages.find("KZRTestTLHostile.cti: device KZR-DEV-AREA refused"), std::string::npos)
        << messages;
    EXPECT_NE(messages.find("Web:"), std::string::npos);
    // The grabber's description comes from a File: URL; buffer facts beyond the
    // buffer make incomplete frames, never reads past it.
    CameraPtr line = OpenCamera(kLineSerial);
    ASSERT_TRUE(line);
    ASSERT_NE(line->getGrabberModule(), nullptr);
    EXPECT_NE(line->getGrabberModule()->getNodeMap()->GetNode("GrabberTimeout"), nullptr);
    ASSERT_EQ(line->startGrabbing(2, -1), 0);
    for (int i = 0; i < 3; ++i) {
        IFrame* frame = nullptr;
        EXPECT_EQ(line->getFrame(&frame, 2000), FrameIncomplete);
        EXPECT_EQ(frame, nullptr);
    }
}

TEST_P(GenTLOpenTest, ProducerAnswerAtOpen) {
    const SRow& c = GetParam();
    Start(ProducerDir("producer"));
    setenv(c["variable"].c_str(), Expand(c["value"]).c_str(), 1);
    testing::internal::CaptureStderr();
    CameraPtr camera(CreateCameraBySN(kAreaSerial));
    ASSERT_TRUE(camera);
    EXPECT_EQ(camera->open(1), std::stoi(c["opens"]));
    const std::string messages = testing::internal::GetCapturedStderr();
    if (c["complaint"].empty()) {
        ASSERT_NE(DeviceMap(*camera), nullptr);
        EXPECT_NE(DeviceMap(*camera)->GetNode("Width"), nullptr);
    } else if (c["complaint"] != "*") {
        const size_t line = messages.find("device KZR-DEV-AREA refused: ");
        EXPECT_NE(line, std::string::npos) << messages;
        EXPECT_NE(messages.find(c["complaint"], line), std::string::npos) << messages;
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, GenTLOpenTest, testing::ValuesIn(LoadRows("open_cases.tsv")),
                         RowName);

// Exit codes 3 and 4 tell a child that found no camera from one that crashed.
TEST_P(GenTLTeardownTest, ProcessExitsCleanlyWithTheProducerLoaded) {
    const SRow& c = GetParam();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            QRV_LEAKS_EXPECTED();  // exits with the camera or stream held on purpose
            Start(ProducerDir(c["folder"].c_str()));
            {
                CListing all(nullptr);
                if (!all.Find(kAreaSerial)) std::_Exit(3);
            }
            if (c["open"] == "yes") {
                CameraPtr camera = OpenCamera(kAreaSerial);
                if (!camera) std::_Exit(4);
                camera.release();
            }
            if (c["uninit"] == "yes") KZRGENICAM::UnInit();
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(Teardown, GenTLTeardownTest,
                         testing::ValuesIn(LoadRows("teardown_cases.tsv")), RowName);
