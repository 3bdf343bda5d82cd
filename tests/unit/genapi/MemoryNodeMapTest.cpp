// The in-memory node map as one table (memory.tsv): each row prepares a fresh map
// of every node kind, runs one operation on one node and compares the result.
#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "MemoryNodeMap.h"
#include "RowFile.h"

using namespace GenApi;
using qrvtest::Bytes;
using qrvtest::Hex;
using qrvtest::Join;

namespace {

constexpr int64_t kMin64 = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax64 = std::numeric_limits<int64_t>::max();

void Build(CMemoryNodeMap& map) {
    map.AddBoolean("Flag", true);
    map.AddInteger("Width", 640, 16, 4096, 16);
    map.AddInteger("OffsetX", 8, 8, 1024, 4);
    map.AddInteger("Full", 0, kMin64, kMax64);
    map.AddInteger("Coarse", kMin64, kMin64, kMax64, int64_t{1} << 62);
    map.AddInteger("Count", 0, -100, 100).Text({"", "", "Raw steps", "dB", Guru});
    map.AddFloat("Exposure", 1000.0, 10.0, 1e6).Text({"Exposure", "Sensor exposure.", "", "us"});
    map.AddFloat("Free", 0.5, 0.0, 10.0);
    map.AddFloat("Stepped", 1.0, 1.0, 3.0, SFloatInc{true, fixedIncrement, 0.1});
    map.AddFloat("Listed", 1.0, 0.0, 3.0, SFloatInc{true, listIncrement, 0.0});
    map.AddString("Model", "Sim");
    map.AddString("UserId", "cam", 4);
    map.AddEnumeration("PixelFormat", {{"Mono8", 1}, {"Mono16", 2}}, "Mono8");
    map.AddEnumeration("TriggerMode", {{"Off", 0}, {"On", 1}, {"Auto", 5}}, "On");
    map.AddEnumeration("FirstByDefault", {{"A", 3}, {"B", 4}}, "");
    map.AddCommand("Start");
    map.AddCommand("Stuck", ECommandCompletion::Never);
    map.AddCommand("Calibrate", ECommandCompletion::AfterPolls, 3);
    map.AddRegister("Lut", 3, {1, 2, 3, 4}, 0x100);
    map.AddRegister("Padded", 4, {5});
    map.AddIntRegister("Gain", 0x0102, 0, 0xFFFF, 2);
    map.AddIntRegister("Offset", -2, -100, 100, 1);
    map.AddCategory("Root", {"Width", "Missing", "Model"});
    map.AddValue("Opaque");
    map.AddPort("Device", 8);
}

const std::map<std::string, EFaultOp> kFaultOps = {{"SetValue", EFaultOp::SetValue},
                                                   {"GetValue", EFaultOp::GetValue},
                                                   {"GetAccessMode", EFaultOp::GetAccessMode},
                                                   {"Any", EFaultOp::Any}};

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string Operate(CMemoryNodeMap& map, const std::string& op, const std::string& name,
                    const std::string& input) {
    INode* node = map.GetNode(name.c_str());
    const auto number = [&input] { return std::stoll(input, nullptr, 0); };
    if (op == "Read") return CValuePtr(node)->ToString().str();
    if (op == "Write") return CValuePtr(node)->FromString(input.c_str()), "";
    if (op == "Set" || op == "SetUnverified") {
        if (CIntegerPtr i = node) return i->SetValue(number(), op == "Set"), "";
        if (CFloatPtr f = node) return f->SetValue(std::strtod(input.c_str(), nullptr)), "";
        if (CStringPtr s = node) return s->SetValue(input.c_str()), "";
        if (CEnumerationPtr e = node) return e->SetIntValue(number()), "";
        return CBooleanPtr(node)->SetValue(input == "true"), "";
    }
    if (op == "Get") {
        if (CIntegerPtr i = node) return std::to_string(i->GetValue());
        if (CFloatPtr f = node) return Number(f->GetValue());
        if (CEnumerationPtr e = node) return std::to_string(e->GetIntValue());
        return CBooleanPtr(node)->GetValue() ? "true" : "false";
    }
    if (op == "Range") {
        if (CFloatPtr f = node) {
            const char* modes[] = {"no", "fixed", "list"};
            return Number(f->GetMin()) + " " + Number(f->GetMax()) + " " +
                   (f->HasInc() ? Number(f->GetInc()) : "-") + " " + modes[f->GetIncMode()];
        }
        CIntegerPtr i = node;
        return std::to_string(i->GetMin()) + " " + std::to_string(i->GetMax()) + " " +
               std::to_string(i->GetInc()) + (i->GetIncMode() == fixedIncrement ? " fixed" : " ?");
    }
    if (op == "MaxLength") return std::to_string(CStringPtr(node)->GetMaxLength());
    if (op == "Interfaces") {
        const char* principal[] = {"IValue",    "IBase",        "IInteger",   "IBoolean",
                                   "ICommand",  "IFloat",       "IString",    "IRegister",
                                   "ICategory", "IEnumeration", "IEnumEntry", "IPort"};
        std::string valid = principal[node->GetPrincipalInterfaceType()] + std::string(" ");
        const bool kinds[] = {CIntegerPtr(node).IsValid(),     CFloatPtr(node).IsValid(),
                              CBooleanPtr(node).IsValid(),     CStringPtr(node).IsValid(),
                              CEnumerationPtr(node).IsValid(), CCommandPtr(node).IsValid(),
                              CRegisterPtr(node).IsValid(),    CCategoryPtr(node).IsValid(),
                              CValuePtr(node).IsValid(),       CPointer<IPort>(node).IsValid(),
                              CEnumEntryPtr(node).IsValid()};
        for (std::size_t k = 0; k < sizeof kinds; ++k)
            if (kinds[k]) valid += "IFBSECRKVPN"[k];
        return valid + (node->IsFeature() ? " feature" : " internal");
    }
    if (op == "Access") {
        IBase* base = node ? static_cast<IBase*>(CValuePtr(node)) : nullptr;
        return std::string(IsReadable(base) ? "R" : "-") + (IsWritable(base) ? "W" : "-") +
               (IsImplemented(base) ? "I" : "-") + (IsAvailable(base) ? "A" : "-");
    }
    if (op == "Symbolics") {
        gcstring_vector symbolics;
        CEnumerationPtr(node)->GetSymbolics(symbolics);
        return Join({symbolics.begin(), symbolics.end()});
    }
    if (op == "Entries") {
        NodeList_t entries;
        CEnumerationPtr(node)->GetEntries(entries);
        std::vector<std::string> names;
        for (INode* entry : entries)
            names.push_back(CEnumEntryPtr(entry)->GetSymbolic().str() +
                            (IsAvailable(entry->GetAccessMode()) ? "" : "(NA)"));
        return Join(names);
    }
    if (op == "Entry") {
        CEnumerationPtr e = node;
        IEnumEntry* entry = input.empty() ? e->GetCurrentEntry() : e->GetEntryByName(input.c_str());
        return entry ? entry->GetSymbolic().str() + "=" + std::to_string(entry->GetValue())
                     : "none";
    }
    if (op == "Features") {
        FeatureList_t features;
        CCategoryPtr(node)->GetFeatures(features);
        std::vector<std::string> names;
        for (IValue* feature : features) names.push_back(feature->GetNode()->GetName().str());
        return Join(names);
    }
    if (op == "Polls") {
        // Executes, then asks IsDone input times.
        CCommandPtr(node)->Execute();
        std::vector<std::string> answers;
        for (int64_t k = 0; k < number(); ++k)
            answers.push_back(CCommandPtr(node)->IsDone() ? "done" : "busy");
        return Join(answers) + " executed " + std::to_string(map.ExecuteCount(name));
    }
    if (op == "IsDone") return CCommandPtr(node)->IsDone() ? "done" : "busy";
    if (op == "GetBytes" || op == "GetNull") {
        CRegisterPtr r = node;
        std::vector<uint8_t> bytes(
            static_cast<std::size_t>(input.empty() ? r->GetLength() : number()));
        r->Get(op == "GetNull" ? nullptr : bytes.data(), static_cast<int64_t>(bytes.size()));
        return Hex(bytes) + " at " + std::to_string(r->GetAddress());
    }
    if (op == "SetBytes" || op == "SetNull") {
        const std::vector<uint8_t> bytes = Bytes(input);
        CRegisterPtr(node)->Set(op == "SetNull" ? nullptr : bytes.data(),
                                static_cast<int64_t>(bytes.size()));
        return "";
    }
    if (op == "Port") {
        // "address:hex" written, then read back.
        const int64_t address = std::stoll(input.substr(0, input.find(':')));
        std::vector<uint8_t> bytes = Bytes(input.substr(input.find(':') + 1));
        CPointer<IPort> port = node;
        port->Write(bytes.data(), address, static_cast<int64_t>(bytes.size()));
        port->Read(bytes.data(), address, static_cast<int64_t>(bytes.size()));
        return Hex(bytes);
    }
    if (op == "Text") {
        const char* visibility[] = {"Beginner", "Expert", "Guru", "Invisible"};
        std::string unit = CFloatPtr(node) ? CFloatPtr(node)->GetUnit().str() : "";
        if (CIntegerPtr i = node) unit = i->GetUnit().str();
        return node->GetDisplayName().str() + "|" + node->GetToolTip().str() + "|" + unit + "|" +
               (node->GetVisibility() <= Invisible ? visibility[node->GetVisibility()] : "?");
    }
    if (op == "Calls") {
        std::vector<std::string> counts;
        for (const auto& [text, value] : kFaultOps)
            counts.push_back(text + "=" + std::to_string(map.CallCount(name, value)));
        return Join(counts, " ");
    }
    if (op == "PeekInt") return std::to_string(map.PeekInt(name));
    if (op == "PeekFloat") return Number(map.PeekFloat(name));
    if (op == "PeekString") return map.PeekString(name);
    if (op == "PokeInt") return map.PokeInt(name, number()), std::to_string(map.PeekInt(name));
    if (op == "PokeFloat") return map.PokeFloat(name, std::strtod(input.c_str(), nullptr)), "";
    if (op == "PokeString") return map.PokeString(name, input), map.PeekString(name);
    return "unknown operation " + op;
}

/// Setup actions, ';' apart: "Node=text" written with FromString, "Node@RO" access
/// mode, "Node@internal" no feature, "execute Node", "fault Node=..." an injected fault.
void Prepare(CMemoryNodeMap& map, const std::string& setup) {
    std::istringstream in(setup);
    for (std::string action; std::getline(in, action, ';');) {
        const auto at = action.find('@');
        const auto eq = action.find('=');
        if (action.rfind("fault ", 0) == 0) {
            // "fault Node=Operation/kind/nth", kind genicam or std, nth 0 for always.
            std::istringstream fault(action.substr(eq + 1));
            std::string op, kind, nth;
            std::getline(std::getline(std::getline(fault, op, '/'), kind, '/'), nth);
            map.Ref(action.substr(6, eq - 6))
                .InjectFault({kFaultOps.at(op),
                              kind == "std" ? EFaultKind::Std : EFaultKind::GenICam,
                              std::stoi(nth)});
        } else if (action.rfind("execute ", 0) == 0) {
            CCommandPtr(map.GetNode(action.substr(8).c_str()))->Execute();
        } else if (at != std::string::npos && action.substr(at + 1) == "internal") {
            map.Ref(action.substr(0, at)).Feature(false);
        } else if (at != std::string::npos) {
            const std::string modes = "NI NA WO RO RW";
            const auto mode = modes.find(action.substr(at + 1));
            if (action.size() != at + 3 || mode == std::string::npos)
                throw std::invalid_argument(action);
            map.Ref(action.substr(0, at)).Access(static_cast<EAccessMode>(mode / 3));
        } else {
            CValuePtr(map.GetNode(action.substr(0, eq).c_str()))
                ->FromString(action.substr(eq + 1).c_str());
        }
    }
}

class MemoryNodeMap : public ::testing::TestWithParam<qrvtest::SRow> {};

TEST_P(MemoryNodeMap, OperationGivesItsResult) {
    const qrvtest::SRow& c = GetParam();
    CMemoryNodeMap map;
    Build(map);
    Prepare(map, c["setup"]);
    std::string result;
    try {
        result = Operate(map, c["op"], c["node"], c["input"]);
    } catch (const GenICam::GenericException& e) {
        result = std::string("!") + e.what();
    } catch (const std::out_of_range& e) {
        result = std::string("!out_of_range ") + e.what();
    } catch (const std::invalid_argument& e) {
        result = std::string("!invalid_argument ") + e.what();
    } catch (const std::logic_error& e) {
        result = std::string("!logic_error ") + e.what();
    } catch (const std::runtime_error& e) {
        result = std::string("!runtime_error ") + e.what();
    }
    qrvtest::ExpectResult(result, c["expected"]);
    // A refused write leaves the value as it was.
    if (!c["after"].empty()) {
        EXPECT_EQ(CValuePtr(map.GetNode(c["node"].c_str()))->ToString(), c["after"]);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, MemoryNodeMap,
                         ::testing::ValuesIn(qrvtest::ReadRows(QRV_GENAPI_ROWS "/memory.tsv")),
                         [](const auto& row) { return row.param["name"]; });

TEST(MemoryNodeMapBuilders, ReplaceKeepsOldNodesAliveRemoveForgetsAndBadShapesAreRefused) {
    CMemoryNodeMap map;
    Build(map);
    NodeList_t nodes;
    map.GetNodes(nodes);
    EXPECT_EQ(nodes.size(), 32u);  // 25 nodes and 7 enumeration entries
    EXPECT_EQ(nodes.front()->GetName(), "Flag");
    EXPECT_EQ(map.GetDeviceName(), "Device");
    INode* old = map.GetNode("Width");
    map.AddString("Width", "now a string");
    EXPECT_TRUE(CStringPtr(map.GetNode("Width")).IsValid());
    EXPECT_EQ(CIntegerPtr(old)->GetValue(), 640) << "a caller's pointer stays usable";
    map.AddEnumeration("PixelFormat", {{"Rgb8", 7}}, "Rgb8");
    EXPECT_EQ(map.GetNode("EnumEntry_PixelFormat_Mono8"), nullptr);
    map.Remove("PixelFormat");
    EXPECT_FALSE(map.Has("PixelFormat"));
    EXPECT_EQ(map.GetNode("EnumEntry_PixelFormat_Rgb8"), nullptr);
    EXPECT_THROW(map.Ref("PixelFormat"), std::out_of_range);
    map.GetNodes(nodes);
    EXPECT_EQ(nodes.size(), 29u);
    map.AddBoolean("Missing", false);
    FeatureList_t features;
    CCategoryPtr(map.GetNode("Root"))->GetFeatures(features);
    EXPECT_EQ(features.size(), 3u) << "a category sees children added later";
    EXPECT_THROW(map.AddEnumeration("Bad", {{"A", 3}}, "Z"), std::invalid_argument);
    EXPECT_THROW(map.AddIntRegister("Wide", 0, 0, 1, 9), std::invalid_argument);
    EXPECT_THROW(map.Ref("Full").Completion(ECommandCompletion::Never), std::logic_error);
}

}  // namespace
