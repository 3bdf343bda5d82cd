// JSON scenarios: what the parser makes of a document, the node maps it builds,
// where its errors point, and that the examples agree with the built-in demo set.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "GenApi.h"
#include "KZRGeniCam.h"
#include "KZRSim.h"
#include "MemoryNodeMap.h"

namespace {

using namespace GenApi;
using KZRSIM::CameraSpec;
using KZRSIM::ParseScenarioJson;
using KZRSIM::Scenario;

std::string ExamplePath(const std::string& name) {
    return std::string(QRV_SOURCE_DIR) + "/examples/" + name;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The message of the std::runtime_error that parsing raises ("" when none).
std::string ParseError(const std::string& json, const std::string& source = "test.json") {
    try {
        ParseScenarioJson(json, source);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string out;
    char buf[3];
    for (uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%02x", b);
        out += buf;
    }
    return out;
}

// One line per node, sorted, with everything a GenApi client can see of it.
std::vector<std::string> Describe(CMemoryNodeMap& map) {
    NodeList_t nodes;
    map.GetNodes(nodes);
    std::vector<std::string> lines;
    for (INode* node : nodes) {
        std::ostringstream s;
        s << node->GetName() << " intf=" << node->GetPrincipalInterfaceType()
          << " access=" << node->GetAccessMode() << " feature=" << node->IsFeature();
        bool readable = IsReadable(node->GetAccessMode());
        if (!IsAvailable(node->GetAccessMode())) {
            // NI and NA nodes refuse every value operation.
        } else if (CEnumerationPtr e = node;
                   e && node->GetPrincipalInterfaceType() == intfIEnumeration) {
            gcstring_vector symbolics;
            e->GetSymbolics(symbolics);
            for (const gcstring& sym : symbolics)
                s << " " << sym << "=" << e->GetEntryByName(sym)->GetValue();
            if (readable) s << " current=" << e->GetCurrentEntry()->GetSymbolic();
        } else if (CIntegerPtr i = node) {
            s << " [" << i->GetMin() << "," << i->GetMax() << "/" << i->GetInc() << "]";
            if (readable) s << " value=" << i->GetValue();
            if (CRegisterPtr r = node) s << " length=" << r->GetLength() << " @" << r->GetAddress();
        } else if (CFloatPtr f = node) {
            s << " [" << f->GetMin() << "," << f->GetMax() << "] inc=" << f->HasInc() << "/"
              << f->GetIncMode();
            if (f->HasInc()) s << "/" << f->GetInc();
            if (readable) s << " value=" << f->GetValue();
        } else if (CBooleanPtr b = node) {
            if (readable) s << " value=" << b->GetValue();
        } else if (CStringPtr str = node) {
            s << " max=" << str->GetMaxLength();
            if (readable) s << " value=" << str->GetValue();
        } else if (CRegisterPtr r = node) {
            std::vector<uint8_t> bytes(static_cast<size_t>(r->GetLength()));
            if (readable) r->Get(bytes.data(), r->GetLength());
            s << " length=" << r->GetLength() << " @" << r->GetAddress() << " " << Hex(bytes);
        } else if (CCategoryPtr c = node) {
            FeatureList_t features;
            c->GetFeatures(features);
            for (IValue* v : features) s << " " << v->GetNode()->GetName();
        }
        lines.push_back(s.str());
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::string> DescribeBuilt(const std::function<void(CMemoryNodeMap&)>& build) {
    CMemoryNodeMap map;
    if (build) build(map);
    return Describe(map);
}

// ---- Parsing into structs ---------------------------------------------------

const char* const kFullCamera = R"({
  "clSerials": ["ZOZIR_COM_P00", "COM_P01"],
  "clProtocols": ["ZOZIR_ProtoA"],
  "cameras": [
    {
      "serial": "S1", "vendor": "V", "model": "M", "id": "ID-1", "link": "L",
      "transport": 5, "listed": false, "inClFilter": true,
      "creatable": false, "openError": 7, "connected": false,
      "deviceModule": false, "deviceNodeMap": false, "grabberModule": true, "grabberNodeMap": false,
      "faults": {"open": "genicam", "getFrame": "std"},
      "startError": 3, "pixelFormat": "BayerRG8", "width": 10, "height": 20,
      "frameRate": 0.5, "validFrames": false,
      "chunks": [{"hex": "0a 0B ff"}, {"size": 3, "fill": 255}, {"text": "ab"}, {"size": 0}],
      "script": [
        {"code": -11, "delayMs": 40},
        {"valid": false, "width": 2, "height": 3, "channels": 3, "bits": 16, "chunks": []},
        {"fault": "std", "chunks": [{"text": "z"}]}
      ]
    },
    {"serial": "S2", "inClFilter": false},
    {"null": true},
    {"serial": "S3", "transport": 4}
  ]
})";

TEST(ScenarioJson, FullCameraFillsEveryField) {
    Scenario s = ParseScenarioJson(kFullCamera, "full.json");
    EXPECT_EQ(s.clSerials, (std::vector<std::string>{"ZOZIR_COM_P00", "COM_P01"}));
    EXPECT_EQ(s.clProtocols, std::vector<std::string>{"ZOZIR_ProtoA"});
    ASSERT_EQ(s.cameras.size(), 4u);

    const CameraSpec& c = s.cameras[0];
    EXPECT_EQ(std::tie(c.serial, c.vendor, c.model, c.id, c.link, c.pixelFormat),
              std::make_tuple("S1", "V", "M", "ID-1", "L", "BayerRG8"));
    EXPECT_EQ(std::tie(c.transport, c.inClFilter, c.openError, c.startError, c.width, c.height),
              std::make_tuple(5, 1, 7, 3, 10, 20));
    EXPECT_EQ(std::tie(c.nullRecord, c.listed, c.creatable, c.connected, c.deviceModule,
                       c.deviceNodeMap, c.grabberModule, c.grabberNodeMap, c.validFrames),
              std::make_tuple(false, false, false, false, false, false, true, false, false));
    EXPECT_EQ(c.faults, (KZRSIM::FaultMap{{"open", "genicam"}, {"getFrame", "std"}}));
    EXPECT_DOUBLE_EQ(c.frameRate, 0.5);
    EXPECT_EQ(c.chunks, (std::vector<std::vector<uint8_t>>{
                            {0x0a, 0x0b, 0xff}, {255, 255, 255}, {'a', 'b'}, {}}));
    EXPECT_FALSE(c.buildDevice);
    EXPECT_FALSE(c.buildGrabber);

    ASSERT_EQ(c.script.size(), 3u);
    const auto& st = c.script;
    EXPECT_EQ(std::tie(st[0].code, st[0].delayMs, st[0].valid, st[0].width, st[0].hasChunks),
              std::make_tuple(-11, 40, true, -1, false));
    EXPECT_EQ(
        std::tie(st[1].code, st[1].valid, st[1].width, st[1].height, st[1].channels, st[1].bits),
        std::make_tuple(0, false, 2, 3, 3, 16));
    EXPECT_TRUE(st[1].hasChunks);  // an empty list still replaces the camera's chunks
    EXPECT_TRUE(st[1].chunks.empty());
    EXPECT_EQ(st[2].fault, "std");
    EXPECT_EQ(st[2].chunks, std::vector<std::vector<uint8_t>>{{'z'}});

    // Omitted keys keep CameraSpec's defaults.
    const CameraSpec& d = s.cameras[1];
    const CameraSpec e;
    EXPECT_EQ(d.inClFilter, 0);
    EXPECT_EQ(std::tie(d.vendor, d.transport, d.pixelFormat, d.width, d.id, d.deviceModule),
              std::tie(e.vendor, e.transport, e.pixelFormat, e.width, e.id, e.deviceModule));

    EXPECT_TRUE(s.cameras[2].nullRecord);
    EXPECT_TRUE(s.cameras[2].serial.empty());
    // Camera Link without "inClFilter": the filter decides by transport.
    EXPECT_EQ(s.cameras[3].inClFilter, -1);
    EXPECT_EQ(s.cameras[3].transport, KZRGENICAM::TransportCameraLink);
}

// ---- Node maps --------------------------------------------------------------

const char* const kNodes = R"({"cameras": [{"serial": "N",
  "device": {"nodes": [
    {"name": "Flag", "type": "Boolean", "value": true, "access": "RO"},
    {"name": "Big", "type": "Integer", "value": -9223372036854775808,
     "min": -9223372036854775808, "max": 9223372036854775807},
    {"name": "Step", "type": "Integer", "value": 20, "min": 10, "max": 100, "inc": 5, "feature": false},
    {"name": "Exp", "type": "Float", "value": 1.5, "min": 0.5, "max": 8, "inc": 0.25},
    {"name": "ListF", "type": "Float", "value": 1, "min": 1, "max": 2, "inc": 0.5, "incMode": "list"},
    {"name": "NoInc", "type": "Float", "inc": 3, "incMode": "none"},
    {"name": "Text", "type": "String", "value": "abc", "maxLength": 5, "access": "WO"},
    {"name": "Mode", "type": "Enumeration", "entries": [["Off", 0], {"name": "On", "value": 7}], "value": "On"},
    {"name": "First", "type": "Enumeration", "entries": [["A", 3], ["B", 4]]},
    {"name": "Go", "type": "Command", "completion": {"afterPolls": 2}},
    {"name": "Stuck", "type": "Command", "completion": "never"},
    {"name": "Later", "type": "Command", "completion": {"afterDelayMs": 100000}},
    {"name": "Reg", "type": "Register", "length": 4, "hex": "deadbe", "address": 16},
    {"name": "Raw", "type": "Register", "hex": "0102"},
    {"name": "IReg", "type": "IntRegister", "value": 258, "length": 2},
    {"name": "Root", "type": "Category", "features": ["Flag", "Exp"]},
    {"name": "Gone", "type": "Value", "access": "NI"},
    {"name": "Port", "type": "Port", "size": 64, "access": "NA"},
    {"name": "Faulty", "type": "Integer", "value": 1, "min": 0, "max": 9,
     "faults": [{"op": "GetValue", "nth": 2}, {"op": "SetValue", "kind": "std"}]}
  ]},
  "grabber": {"nodes": [{"name": "G", "type": "Boolean"}]}
}]})";

