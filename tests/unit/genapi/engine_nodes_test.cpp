// The engine's node map over a counting memory port: hostile descriptions,
// caching and invalidation, and the node kinds' values and byte layouts. Expected
// bytes and values are worked out by hand in the rows.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "EngineNodeMap.h"
#include "MemoryPort.h"

using namespace GenApi;

namespace {

std::string Description(const std::string& nodes) {
    return "<?xml version=\"1.0\"?>\n<RegisterDescription ModelName=\"M\" VendorName=\"V\" "
           "SchemaMajorVersion=\"1\" SchemaMinorVersion=\"1\" SchemaSubMinorVersion=\"0\">"
           "<Port Name=\"Device\"/>" +
           nodes + "</RegisterDescription>";
}

std::string IntReg(const std::string& name, const std::string& address,
                   const std::string& extra = "") {
    return "<IntReg Name=\"" + name + "\"><Address>" + address +
           "</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>" + extra +
           "</IntReg>";
}

std::string Value(const std::string& kind, const std::string& name, const std::string& inner) {
    return "<" + kind + " Name=\"" + name + "\">" + inner + "</" + kind + ">";
}

std::string Message(const std::exception& e) {
    if (const auto* g = dynamic_cast<const GenICam::GenericException*>(&e))
        return g->GetDescription();
    return e.what();
}

// ---------------------------------------------------------------------------
// Hostile descriptions: each loads with an error naming the fault, or raises on
// the operation, and never hangs (the program runs under a CTest timeout).

/// Two IntSwissKnifes per level, each "A+B" over both of the next level, 30
/// levels over two registers: 2^30 paths, 62 nodes.
std::string FanOut() {
    std::string nodes = IntReg("L30a", "0x0") + IntReg("L30b", "0x4");
    for (int level = 29; level >= 0; --level) {
        const std::string next = "L" + std::to_string(level + 1);
        for (const char* side : {"a", "b"}) {
            nodes += Value("IntSwissKnife", "L" + std::to_string(level) + side,
                           "<pVariable Name=\"A\">" + next + "a</pVariable><pVariable Name=\"B\">" +
                               next + "b</pVariable><Formula>A+B</Formula>");
        }
    }
    return nodes;
}

/// A pValue chain longer than evaluation may nest.
std::string LongChain() {
    std::string nodes = IntReg("C0", "0x0");
    for (int i = 1; i <= 600; ++i) {
        nodes += Value("Integer", "C" + std::to_string(i),
                       "<pValue>C" + std::to_string(i - 1) + "</pValue>");
    }
    return nodes;
}

struct SHostileCase {
    const char* name;
    std::string nodes;
    const char* readNode;  ///< read after a successful load; null: the load must fail
    const char* error;     ///< expected error substring; empty: the read succeeds
    int64_t value;         ///< expected value of a successful read
    int64_t maxPortReads;  ///< of a successful read
};

// clang-format off
std::vector<SHostileCase> HostileCases() {
    return {
        {"pIsAvailableIntoValueLoop",
         Value("Integer", "A", "<pValue>B</pValue>") + Value("Integer", "B", "<pValue>A</pValue>") +
             Value("Integer", "C", "<pIsAvailable>A</pIsAvailable><Value>1</Value>"),
         nullptr, "reference cycle: 'A' -> 'B' -> 'A'", 0, 0},
        {"pIsImplementedSwissKnifeReadingItself",
         Value("SwissKnife", "S", "<pVariable Name=\"X\">S</pVariable><Formula>X+1</Formula>") +
             Value("Integer", "N", "<pIsImplemented>S</pIsImplemented><Value>1</Value>"),
         nullptr, "reference cycle: 'S' -> 'S'", 0, 0},
        {"pMaxThroughConverterLoop",
         Value("Converter", "X", "<FormulaTo>FROM</FormulaTo><FormulaFrom>TO</FormulaFrom><pValue>Y</pValue>") +
             Value("Integer", "Y", "<pValue>X</pValue>") + Value("Integer", "Z", "<Value>1</Value><pMax>X</pMax>"),
         nullptr, "reference cycle: 'X' -> 'Y' -> 'X'", 0, 0},
        {"pAddressCycle",
         "<IntReg Name=\"R1\"><pAddress>R2</pAddress><Length>4</Length><pPort>Device</pPort></IntReg>"
         "<IntReg Name=\"R2\"><pAddress>R1</pAddress><Length>4</Length><pPort>Device</pPort></IntReg>",
         nullptr, "reference cycle", 0, 0},
        {"pIndexCycle",
         Value("Integer", "I", "<pIndex>I</pIndex><ValueIndexed Index=\"0\">1</ValueIndexed>"), nullptr,
         "reference cycle: 'I' -> 'I'", 0, 0},
        {"selectorCycle",
         Value("Integer", "S1", "<Value>0</Value><pSelected>S2</pSelected>") +
             Value("Integer", "S2", "<Value>0</Value><pSelected>S1</pSelected>"),
         nullptr, "selector cycle", 0, 0},
        {"expressionsUsingEachOther",
         Value("SwissKnife", "K",
               "<Expression Name=\"E1\">E2+1</Expression><Expression Name=\"E2\">E1+1</Expression>"
               "<Formula>E1</Formula>"),
         nullptr, "uses itself", 0, 0},
        {"missingReference", Value("Integer", "A", "<pValue>Nowhere</pValue>"), nullptr,
         "refers to the missing node 'Nowhere'", 0, 0},
        {"duplicateName", Value("Integer", "A", "<Value>1</Value>") + Value("Integer", "A", "<Value>2</Value>"),
         nullptr, "duplicate node name 'A'", 0, 0},
        {"pPortNotAPort", "<IntReg Name=\"R\"><Address>0</Address><Length>4</Length><pPort>R</pPort></IntReg>",
         nullptr, "is not a Port", 0, 0},
        {"maskedBitsOutsideRegister",
         "<MaskedIntReg Name=\"M\"><Address>0</Address><Length>2</Length><pPort>Device</pPort>"
         "<LSB>12</LSB><MSB>19</MSB></MaskedIntReg>",
         nullptr, "do not fit its 2-byte register", 0, 0},
        {"fanOutDepth30", FanOut(), "L0a", "", int64_t{7} << 29, 2},
        {"chainDeeperThanEvaluationBound", LongChain(), "C600", "nests deeper than 512", 0, 0},
    };
}
// clang-format on

class HostileDescription : public ::testing::TestWithParam<SHostileCase> {};

TEST_P(HostileDescription, FailsCleanlyOrAnswersInLinearReads) {
    const SHostileCase& c = GetParam();
    auto port = std::make_shared<CMemoryPort>(64);
    port->Poke(0, {3, 0, 0, 0, 4, 0, 0, 0});
    std::unique_ptr<CEngineNodeMap> map;
    try {
        map = CEngineNodeMap::Load(Description(c.nodes), port, "dev");
    } catch (const GenICam::RuntimeException& e) {
        ASSERT_EQ(c.readNode, nullptr) << "load failed: " << Message(e);
        EXPECT_NE(Message(e).find(c.error), std::string::npos) << Message(e);
        return;
    }
    ASSERT_NE(c.readNode, nullptr) << "loaded, but should fail with: " << c.error;
    CIntegerPtr node = map->GetNode(c.readNode);
    ASSERT_TRUE(node.IsValid());
    if (std::string(c.error).empty()) {
        EXPECT_EQ(node->GetValue(), c.value);
        EXPECT_LE(port->reads, c.maxPortReads);
    } else {
        try {
            node->GetValue();
            ADD_FAILURE() << "no exception";
        } catch (const GenICam::GenericException& e) {
            EXPECT_NE(Message(e).find(c.error), std::string::npos) << Message(e);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Engine, HostileDescription, ::testing::ValuesIn(HostileCases()),
                         [](const auto& row) { return std::string(row.param.name); });

// ---------------------------------------------------------------------------
// Caching and invalidation: port reads counted while reading one node twice after
// an action.

const std::string kCachingNodes =
    IntReg("Through", "0x0") + IntReg("NoCache", "0x4", "<Cachable>NoCache</Cachable>") +
    IntReg("Around", "0x8", "<Cachable>WriteAround</Cachable>") +
    IntReg("Polled", "0xC", "<PollingTime>100</PollingTime>") +
    Value("Enumeration", "PolledEnum",
          "<EnumEntry Name=\"Zero\"><Value>0</Value></EnumEntry><pValue>PolledEnumReg</pValue>"
          "<PollingTime>50</PollingTime>") +
    IntReg("PolledEnumReg", "0x1C") +
    Value("Integer", "GainSelector", "<Value>0</Value><pSelected>Gain</pSelected>") +
    IntReg("Gain", "0x10") + IntReg("Other", "0x14") +
    IntReg("Invalidated", "0x18", "<pInvalidator>Trigger</pInvalidator>") +
    Value("Integer", "Trigger", "<Value>0</Value>") +
    "<Register Name=\"Block\"><Address>0x0</Address><Length>8</Length><AccessMode>RW</AccessMode>"
    "<pPort>Device</pPort></Register>" +
    Value("Converter", "Scaled",
          "<FormulaTo>FROM/2</FormulaTo><FormulaFrom>TO*2</FormulaFrom><pValue>Other</pValue>");

struct SCachingCase {
    const char* name;
    std::function<void(CEngineNodeMap&)> action;
    const char* node;  ///< read twice (an IRegister is read with Get)
    int64_t expectedReads;
    bool ignoreCache = false;
};

void Read(CEngineNodeMap& map, const char* name, bool ignoreCache = false) {
    INode* node = map.GetNode(name);
    if (CIntegerPtr i = node) {
        i->GetValue(false, ignoreCache);
    } else if (CFloatPtr f = node) {
        f->GetValue();
    } else {
        CRegisterPtr r = node;
        std::vector<uint8_t> bytes(static_cast<std::size_t>(r->GetLength()));
        r->Get(bytes.data(), r->GetLength());
    }
}

void WriteInt(CEngineNodeMap& map, const char* name, int64_t v) {
    CIntegerPtr(map.GetNode(name))->SetValue(v);
}

// clang-format off
std::vector<SCachingCase> CachingCases() {
    return {
        {"writeThroughReadsOnce", nullptr, "Through", 1},
        {"noCacheReadsEveryTime", nullptr, "NoCache", 2},
        {"polledReadsEveryTime", nullptr, "Polled", 2},
        {"polledEnumerationReadsEveryTime", nullptr, "PolledEnumReg", 2},
        {"writeThroughKeepsTheWrittenValue", [](CEngineNodeMap& m) { WriteInt(m, "Through", 9); }, "Through", 0},
        {"writeAroundReadsAfterWrite", [](CEngineNodeMap& m) { WriteInt(m, "Around", 9); }, "Around", 1},
        {"selectorInvalidatesSelected",
         [](CEngineNodeMap& m) {
             Read(m, "Gain");
             WriteInt(m, "GainSelector", 1);
         },
         "Gain", 1},
        {"selectorLeavesOthersCached",
         [](CEngineNodeMap& m) {
             Read(m, "Other");
             WriteInt(m, "GainSelector", 1);
         },
         "Other", 0},
        {"pInvalidatorInvalidates",
         [](CEngineNodeMap& m) {
             Read(m, "Invalidated");
             WriteInt(m, "Trigger", 1);
         },
         "Invalidated", 1},
        {"unrelatedWriteKeepsCache",
         [](CEngineNodeMap& m) {
             Read(m, "Invalidated");
             WriteInt(m, "Other", 1);
         },
         "Invalidated", 0},
        {"overlappingWriteInvalidates",
         [](CEngineNodeMap& m) {
             Read(m, "Block");
             WriteInt(m, "Through", 5);
         },
         "Block", 1},
        {"converterReadsThroughItsRegisterCache", [](CEngineNodeMap& m) { Read(m, "Other"); }, "Scaled", 0},
        {"ignoreCacheReadsEveryTime", [](CEngineNodeMap& m) { Read(m, "Through"); }, "Through", 2, true},
        {"invalidateNodesForgetsAll",
         [](CEngineNodeMap& m) {
             Read(m, "Through");
             m.InvalidateNodes();
         },
         "Through", 1},
    };
}
// clang-format on

class EngineCaching : public ::testing::TestWithParam<SCachingCase> {};

TEST_P(EngineCaching, PortReadsForTwoReads) {
    const SCachingCase& c = GetParam();
    auto port = std::make_shared<CMemoryPort>(64);
    auto map = CEngineNodeMap::Load(Description(kCachingNodes), port, "dev");
    if (c.action) c.action(*map);
    const int64_t before = port->reads;
    Read(*map, c.node, c.ignoreCache);
    Read(*map, c.node, c.ignoreCache);
    EXPECT_EQ(port->reads - before, c.expectedReads);
}

INSTANTIATE_TEST_SUITE_P(Engine, EngineCaching, ::testing::ValuesIn(CachingCases()),
                         [](const auto& row) { return std::string(row.param.name); });

// ---------------------------------------------------------------------------
// Node kinds over one small description: values, ranges, access, entries and the
// bytes a write leaves in the device.

std::string Reg(const char* kind, const std::string& name, const std::string& address, int length,
                const std::string& extra = "") {
    return "<" + std::string(kind) + " Name=\"" + name + "\"><Address>" + address +
           "</Address><Length>" + std::to_string(length) +
           "</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>" + extra + "</" + kind + ">";
}

// clang-format off
const std::string kKindNodes =
    "<Category Name=\"Root\"><pFeature>Width</pFeature><pFeature>Mode</pFeature></Category>" +
    Value("Integer", "Width", "<Value>64</Value><Min>16</Min><Max>1024</Max><Inc>16</Inc><Unit>px</Unit>") +
    Value("Integer", "NoMin", "<Value>4</Value><Inc>4</Inc>") +
    Value("Integer", "Listed", "<Value>2</Value><ValidValueSet>1;2;4;8</ValidValueSet>") +
    Value("Integer", "Zero", "<Value>0</Value>") + Value("Integer", "One", "<Value>1</Value>") +
    // Each maximum reads the other's value: no cycle.
    Value("Integer", "SensorW", "<Value>100</Value>") +
    Value("Integer", "W", "<Value>60</Value><pMax>WMax</pMax>") +
    Value("Integer", "OX", "<Value>8</Value><pMax>OXMax</pMax>") +
    Value("IntSwissKnife", "WMax", "<pVariable Name=\"S\">SensorW</pVariable><pVariable Name=\"O\">OX</pVariable><Formula>S-O</Formula>") +
    Value("IntSwissKnife", "OXMax", "<pVariable Name=\"S\">SensorW</pVariable><pVariable Name=\"V\">W</pVariable><Formula>S-V</Formula>") +
    Reg("IntReg", "BeSigned", "0x10", 2, "<Sign>Signed</Sign><Endianess>BigEndian</Endianess>") +
    Reg("MaskedIntReg", "LeBits", "0x20", 4, "<LSB>4</LSB><MSB>11</MSB>") +
    Reg("MaskedIntReg", "BeBits", "0x24", 4, "<Endianess>BigEndian</Endianess><LSB>31</LSB><MSB>24</MSB>") +
    Reg("MaskedIntReg", "BeTopBit", "0x24", 4, "<Endianess>BigEndian</Endianess><Bit>0</Bit>") +
    "<StructReg Comment=\"Flags\"><Address>0x28</Address><Length>4</Length><AccessMode>RW</AccessMode>"
    "<pPort>Device</pPort><StructEntry Name=\"FlagA\"><Bit>0</Bit></StructEntry>"
    "<StructEntry Name=\"FieldB\"><LSB>8</LSB><MSB>15</MSB><Sign>Signed</Sign></StructEntry></StructReg>" +
    Reg("FloatReg", "BeFloat", "0x30", 4, "<Endianess>BigEndian</Endianess>") +
    Reg("StringReg", "Label", "0x40", 8) +
    Value("Enumeration", "Mode",
          "<EnumEntry Name=\"Off\"><Value>0</Value></EnumEntry><EnumEntry Name=\"On\"><Value>1</Value></EnumEntry>"
          "<EnumEntry Name=\"Hidden\"><pIsAvailable>Zero</pIsAvailable><Value>2</Value></EnumEntry>"
          "<pValue>ModeReg</pValue>") +
    Reg("IntReg", "ModeReg", "0x50", 4) +
    Value("Boolean", "Enable", "<pValue>EnableReg</pValue><OnValue>5</OnValue><OffValue>3</OffValue>") +
    Reg("IntReg", "EnableReg", "0x54", 4) +
    Value("Command", "Start", "<pValue>StartReg</pValue><CommandValue>1</CommandValue>") +
    Reg("IntReg", "StartReg", "0x58", 4, "<Cachable>NoCache</Cachable>") +
    Value("Converter", "Exposure", "<FormulaTo>FROM/10</FormulaTo><FormulaFrom>TO*10</FormulaFrom><pValue>ExpRaw</pValue>") +
    Reg("IntReg", "ExpRaw", "0x5C", 2) +
    Value("Integer", "Sel", "<Value>0</Value><Min>0</Min><Max>3</Max><pSelected>Indexed</pSelected>") +
    "<IntReg Name=\"Indexed\"><Address>0x60</Address><pIndex Offset=\"4\">Sel</pIndex><Length>4</Length>"
    "<AccessMode>RW</AccessMode><pPort>Device</pPort></IntReg>"
    "<IntReg Name=\"KnifeAddressed\"><Address>0x2</Address><IntSwissKnife><pVariable Name=\"S\">Sel</pVariable>"
    "<Formula>0x70 + S*8</Formula></IntSwissKnife><Length>1</Length><AccessMode>RO</AccessMode>"
    "<pPort>Device</pPort></IntReg>" +
    Value("Integer", "PerIndex",
          "<pIndex>Sel</pIndex><ValueIndexed Index=\"0\">100</ValueIndexed><pValueIndexed Index=\"1\">Width</pValueIndexed>"
          "<ValueDefault>-1</ValueDefault>") +
    Value("IntSwissKnife", "Area", "<pVariable Name=\"W\">Width</pVariable><Constant Name=\"H\">3</Constant>"
                                   "<Expression Name=\"WH\">W*H</Expression><Formula>WH + 1</Formula>") +
    Reg("IntReg", "Hidden", "0x84", 4, "<pIsImplemented>Zero</pIsImplemented>") +
    Reg("IntReg", "Imposed", "0x84", 4, "<ImposedAccessMode>RO</ImposedAccessMode>") +
    Reg("IntReg", "Locked", "0x84", 4, "<pIsLocked>One</pIsLocked>") +
    "<IntReg Name=\"ReadOnly\"><Address>0x84</Address><Length>4</Length><pPort>Device</pPort></IntReg>" +
    Value("String", "Note", "<Value>hi</Value>") +
    "<Port Name=\"Chunks\"><ChunkID>1A</ChunkID></Port>"
    "<IntReg Name=\"ChunkValue\"><Address>0</Address><Length>4</Length><pPort>Chunks</pPort></IntReg>" +
    Reg("IntReg", "Outside", "0x1000", 4) +
    "<Group Comment=\"g\">" + Value("Float", "Grouped", "<Value>2.5</Value><Min>0</Min><Max>10</Max>") + "</Group>";
// clang-format on

/// What a row does: read (ToString), write (FromString), or ask a property.
enum class EOp {
    Read,
    Write,
    Access,
    Symbolics,
    Entries,
    Min,
    Max,
    Inc,
    Execute,
    IsDone,
    IsFeature,
    Selected,  ///< the selected features' names, "none" for a node that is no selector
    DetachedRead,
    DetachedAccess,  ///< after Detach
    ChunkRead        ///< after connecting a chunk port holding 9
};

struct SBytes {
    int64_t address;
    std::vector<uint8_t> bytes;
};

struct SKindCase {
    const char* name;
    std::vector<SBytes> before;  ///< device memory before the row
    EOp op;
    const char* node;
    const char* input;          ///< written text, or a node to write first ("Node=value;...")
    const char* expected;       ///< result text; "!text": an exception whose message holds text
    std::vector<SBytes> after;  ///< device memory after the row
};

std::string AccessName(EAccessMode mode) {
    const char* names[] = {"NI", "NA", "WO", "RO", "RW"};
    return mode <= RW ? names[mode] : "?";
}

std::string Join(const std::vector<std::string>& items) {
    std::string text;
    for (const auto& item : items) text += (text.empty() ? "" : ",") + item;
    return text;
}

std::string RunRow(CEngineNodeMap& map, const SKindCase& c) {
    // Preparatory writes "Node=value;..." through FromString.
    if (c.op != EOp::Write && c.input) {
        std::string rest = c.input;
        while (!rest.empty()) {
            const auto cut = rest.find(';');
            const std::string item = rest.substr(0, cut);
            rest = cut == std::string::npos ? "" : rest.substr(cut + 1);
            const auto eq = item.find('=');
            CValuePtr(map.GetNode(item.substr(0, eq).c_str()))
                ->FromString(item.substr(eq + 1).c_str());
        }
    }
    INode* node = map.GetNode(c.node);
    if (!node) return "no node";
    switch (c.op) {
        case EOp::Read:
            return CValuePtr(node)->ToString().str();
        case EOp::Write:
            CValuePtr(node)->FromString(c.input);
            return "";
        case EOp::Access:
            return AccessName(node->GetAccessMode());
        case EOp::Selected: {
            FeatureList_t selected;
            node->GetSelectedFeatures(selected);
            std::vector<std::string> names;
            for (IValue* value : selected) names.push_back(value->GetNode()->GetName().str());
            return node->IsSelector() ? Join(names) : "none";
        }
        case EOp::Symbolics: {
            gcstring_vector symbolics;
            CEnumerationPtr(node)->GetSymbolics(symbolics);
            return Join({symbolics.begin(), symbolics.end()});
        }
        case EOp::Entries: {
            NodeList_t entries;
            CEnumerationPtr(node)->GetEntries(entries);
            std::vector<std::string> names;
            for (INode* entry : entries) names.push_back(entry->GetName().str());
            return Join(names);
        }
        case EOp::Min:
            if (CFloatPtr f = node) return std::to_string(f->GetMin());
            return std::to_string(CIntegerPtr(node)->GetMin());
        case EOp::Max:
            if (CFloatPtr f = node) return std::to_string(f->GetMax());
            return std::to_string(CIntegerPtr(node)->GetMax());
        case EOp::Inc:
            return std::to_string(CIntegerPtr(node)->GetInc());
        case EOp::Execute:
            CCommandPtr(node)->Execute();
            return "";
        case EOp::IsDone:
            return CCommandPtr(node)->IsDone() ? "done" : "busy";
        case EOp::IsFeature:
            return node->IsFeature() ? "feature" : "internal";
        case EOp::DetachedRead:
            map.Detach();
            return CValuePtr(node)->ToString().str();
        case EOp::DetachedAccess:
            map.Detach();
            return AccessName(node->GetAccessMode());
        case EOp::ChunkRead: {
            auto chunk = std::make_shared<CMemoryPort>(4);
            chunk->Poke(0, {9, 0, 0, 0});
            if (!map.ConnectPort("Chunks", chunk)) return "no chunk port";
            return CValuePtr(node)->ToString().str();
        }
    }
    return "";
}

// clang-format off
std::vector<SKindCase> KindCases() {
    return {
        {"integerValueAndUnit", {}, EOp::Read, "Width", nullptr, "64", {}},
        {"integerRange", {}, EOp::Max, "Width", nullptr, "1024", {}},
        {"maxesReadingEachOthersValues", {}, EOp::Max, "W", "OX=20", "80", {}},
        {"maxOfTheOther", {}, EOp::Max, "OX", "W=90", "10", {}},
        {"integerIncrement", {}, EOp::Inc, "Width", nullptr, "16", {}},
        {"integerOffGrid", {}, EOp::Write, "Width", "72", "!not 16 plus a multiple of 16", {}},
        {"integerBelowMin", {}, EOp::Write, "Width", "0", "!outside [16, 1024]", {}},
        {"incrementWithoutMinNearTop", {}, EOp::Write, "NoMin", "9223372036854775807", "!multiple of 4", {}},
        {"incrementWithoutMinOnGrid", {}, EOp::Read, "NoMin", "NoMin=-9223372036854775808", "-9223372036854775808", {}},
        {"validValueSetRefuses", {}, EOp::Write, "Listed", "3", "!valid value set", {}},
        {"validValueSetTakes", {}, EOp::Read, "Listed", "Listed=8", "8", {}},
        {"bigEndianSigned", {{0x10, {0xFF, 0xFE}}}, EOp::Read, "BeSigned", nullptr, "-2", {}},
        {"bigEndianSignedWrite", {}, EOp::Write, "BeSigned", "-300", "", {{0x10, {0xFE, 0xD4}}}},
        {"signedRange", {}, EOp::Min, "BeSigned", nullptr, "-32768", {}},
        {"littleEndianMaskRead", {{0x20, {0x34, 0x12, 0, 0}}}, EOp::Read, "LeBits", nullptr, "35", {}},
        {"littleEndianMaskWrite", {{0x20, {0x34, 0x12, 0, 0}}}, EOp::Write, "LeBits", "171", "",
         {{0x20, {0xB4, 0x1A, 0, 0}}}},
        {"maskWidthBoundsMax", {}, EOp::Max, "LeBits", nullptr, "255", {}},
        {"bigEndianMaskCountsFromTheTop", {{0x24, {0x81, 0x22, 0x33, 0x44}}}, EOp::Read, "BeBits", nullptr, "68", {}},
        {"bigEndianBitZeroIsMostSignificant", {{0x24, {0x81, 0x22, 0x33, 0x44}}}, EOp::Read, "BeTopBit", nullptr, "1", {}},
        {"bigEndianMaskWrite", {{0x24, {0x11, 0x22, 0x33, 0x44}}}, EOp::Write, "BeBits", "153", "",
         {{0x24, {0x11, 0x22, 0x33, 0x99}}}},
        {"structEntrySigned", {{0x28, {0x01, 0xF0, 0, 0}}}, EOp::Read, "FieldB", nullptr, "-16", {}},
        {"structEntriesShareTheirRegister", {{0x28, {0x01, 0xF0, 0, 0}}}, EOp::Read, "FieldB", "FlagA=1;FieldB=5;FlagA=0", "5",
         {{0x28, {0x00, 0x05, 0, 0}}}},
        {"floatRegBigEndian", {{0x30, {0x3F, 0xC0, 0, 0}}}, EOp::Read, "BeFloat", nullptr, "1.5", {}},
        {"floatRegRangeOfItsWidth", {}, EOp::Max, "BeFloat", nullptr, "340282346638528859811704183484516925440.000000", {}},
        {"floatRegWrite", {}, EOp::Write, "BeFloat", "-2", "", {{0x30, {0xC0, 0x00, 0, 0}}}},
        {"stringRegStopsAtNul", {{0x40, {'a', 'b', 'c', 0, 'x'}}}, EOp::Read, "Label", nullptr, "abc", {}},
        {"stringRegWritePads", {{0x40, {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'}}}, EOp::Write, "Label", "hello", "",
         {{0x40, {'h', 'e', 'l', 'l', 'o', 0, 0, 0}}}},
        {"stringRegTooLong", {}, EOp::Write, "Label", "123456789", "!exceeds", {}},
        {"stringValue", {}, EOp::Read, "Note", "Note=there", "there", {}},
        {"enumSymbolicsOnlyAvailable", {}, EOp::Symbolics, "Mode", nullptr, "Off,On", {}},
        {"enumEntriesAll", {}, EOp::Entries, "Mode", nullptr, "Off,On,Hidden", {}},
        {"enumUnavailableEntryRefused", {}, EOp::Write, "Mode", "Hidden", "!not available", {}},
        {"enumWrite", {}, EOp::Write, "Mode", "On", "", {{0x50, {1, 0, 0, 0}}}},
        {"enumValueWithoutEntry", {{0x50, {7, 0, 0, 0}}}, EOp::Read, "Mode", nullptr, "!matches no entry", {}},
        {"booleanOnValue", {{0x54, {5, 0, 0, 0}}}, EOp::Read, "Enable", nullptr, "true", {}},
        {"booleanNeitherValue", {{0x54, {4, 0, 0, 0}}}, EOp::Read, "Enable", nullptr, "!neither", {}},
        {"booleanWritesOffValue", {}, EOp::Write, "Enable", "false", "", {{0x54, {3, 0, 0, 0}}}},
        {"commandWritesCommandValue", {}, EOp::Execute, "Start", nullptr, "", {{0x58, {1, 0, 0, 0}}}},
        {"commandBusyWhileValueStays", {{0x58, {1, 0, 0, 0}}}, EOp::IsDone, "Start", nullptr, "busy", {}},
        {"commandDoneOnceCleared", {}, EOp::IsDone, "Start", nullptr, "done", {}},
        {"converterReads", {{0x5C, {7, 0}}}, EOp::Read, "Exposure", nullptr, "70", {}},
        {"converterWrites", {}, EOp::Write, "Exposure", "120", "", {{0x5C, {12, 0}}}},
        {"converterRange", {}, EOp::Max, "Exposure", nullptr, "655350.000000", {}},
        {"indexedAddressFollowsSelector", {{0x60, {10, 0, 0, 0, 20, 0, 0, 0}}}, EOp::Read, "Indexed", "Sel=1", "20", {}},
        {"selectorNamesItsSelected", {}, EOp::Selected, "Sel", nullptr, "Indexed", {}},
        {"plainNodeSelectsNothing", {}, EOp::Selected, "Indexed", nullptr, "none", {}},
        {"swissKnifeAddressTerm", {{0x72, {5}}, {0x7A, {6}}}, EOp::Read, "KnifeAddressed", "Sel=1", "6", {}},
        {"valueIndexedConstant", {}, EOp::Read, "PerIndex", nullptr, "100", {}},
        {"valueIndexedNode", {}, EOp::Read, "PerIndex", "Sel=1", "64", {}},
        {"valueDefault", {}, EOp::Read, "PerIndex", "Sel=3", "-1", {}},
        {"swissKnifeConstantsAndExpressions", {}, EOp::Read, "Area", "Width=32", "97", {}},
        {"pIsImplementedOff", {}, EOp::Access, "Hidden", nullptr, "NI", {}},
        {"imposedReadOnly", {}, EOp::Access, "Imposed", nullptr, "RO", {}},
        {"lockedReadOnly", {}, EOp::Access, "Locked", nullptr, "RO", {}},
        {"registerDefaultsToReadOnly", {}, EOp::Write, "ReadOnly", "1", "!not writable (RO)", {}},
        {"unimplementedNotReadable", {}, EOp::Read, "Hidden", nullptr, "!not readable (NI)", {}},
        {"detachedRaises", {}, EOp::DetachedRead, "Width", nullptr, "!closed device", {}},
        {"detachedIsNotAvailable", {}, EOp::DetachedAccess, "Width", nullptr, "NA", {}},
        {"unconnectedChunkIsNotAvailable", {}, EOp::Access, "ChunkValue", nullptr, "NA", {}},
        {"connectedChunkReads", {}, EOp::ChunkRead, "ChunkValue", nullptr, "9", {}},
        {"portErrorPropagates", {}, EOp::Read, "Outside", nullptr, "!outside the device's memory", {}},
        {"groupIsTransparent", {}, EOp::Read, "Grouped", nullptr, "2.5", {}},
        {"featureThroughRoot", {}, EOp::IsFeature, "Mode", nullptr, "feature", {}},
        {"helperIsNoFeature", {}, EOp::IsFeature, "ModeReg", nullptr, "internal", {}},
    };
}
// clang-format on

class EngineKinds : public ::testing::TestWithParam<SKindCase> {};

TEST_P(EngineKinds, ValueAndBytes) {
    const SKindCase& c = GetParam();
    auto port = std::make_shared<CMemoryPort>(256);
    for (const SBytes& b : c.before) port->Poke(b.address, b.bytes);
    auto map = CEngineNodeMap::Load(Description(kKindNodes), port, "dev");
    std::string result;
    try {
        result = RunRow(*map, c);
    } catch (const GenICam::GenericException& e) {
        result = "!" + std::string(e.GetDescription());
    }
    const std::string expected = c.expected;
    if (!expected.empty() && expected[0] == '!') {
        EXPECT_NE(result.find(expected.substr(1)), std::string::npos) << result;
        EXPECT_EQ(result[0], '!') << result;
    } else {
        EXPECT_EQ(result, expected);
    }
    for (const SBytes& b : c.after)
        EXPECT_EQ(port->Peek(b.address, b.bytes.size()), b.bytes) << b.address;
}

INSTANTIATE_TEST_SUITE_P(Engine, EngineKinds, ::testing::ValuesIn(KindCases()),
                         [](const auto& row) { return std::string(row.param.name); });

// One map used from two threads: every read sees one of the values the selector
// can pick, never a mix of a new index and an old cache (the map's lock holds).
TEST(ThreadsEngine, SelectorWritesAgainstIndexedReads) {
    auto port = std::make_shared<CMemoryPort>(64);
    port->Poke(0, {10, 0, 0, 0, 20, 0, 0, 0});
    auto map = CEngineNodeMap::Load(
        Description(Value("Integer", "Sel", "<Value>0</Value><Min>0</Min><Max>1</Max>") +
                    "<IntReg Name=\"Indexed\"><Address>0</Address><pIndex Offset=\"4\">Sel</pIndex>"
                    "<Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort></IntReg>"),
        port, "dev");
    CIntegerPtr sel = map->GetNode("Sel");
    CIntegerPtr indexed = map->GetNode("Indexed");
    int wrong = 0;
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) sel->SetValue(i % 2);
    });
    for (int i = 0; i < 2000; ++i) {
        auto lock = map->Lock();
        const int64_t expected = sel->GetValue() == 0 ? 10 : 20;
        if (indexed->GetValue() != expected) ++wrong;
    }
    writer.join();
    EXPECT_EQ(wrong, 0);
}

}  // namespace
