// A host that runs on simulated cameras for days: what the simulator records per
// call stays bounded, while its counters keep counting every call.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "PluginLibrary.h"

namespace {

constexpr char kSerial[] = "LONG-0001";
constexpr int kCalls = 3 * static_cast<int>(KZRSIM::kCallLogDepth) + 5;

struct SCallLog {
    const char* name;
    void (*call)(const SPluginApi&, QRVCameraHandle);  ///< one call that the log records
    std::size_t (*entries)();                          ///< the log's length
    int (*counted)();                                  ///< the calls counted
};

const SCallLog kLogs[] = {
    {"getFrameTimeouts",
     [](const SPluginApi& a, QRVCameraHandle h) {
         QRVImage image;
         EXPECT_EQ(a.GrabImage(h, &image, 1000), 0);
     },
     [] { return KZRSIM::Counters(kSerial).getFrameTimeouts.size(); },
     [] { return KZRSIM::Counters(kSerial).getFrame; }},
    {"startArgs",
     [](const SPluginApi& a, QRVCameraHandle h) {
         EXPECT_EQ(a.StopAcquire(h), 0);
         EXPECT_EQ(a.StartAcquire(h, 3, 0), 0);
     },
     [] { return KZRSIM::Counters(kSerial).startArgs.size(); },
     [] { return KZRSIM::Counters(kSerial).startGrabbing; }},
    {"discoveryFilters",
     [](const SPluginApi& a, QRVCameraHandle) {
         QRVCameraInfoArray cameras;
         EXPECT_GE(a.GetCameraList(&cameras), 1);
     },
     [] { return KZRSIM::Library().discoveryFilters.size(); },
     [] { return KZRSIM::Library().discovery; }},
};

class PluginLongRun : public PluginTest, public ::testing::WithParamInterface<SCallLog> {};

TEST_P(PluginLongRun, CallLogsKeepTheLastEntriesAndCountEveryCall) {
    const SCallLog& c = GetParam();
    Use(kSerial);
    QRVCameraHandle handle = nullptr;
    ASSERT_EQ(api->Open(kSerial, &handle, "", ""), 0);
    ASSERT_EQ(api->StartAcquire(handle, 3, 0), 0);
    const int before = c.counted();
    for (int i = 0; i < kCalls; ++i) c.call(*api, handle);
    EXPECT_GE(c.counted() - before, kCalls);
    EXPECT_EQ(c.entries(), KZRSIM::kCallLogDepth);
    EXPECT_EQ(api->Close(handle), 0);
}

INSTANTIATE_TEST_SUITE_P(Simulator, PluginLongRun, ::testing::ValuesIn(kLogs),
                         [](const ::testing::TestParamInfo<SCallLog>& row) {
                             return std::string(row.param.name);
                         });

}  // namespace