class ScenarioNodes : public ::testing::Test {
protected:
    void SetUp() override {
        Scenario s = ParseScenarioJson(kNodes, "nodes.json");
        ASSERT_EQ(s.cameras.size(), 1u);
        ASSERT_TRUE(s.cameras[0].buildDevice);
        s.cameras[0].buildDevice(map);
        ASSERT_TRUE(s.cameras[0].buildGrabber);
        s.cameras[0].buildGrabber(grabber);
    }
    INode* Node(const char* name) {
        INode* node = map.GetNode(name);
        EXPECT_NE(node, nullptr) << name;
        return node;
    }
    CMemoryNodeMap map;
    CMemoryNodeMap grabber;
};

TEST_F(ScenarioNodes, EveryKeyReachesItsBuilderArgument) {
    // The same nodes built in code, omitted keys at their documented defaults.
    CMemoryNodeMap expected;
    expected.AddBoolean("Flag", true).Access(RO);
    expected.AddInteger("Big", std::numeric_limits<int64_t>::min(),
                        std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
    expected.AddInteger("Step", 20, 10, 100, 5).Feature(false);
    expected.AddFloat("Exp", 1.5, 0.5, 8, {true, fixedIncrement, 0.25});
    expected.AddFloat("ListF", 1, 1, 2, {true, listIncrement, 0.5});
    expected.AddFloat("NoInc", 0, std::numeric_limits<double>::lowest(),
                      std::numeric_limits<double>::max());
    expected.AddString("Text", "abc", 5).Access(WO);
    expected.AddEnumeration("Mode", {{"Off", 0}, {"On", 7}}, "On");
    expected.AddEnumeration("First", {{"A", 3}, {"B", 4}}, "A");  // no "value": the first entry
    expected.AddCommand("Go");
    expected.AddCommand("Stuck");
    expected.AddCommand("Later");
    expected.AddRegister("Reg", 4, {0xde, 0xad, 0xbe}, 16);  // short content is zero-padded
    expected.AddRegister("Raw", 2, {1, 2});                  // length taken from the bytes
    expected.AddIntRegister("IReg", 258, 0, 65535, 2);       // unsigned range of its two bytes
    expected.AddCategory("Root", {"Flag", "Exp"});
    expected.AddValue("Gone").Access(NI);
    expected.AddPort("Port", 64).Access(NA);
    expected.AddInteger("Faulty", 1, 0, 9);
    EXPECT_EQ(Describe(map), Describe(expected));
    EXPECT_EQ(Describe(grabber),
              DescribeBuilt([](CMemoryNodeMap& m) { m.AddBoolean("G", false); }));
}

TEST_F(ScenarioNodes, CommandsCompleteAndFaultsRaiseAsDescribed) {
    CCommandPtr go = Node("Go");
    ASSERT_TRUE(go);
    go->Execute();
    EXPECT_FALSE(go->IsDone());
    EXPECT_FALSE(go->IsDone());
    EXPECT_TRUE(go->IsDone());
    CCommandPtr stuck = Node("Stuck");
    ASSERT_TRUE(stuck);
    EXPECT_FALSE(stuck->IsDone());
    CCommandPtr later = Node("Later");
    ASSERT_TRUE(later);
    later->Execute();
    EXPECT_FALSE(later->IsDone());

    Describe(map);  // the first read of Faulty
    CIntegerPtr faulty = Node("Faulty");
    ASSERT_TRUE(faulty);
    EXPECT_THROW(faulty->GetValue(), GenICam::RuntimeException);  // only the second read
    EXPECT_EQ(faulty->GetValue(), 1);
    try {
        faulty->SetValue(2);
        ADD_FAILURE() << "SetValue did not raise";
    } catch (const GenICam::GenericException&) {
        ADD_FAILURE() << "kind std raised a GenICam exception";
    } catch (const std::runtime_error&) {
    }
}

// Error positions are rows of tests/tool/cases/usage/scenario-errors.test.

// The full example parses and builds its node maps; every cut of it is an error
// in the same format: no crash and no other exception type.
TEST(ScenarioJson, FullExampleParsesAndItsCutsFailCleanly) {
    const std::string text = ReadText(ExamplePath("scenario-full.json"));
    const Scenario s = ParseScenarioJson(text, "full.json");
    ASSERT_FALSE(s.cameras.empty());
    for (const CameraSpec& c : s.cameras) {
        EXPECT_NO_THROW(DescribeBuilt(c.buildDevice)) << c.serial;
        EXPECT_NO_THROW(DescribeBuilt(c.buildGrabber)) << c.serial;
    }
    for (size_t n = 0; n < text.size(); n += 7) {
        std::string message = ParseError(text.substr(0, n), "cut.json");
        EXPECT_EQ(message.rfind("cut.json:", 0), 0u) << "at " << n << ": " << message;
    }
}

// ---- Files ----------------------------------------------------------------------

class ScenarioFiles : public ::testing::Test {
protected:
    void SetUp() override { KZRSIM::Reset(); }
    void TearDown() override {
        KZRSIM::Reset();
        if (!m_temp.empty()) std::remove(m_temp.c_str());
    }
    std::string WriteTemp(const std::string& text) {
        m_temp = ::testing::TempDir() + "scenario_json_test_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".json";
        std::ofstream(m_temp, std::ios::binary) << text;
        return m_temp;
    }
    std::string m_temp;
};

TEST_F(ScenarioFiles, LoadActivatesTheScenario) {
    KZRSIM::LoadScenarioFile(WriteTemp(R"({"cameras": [{"serial": "F1",
        "device": {"nodes": [{"name": "Gain", "type": "Float", "value": 2}]}}]})"));
    GenApi::CMemoryNodeMap* map = KZRSIM::DeviceNodeMap("F1");
    ASSERT_NE(map, nullptr);
    EXPECT_DOUBLE_EQ(map->PeekFloat("Gain"), 2.0);

    KZRSIM::LoadScenarioJson(R"({"cameras": [{"serial": "J1"}]})", "inline");
    EXPECT_EQ(KZRSIM::DeviceNodeMap("F1"), nullptr);
}

