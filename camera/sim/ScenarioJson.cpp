// JSON scenario files of the simulated transport (format: docs/simulated-cameras.md).
// Scenarios are written by hand for tests and demos, so the reader is strict: an
// unknown key, a wrong JSON type or an impossible value is an error that names the
// file, the line and column and the JSON path of the offending item.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "KZRSim.h"

namespace KZRSIM {
namespace {

using nlohmann::json;

std::string JoinKey(const std::string& parent, const std::string& key) {
    return parent.empty() ? key : parent + "." + key;
}

std::string JoinIndex(const std::string& parent, size_t index) {
    return parent + "[" + std::to_string(index) + "]";
}

// Byte offset of every value in the document by its JSON path ("cameras[2].serial").
// For an object member the offset is that of its key, which is where a reader looks
// for it. nlohmann 3.11 keeps no positions, so this walks the text a second time
// once nlohmann has accepted it; the walk is iterative so that deep nesting cannot
// exhaust the stack.
class PositionIndex {
public:
    explicit PositionIndex(const std::string& text) : m_text(text) { Scan(); }

    /// Path of the innermost value that starts at or before offset (a member
    /// starts at its key); "" when there is none.
    std::string PathAt(size_t offset) const {
        const std::pair<const std::string, size_t>* best = nullptr;
        for (const auto& entry : m_offsets) {
            if (entry.second > offset) continue;
            if (!best || entry.second > best->second ||
                (entry.second == best->second && entry.first.size() > best->first.size()))
                best = &entry;
        }
        return best ? best->first : std::string();
    }

    /// Offset of the path, else of its nearest recorded ancestor, else 0.
    size_t Find(std::string path) const {
        for (;;) {
            auto it = m_offsets.find(path);
            if (it != m_offsets.end()) return it->second;
            size_t cut = path.find_last_of(".[");
            if (cut == std::string::npos) break;
            path.resize(cut);
        }
        auto root = m_offsets.find("");
        return root == m_offsets.end() ? 0 : root->second;
    }

private:
    struct Frame {
        std::string path;
        bool array;
        size_t index;
    };

    bool AtEnd() const { return m_pos >= m_text.size(); }

    void SkipSpace() {
        while (!AtEnd() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' ||
                            m_text[m_pos] == '\n' || m_text[m_pos] == '\r'))
            ++m_pos;
    }

    // Reads a string token; escapes other than \uXXXX are decoded so that keys
    // match nlohmann's (a key with \u escapes just falls back to its parent).
    std::string ReadString() {
        std::string out;
        ++m_pos;  // opening quote
        while (!AtEnd() && m_text[m_pos] != '"') {
            char c = m_text[m_pos++];
            if (c == '\\' && !AtEnd()) {
                char e = m_text[m_pos++];
                switch (e) {
                    case 'n':
                        out += '\n';
                        break;
                    case 't':
                        out += '\t';
                        break;
                    case 'r':
                        out += '\r';
                        break;
                    case 'b':
                        out += '\b';
                        break;
                    case 'f':
                        out += '\f';
                        break;
                    default:
                        out += e;
                        break;
                }
                continue;
            }
            out += c;
        }
        ++m_pos;  // closing quote
        return out;
    }

    void SkipScalar() {
        while (!AtEnd() && std::strchr(",]} \t\r\n", m_text[m_pos]) == nullptr) ++m_pos;
    }

    // After '{' or ',' inside an object: reads "key": and returns the member's path.
    std::string ReadKey(const std::string& objectPath, size_t& keyAt) {
        SkipSpace();
        keyAt = m_pos;
        std::string key = ReadString();
        SkipSpace();
        ++m_pos;  // ':'
        return JoinKey(objectPath, key);
    }

    void Scan() {
        if (m_text.compare(0, 3, "\xEF\xBB\xBF") == 0) m_pos = 3;  // nlohmann skips a BOM too
        std::vector<Frame> stack;
        std::string path;
        size_t keyAt = std::string::npos;
        for (;;) {
            // A value starts here.
            SkipSpace();
            if (AtEnd()) return;
            m_offsets[path] = keyAt == std::string::npos ? m_pos : keyAt;
            char c = m_text[m_pos];
            if (c == '{' || c == '[') {
                ++m_pos;
                stack.push_back({path, c == '[', 0});
                SkipSpace();
                if (!AtEnd() && m_text[m_pos] == (c == '[' ? ']' : '}')) {
                    ++m_pos;
                    stack.pop_back();
                } else if (c == '[') {
                    path = JoinIndex(stack.back().path, 0);
                    keyAt = std::string::npos;
                    continue;
                } else {
                    path = ReadKey(stack.back().path, keyAt);
                    continue;
                }
            } else if (c == '"') {
                ReadString();
            } else {
                SkipScalar();
            }
            // The value ended: close containers until one goes on with ','.
            for (;;) {
                if (stack.empty()) return;
                SkipSpace();
                if (AtEnd()) return;
                char d = m_text[m_pos++];
                if (d != ',') {
                    stack.pop_back();
                    continue;
                }
                Frame& frame = stack.back();
                if (frame.array) {
                    path = JoinIndex(frame.path, ++frame.index);
                    keyAt = std::string::npos;
                } else {
                    path = ReadKey(frame.path, keyAt);
                }
                break;
            }
        }
    }

