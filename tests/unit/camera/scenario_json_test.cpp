// JSON scenarios: what the parser makes of a document, the node maps it builds,
// that its cuts fail cleanly, and that the examples agree with the built-in demo
// set. The rows of scenario_cameras.txt and scenario_nodes.txt are JSON pieces and
// what a reader of the result must see.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "GenApi.h"
#include "KZRSim.h"
#include "MemoryNodeMap.h"
#include "TestData.h"

namespace {

using namespace GenApi;
using KZRSIM::CameraSpec;
using KZRSIM::ParseScenarioJson;
using KZRSIM::Scenario;

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

std::string Blocks(const std::vector<std::vector<uint8_t>>& blocks) {
    std::string out;
    for (const auto& block : blocks) out += Hex(block) + "/";
    return out;
}

// Every field of a camera as key=value words, in the order CameraSpec declares them.
std::string Fields(const CameraSpec& c) {
    std::ostringstream s;
    s << "null=" << c.nullRecord << " serial=" << c.serial << " vendor=" << c.vendor
      << " model=" << c.model << " id=" << c.id << " link=" << c.link
      << " transport=" << c.transport << " listed=" << c.listed << " inClFilter=" << c.inClFilter
      << " creatable=" << c.creatable << " openError=" << c.openError
      << " connected=" << c.connected << " deviceModule=" << c.deviceModule
      << " deviceNodeMap=" << c.deviceNodeMap << " grabberModule=" << c.grabberModule
      << " grabberNodeMap=" << c.grabberNodeMap << " faults=";
    for (const auto& fault : c.faults) s << fault.first << ":" << fault.second << ",";
    s << " buildDevice=" << bool(c.buildDevice) << " buildGrabber=" << bool(c.buildGrabber)
      << " startError=" << c.startError << " stopError=" << c.stopError
      << " pixelFormat=" << c.pixelFormat << " width=" << c.width << " height=" << c.height
      << " frameRate=" << c.frameRate << " validFrames=" << c.validFrames
      << " chunks=" << Blocks(c.chunks) << " chunkIds=";
    for (uint64_t id : c.chunkIds) s << id << ",";
    s << " chunkValues=";
    for (const auto& v : c.chunkValues) s << v.block << ":" << v.offset << ":" << v.source << ",";
    s << " script=";
    for (const auto& st : c.script) {
        s << "[" << st.code << "," << st.delayMs << "," << st.valid << "," << st.width << "x"
          << st.height << "x" << st.channels << "x" << st.bits << "," << st.hasChunks << ":"
          << Blocks(st.chunks) << "," << st.fault << "," << st.lost << "]";
    }
    return s.str();
}

std::vector<std::string> DescribeBuilt(const std::function<void(CMemoryNodeMap&)>& build) {
    CMemoryNodeMap map;
    if (build) build(map);
    return Describe(map);
}

// ---- Parsing ------------------------------------------------------------------

// Each row: the keys of one camera record => words that Fields() of it must hold.
TEST(ScenarioJson, EveryCameraKeyReachesItsField) {
    for (const auto& [keys, words] : Rows("scenario_cameras.txt")) {
        const Scenario s = ParseScenarioJson("{\"cameras\": [{" + keys + "}]}", "row.json");
        ASSERT_EQ(s.cameras.size(), 1u) << keys;
        EXPECT_NE((" " + Fields(s.cameras[0]) + " ").find(" " + words + " "), std::string::npos)
            << keys << "\n  => " << Fields(s.cameras[0]);
    }
    // Omitted keys keep CameraSpec's defaults.
    CameraSpec defaults;
    defaults.serial = "A";
    EXPECT_EQ(Fields(ParseScenarioJson(R"({"cameras": [{"serial": "A"}]})").cameras.at(0)),
              Fields(defaults));
}

// Each row: a node list => Describe() of the nodes it builds, sorted, joined by " ; ".
// The same list under "grabber" builds the same grabber map.
TEST(ScenarioJson, EveryNodeKeyReachesItsBuilderArgument) {
    for (const auto& [nodes, expected] : Rows("scenario_nodes.txt")) {
        const Scenario s =
            ParseScenarioJson(R"({"cameras": [{"serial": "N", "device": {"nodes": )" + nodes +
                                  R"(}, "grabber": {"nodes": )" + nodes + "}}]}",
                              "row.json");
        ASSERT_EQ(s.cameras.size(), 1u) << nodes;
        for (const auto* build : {&s.cameras[0].buildDevice, &s.cameras[0].buildGrabber}) {
            ASSERT_TRUE(*build) << nodes;
            std::string got;
            for (const std::string& line : DescribeBuilt(*build))
                got += (got.empty() ? "" : " ; ") + line;
            EXPECT_EQ(got, expected) << nodes;
        }
    }
}

TEST(ScenarioJson, CommandsCompleteAndFaultsRaiseAsDescribed) {
    const Scenario s = ParseScenarioJson(R"({"cameras": [{"serial": "N", "device": {"nodes": [
        {"name": "Go", "type": "Command", "completion": {"afterPolls": 2}},
        {"name": "Stuck", "type": "Command", "completion": "never"},
        {"name": "Later", "type": "Command", "completion": {"afterDelayMs": 100000}},
        {"name": "Faulty", "type": "Integer", "value": 1, "min": 0, "max": 9,
         "faults": [{"op": "GetValue", "nth": 2}, {"op": "SetValue", "kind": "std"}]}]}}]})");
    CMemoryNodeMap map;
    s.cameras.at(0).buildDevice(map);
    CCommandPtr go = map.GetNode("Go"), stuck = map.GetNode("Stuck"), later = map.GetNode("Later");
    ASSERT_TRUE(go && stuck && later);
    go->Execute();
    EXPECT_FALSE(go->IsDone());
    EXPECT_FALSE(go->IsDone());
    EXPECT_TRUE(go->IsDone());
    EXPECT_FALSE(stuck->IsDone());
    later->Execute();
    EXPECT_FALSE(later->IsDone());

    CIntegerPtr faulty = map.GetNode("Faulty");
    ASSERT_TRUE(faulty);
    EXPECT_EQ(faulty->GetValue(), 1);
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
    const std::string text = ReadText(QRV_SOURCE_DIR "/examples/scenario-full.json");
    const Scenario s = ParseScenarioJson(text, "full.json");
    ASSERT_FALSE(s.cameras.empty());
    for (const CameraSpec& c : s.cameras) {
        EXPECT_NO_THROW(DescribeBuilt(c.buildDevice)) << c.serial;
        EXPECT_NO_THROW(DescribeBuilt(c.buildGrabber)) << c.serial;
    }
    for (size_t n = 0; n < text.size(); n += 7) {
        try {
            ParseScenarioJson(text.substr(0, n), "cut.json");
            ADD_FAILURE() << "a cut at " << n << " parses";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()).rfind("cut.json:", 0), 0u)
                << "at " << n << ": " << e.what();
        }
    }
}

