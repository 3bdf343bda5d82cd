// The engine's node map over a counting memory port, as three tables: hostile
// descriptions (hostile.tsv), caching and invalidation (caching.tsv over
// caching.xml) and the node kinds' values and byte layouts (kinds.tsv over
// kinds.xml).
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "EngineNodeMap.h"
#include "MemoryPort.h"
#include "RowFile.h"

using namespace GenApi;
using qrvtest::ExpectResult;
using qrvtest::Join;
using qrvtest::SRow;

namespace {

std::string File(const std::string& name) {
    std::ifstream in(QRV_GENAPI_ROWS "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Description(const std::string& nodes) {
    return "<RegisterDescription ModelName=\"M\" VendorName=\"V\" SchemaMajorVersion=\"1\" "
           "SchemaMinorVersion=\"1\" SchemaSubMinorVersion=\"0\"><Port Name=\"Device\"/>" +
           nodes + "</RegisterDescription>";
}

// ---------------------------------------------------------------------------
// Hostile descriptions: they fail cleanly and never hang (the program runs under a
// CTest timeout).

class HostileDescription : public ::testing::TestWithParam<SRow> {};

TEST_P(HostileDescription, FailsCleanlyOrAnswersInLinearReads) {
    const SRow& c = GetParam();
    auto port = std::make_shared<CMemoryPort>(64);
    port->Poke(0, {3, 0, 0, 0, 4, 0, 0, 0});
    std::unique_ptr<CEngineNodeMap> map;
    try {
        const std::string& nodes = c["nodes"];
        map = CEngineNodeMap::Load(nodes[0] == '@' ? File(nodes.substr(1)) : Description(nodes),
                                   port, "dev");
    } catch (const GenICam::RuntimeException& e) {
        ASSERT_EQ(c["read"], "") << "load failed: " << e.GetDescription();
        ExpectResult("!" + std::string(e.GetDescription()), c["expected"]);
        return;
    }
    ASSERT_NE(c["read"], "") << "loaded, but should fail with: " << c["expected"];
    CIntegerPtr node = map->GetNode(c["read"].c_str());
    ASSERT_TRUE(node.IsValid());
    std::string result;
    try {
        result = std::to_string(node->GetValue());
        EXPECT_LE(port->reads, std::stoll(c["maxReads"]));
    } catch (const GenICam::GenericException& e) {
        result = "!" + std::string(e.GetDescription());
    }
    ExpectResult(result, c["expected"]);
}

INSTANTIATE_TEST_SUITE_P(Engine, HostileDescription,
                         ::testing::ValuesIn(qrvtest::ReadRows(QRV_GENAPI_ROWS "/hostile.tsv")),
                         [](const auto& row) { return row.param["name"]; });

// ---------------------------------------------------------------------------
// Caching and invalidation.

void Read(CEngineNodeMap& map, const std::string& name, bool ignoreCache = false) {
    INode* node = map.GetNode(name.c_str());
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

/// Writes "Node=value;..." through FromString.
void Write(CEngineNodeMap& map, const std::string& assignments) {
    std::istringstream in(assignments);
    for (std::string item; std::getline(in, item, ';');) {
        const auto eq = item.find('=');
        CValuePtr(map.GetNode(item.substr(0, eq).c_str()))->FromString(item.substr(eq + 1).c_str());
    }
}

class EngineCaching : public ::testing::TestWithParam<SRow> {};

TEST_P(EngineCaching, PortReadsForTwoReads) {
    const SRow& c = GetParam();
    auto port = std::make_shared<CMemoryPort>(64);
    auto map = CEngineNodeMap::Load(File("caching.xml"), port, "dev");
    std::istringstream actions(c["actions"]);
    for (std::string action; std::getline(actions, action, ';');) {
        if (action.rfind("read ", 0) == 0)
            Read(*map, action.substr(5));
        else if (action.rfind("write ", 0) == 0)
            Write(*map, action.substr(6));
        else if (action == "invalidate")
            map->InvalidateNodes();
        else
            FAIL() << "unknown action " << action;
    }
    const int64_t before = port->reads;
    const bool ignoreCache = c["ignoreCache"] == "yes";
    Read(*map, c["node"], ignoreCache);
    Read(*map, c["node"], ignoreCache);
    EXPECT_EQ(port->reads - before, std::stoll(c["reads"]));
}

INSTANTIATE_TEST_SUITE_P(Engine, EngineCaching,
                         ::testing::ValuesIn(qrvtest::ReadRows(QRV_GENAPI_ROWS "/caching.tsv")),
                         [](const auto& row) { return row.param["name"]; });

// ---------------------------------------------------------------------------
// Node kinds: values, ranges, access, entries and the bytes a write leaves.

/// "0x10:FF FE,0x20:34 12" as address and bytes.
std::vector<std::pair<int64_t, std::vector<uint8_t>>> Memory(const std::string& text) {
    std::vector<std::pair<int64_t, std::vector<uint8_t>>> regions;
    std::istringstream in(text);
    for (std::string region; std::getline(in, region, ',');) {
        const auto colon = region.find(':');
        regions.push_back({std::stoll(region.substr(0, colon), nullptr, 16),
                           qrvtest::Bytes(region.substr(colon + 1))});
    }
    return regions;
}

std::string AccessName(EAccessMode mode) {
    const char* names[] = {"NI", "NA", "WO", "RO", "RW"};
    return mode <= RW ? names[mode] : "?";
}

std::string RunRow(CEngineNodeMap& map, const std::string& op, INode* node,
                   const std::string& input) {
    if (op == "Read") return CValuePtr(node)->ToString().str();
    if (op == "Write") CValuePtr(node)->FromString(input.c_str());
    if (op == "Access") return AccessName(node->GetAccessMode());
    if (op == "Symbolics") {
        gcstring_vector symbolics;
        CEnumerationPtr(node)->GetSymbolics(symbolics);
        return Join({symbolics.begin(), symbolics.end()});
    }
    if (op == "Entries") {
        NodeList_t entries;
        CEnumerationPtr(node)->GetEntries(entries);
        std::vector<std::string> names;
        for (INode* entry : entries) names.push_back(entry->GetName().str());
        return Join(names);
    }
    if (op == "Min" || op == "Max") {
        if (CFloatPtr f = node) return std::to_string(op == "Min" ? f->GetMin() : f->GetMax());
        return std::to_string(op == "Min" ? CIntegerPtr(node)->GetMin()
                                          : CIntegerPtr(node)->GetMax());
    }
    if (op == "Inc") return std::to_string(CIntegerPtr(node)->GetInc());
    if (op == "Execute") CCommandPtr(node)->Execute();
    if (op == "IsDone") return CCommandPtr(node)->IsDone() ? "done" : "busy";
    if (op == "IsFeature") return node->IsFeature() ? "feature" : "internal";
    if (op == "Selected") {
        FeatureList_t selected;
        node->GetSelectedFeatures(selected);
        std::vector<std::string> names;
        for (IValue* value : selected) names.push_back(value->GetNode()->GetName().str());
        return node->IsSelector() ? Join(names) : "none";
    }
    if (op.rfind("Detached", 0) == 0) {
        map.Detach();
        return RunRow(map, op.substr(8), node, input);
    }
    if (op == "ChunkRead") {
        auto chunk = std::make_shared<CMemoryPort>(4);
        chunk->Poke(0, {9, 0, 0, 0});
        if (!map.ConnectPort("Chunks", chunk)) return "no chunk port";
        return CValuePtr(node)->ToString().str();
    }
    if (op == "ChunkAttach") {
        // Frames by ';' ("A;" is two frames, the second without chunks), blocks "ID:HEX" by ','.
        std::istringstream frames(input + ";");
        for (std::string frame; std::getline(frames, frame, ';');) {
            std::vector<std::vector<uint8_t>> bytes;
            std::vector<SChunkView> views;
            std::istringstream blocks(frame);
            for (std::string block; std::getline(blocks, block, ',');) {
                const auto colon = block.find(':');
                std::string spaced;
                for (size_t i = colon + 1; i + 1 < block.size(); i += 2)
                    spaced += block.substr(i, 2) + " ";
                bytes.push_back(qrvtest::Bytes(spaced));
                views.push_back({std::stoull(block.substr(0, colon), nullptr, 16), nullptr, 0});
            }
            for (size_t i = 0; i < views.size(); ++i)
                views[i] = {views[i].id, bytes[i].data(), bytes[i].size()};
            map.AttachChunks(views.data(), views.size());
        }
        return CValuePtr(node)->ToString().str();
    }
    if (op == "ChunkFeatures") {
        std::string out;
        for (const SChunkFeature& f : map.ChunkFeatures())
            out += f.name + " " + std::to_string(f.id) + " " + std::to_string(f.length);
        return out;
    }
    return op == "Write" || op == "Execute" ? "" : "unknown operation " + op;
}

class EngineKinds : public ::testing::TestWithParam<SRow> {};

TEST_P(EngineKinds, ValueAndBytes) {
    const SRow& c = GetParam();
    auto port = std::make_shared<CMemoryPort>(256);
    for (const auto& [address, bytes] : Memory(c["before"])) port->Poke(address, bytes);
    auto map = CEngineNodeMap::Load(File("kinds.xml"), port, "dev");
    std::string result;
    try {
        if (c["op"] != "Write" && c["op"] != "ChunkAttach") Write(*map, c["input"]);
        INode* node = map->GetNode(c["node"].c_str());
        result = node ? RunRow(*map, c["op"], node, c["input"]) : "no node";
    } catch (const GenICam::GenericException& e) {
        result = "!" + std::string(e.GetDescription());
    }
    ExpectResult(result, c["expected"]);
    for (const auto& [address, bytes] : Memory(c["after"]))
        EXPECT_EQ(port->Peek(address, bytes.size()), bytes) << address;
}

INSTANTIATE_TEST_SUITE_P(Engine, EngineKinds,
                         ::testing::ValuesIn(qrvtest::ReadRows(QRV_GENAPI_ROWS "/kinds.tsv")),
                         [](const auto& row) { return row.param["name"]; });

// One map used from two threads: every read sees one of the values the selector
// can pick, never a mix of a new index and an old cache (the map's lock holds).
TEST(ThreadsEngine, SelectorWritesAgainstIndexedReads) {
    auto port = std::make_shared<CMemoryPort>(64);
    port->Poke(0, {10, 0, 0, 0, 20, 0, 0, 0});
    auto map = CEngineNodeMap::Load(
        Description("<Integer Name=\"Sel\"><Value>0</Value><Min>0</Min><Max>1</Max></Integer>"
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