    const std::string& m_text;
    size_t m_pos = 0;
    std::unordered_map<std::string, size_t> m_offsets;
};

std::string LineColumn(const std::string& text, size_t offset) {
    offset = std::min(offset, text.size());
    size_t line = 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + offset, '\n'));
    size_t lineStart = text.rfind('\n', offset == 0 ? std::string::npos : offset - 1);
    lineStart = (lineStart == std::string::npos || offset == 0) ? 0 : lineStart + 1;
    return std::to_string(line) + ":" + std::to_string(offset - lineStart + 1);
}

// Where the document came from, for error messages.
class Context {
public:
    Context(std::string source, const std::string& text)
        : m_source(std::move(source)), m_text(text), m_positions(text) {}

    [[noreturn]] void Fail(const std::string& path, const std::string& message) const {
        std::string where = m_source + ":" + LineColumn(m_text, m_positions.Find(path)) + ": ";
        throw std::runtime_error(where + (path.empty() ? "" : path + ": ") + message);
    }

private:
    std::string m_source;
    const std::string& m_text;
    PositionIndex m_positions;
};

const char* TypeName(const json& value) {
    return value.type_name();
}

// ---- Scalars ---------------------------------------------------------------

int64_t AsInt64(const Context& ctx, const json& value, const std::string& path) {
    if (value.is_number_unsigned()) {
        if (value.get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
            ctx.Fail(path, "integer out of the 64-bit signed range");
        return static_cast<int64_t>(value.get<uint64_t>());
    }
    if (!value.is_number_integer())
        ctx.Fail(path, std::string("expected an integer, got ") + TypeName(value));
    return value.get<int64_t>();
}

int64_t AsInt64(const Context& ctx, const json& value, const std::string& path, int64_t min,
                int64_t max) {
    int64_t v = AsInt64(ctx, value, path);
    if (v < min || v > max)
        ctx.Fail(path, "value " + std::to_string(v) + " outside [" + std::to_string(min) + ", " +
                           std::to_string(max) + "]");
    return v;
}

int AsInt(const Context& ctx, const json& value, const std::string& path,
          int min = std::numeric_limits<int>::min(), int max = std::numeric_limits<int>::max()) {
    return static_cast<int>(AsInt64(ctx, value, path, min, max));
}

double AsDouble(const Context& ctx, const json& value, const std::string& path) {
    if (!value.is_number())
        ctx.Fail(path, std::string("expected a number, got ") + TypeName(value));
    return value.get<double>();
}

bool AsBool(const Context& ctx, const json& value, const std::string& path) {
    if (!value.is_boolean())
        ctx.Fail(path, std::string("expected true or false, got ") + TypeName(value));
    return value.get<bool>();
}

std::string AsString(const Context& ctx, const json& value, const std::string& path) {
    if (!value.is_string())
        ctx.Fail(path, std::string("expected a string, got ") + TypeName(value));
    return value.get<std::string>();
}

const json& AsArray(const Context& ctx, const json& value, const std::string& path) {
    if (!value.is_array()) ctx.Fail(path, std::string("expected an array, got ") + TypeName(value));
    return value;
}

template <class T>
T OneOf(const Context& ctx, const json& value, const std::string& path,
        const std::vector<std::pair<const char*, T>>& names) {
    std::string text = AsString(ctx, value, path);
    std::string known;
    for (const auto& [name, result] : names) {
        if (text == name) return result;
        known += known.empty() ? "" : ", ";
        known += name;
    }
    ctx.Fail(path, "unknown value \"" + text + "\" (expected one of " + known + ")");
}

std::vector<std::string> StringList(const Context& ctx, const json& value,
                                    const std::string& path) {
    std::vector<std::string> out;
    for (size_t i = 0; i < AsArray(ctx, value, path).size(); ++i)
        out.push_back(AsString(ctx, value[i], JoinIndex(path, i)));
    return out;
}

// ---- Objects ---------------------------------------------------------------

// One JSON object with its path; every key must be one of the allowed ones.
class Object {
public:
    Object(const Context& ctx, const json& value, std::string path,
           std::initializer_list<const char*> allowed)
        : m_ctx(ctx), m_value(value), m_path(std::move(path)) {
        if (!value.is_object())
            ctx.Fail(m_path, std::string("expected an object, got ") + TypeName(value));
        Allow(allowed);
    }

    void Allow(std::initializer_list<const char*> allowed) {
        m_allowed.insert(allowed.begin(), allowed.end());
    }

    /// Fails on the first key that was not allowed.
    void CheckKeys() const {
        for (const auto& item : m_value.items())
            if (m_allowed.count(item.key()) == 0)
                m_ctx.Fail(At(item.key()), "unknown key \"" + item.key() + "\"");
    }

    const json* Get(const char* key) const {
        auto it = m_value.find(key);
        return it == m_value.end() ? nullptr : &*it;
    }
    const json& Require(const char* key) const {
        const json* v = Get(key);
        if (!v) m_ctx.Fail(m_path, std::string("missing required key \"") + key + "\"");
        return *v;
    }
    std::string At(const std::string& key) const { return JoinKey(m_path, key); }
    const std::string& Path() const { return m_path; }
    const Context& Ctx() const { return m_ctx; }
    size_t Size() const { return m_value.size(); }

    void Read(const char* key, std::string& out) const {
        if (const json* v = Get(key)) out = AsString(m_ctx, *v, At(key));
    }
    void Read(const char* key, bool& out) const {
        if (const json* v = Get(key)) out = AsBool(m_ctx, *v, At(key));
    }
    void Read(const char* key, int& out, int min = std::numeric_limits<int>::min(),
              int max = std::numeric_limits<int>::max()) const {
        if (const json* v = Get(key)) out = AsInt(m_ctx, *v, At(key), min, max);
    }
    void Read(const char* key, int64_t& out) const {
        if (const json* v = Get(key)) out = AsInt64(m_ctx, *v, At(key));
    }
    void Read(const char* key, double& out) const {
        if (const json* v = Get(key)) out = AsDouble(m_ctx, *v, At(key));
    }

private:
    const Context& m_ctx;
    const json& m_value;
    std::string m_path;
    std::set<std::string> m_allowed;
};

// ---- Byte blocks -----------------------------------------------------------

constexpr int64_t kMaxBlockSize = int64_t{1} << 24;

std::vector<uint8_t> HexBytes(const Context& ctx, const json& value, const std::string& path) {
    std::string digits;
    for (char c : AsString(ctx, value, path)) {
        if (c == ' ') continue;  // "0a 0b 0c" reads better in long blocks
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            ctx.Fail(path, std::string("not a hexadecimal digit: '") + c + "'");
        digits += c;
    }
    if (digits.size() % 2 != 0) ctx.Fail(path, "odd number of hexadecimal digits");
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

// {"hex": "0a0b"} | {"size": N, "fill": byte} | {"text": "..."}; a camera's own
// blocks may add "id" and "value" (read by CameraChunks).
std::vector<uint8_t> ChunkBlock(const Context& ctx, const json& value, const std::string& path,
                                bool withId = false) {
    Object o(ctx, value, path, {"hex", "size", "fill", "text"});
    if (withId) o.Allow({"id", "value"});
    o.CheckKeys();
    int forms = (o.Get("hex") ? 1 : 0) + (o.Get("size") ? 1 : 0) + (o.Get("text") ? 1 : 0);
    if (forms != 1)
        ctx.Fail(path, "a chunk block needs exactly one of \"hex\", \"size\", \"text\"");
    if (o.Get("fill") && !o.Get("size")) ctx.Fail(o.At("fill"), "\"fill\" goes with \"size\"");
    if (const json* hex = o.Get("hex")) return HexBytes(ctx, *hex, o.At("hex"));
    if (const json* text = o.Get("text")) {
        std::string s = AsString(ctx, *text, o.At("text"));
        return std::vector<uint8_t>(s.begin(), s.end());
    }
    int64_t size = AsInt64(ctx, o.Require("size"), o.At("size"), 0, kMaxBlockSize);
    int fill = 0;
    o.Read("fill", fill, 0, 255);
    return std::vector<uint8_t>(static_cast<size_t>(size), static_cast<uint8_t>(fill));
}

std::vector<std::vector<uint8_t>> ChunkList(const Context& ctx, const json& value,
                                            const std::string& path) {
    std::vector<std::vector<uint8_t>> out;
    for (size_t i = 0; i < AsArray(ctx, value, path).size(); ++i)
        out.push_back(ChunkBlock(ctx, value[i], JoinIndex(path, i)));
    return out;
}

// The camera's blocks: {"id": N} names a block's chunk id, {"value": source} the
// value the simulator writes into its first 8 bytes per frame.
void CameraChunks(const Context& ctx, const json& value, const std::string& path, CameraSpec& cam) {
    for (size_t i = 0; i < AsArray(ctx, value, path).size(); ++i) {
        const std::string at = JoinIndex(path, i);
        cam.chunks.push_back(ChunkBlock(ctx, value[i], at, true));
        Object o(ctx, value[i], at, {});
        if (const json* id = o.Get("id")) {
            cam.chunkIds.resize(i + 1);
            cam.chunkIds[i] = static_cast<uint64_t>(
                AsInt64(ctx, *id, o.At("id"), 0, std::numeric_limits<uint32_t>::max()));
        }
        if (const json* source = o.Get("value")) {
            if (cam.chunks.back().size() < 8) ctx.Fail(o.At("value"), "a value needs 8 bytes");
            cam.chunkValues.push_back({i, 0, AsString(ctx, *source, o.At("value"))});
        }
    }
}

// ---- Node maps -------------------------------------------------------------

enum class NodeKind {
    Boolean,
    Integer,
    Float,
    String,
    Enumeration,
    Command,
    Register,
    IntRegister,
    Category,
    Value,
    Port
};

// Everything needed to add one node; which fields count depends on the kind.
struct NodeDesc {
    std::string name;
    NodeKind kind = NodeKind::Value;
    GenApi::EAccessMode access = GenApi::RW;
    bool feature = true;
    std::vector<GenApi::SFault> faults;
    bool boolValue = false;
    int64_t intValue = 0, intMin = 0, intMax = 0, intInc = 1;
    double floatValue = 0, floatMin = 0, floatMax = 0;
    GenApi::SFloatInc floatInc;
    std::string text;  // string value, or the current enumeration entry
    int64_t size = 0;  // string max length, register length, port size
    int64_t address = 0;
    std::vector<uint8_t> bytes;
    std::vector<std::pair<std::string, int64_t>> entries;
    std::vector<std::string> features;
    std::vector<std::string> selected;  // a selector's selected nodes
    GenApi::ECommandCompletion completion = GenApi::ECommandCompletion::Immediate;
    int64_t completionParam = 0;
    bool chunk = false;  // a chunk feature: chunkId, address (offset), chunkLength
    uint64_t chunkId = 0;
    int64_t chunkOffset = 0, chunkLength = 8;
};

void AddNode(GenApi::CMemoryNodeMap& map, const NodeDesc& n) {
    GenApi::CMemNodeRef ref(nullptr);
    switch (n.kind) {
        case NodeKind::Boolean:
            ref = map.AddBoolean(n.name, n.boolValue);
            break;
        case NodeKind::Integer:
            ref = map.AddInteger(n.name, n.intValue, n.intMin, n.intMax, n.intInc);
            break;
        case NodeKind::Float:
            ref = map.AddFloat(n.name, n.floatValue, n.floatMin, n.floatMax, n.floatInc);
            break;
        case NodeKind::String:
            ref = map.AddString(n.name, n.text, n.size);
            break;
        case NodeKind::Enumeration:
            ref = map.AddEnumeration(n.name, n.entries, n.text);
            break;
        case NodeKind::Command:
            ref = map.AddCommand(n.name, n.completion, n.completionParam);
            break;
        case NodeKind::Register:
            ref = map.AddRegister(n.name, n.size, n.bytes, n.address);
            break;
        case NodeKind::IntRegister:
            ref = map.AddIntRegister(n.name, n.intValue, n.intMin, n.intMax, n.size, n.address);
            break;
        case NodeKind::Category:
            ref = map.AddCategory(n.name, n.features);
            break;
        case NodeKind::Value:
            ref = map.AddValue(n.name);
            break;
        case NodeKind::Port:
            ref = map.AddPort(n.name, n.size);
            break;
    }
    ref.Access(n.access).Feature(n.feature);
    for (const GenApi::SFault& fault : n.faults) ref.InjectFault(fault);
    if (n.chunk) ref.Chunk(n.chunkId, n.chunkOffset, n.chunkLength);
}

std::function<void(GenApi::CMemoryNodeMap&)> MakeBuilder(std::vector<NodeDesc> nodes) {
    return [nodes = std::move(nodes)](GenApi::CMemoryNodeMap& map) {
        for (const NodeDesc& node : nodes) AddNode(map, node);
        // Once every node exists: a selector starts from its selected nodes' values.
        for (const NodeDesc& node : nodes)
            if (!node.selected.empty()) map.Ref(node.name).Selects(node.selected);
    };
}

GenApi::SFault NodeFault(const Context& ctx, const json& value, const std::string& path) {
    using GenApi::EFaultOp;
    Object o(ctx, value, path, {"op", "kind", "nth"});
    o.CheckKeys();
    GenApi::SFault fault;
    if (const json* op = o.Get("op"))
        fault.op = OneOf<EFaultOp>(ctx, *op, o.At("op"),
                                   {{"Any", EFaultOp::Any},
                                    {"GetAccessMode", EFaultOp::GetAccessMode},
                                    {"GetValue", EFaultOp::GetValue},
                                    {"SetValue", EFaultOp::SetValue},
                                    {"GetMin", EFaultOp::GetMin},
                                    {"GetMax", EFaultOp::GetMax},
                                    {"GetInc", EFaultOp::GetInc},
                                    {"ToString", EFaultOp::ToString},
                                    {"FromString", EFaultOp::FromString},
                                    {"GetSymbolics", EFaultOp::GetSymbolics},
                                    {"Execute", EFaultOp::Execute},
                                    {"IsDone", EFaultOp::IsDone},
                                    {"RegisterGet", EFaultOp::RegisterGet},
                                    {"RegisterSet", EFaultOp::RegisterSet}});
    if (const json* kind = o.Get("kind"))
        fault.kind = OneOf<GenApi::EFaultKind>(
            ctx, *kind, o.At("kind"),
            {{"genicam", GenApi::EFaultKind::GenICam}, {"std", GenApi::EFaultKind::Std}});
    if (const json* nth = o.Get("nth"))
        fault.nth = AsInt64(ctx, *nth, o.At("nth"), 0, std::numeric_limits<int64_t>::max());
    return fault;
}

void ReadIntegerRange(Object& o, NodeDesc& n, int64_t defaultMin, int64_t defaultMax) {
    n.intMin = defaultMin;
    n.intMax = defaultMax;
    o.Read("min", n.intMin);
    o.Read("max", n.intMax);
    if (n.intMin > n.intMax) o.Ctx().Fail(o.At("max"), "max is below min");
    n.intValue = std::clamp<int64_t>(0, n.intMin, n.intMax);
    if (const json* v = o.Get("value"))
        n.intValue = AsInt64(o.Ctx(), *v, o.At("value"), n.intMin, n.intMax);
}

void ReadEnumeration(Object& o, NodeDesc& n) {
    const Context& ctx = o.Ctx();
    std::string path = o.At("entries");
    const json& entries = AsArray(ctx, o.Require("entries"), path);
    if (entries.empty()) ctx.Fail(path, "an enumeration needs at least one entry");
    for (size_t i = 0; i < entries.size(); ++i) {
        std::string at = JoinIndex(path, i);
        const json& e = entries[i];
        std::pair<std::string, int64_t> entry;
        if (e.is_array()) {
            if (e.size() != 2) ctx.Fail(at, "an entry is [name, value]");
            entry = {AsString(ctx, e[0], JoinIndex(at, 0)), AsInt64(ctx, e[1], JoinIndex(at, 1))};
        } else {
            Object eo(ctx, e, at, {"name", "value"});
            eo.CheckKeys();
            entry = {AsString(ctx, eo.Require("name"), eo.At("name")),
                     AsInt64(ctx, eo.Require("value"), eo.At("value"))};
        }
        for (const auto& other : n.entries)
            if (other.first == entry.first) ctx.Fail(at, "duplicate entry \"" + entry.first + "\"");
        n.entries.push_back(entry);
    }
    n.text = n.entries.front().first;
    o.Read("value", n.text);
    bool known = std::any_of(n.entries.begin(), n.entries.end(),
                             [&](const auto& e) { return e.first == n.text; });
    if (!known) ctx.Fail(o.At("value"), "\"" + n.text + "\" is not one of the entries");
}

void ReadCompletion(Object& o, NodeDesc& n) {
    using GenApi::ECommandCompletion;
    const json* c = o.Get("completion");
    if (!c) return;
    std::string path = o.At("completion");
    if (c->is_string()) {
        n.completion = OneOf<ECommandCompletion>(
            o.Ctx(), *c, path,
            {{"immediate", ECommandCompletion::Immediate}, {"never", ECommandCompletion::Never}});
        return;
    }
    Object co(o.Ctx(), *c, path, {"afterPolls", "afterDelayMs"});
    co.CheckKeys();
    if (co.Size() != 1)
        o.Ctx().Fail(path, "completion needs exactly one of \"afterPolls\", \"afterDelayMs\"");
    const char* key = co.Get("afterPolls") ? "afterPolls" : "afterDelayMs";
    n.completion =
        co.Get("afterPolls") ? ECommandCompletion::AfterPolls : ECommandCompletion::AfterDelay;
    n.completionParam =
        AsInt64(o.Ctx(), co.Require(key), co.At(key), 0, std::numeric_limits<int64_t>::max());
}

NodeDesc ReadNode(const Context& ctx, const json& value, const std::string& path) {
    Object o(ctx, value, path, {"name", "type", "access", "feature", "faults"});
    NodeDesc n;
    n.name = AsString(ctx, o.Require("name"), o.At("name"));
    if (n.name.empty()) ctx.Fail(o.At("name"), "empty node name");
    n.kind = OneOf<NodeKind>(ctx, o.Require("type"), o.At("type"),
                             {{"Boolean", NodeKind::Boolean},
                              {"Integer", NodeKind::Integer},
                              {"Float", NodeKind::Float},
                              {"String", NodeKind::String},
                              {"Enumeration", NodeKind::Enumeration},
                              {"Command", NodeKind::Command},
                              {"Register", NodeKind::Register},
                              {"IntRegister", NodeKind::IntRegister},
                              {"Category", NodeKind::Category},
                              {"Value", NodeKind::Value},
                              {"Port", NodeKind::Port}});
    if (const json* access = o.Get("access"))
        n.access = OneOf<GenApi::EAccessMode>(ctx, *access, o.At("access"),
                                              {{"RW", GenApi::RW},
                                               {"RO", GenApi::RO},
                                               {"WO", GenApi::WO},
                                               {"NA", GenApi::NA},
                                               {"NI", GenApi::NI}});
    o.Read("feature", n.feature);
    if (const json* faults = o.Get("faults")) {
        std::string at = o.At("faults");
        for (size_t i = 0; i < AsArray(ctx, *faults, at).size(); ++i)
            n.faults.push_back(NodeFault(ctx, (*faults)[i], JoinIndex(at, i)));
    }

    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    if (n.kind == NodeKind::Boolean || n.kind == NodeKind::Integer ||
        n.kind == NodeKind::Enumeration) {
        o.Allow({"selected"});
        if (const json* selected = o.Get("selected"))
            n.selected = StringList(ctx, *selected, o.At("selected"));
    }
    switch (n.kind) {
        case NodeKind::Boolean:
            o.Allow({"value"});
            o.Read("value", n.boolValue);
            break;
        case NodeKind::Integer:
            o.Allow({"value", "min", "max", "inc", "chunk"});
            ReadIntegerRange(o, n, kMin, kMax);
            o.Read("inc", n.intInc);
            if (n.intInc < 1) ctx.Fail(o.At("inc"), "inc must be at least 1");
            break;
        case NodeKind::IntRegister: {
            o.Allow({"value", "min", "max", "length", "address"});
            n.size = 4;
            if (const json* len = o.Get("length"))
                n.size = AsInt64(ctx, *len, o.At("length"), 1, 8);
            // An unsigned register of that many bytes unless the range says otherwise.
            int64_t top = n.size == 8 ? kMax : (int64_t{1} << (8 * n.size)) - 1;
            ReadIntegerRange(o, n, 0, top);
            o.Read("address", n.address);
            break;
        }
        case NodeKind::Float: {
            o.Allow({"value", "min", "max", "inc", "incMode", "chunk"});
            n.floatMin = std::numeric_limits<double>::lowest();
            n.floatMax = std::numeric_limits<double>::max();
            o.Read("min", n.floatMin);
            o.Read("max", n.floatMax);
            if (n.floatMin > n.floatMax) ctx.Fail(o.At("max"), "max is below min");
            n.floatValue = std::clamp(0.0, n.floatMin, n.floatMax);
            o.Read("value", n.floatValue);
            if (n.floatValue < n.floatMin || n.floatValue > n.floatMax)
                ctx.Fail(o.At("value"), "value outside [min, max]");
            const json* inc = o.Get("inc");
            n.floatInc.mode = inc ? GenApi::fixedIncrement : GenApi::noIncrement;
            if (const json* mode = o.Get("incMode"))
                n.floatInc.mode = OneOf<GenApi::EIncMode>(ctx, *mode, o.At("incMode"),
                                                          {{"fixed", GenApi::fixedIncrement},
                                                           {"list", GenApi::listIncrement},
                                                           {"none", GenApi::noIncrement}});
            n.floatInc.hasInc = n.floatInc.mode != GenApi::noIncrement;
            if (n.floatInc.hasInc) {
                if (!inc) ctx.Fail(o.At("incMode"), "an increment mode needs \"inc\"");
                n.floatInc.inc = AsDouble(ctx, *inc, o.At("inc"));
                if (!(n.floatInc.inc > 0)) ctx.Fail(o.At("inc"), "inc must be positive");
            }
            break;
        }
        case NodeKind::String:
            o.Allow({"value", "maxLength"});
            n.size = 256;
            if (const json* len = o.Get("maxLength"))
                n.size = AsInt64(ctx, *len, o.At("maxLength"), 0, kMax);
            o.Read("value", n.text);
            if (static_cast<int64_t>(n.text.size()) > n.size)
                ctx.Fail(o.At("value"), "value longer than maxLength");
            break;
        case NodeKind::Enumeration:
            o.Allow({"entries", "value"});
            ReadEnumeration(o, n);
            break;
        case NodeKind::Command:
            o.Allow({"completion"});
            ReadCompletion(o, n);
            break;
        case NodeKind::Register: {
            o.Allow({"length", "hex", "address"});
            if (const json* hex = o.Get("hex")) n.bytes = HexBytes(ctx, *hex, o.At("hex"));
            n.size = static_cast<int64_t>(n.bytes.size());
            if (const json* len = o.Get("length"))
                n.size = AsInt64(ctx, *len, o.At("length"), 1, kMaxBlockSize);
            if (n.size < 1) ctx.Fail(path, "a register needs \"length\" or \"hex\"");
            if (static_cast<int64_t>(n.bytes.size()) > n.size)
                ctx.Fail(o.At("hex"), "more bytes than the register's length");
            o.Read("address", n.address);
            break;
        }
        case NodeKind::Category:
            o.Allow({"features"});
            if (const json* f = o.Get("features"))
                n.features = StringList(ctx, *f, o.At("features"));
            break;
        case NodeKind::Value:
            break;
        case NodeKind::Port:
            o.Allow({"size"});
            if (const json* size = o.Get("size"))
                n.size = AsInt64(ctx, *size, o.At("size"), 0, kMax);
            break;
    }
    o.CheckKeys();
    // {"id": N, "offset": 0, "length": 8}: the value comes from a frame's chunk.
    if (const json* chunk = o.Get("chunk")) {
        Object co(ctx, *chunk, o.At("chunk"), {"id", "offset", "length"});
        co.CheckKeys();
        n.chunk = true;
        n.chunkId = static_cast<uint64_t>(
            AsInt64(ctx, co.Require("id"), co.At("id"), 0, std::numeric_limits<uint32_t>::max()));
        if (const json* offset = co.Get("offset"))
            n.chunkOffset = AsInt64(ctx, *offset, co.At("offset"), 0, kMaxBlockSize);
        if (const json* length = co.Get("length"))
            n.chunkLength = AsInt64(ctx, *length, co.At("length"), 1, 8);
        if (n.kind == NodeKind::Float && n.chunkLength != 4 && n.chunkLength != 8)
            ctx.Fail(co.At("length"), "a float chunk feature is 4 or 8 bytes");
    }
    return n;
}

// {"nodes": [...]}
std::function<void(GenApi::CMemoryNodeMap&)> ReadNodeMap(const Context& ctx, const json& value,
                                                         const std::string& path) {
    Object o(ctx, value, path, {"nodes"});
    o.CheckKeys();
    std::vector<NodeDesc> nodes;
    if (const json* list = o.Get("nodes")) {
        std::string at = o.At("nodes");
        std::set<std::string> names;
        for (size_t i = 0; i < AsArray(ctx, *list, at).size(); ++i) {
            std::string nodePath = JoinIndex(at, i);
            nodes.push_back(ReadNode(ctx, (*list)[i], nodePath));
            // The builder would silently replace the first node of that name.
            if (!names.insert(nodes.back().name).second)
                ctx.Fail(JoinKey(nodePath, "name"), "duplicate node \"" + nodes.back().name + "\"");
        }
        for (std::size_t i = 0; i < nodes.size(); ++i)
            for (const std::string& name : nodes[i].selected)
                if (!names.count(name) || name == nodes[i].name)
                    ctx.Fail(JoinKey(JoinIndex(at, i), "selected"),
                             "\"" + name + "\" is no other node of this map");
    }
    return MakeBuilder(std::move(nodes));
}

// ---- Cameras ---------------------------------------------------------------

std::string FaultKind(const Context& ctx, const json& value, const std::string& path) {
    return OneOf<std::string>(ctx, value, path, {{"genicam", "genicam"}, {"std", "std"}});
}

FaultMap CameraFaults(const Context& ctx, const json& value, const std::string& path) {
    static const std::set<std::string> kOps = {"open",
                                               "close",
                                               "isOpen",
                                               "isConnected",
                                               "startGrabbing",
                                               "stopGrabbing",
                                               "getFrame",
                                               "getInfo",
                                               "getDeviceModule",
                                               "getGrabberModule",
                                               "setSerialPort",
                                               "getInterfaceType",
                                               "getSerialNumber"};
    if (!value.is_object())
        ctx.Fail(path, std::string("expected an object, got ") + TypeName(value));
    FaultMap faults;
    for (const auto& item : value.items()) {
        std::string at = JoinKey(path, item.key());
        if (kOps.count(item.key()) == 0) ctx.Fail(at, "unknown operation \"" + item.key() + "\"");
        faults[item.key()] = FaultKind(ctx, item.value(), at);
    }
    return faults;
}

// {"name": "ExposureEnd", "id": 36865, "data": {"EventExposureEndFrameID": 1}}: data
// values are numbers, strings or booleans, kept as text in name order.
KZRGENICAM::CameraEvent ReadEvent(const Context& ctx, const json& value, const std::string& path) {
    Object o(ctx, value, path, {"name", "id", "data"});
    o.CheckKeys();
    KZRGENICAM::CameraEvent event;
    o.Read("name", event.name);
    int64_t id = 0;
    o.Read("id", id);
    if (id < 0) ctx.Fail(o.At("id"), "an event id is not negative");
    event.id = static_cast<uint64_t>(id);
    if (event.name.empty() && !o.Get("id")) ctx.Fail(path, "an event needs \"name\" or \"id\"");
    if (const json* data = o.Get("data")) {
        if (!data->is_object()) ctx.Fail(o.At("data"), "expected an object");
        for (const auto& [key, item] : data->items()) {
            if (!item.is_primitive() || item.is_null())
                ctx.Fail(JoinKey(o.At("data"), key), "expected a number, string or boolean");
            event.data.emplace_back(key, item.is_string() ? item.get<std::string>() : item.dump());
        }
    }
    return event;
}

FrameStep ReadFrameStep(const Context& ctx, const json& value, const std::string& path) {
    Object o(ctx, value, path,
             {"code", "delayMs", "valid", "width", "height", "channels", "bits", "chunks", "fault",
              "lost", "events"});
    o.CheckKeys();
    FrameStep step;
    o.Read("code", step.code);
    o.Read("delayMs", step.delayMs, 0);
    o.Read("valid", step.valid);
    o.Read("width", step.width, -1);
    o.Read("height", step.height, -1);
    o.Read("channels", step.channels, -1);
    o.Read("bits", step.bits, -1);
    o.Read("lost", step.lost, 0, 1000000);
    if (const json* chunks = o.Get("chunks")) {
        step.hasChunks = true;
        step.chunks = ChunkList(ctx, *chunks, o.At("chunks"));
    }
    if (const json* fault = o.Get("fault")) step.fault = FaultKind(ctx, *fault, o.At("fault"));
    if (const json* events = o.Get("events")) {
        const std::string at = o.At("events");
        for (size_t i = 0; i < AsArray(ctx, *events, at).size(); ++i)
            step.events.push_back(ReadEvent(ctx, (*events)[i], JoinIndex(at, i)));
    }
    return step;
}

CameraSpec ReadCamera(const Context& ctx, const json& value, const std::string& path) {
    Object o(ctx, value, path, {"serial",       "vendor",        "model",         "id",
                                "link",         "transport",     "listed",        "inClFilter",
                                "null",         "creatable",     "openError",     "connected",
                                "deviceModule", "deviceNodeMap", "grabberModule", "grabberNodeMap",
                                "faults",       "startError",    "stopError",     "pixelFormat",
                                "width",        "height",        "frameRate",     "validFrames",
                                "chunks",       "script",        "device",        "grabber"});
    o.CheckKeys();
    CameraSpec cam;
    o.Read("null", cam.nullRecord);
    // A null record stands for a hole in the discovery list and needs no identity.
    if (cam.nullRecord) {
        o.Read("serial", cam.serial);
    } else {
        cam.serial = AsString(ctx, o.Require("serial"), o.At("serial"));
    }
    o.Read("vendor", cam.vendor);
    o.Read("model", cam.model);
    o.Read("id", cam.id);
    o.Read("link", cam.link);
    o.Read("transport", cam.transport);
    o.Read("listed", cam.listed);
    if (const json* f = o.Get("inClFilter")) cam.inClFilter = AsBool(ctx, *f, o.At("inClFilter"));
    o.Read("creatable", cam.creatable);
    o.Read("openError", cam.openError);
    o.Read("connected", cam.connected);
    o.Read("deviceModule", cam.deviceModule);
    o.Read("deviceNodeMap", cam.deviceNodeMap);
    o.Read("grabberModule", cam.grabberModule);
    o.Read("grabberNodeMap", cam.grabberNodeMap);
    if (const json* f = o.Get("faults")) cam.faults = CameraFaults(ctx, *f, o.At("faults"));
    o.Read("startError", cam.startError);
    o.Read("stopError", cam.stopError);
    if (const json* pf = o.Get("pixelFormat"))
        cam.pixelFormat = OneOf<std::string>(ctx, *pf, o.At("pixelFormat"),
                                             {{"Mono8", "Mono8"},
                                              {"Mono16", "Mono16"},
                                              {"RGB8", "RGB8"},
                                              {"BayerRG8", "BayerRG8"},
                                              {"BayerGB8", "BayerGB8"},
                                              {"BayerGR8", "BayerGR8"},
                                              {"BayerBG8", "BayerBG8"}});
    o.Read("width", cam.width, 1, 65535);
    o.Read("height", cam.height, 1, 65535);
    o.Read("frameRate", cam.frameRate);
    o.Read("validFrames", cam.validFrames);
    if (const json* chunks = o.Get("chunks")) CameraChunks(ctx, *chunks, o.At("chunks"), cam);
    if (const json* script = o.Get("script")) {
        std::string at = o.At("script");
        for (size_t i = 0; i < AsArray(ctx, *script, at).size(); ++i)
            cam.script.push_back(ReadFrameStep(ctx, (*script)[i], JoinIndex(at, i)));
    }
    if (const json* d = o.Get("device")) cam.buildDevice = ReadNodeMap(ctx, *d, o.At("device"));
    if (const json* g = o.Get("grabber")) cam.buildGrabber = ReadNodeMap(ctx, *g, o.At("grabber"));
    return cam;
}

// nlohmann's message without its "[json.exception.<kind>.<id>] " prefix.
std::string LibraryMessage(const std::string& what) {
    size_t close = what.rfind("[json.exception.", 0) == 0 ? what.find("] ") : std::string::npos;
    return close == std::string::npos ? what : what.substr(close + 2);
}

// Offset of the number token that nlohmann's out-of-range message quotes
// ("number overflow parsing '1e400'"): the first such token outside strings, which
// is where nlohmann stopped. 0 when the message quotes nothing or nothing matches.
size_t QuotedNumberAt(const std::string& text, const std::string& what) {
    const size_t open = what.find('\'');
    const size_t close = open == std::string::npos ? open : what.find('\'', open + 1);
    if (close == std::string::npos) return 0;
    const std::string token = what.substr(open + 1, close - open - 1);
    size_t pos = 0;
    while (pos < text.size()) {
        const char c = text[pos];
        if (c == '"') {
            for (++pos; pos < text.size() && text[pos] != '"'; ++pos) {
                if (text[pos] == '\\') ++pos;
            }
            ++pos;
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            const size_t start = pos;
            while (pos < text.size() && std::strchr("+-.eE0123456789", text[pos]) != nullptr) ++pos;
            if (text.compare(start, pos - start, token) == 0) return start;
        } else {
            ++pos;
        }
    }
    return 0;
}

// nlohmann's message without its own prefix and (line-based) position.
std::string SyntaxMessage(const std::string& what) {
    size_t start = what.find("parse error");
    size_t colon = start == std::string::npos ? start : what.find(": ", start);
    return colon == std::string::npos ? what : what.substr(colon + 2);
}

}  // namespace

KZR_API Scenario ParseScenarioJson(const std::string& jsonText, const std::string& sourceName) {
    json doc;
    try {
        doc = json::parse(jsonText);
    } catch (const json::parse_error& e) {
        // e.byte counts from 1 and may point one past the end at a truncated document.
        size_t offset = e.byte == 0 ? 0 : e.byte - 1;
        throw std::runtime_error(sourceName + ":" + LineColumn(jsonText, offset) + ": " +
                                 SyntaxMessage(e.what()));
    } catch (const json::exception& e) {
        // A number beyond double range (406) carries no position of its own.
        const size_t offset = QuotedNumberAt(jsonText, e.what());
        const std::string path = PositionIndex(jsonText).PathAt(offset);
        throw std::runtime_error(sourceName + ":" + LineColumn(jsonText, offset) + ": " +
                                 (path.empty() ? "" : path + ": ") + LibraryMessage(e.what()));
    }
    Context ctx(sourceName, jsonText);
    Object top(ctx, doc, "", {"clSerials", "clProtocols", "cameras"});
    top.CheckKeys();
    Scenario scenario;
    if (const json* s = top.Get("clSerials")) scenario.clSerials = StringList(ctx, *s, "clSerials");
    if (const json* p = top.Get("clProtocols"))
        scenario.clProtocols = StringList(ctx, *p, "clProtocols");
    if (const json* cams = top.Get("cameras")) {
        for (size_t i = 0; i < AsArray(ctx, *cams, "cameras").size(); ++i)
            scenario.cameras.push_back(ReadCamera(ctx, (*cams)[i], JoinIndex("cameras", i)));
    }
    return scenario;
}

KZR_API void LoadScenarioJson(const std::string& jsonText, const std::string& sourceName) {
    SetScenario(ParseScenarioJson(jsonText, sourceName));
}

KZR_API void LoadScenarioFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot open scenario file \"" + path +
                                 "\": " + std::strerror(errno));
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw std::runtime_error("cannot read scenario file \"" + path + "\"");
    SetScenario(ParseScenarioJson(text.str(), path));
}

}  // namespace KZRSIM
