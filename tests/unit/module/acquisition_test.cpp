// Acquisition of CGenICamCamera on simulated cameras: start and stop, trigger
// handling, the two grabs' result codes, chunk data and the frame lock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "KZRSim.h"
#include "MemoryNodeMap.h"
#include "QRVAcqGenIcam.h"
#include "SimFixture.h"
#include "log/ErrorLog.h"
#include "platform/Platform.h"
#include "session/GenICamCamera.h"

namespace {

using Clock = std::chrono::steady_clock;
using GenApi::ECommandCompletion;

constexpr char kSerial[] = "ACQ-0001";
constexpr int kWait = 1000;  // grab time-out for frames that are ready at once

/// Trigger-related nodes of a device node map.
struct STriggerNodes {
    std::string mode = "On";  ///< empty: no TriggerMode node
    std::string source = "Software";
    std::string selector;  ///< empty: no TriggerSelector node
    int64_t height = -1;   ///< negative: no Height node
    ECommandCompletion completion = ECommandCompletion::Immediate;
    int64_t completionParam = 0;
};

std::function<void(GenApi::CMemoryNodeMap&)> Build(const STriggerNodes& t) {
    return [t](GenApi::CMemoryNodeMap& map) {
        if (!t.mode.empty()) map.AddEnumeration("TriggerMode", {{"Off", 0}, {"On", 1}}, t.mode);
        map.AddEnumeration("TriggerSource", {{"Software", 0}, {"Line0", 1}}, t.source);
        if (!t.selector.empty()) {
            map.AddEnumeration("TriggerSelector", {{"FrameStart", 0}, {"LineStart", 1}},
                               t.selector);
        }
        if (t.height >= 0) map.AddInteger("Height", t.height, 0, INT64_MAX);
        map.AddCommand("TriggerSoftware", t.completion, t.completionParam);
    };
}

std::vector<KZRSIM::FrameStep> Frames(std::size_t count) {
    return std::vector<KZRSIM::FrameStep>(count);
}

/// True when another thread can take the lock at once.
bool FreeForOtherThreads(qrv::platform::FrameMutex& mutex) {
    bool taken = false;
    std::thread probe([&] {
        taken = mutex.try_lock();
        if (taken) mutex.unlock();
    });
    probe.join();
    return taken;
}

/// Every test starts from an empty transport, with the log captured and the
/// platform hooks in their normal state, and ends with nothing left out.
class AcqFixture : public qrvtest::SimFixture {
protected:
    void TearDown() override {
        m_session.reset();
        qrv::platform::SetTickSourceForTesting({});
        qrv::platform::SetDebugOutputListener({});
        ExpectNothingOut();
        EXPECT_EQ(KZRSIM::Library().camerasOut, 0);
        SimFixture::TearDown();
    }

    static KZRSIM::CameraSpec Cam() { return qrvtest::Camera(kSerial); }
    /// A camera with trigger nodes and a script of ready frames.
    static KZRSIM::CameraSpec TriggerCam(const STriggerNodes& nodes, std::size_t frames = 0) {
        KZRSIM::CameraSpec desc = Cam();
        desc.buildDevice = Build(nodes);
        desc.script = Frames(frames);
        return desc;
    }

    static void Use(const KZRSIM::CameraSpec& desc) { SimFixture::Use({desc}); }

    void OpenSession(const KZRSIM::CameraSpec& desc, const std::string& configPath = "") {
        Use(desc);
        m_session = std::make_unique<CGenICamCamera>();
        ASSERT_EQ(m_session->Open(QRVString(kSerial), QRVString(configPath.c_str())), 0);
    }

    void OpenAndStart(const KZRSIM::CameraSpec& desc) {
        ASSERT_NO_FATAL_FAILURE(OpenSession(desc));
        ASSERT_EQ(m_session->StartAcquire(0, 0), 0);
    }

    static GenApi::CMemoryNodeMap& Device() { return *KZRSIM::DeviceNodeMap(kSerial); }
    static int64_t Executions() { return Device().ExecuteCount("TriggerSoftware"); }
    static KZRSIM::CameraCounters Counters() { return KZRSIM::Counters(kSerial); }

    static void ExpectNothingOut() {
        const KZRSIM::LibraryCounters lib = KZRSIM::Library();
        EXPECT_EQ(lib.framesOut, 0);
        EXPECT_EQ(lib.doubleReleases, 0);
    }

