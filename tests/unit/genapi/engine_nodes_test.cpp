// The engine's node map over a counting memory port: hostile descriptions,
// caching and invalidation, and the node kinds' values and byte layouts. Expected
// bytes and values are worked out by hand in the rows.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
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

std::string IntReg(const std::string& name, const std::string& address, const std::string& extra = "") {
    return "<IntReg Name=\"" + name + "\"><Address>" + address +
           "</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>" + extra +
           "</IntReg>";
}

std::string Value(const std::string& kind, const std::string& name, const std::string& inner) {
    return "<" + kind + " Name=\"" + name + "\">" + inner + "</" + kind + ">";
}

std::string Message(const std::exception& e) {
    if (const auto* g = dynamic_cast<const GenICam::GenericException*>(&e)) return g->GetDescription();
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
                           "<pVariable Name=\"A\">" + next + "a</pVariable><pVariable Name=\"B\">" + next +
                               "b</pVariable><Formula>A+B</Formula>");
        }
    }
    return nodes;
}

/// A pValue chain longer than evaluation may nest.
std::string LongChain() {
    std::string nodes = IntReg("C0", "0x0");
    for (int i = 1; i <= 600; ++i) {
        nodes += Value("Integer", "C" + std::to_string(i), "<pValue>C" + std::to_string(i - 1) + "</pValue>");
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
        {"pMinInValueLoop",
         Value("Integer", "A", "<Value>5</Value><pMin>M</pMin>") +
             Value("IntSwissKnife", "M", "<pVariable Name=\"X\">A</pVariable><Formula>X-1</Formula>"),
         nullptr, "reference cycle", 0, 0},
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

std::vector<SCachingCase> CachingCases() {
    return {
        {"writeThroughReadsOnce", nullptr, "Through", 1},
        {"noCacheReadsEveryTime", nullptr, "NoCache", 2},
        {"polledReadsEveryTime", nullptr, "Polled", 2},
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

}  // namespace