// ---- Demo set -------------------------------------------------------------------

TEST(DemoScenario, ExampleFileHoldsTheSameCameras) {
    const std::string path = ExamplePath("demo-scenario.json");
    Scenario file = ParseScenarioJson(ReadText(path), path);
    Scenario demo = KZRSIM::DemoScenario();
    EXPECT_EQ(file.clSerials, demo.clSerials);
    EXPECT_EQ(file.clProtocols, demo.clProtocols);
    ASSERT_EQ(file.cameras.size(), demo.cameras.size());
    for (size_t i = 0; i < demo.cameras.size(); ++i) {
        const CameraSpec& f = file.cameras[i];
        const CameraSpec& d = demo.cameras[i];
        SCOPED_TRACE(d.serial);
        EXPECT_EQ(std::tie(f.serial, f.vendor, f.model, f.id, f.link, f.pixelFormat, f.chunks),
                  std::tie(d.serial, d.vendor, d.model, d.id, d.link, d.pixelFormat, d.chunks));
        EXPECT_EQ(std::tie(f.transport, f.inClFilter, f.grabberModule, f.width, f.height),
                  std::tie(d.transport, d.inClFilter, d.grabberModule, d.width, d.height));
        EXPECT_DOUBLE_EQ(f.frameRate, d.frameRate);
        EXPECT_EQ(f.script.size(), d.script.size());
        EXPECT_EQ(f.chunkIds, d.chunkIds);
        auto values = [](const CameraSpec& c) {
            std::vector<std::tuple<size_t, size_t, std::string>> out;
            for (const KZRSIM::ChunkValue& v : c.chunkValues)
                out.emplace_back(v.block, v.offset, v.source);
            return out;
        };
        EXPECT_EQ(values(f), values(d));
        auto chunkFeatures = [](const CameraSpec& c) {
            CMemoryNodeMap map;
            if (c.buildDevice) c.buildDevice(map);
            std::vector<std::tuple<std::string, uint64_t, int64_t>> out;
            for (const GenApi::SChunkFeature& feature : map.ChunkFeatures())
                out.emplace_back(feature.name, feature.id, feature.length);
            return out;
        };
        EXPECT_EQ(chunkFeatures(f), chunkFeatures(d));
        EXPECT_EQ(DescribeBuilt(f.buildDevice), DescribeBuilt(d.buildDevice));
        EXPECT_EQ(DescribeBuilt(f.buildGrabber), DescribeBuilt(d.buildGrabber));
    }
}