    std::unique_ptr<CGenICamCamera> m_session;
};

// ---------------------------------------------------------------------------
// Start and stop

using AcqStartStop = AcqFixture;

TEST_F(AcqStartStop, CameraIsAskedOncePerChangeOfState) {
    ASSERT_NO_FATAL_FAILURE(OpenSession(Cam()));
    // Idle: the stop only raises the abort flag.
    EXPECT_EQ(m_session->StopAcquire(), 0);
    EXPECT_EQ(Counters().stopGrabbing, 0);
    EXPECT_TRUE(m_session->AbortRaised());
    // A second start is ignored with its arguments.
    EXPECT_EQ(m_session->StartAcquire(7, 3), 0);
    EXPECT_EQ(m_session->StartAcquire(9, 9), 0);
    EXPECT_EQ(Counters().startArgs, (std::vector<std::pair<int, int>>{{7, -1}}));
    EXPECT_TRUE(m_session->Grabbing());
    EXPECT_EQ(m_session->StopAcquire(), 0);
    EXPECT_EQ(m_session->StopAcquire(), 0);
    EXPECT_EQ(Counters().stopGrabbing, 1);
    EXPECT_FALSE(m_session->Grabbing());
    EXPECT_EQ(m_session->StartAcquire(2, 0), 0);
    EXPECT_EQ(Counters().startGrabbing, 2);
}

TEST_F(AcqStartStop, RefusedStartLogsEachAttemptAndLaterStartSucceeds) {
    KZRSIM::CameraSpec refusing = Cam();
    refusing.startError = 5;
    ASSERT_NO_FATAL_FAILURE(OpenSession(refusing));
    EXPECT_EQ(m_session->StartAcquire(1, 0), QRV_ERR_START_GRABBING);
    EXPECT_EQ(m_session->StartAcquire(1, 0), QRV_ERR_START_GRABBING);
    EXPECT_FALSE(m_session->Grabbing());
    EXPECT_EQ(Counters().startGrabbing, 2);
    EXPECT_EQ(LogMessages(),
              (std::vector<std::string>{"startGrabbing Failed", "startGrabbing Failed"}));

    // The same session on a camera that now streams.
    Use(Cam());
    ASSERT_EQ(m_session->Close(), 0);
    ASSERT_EQ(m_session->Open(QRVString(kSerial), QRVString("")), 0);
    EXPECT_EQ(m_session->StartAcquire(1, 0), 0);
    EXPECT_TRUE(m_session->Grabbing());
    EXPECT_EQ(Counters().startGrabbing, 3);
    EXPECT_EQ(LogMessages().size(), 2u);
}

TEST_F(AcqStartStop, StopAfterFailedStopAsksTheCameraAgain) {
    KZRSIM::CameraSpec desc = Cam();
    desc.faults["stopGrabbing"] = "std";
    ASSERT_NO_FATAL_FAILURE(OpenAndStart(desc));
    // Whether the failure comes back as a code or as the camera library's
    // exception is for the entry point to settle; this is about what the session
    // believes afterwards.
    auto stop = [this] {
        try {
            return m_session->StopAcquire();
        } catch (...) {
            return -1;
        }
    };
    EXPECT_NE(stop(), 0);
    // The stream may still run: the session must not forget it.
    EXPECT_TRUE(m_session->Grabbing());
    EXPECT_EQ(m_session->StartAcquire(1, 0), 0);
    EXPECT_EQ(Counters().startGrabbing, 1);
    EXPECT_NE(stop(), 0);
    EXPECT_EQ(Counters().stopGrabbing, 2);
}

TEST_F(AcqStartStop, CloseStopsTheStreamAndThenStartAndStopAreRefused) {
    ASSERT_NO_FATAL_FAILURE(OpenAndStart(Cam()));
    EXPECT_EQ(m_session->Close(), 0);
    EXPECT_EQ(Counters().stopGrabbing, 1);
    EXPECT_EQ(Counters().close, 1);
    EXPECT_FALSE(m_session->Grabbing());
    EXPECT_EQ(m_session->StartAcquire(1, 0), QRV_ERR_CAMERA_NOT_OPEN);
    EXPECT_EQ(m_session->StopAcquire(), QRV_ERR_CAMERA_NOT_OPEN);
    EXPECT_EQ(Counters().startGrabbing, 1);
    EXPECT_EQ(Counters().stopGrabbing, 1);
}

// stopGrabbing answering a failure code: the stream is taken as stopped, so the
// next start asks the camera again.
TEST_F(AcqStartStop, FailedStopLeavesTheSessionIdleAndTheNextStartAsksAgain) {
    KZRSIM::CameraSpec desc = Cam();
    desc.stopError = -5;
    ASSERT_NO_FATAL_FAILURE(OpenAndStart(desc));
    EXPECT_EQ(m_session->StopAcquire(), 0);
    EXPECT_FALSE(m_session->Grabbing());
    EXPECT_EQ(m_session->StartAcquire(3, 0), 0);
    EXPECT_EQ(Counters().stopGrabbing, 1);
    EXPECT_EQ(Counters().startGrabbing, 2);
}

// ---------------------------------------------------------------------------
// Trigger handling. Frames come from scripts so that delivery never depends on
// the camera counting triggers.

using AcqTrigger = AcqFixture;

// What each trigger setup makes of two grabs, one of each kind.
struct STriggerCase {
    const char* name;
    STriggerNodes nodes;
    int mode;                   ///< m_triggerMode after GrabImage
    int64_t executionsPerGrab;  ///< TriggerSoftware executions
};

void PrintTo(const STriggerCase& c, std::ostream* out) {
    *out << c.name;
}

STriggerNodes Nodes(const char* mode, const char* source, const char* selector = "",
                    int64_t height = -1) {
    STriggerNodes nodes;
    nodes.mode = mode;
    nodes.source = source;
    nodes.selector = selector;
    nodes.height = height;
    return nodes;
}

class AcqTriggerModes : public AcqFixture, public ::testing::WithParamInterface<STriggerCase> {};

TEST_P(AcqTriggerModes, EachGrabTriggersAsTheModeSays) {
    const STriggerCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(OpenAndStart(TriggerCam(c.nodes, 2)));
    // A line count taken as saturated would run for ages: cut it off.
    GenApi::CMemoryNodeMap* map = &Device();
    map->Ref("TriggerSoftware").OnExecute([map] {
        if (map->ExecuteCount("TriggerSoftware") > 5000) throw std::runtime_error("too many lines");
    });
    QRVImage image;
    EXPECT_EQ(m_session->GrabImage(&image, kWait), 0);
    EXPECT_EQ(m_session->TriggerMode(), c.mode);
    EXPECT_EQ(Executions(), c.executionsPerGrab);
    EXPECT_EQ(m_session->GrabImageEx(&image, nullptr, kWait), 0);
    EXPECT_EQ(Executions(), 2 * c.executionsPerGrab);
    EXPECT_EQ(Counters().getFrame, 2);
    EXPECT_FALSE(image.IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Setups, AcqTriggerModes,
    ::testing::Values(
        STriggerCase{"TriggerOff", Nodes("Off", "Software"), 0, 0},
        STriggerCase{"HardwareSource", Nodes("On", "Line0"), 2, 0},
        STriggerCase{"SoftwareOnce", Nodes("On", "Software", "FrameStart", 7), 1, 1},
        STriggerCase{"LinePerRow", Nodes("On", "Software", "LineStart", 1000), 1, 1000},
        STriggerCase{"LinesWithoutHeight", Nodes("On", "Software", "LineStart"), 1, 0},
        STriggerCase{"LinesHeightZero", Nodes("On", "Software", "LineStart", 0), 1, 0},
        // The line count is the low 32 bits of Height.
        STriggerCase{"LinesHeightLow32Bits",
                     Nodes("On", "Software", "LineStart", (int64_t{1} << 32) + 3), 1, 3}),
    qrvtest::ByName());

// A command that never completes: both grabs time out without triggering or fetching.
TEST_F(AcqTrigger, TriggerWaitPollsOncePerMillisecondAcrossTheTickWrap) {
    constexpr int kTimeout = 40;
    constexpr std::uint32_t kStart = 0xFFFFFFF0u;
    STriggerNodes nodes;
    nodes.completion = ECommandCompletion::Never;
    ASSERT_NO_FATAL_FAILURE(OpenAndStart(TriggerCam(nodes)));

    // One millisecond per reading, so the wait makes kTimeout + 1 polls with a
    // 1 ms sleep between two: neither a spin nor a coarse sleep. A wait that
    // misreads the wrap would end at once or never, so the clock gives up
    // (throws) long after the right answer.
    std::atomic<std::uint32_t> calls{0};
    qrv::platform::SetTickSourceForTesting([&calls]() -> std::uint32_t {
        const std::uint32_t n = calls++;
        if (n > 10 * kTimeout) throw std::runtime_error("trigger wait ignored its time-out");
        return kStart + n;
    });
    std::vector<std::uint32_t> sleeps;
    qrv::platform::SetSleepObserverForTesting(
        [&sleeps](std::uint32_t ms) { sleeps.push_back(ms); });
    QRVImage image;
    EXPECT_EQ(m_session->GrabImage(&image, kTimeout), QRV_ERR_GRAB_TIMEOUT);
    qrv::platform::SetSleepObserverForTesting({});
    qrv::platform::SetTickSourceForTesting({});
    EXPECT_EQ(sleeps, std::vector<std::uint32_t>(kTimeout, 1u));

    // The start reading, then one per poll until more than kTimeout has passed.
    EXPECT_EQ(calls.load(), static_cast<std::uint32_t>(kTimeout + 2));
    const std::uint32_t lastReading = kStart + (calls.load() - 1);
    EXPECT_LT(lastReading, kStart);  // the readings did wrap
    EXPECT_EQ(Device().CallCount("TriggerSoftware", GenApi::EFaultOp::IsDone), kTimeout + 1);
    for (const int timeout : {0, 5}) {
        EXPECT_EQ(m_session->GrabImage(&image, timeout), QRV_ERR_GRAB_TIMEOUT) << timeout;
        EXPECT_EQ(m_session->GrabImageEx(&image, nullptr, timeout), QRV_ERR_GRAB_TIMEOUT)
            << timeout;
    }
    EXPECT_EQ(Counters().getFrame, 0);
    EXPECT_EQ(Executions(), 0);
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_TRUE(FreeForOtherThreads(m_session->FrameMutexForTesting()));
}

TEST_F(AcqTrigger, CameraWithoutTriggerModeKeepsTheEarlierMode) {
    ASSERT_NO_FATAL_FAILURE(OpenAndStart(TriggerCam({}, 1)));
    EXPECT_EQ(m_session->UpdateTriggerMode(), 0);
    EXPECT_EQ(m_session->TriggerMode(), 1);

    Device().Remove("TriggerMode");
    EXPECT_NE(m_session->UpdateTriggerMode(), 0);
    EXPECT_EQ(m_session->TriggerMode(), 1);
    QRVImage image;
    EXPECT_EQ(m_session->GrabImage(&image, kWait), 0);
    EXPECT_EQ(Executions(), 1);
}

TEST_F(AcqTrigger, IdleStopAbortsNextExLineLoopButNotNextGrabImage) {
    ASSERT_NO_FATAL_FAILURE(OpenSession(TriggerCam(Nodes("On", "Software", "LineStart", 1000), 1)));
    ASSERT_EQ(m_session->UpdateTriggerMode(), 0);
    ASSERT_EQ(m_session->TriggerMode(), 1);
    ASSERT_EQ(m_session->StopAcquire(), 0);

    QRVImage image;
    EXPECT_EQ(m_session->GrabImageEx(&image, nullptr, kWait), QRV_ERR_GRAB_TIMEOUT);
    EXPECT_EQ(Executions(), 0);
    EXPECT_EQ(Counters().getFrame, 0);

    // GrabImage starts from a lowered flag: a stop made before it does not abort it.
    ASSERT_EQ(m_session->StopAcquire(), 0);
    ASSERT_TRUE(m_session->AbortRaised());
    ASSERT_EQ(m_session->StartAcquire(1, 0), 0);
    EXPECT_EQ(m_session->GrabImage(&image, kWait), 0);
    EXPECT_EQ(Executions(), 1000);
    EXPECT_EQ(Counters().stopGrabbing, 0);
}

TEST_F(AcqTrigger, CameraLinkSendsTheTriggerOnTheGrabbersNodeMap) {
    // Both maps could trigger; only the grabber's selector and Height give 5 lines.
    KZRSIM::CameraSpec desc = Cam();
    desc.transport = KZRGENICAM::TransportCameraLink;
    desc.grabberModule = true;
    desc.buildDevice = Build(Nodes("On", "Software", "FrameStart", 7));
    desc.buildGrabber = [](GenApi::CMemoryNodeMap& map) {
        map.AddEnumeration("FrameTriggerCtrl", {{"Disable", 0}, {"Enable", 1}}, "Enable");
        map.AddEnumeration("FrameTriggerSource", {{"Software", 0}, {"CC1", 1}}, "Software");
        map.AddEnumeration("TriggerSelector", {{"FrameStart", 0}, {"LineStart", 1}}, "LineStart");
        map.AddInteger("Height", 5, 0, 100);
        map.AddCommand("TriggerSoftware");
    };
    desc.script = Frames(1);
    ASSERT_NO_FATAL_FAILURE(OpenSession(desc, WriteFile("acq.cam", "").string()));
    ASSERT_TRUE(m_session->CameraLink());
    ASSERT_EQ(m_session->StartAcquire(0, 0), 0);
    QRVImage image;
    EXPECT_EQ(m_session->GrabImage(&image, kWait), 0);
    EXPECT_EQ(KZRSIM::GrabberNodeMap(kSerial)->ExecuteCount("TriggerSoftware"), 5);
    EXPECT_EQ(Executions(), 0);
}

TEST_F(AcqTrigger, GrabImageExKeepsTheModeTheLastGrabImageRead) {
    ASSERT_NO_FATAL_FAILURE(OpenAndStart(TriggerCam({}, 2)));
    QRVImage image;
    ASSERT_EQ(m_session->GrabImage(&image, kWait), 0);
    Device().PokeString("TriggerMode", "Off");
    const int64_t modeReads = Device().CallCount("TriggerMode", GenApi::EFaultOp::Any);
    EXPECT_EQ(m_session->GrabImageEx(&image, nullptr, kWait), 0);
    EXPECT_EQ(Executions(), 2);
    EXPECT_EQ(m_session->TriggerMode(), 1);
    EXPECT_EQ(Device().CallCount("TriggerMode", GenApi::EFaultOp::Any), modeReads);
}

TEST_F(AcqTrigger, PendingStopDoesNotAbortASingleTrigger) {
    ASSERT_NO_FATAL_FAILURE(OpenSession(TriggerCam({}, 1)));
    ASSERT_EQ(m_session->UpdateTriggerMode(), 0);
    ASSERT_EQ(m_session->StopAcquire(), 0);
    ASSERT_EQ(m_session->StartAcquire(0, 0), 0);
    QRVImage image;
    // GrabImageEx does not lower the flag, so the stop is still pending here.
    EXPECT_EQ(m_session->GrabImageEx(&image, nullptr, kWait), 0);
    EXPECT_EQ(Executions(), 1);
    EXPECT_TRUE(m_session->AbortRaised());
}

// Host time-outs, negative ones included: the trigger wait compares unsigned.
class AcqTimeout : public AcqFixture, public ::testing::WithParamInterface<int> {};

TEST_P(AcqTimeout, TriggerWaitsForDoneThenFetchGetsTheWholeTimeout) {
    const int timeout = GetParam();
    STriggerNodes nodes;
    nodes.completion = ECommandCompletion::AfterPolls;
    nodes.completionParam = 2;
    ASSERT_NO_FATAL_FAILURE(OpenAndStart(TriggerCam(nodes, 3)));
    // After each Execute the command answers "not done" twice; the next trigger
    // waits that out (30 ms per tick reading, 60 ms in all) and sees "done" once.
    std::atomic<std::uint32_t> tick{1000};
    qrv::platform::SetTickSourceForTesting([&tick] { return tick += 30; });
    std::vector<int64_t> pollsAtExecute;
    GenApi::CMemoryNodeMap* map = &Device();
    map->Ref("TriggerSoftware").OnExecute([&pollsAtExecute, map] {
        pollsAtExecute.push_back(map->CallCount("TriggerSoftware", GenApi::EFaultOp::IsDone));
    });
    QRVImage image;
    EXPECT_EQ(m_session->GrabImage(&image, timeout), 0);
    EXPECT_EQ(m_session->GrabImage(&image, timeout), 0);
    EXPECT_EQ(m_session->GrabImageEx(&image, nullptr, timeout), 0);
    qrv::platform::SetTickSourceForTesting({});
    EXPECT_EQ(pollsAtExecute, (std::vector<int64_t>{1, 4, 7}));
    EXPECT_EQ(Counters().getFrameTimeouts, std::vector<int64_t>(3, timeout));
}

INSTANTIATE_TEST_SUITE_P(HostTimeouts, AcqTimeout, ::testing::Values(100, -1, INT_MIN),
                         [](const ::testing::TestParamInfo<int>& param) {
                             return param.param > 0     ? "Positive"
                                    : param.param == -1 ? "MinusOne"
                                                        : "IntMin";
                         });

// ---------------------------------------------------------------------------
// StopAcquire from another thread ends a running line loop.

class AcqLineLoopThreads : public AcqFixture {
protected:
    void OpenLineScan() {
        ASSERT_NO_FATAL_FAILURE(
            OpenAndStart(TriggerCam(Nodes("On", "Software", "LineStart", int64_t{1} << 30))));
        // A loop that ignores the stop is cut off by the observer after 10 s.
        const Clock::time_point cutOff = Clock::now() + std::chrono::seconds(10);
        std::atomic<int64_t>* executed = &m_executed;
        Device().Ref("TriggerSoftware").OnExecute([executed, cutOff] {
            const int64_t n = ++*executed;
            if ((n & 0xFFF) == 0 && Clock::now() > cutOff) {
                throw std::runtime_error("line loop was not stopped");
            }
        });
    }

    /// Runs grab on another thread, stops once the loop is running, and returns
    /// the grab's result.
    int StopDuring(const std::function<int()>& grab) {
        std::atomic<int> result{-1};
        std::atomic<bool> done{false};
        std::thread grabber([&] {
            result = grab();
            done = true;
        });
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
        while (m_executed.load() == 0 && !done.load() && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_GT(m_executed.load(), 0) << "the line loop never started";
        EXPECT_EQ(m_session->StopAcquire(), 0);
        grabber.join();
        return result.load();
    }

    std::atomic<int64_t> m_executed{0};
};

TEST_F(AcqLineLoopThreads, StopEndsTheLineLoopOfEitherGrab) {
    ASSERT_NO_FATAL_FAILURE(OpenLineScan());
    QRVImage image;
    ZelChunkData chunks;
    EXPECT_EQ(StopDuring([&] { return m_session->GrabImage(&image, kWait); }),
              QRV_ERR_GRAB_ABORTED);
    EXPECT_EQ(Counters().stopGrabbing, 1);
    EXPECT_FALSE(m_session->AbortRaised());  // the loop lowered it

    ASSERT_EQ(m_session->StartAcquire(0, 0), 0);
    m_executed = 0;
    EXPECT_EQ(StopDuring([&] { return m_session->GrabImageEx(&image, &chunks, kWait); }),
              QRV_ERR_GRAB_TIMEOUT);
    EXPECT_EQ(Counters().getFrame, 0);
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_EQ(chunks.getUpdateCount(), 0u);
    EXPECT_TRUE(FreeForOtherThreads(m_session->FrameMutexForTesting()));
}

// ---------------------------------------------------------------------------
// Every way a fetch can fail, through both grabs. Nothing stays out, the host's
// objects stay untouched and the frame lock is free afterwards.

struct SFailure {
    const char* name;
    KZRSIM::FrameStep step;
    int grabImage;
    int grabImageEx;
    const char* logLine;  ///< GrabImage's log line, or null for none
};

void PrintTo(const SFailure& failure, std::ostream* out) {
    *out << failure.name;
}

KZRSIM::FrameStep Step(int code, const char* fault = "", bool valid = true) {
    KZRSIM::FrameStep step;
    step.code = code;
    step.fault = fault;
    step.valid = valid;
    return step;
}

/// A delivered frame whose layout the host image refuses.
KZRSIM::FrameStep Refused(int width, int channels) {
    KZRSIM::FrameStep step;
    step.width = width;
    step.channels = channels;
    return step;
}

const SFailure kFailures[] = {
    {"Incomplete", Step(-23), QRV_ERR_CAMERA_IMAGE_DATA, QRV_ERR_CAMERA_IMAGE_DATA,
     "GrabImage Failed, ret = -23"},
    {"NotRunning", Step(-12), QRV_ERR_GRAB_ABORTED, QRV_ERR_ACQUISITION_STOPPED,
     "GrabImage Failed, ret = -12"},
    {"Timeout", Step(-11), QRV_ERR_GRAB_TIMEOUT, QRV_ERR_GRAB_TIMEOUT,
     "GrabImage Failed, ret = -11"},
    {"OtherCode", Step(-5), QRV_ERR_GRAB_FAILED, QRV_ERR_GRAB_FAILED, "GrabImage Failed, ret = -5"},
    {"DeviceLost", Step(-30), QRV_ERR_GRAB_FAILED, QRV_ERR_GRAB_FAILED,
     "GrabImage Failed, ret = -30"},
    {"GenICamFault", Step(0, "genicam"), QRV_ERR_GENICAM_EXCEPTION, QRV_ERR_GENICAM_EXCEPTION,
     nullptr},
    {"StdFault", Step(0, "std"), QRV_ERR_EXCEPTION, QRV_ERR_EXCEPTION, nullptr},
    {"InvalidFrame", Step(0, "", false), QRV_ERR_CAMERA_IMAGE_DATA, QRV_ERR_CAMERA_IMAGE_DATA,
     "GrabImage Failed, error = QRV_ERR_CAMERA_IMAGE_DATA0"},
    {"RefusedZeroWidth", Refused(0, -1), QRV_ERR_CAMERA_IMAGE_DATA, QRV_ERR_CAMERA_IMAGE_DATA,
     "GrabImage Failed, error = QRV_ERR_CAMERA_IMAGE_DATA0"},
    {"RefusedFiveChannels", Refused(-1, 5), QRV_ERR_CAMERA_IMAGE_DATA, QRV_ERR_CAMERA_IMAGE_DATA,
     "GrabImage Failed, error = QRV_ERR_CAMERA_IMAGE_DATA0"},
};

class AcqGrabFailureThreads : public AcqFixture, public ::testing::WithParamInterface<SFailure> {};

TEST_P(AcqGrabFailureThreads, BothGrabsReportAndCleanUp) {
    const SFailure& f = GetParam();
    KZRSIM::CameraSpec desc = Cam();
    desc.chunks = {{1, 2, 3, 4}};
    desc.script = {f.step, f.step};
    ASSERT_NO_FATAL_FAILURE(OpenAndStart(desc));
    QRVImage image;
    ZelChunkData chunks;

    EXPECT_EQ(m_session->GrabImage(&image, kWait), f.grabImage);
    const std::vector<std::string> expectedLog =
        f.logLine ? std::vector<std::string>{f.logLine} : std::vector<std::string>{};
    EXPECT_EQ(LogMessages(), expectedLog);
    ExpectNothingOut();
    EXPECT_TRUE(FreeForOtherThreads(m_session->FrameMutexForTesting()));

    EXPECT_EQ(m_session->GrabImageEx(&image, &chunks, kWait), f.grabImageEx);
    ExpectNothingOut();
    EXPECT_TRUE(FreeForOtherThreads(m_session->FrameMutexForTesting()));

    EXPECT_TRUE(image.IsEmpty());
    EXPECT_EQ(chunks.getUpdateCount(), 0u);
    EXPECT_EQ(Counters().getFrame, 2);
}

INSTANTIATE_TEST_SUITE_P(FrameResults, AcqGrabFailureThreads, ::testing::ValuesIn(kFailures),
                         qrvtest::ByName());

using AcqFrameLockThreads = AcqFixture;

TEST_F(AcqFrameLockThreads, GrabImageExTriggersAndFetchesUnderTheLock) {
    KZRSIM::CameraSpec desc = Cam();
    desc.buildDevice = Build(STriggerNodes{});
    KZRSIM::FrameStep slow;
    slow.delayMs = 200;
    desc.script = {slow, KZRSIM::FrameStep{}};
    ASSERT_NO_FATAL_FAILURE(OpenAndStart(desc));
    ASSERT_EQ(m_session->UpdateTriggerMode(), 0);
    // Frames delivered when each trigger goes out: the second grab may trigger
    // only once the first one's slow fetch has returned.
    std::mutex seenMutex;
    std::vector<int> deliveredAtTrigger;
    Device().Ref("TriggerSoftware").OnExecute([&] {
        const int delivered = KZRSIM::Counters(kSerial).framesDelivered;
        std::lock_guard<std::mutex> lock(seenMutex);
        deliveredAtTrigger.push_back(delivered);
    });
    std::atomic<int> results[2] = {{-1}, {-1}};
    auto grab = [&](int i) {
        QRVImage image;
        results[i] = m_session->GrabImageEx(&image, nullptr, kWait);
    };
    std::thread first(grab, 0);
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
    while (Executions() == 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::thread second(grab, 1);
    first.join();
    second.join();
    EXPECT_EQ(results[0].load(), 0);
    EXPECT_EQ(results[1].load(), 0);
    std::lock_guard<std::mutex> lock(seenMutex);
    EXPECT_EQ(deliveredAtTrigger, (std::vector<int>{0, 1}));
}

TEST_F(AcqFrameLockThreads, GrabImageTakesNoFrameLock) {
    ASSERT_NO_FATAL_FAILURE(OpenAndStart(Cam()));
    qrv::platform::FrameMutex& mutex = m_session->FrameMutexForTesting();
    mutex.lock();
    std::future<int> grab = std::async(std::launch::async, [this] {
        QRVImage image;
        return m_session->GrabImage(&image, kWait);
    });
    const bool finished = grab.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    mutex.unlock();
    EXPECT_TRUE(finished) << "GrabImage waited for the frame lock";
    EXPECT_EQ(grab.get(), 0);
}

// ---------------------------------------------------------------------------
// Successful grabs: layout refusal, time-out passing, chunk data.

using AcqGrab = AcqFixture;

// The host image keeps the earlier frame, so the grab must not report success.
TEST_F(AcqGrab, RefusedLayoutFailsAndLeavesTheEarlierFrame) {
    KZRSIM::CameraSpec desc = Cam();
    desc.chunks = {{1, 2, 3, 4}};
    desc.script = {Refused(0, -1), Refused(0, -1)};
    ASSERT_NO_FATAL_FAILURE(OpenAndStart(desc));

    unsigned char pixels[8] = {9, 8, 7, 6, 5, 4, 3, 2};
    QRVImage image;
    ZelChunkData chunks;
    ASSERT_TRUE(image.GenImageExt(pixels, 4, 2, 1, 8, QRVImage::Default));
    EXPECT_EQ(m_session->GrabImage(&image, kWait), QRV_ERR_CAMERA_IMAGE_DATA);
    EXPECT_EQ(m_session->GrabImageEx(&image, &chunks, kWait), QRV_ERR_CAMERA_IMAGE_DATA);
    EXPECT_EQ(chunks.getUpdateCount(), 0u);
    ASSERT_EQ(image.Width(), 4);
    ASSERT_EQ(image.Height(), 2);
    EXPECT_EQ(std::vector<unsigned char>(image.Data(), image.Data() + 8),
              std::vector<unsigned char>(pixels, pixels + 8));
    ExpectNothingOut();
}

// Chunk blocks are joined in frame order; a frame without chunks leaves the
// host's chunk data as it was.
TEST_F(AcqGrab, ChunkBlocksAreJoinedInFrameOrder) {
    std::mutex debugMutex;
    std::vector<std::string> debug;
    qrv::platform::SetDebugOutputListener([&](const char* text) {
        std::lock_guard<std::mutex> lock(debugMutex);
        debug.emplace_back(text);
    });
    KZRSIM::CameraSpec desc = Cam();
    desc.script = Frames(2);
    desc.script[1].hasChunks = true;  // and none
    std::vector<uint8_t> expected;
    for (const std::size_t size : {8u, 16u, 40u}) {
        std::vector<uint8_t> block(size);
        for (std::size_t i = 0; i < size; ++i) block[i] = static_cast<uint8_t>(size * 3 + i);
        expected.insert(expected.end(), block.begin(), block.end());
        desc.script[0].chunks.push_back(block);
    }
    desc.script[0].hasChunks = true;
    ASSERT_NO_FATAL_FAILURE(OpenAndStart(desc));
    QRVImage image;
    ZelChunkData chunks;
    const auto content = [&chunks] {
        return std::vector<uint8_t>(chunks.getData(), chunks.getData() + chunks.getSize());
    };
    ASSERT_EQ(m_session->GrabImageEx(&image, &chunks, kWait), 0);
    EXPECT_FALSE(image.IsEmpty());
    EXPECT_EQ(content(), expected);
    ASSERT_EQ(m_session->GrabImageEx(&image, &chunks, kWait), 0);
    EXPECT_EQ(chunks.getUpdateCount(), 1u);
    EXPECT_EQ(content(), expected);
    qrv::platform::SetDebugOutputListener({});
    EXPECT_EQ(debug, std::vector<std::string>{"#### getchunkdata length = 64\n"});
}

}  // namespace
