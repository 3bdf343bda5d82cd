// Discovery records, camera creation and the exactly-once release accounting.
#include <stdexcept>
#include <vector>

#include "SimScenario.h"
#include "TestData.h"

using namespace KZRGENICAM;

namespace {

std::vector<ICameraInfo*> Find(const char* filter) {
    auto found = Discovery(filter);
    return {found.begin(), found.end()};
}

void ReleaseAll(const std::vector<ICameraInfo*>& records) {
    for (ICameraInfo* r : records)
        if (r) r->release();
}

/// A record's serial, id, vendor, model, link name and transport.
std::string Text(ICameraInfo* r) {
    return std::string(r->getSerialNumber()) + " " + r->getId() + " " + r->getManufacturer() + " " +
           r->getModelName() + " " + r->getLinkName() + " " + std::to_string(r->getInterfaceType());
}
}  // namespace

class DiscoveryTest : public SimTest {};

TEST_F(DiscoveryTest, NullFilterListsCamerasInOrderWithNullRecordsInPlace) {
    UseJson(R"({"serial": "A", "vendor": "V", "model": "M", "link": "port0"},
        {"serial": "H", "listed": false}, {"null": true},
        {"serial": "B", "id": "custom", "transport": 2})");
    auto records = Find(nullptr);
    ASSERT_EQ(records.size(), 3u);
    ASSERT_TRUE(records[0] && records[2]);
    EXPECT_EQ(Text(records[0]), "A DEV-A V M port0 " + std::to_string(TransportGigE));
    EXPECT_EQ(records[1], nullptr);
    EXPECT_EQ(Text(records[2]), "B custom KZR Sim SimCam  " + std::to_string(TransportUSB3));
    EXPECT_EQ(KZRSIM::Library().recordsOut, 2);
    ReleaseAll(records);
    records[0]->release();  // a second release is counted, not freed again
    auto lib = KZRSIM::Library();
    EXPECT_EQ(lib.recordsOut, 0);
    EXPECT_EQ(lib.doubleReleases, 1);
}

TEST_F(DiscoveryTest, CameraLinkFilterFollowsInClFilterAndOtherFiltersFindNothing) {
    UseJson(R"({"serial": "G"}, {"serial": "CL", "transport": 4},
        {"serial": "CLX", "transport": 4, "inClFilter": false},
        {"serial": "GIN", "inClFilter": true})");
    auto records = Find("CLTLKZR.cti");
    ASSERT_EQ(records.size(), 2u);
    EXPECT_STREQ(records[0]->getSerialNumber(), "CL");
    EXPECT_STREQ(records[1]->getSerialNumber(), "GIN");
    ReleaseAll(records);
    EXPECT_TRUE(Find("Other.cti").empty());
    auto lib = KZRSIM::Library();
    EXPECT_EQ(lib.discovery, 2);
    EXPECT_EQ(lib.discoveryFilters, (std::vector<std::string>{"CLTLKZR.cti", "Other.cti"}));
    EXPECT_EQ(lib.recordsOut, 0);
}

TEST_F(DiscoveryTest, RecordFaultsRaiseTheNamedKind) {
    UseJson(
        R"({"serial": "A", "faults": {"getInterfaceType": "genicam", "getSerialNumber": "std"}})");
    auto records = Find(nullptr);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_THROW(records[0]->getInterfaceType(), GenICam::RuntimeException);
    EXPECT_THROW(records[0]->getSerialNumber(), std::runtime_error);
    EXPECT_STREQ(records[0]->getModelName(), "SimCam");
    ReleaseAll(records);
}

TEST_F(DiscoveryTest, CreateCameraBySnNeedsExactCreatableSerial) {
    UseJson(R"({"serial": "A"}, {"serial": "B", "creatable": false})");
    EXPECT_EQ(CreateCameraBySN(nullptr), nullptr);
    EXPECT_EQ(CreateCameraBySN("a"), nullptr);
    EXPECT_EQ(CreateCameraBySN("B"), nullptr);
    ICamera* camera = CreateCameraBySN("A");
    ASSERT_NE(camera, nullptr);
    EXPECT_STREQ(camera->getInfo()->getSerialNumber(), "A");
    EXPECT_EQ(KZRSIM::Library().camerasOut, 1);
    EXPECT_EQ(KZRSIM::Counters("A").create, 1);

    camera->getInfo()->release();  // lent, not ours: counted as a misuse
    camera->release();
    camera->release();
    auto lib = KZRSIM::Library();
    EXPECT_EQ(lib.camerasOut, 0);
    EXPECT_EQ(lib.doubleReleases, 2);
    EXPECT_EQ(KZRSIM::Counters("A").release, 1);
}

TEST_F(DiscoveryTest, ObjectsSurviveScenarioChangeAndResetCountersForgetsThem) {
    UseJson(R"({"serial": "A"})");
    auto records = Find(nullptr);
    ICamera* camera = CreateCameraBySN("A");
    ASSERT_NE(camera, nullptr);
    UseJson(R"({"serial": "Z"})");
    EXPECT_EQ(CreateCameraBySN("A"), nullptr);
    EXPECT_STREQ(records[0]->getSerialNumber(), "A");
    EXPECT_EQ(camera->open(0), 0);

    KZRSIM::ResetCounters();
    ReleaseAll(records);
    camera->release();
    auto lib = KZRSIM::Library();
    EXPECT_EQ(lib.recordsOut, 0);
    EXPECT_EQ(lib.camerasOut, 0);
}

TEST_F(DiscoveryTest, ClListsAndResultNames) {
    KZRSIM::LoadScenarioJson(R"({"clSerials": ["COM1", "COM2"], "clProtocols": ["KZR"]})");
    EXPECT_EQ(GetCLSerials(), (std::vector<std::string>{"COM1", "COM2"}));
    EXPECT_EQ(GetCLProtocols(), (std::vector<std::string>{"KZR"}));
    KZRSIM::Reset();
    EXPECT_TRUE(GetCLSerials().empty());

    EXPECT_STREQ(FrameResultName(FrameOk), "ok");
    EXPECT_STREQ(FrameResultName(FrameTimeout), "timeout");
    EXPECT_STREQ(FrameResultName(FrameNotRunning), "not running");
    EXPECT_STRNE(FrameResultName(-99), FrameResultName(FrameTimeout));
}