// ---- Demo set -------------------------------------------------------------------

TEST(DemoScenario, ExampleFileHoldsTheSameCameras) {
    const std::string path = QRV_SOURCE_DIR "/examples/demo-scenario.json";
    Scenario file = ParseScenarioJson(ReadText(path), path);
    Scenario demo = KZRSIM::DemoScenario();
    EXPECT_EQ(file.clSerials, demo.clSerials);
    EXPECT_EQ(file.clProtocols, demo.clProtocols);
    ASSERT_EQ(file.cameras.size(), demo.cameras.size());
    for (size_t i = 0; i < demo.cameras.size(); ++i) {
        const CameraSpec& f = file.cameras[i];
        const CameraSpec& d = demo.cameras[i];
        SCOPED_TRACE(d.serial);
        EXPECT_EQ(Fields(f), Fields(d));
        EXPECT_LE(d.frameRate, 30.0);
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

    // Camera Link: the serial's last three characters and the link name's characters
    // 30..32 each select exactly one ZOZIR port.
    for (const char* serial : {"SIM-KZRCL-P01", "SIM-CL-005"}) {
        const CameraSpec& cl = find(serial);
        ASSERT_GE(cl.link.size(), 33u) << serial;
        const std::string key = cl.link.substr(30, 3);
        if (cl.serial.find("KZRCL") != std::string::npos) {
            EXPECT_EQ(cl.serial.substr(cl.serial.size() - 3), key) << serial;
        }
        EXPECT_EQ(std::count_if(demo.clSerials.begin(), demo.clSerials.end(),
                                [&](const std::string& port) {
                                    return port.find("ZOZIR") != std::string::npos &&
                                           port.find(key) != std::string::npos;
                                }),
                  1)
            << serial;
    }
}

}  // namespace