TEST(DemoScenario, OffersWhatThePluginPathsNeed) {
    Scenario demo = KZRSIM::DemoScenario();
    auto find = [&](const std::string& serial) -> const CameraSpec& {
        for (const CameraSpec& c : demo.cameras)
            if (c.serial == serial) return c;
        throw std::out_of_range(serial);
    };
    for (const CameraSpec& c : demo.cameras) EXPECT_LE(c.frameRate, 30.0) << c.serial;

    // Only the legacy names: the plug-in has to fall back to them.
    CMemoryNodeMap area;
    find("SIM-AREA-001").buildDevice(area);
    EXPECT_EQ(area.GetNode("ExposureTime"), nullptr);
    EXPECT_EQ(area.GetNode("Gain"), nullptr);
    EXPECT_EQ(area.GetNode("ExposureTimeAbs")->GetPrincipalInterfaceType(), intfIFloat);
    EXPECT_EQ(area.GetNode("GainRaw")->GetPrincipalInterfaceType(), intfIInteger);

    // One line trigger per row of the frame.
    const CameraSpec& line = find("SIM-LINE-002");
    CMemoryNodeMap lineMap;
    line.buildDevice(lineMap);
    EXPECT_EQ(lineMap.PeekString("TriggerSelector"), "LineStart");
    EXPECT_EQ(lineMap.PeekInt("Height"), line.height);

    size_t chunkBytes = 0;
    for (const auto& block : find("SIM-CHUNK-003").chunks) chunkBytes += block.size();
    EXPECT_EQ(chunkBytes, 64u);

    // Camera Link: the serial's last three characters and the link name's characters
    // 30..32 each select exactly one ZOZIR port.
    for (const char* serial : {"SIM-KZRCL-P01", "SIM-CL-005"}) {
        const CameraSpec& cl = find(serial);
        ASSERT_GE(cl.link.size(), 33u) << serial;
        std::string key = cl.serial.find("KZRCL") != std::string::npos
                              ? cl.serial.substr(cl.serial.size() - 3)
                              : cl.link.substr(30, 3);
        EXPECT_EQ(cl.link.substr(30, 3), key) << serial;
        EXPECT_EQ(std::count_if(demo.clSerials.begin(), demo.clSerials.end(),
                                [&](const std::string& port) {
                                    return port.find("ZOZIR") != std::string::npos &&
                                           port.find(key) != std::string::npos;
                                }),
                  1)
            << serial;
    }
}

TEST(ScenarioJson, StopErrorIsTheStopResult) {
    const Scenario s = ParseScenarioJson(
        "{\"cameras\": [{\"serial\": \"A\", \"stopError\": -7}, {\"serial\": \"B\"}]}");
    ASSERT_EQ(s.cameras.size(), 2u);
    EXPECT_EQ(s.cameras[0].stopError, -7);
    EXPECT_EQ(s.cameras[1].stopError, 0);
}

}  // namespace
