// Differential walk: every generated description is loaded into our engine
// (CEngineNodeMap over a memory port) and into Aravis's engine (over a memory
// device) from the same memory image. Every node is compared: readability,
// writability, value, range, increment and available entries; then every writable
// value is written back and every command executed on both, and the two memories
// must stay equal byte for byte.
//
// Where the GenICam rules and Aravis differ, a named rule below says which
// difference is expected; the walk follows the standard and counts the rule.
#include <arv.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "AravisPort.h"
#include "EngineNodeMap.h"
#include "GenApi.h"
#include "MemoryDevice.h"
#include "MemoryPort.h"

namespace {

using namespace GenApi;

// ---------------------------------------------------------------------------
// One node as one engine sees it.
struct SView {
    std::string kind;  // int, float, bool, enum, string, command, register
    bool readable = false;
    bool writable = false;
    bool implemented = true;
    std::string value;  // text of the value (floats compared numerically)
    double number = 0;
    bool isNumber = false;
    std::string range;  // min/max/inc as text
    std::string entries;
    bool failed = false;  // reading a readable node raised an error
    std::string error;
};

std::string Hex(const uint8_t* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) out += {digits[p[i] >> 4], digits[p[i] & 15]};
    return out;
}

std::string Num(double v) {
    char b[40];
    std::snprintf(b, sizeof b, "%.17g", v);
    return b;
}

// ---------------------------------------------------------------------------
// Our engine, through the GenApi interfaces only.

const char* KindOf(INode* node) {
    static const std::map<EInterfaceType, const char*> kinds = {
        {intfIInteger, "int"},      {intfIFloat, "float"},   {intfIBoolean, "bool"},
        {intfIEnumeration, "enum"}, {intfIString, "string"}, {intfICommand, "command"},
        {intfIRegister, "register"}};
    const auto kind = kinds.find(node->GetPrincipalInterfaceType());
    return kind == kinds.end() ? nullptr : kind->second;
}

SView OurView(INode* node) {
    SView v;
    v.kind = KindOf(node);
    const EAccessMode mode = node->GetAccessMode();
    v.implemented = IsImplemented(mode);
    v.readable = IsReadable(mode);
    v.writable = IsWritable(mode);
    if (!v.readable || v.kind == "command") return v;
    try {
        if (auto* i = dynamic_cast<IInteger*>(node)) {
            v.value = std::to_string(i->GetValue());
            v.range = std::to_string(i->GetMin()) + ".." + std::to_string(i->GetMax()) + "/" +
                      std::to_string(i->GetInc());
        } else if (auto* f = dynamic_cast<IFloat*>(node)) {
            v.number = f->GetValue();
            v.isNumber = true;
            v.value = Num(v.number);
            v.range = Num(f->GetMin()) + ".." + Num(f->GetMax());
            if (f->HasInc()) v.range += "/" + Num(f->GetInc());
        } else if (auto* b = dynamic_cast<IBoolean*>(node)) {
            v.value = b->GetValue() ? "true" : "false";
        } else if (auto* e = dynamic_cast<IEnumeration*>(node)) {
            IEnumEntry* current = e->GetCurrentEntry();
            v.value = current ? current->GetSymbolic().str() : "(none)";
            gcstring_vector symbolics;
            e->GetSymbolics(symbolics);
            for (const auto& s : symbolics) v.entries += s.str() + ",";
        } else if (auto* s = dynamic_cast<IString*>(node)) {
            v.value = s->GetValue().str();
        } else if (auto* r = dynamic_cast<IRegister*>(node)) {
            std::vector<uint8_t> bytes(static_cast<size_t>(r->GetLength()));
            r->Get(bytes.data(), static_cast<int64_t>(bytes.size()));
            v.value = Hex(bytes.data(), bytes.size());
        }
    } catch (const GenICam::GenericException& e) {
        v.failed = true;
        v.error = e.GetDescription();
    }
    return v;
}

/// Writes the node's own value back (or executes it); false with why on an error.
bool OurWriteBack(INode* node, std::string& why) {
    try {
        if (auto* c = dynamic_cast<ICommand*>(node)) {
            c->Execute();
        } else if (auto* i = dynamic_cast<IInteger*>(node)) {
            i->SetValue(i->GetValue());
        } else if (auto* f = dynamic_cast<IFloat*>(node)) {
            f->SetValue(f->GetValue());
        } else if (auto* b = dynamic_cast<IBoolean*>(node)) {
            b->SetValue(b->GetValue());
        } else if (auto* e = dynamic_cast<IEnumeration*>(node)) {
            e->SetIntValue(e->GetIntValue());
        } else if (auto* s = dynamic_cast<IString*>(node)) {
            s->SetValue(s->GetValue());
        } else if (auto* r = dynamic_cast<IRegister*>(node)) {
            std::vector<uint8_t> bytes(static_cast<size_t>(r->GetLength()));
            r->Get(bytes.data(), static_cast<int64_t>(bytes.size()));
            r->Set(bytes.data(), static_cast<int64_t>(bytes.size()));
        }
        return true;
    } catch (const GenICam::GenericException& e) {
        why = e.GetDescription();
        return false;
    }
}

// ---------------------------------------------------------------------------
// Aravis's engine.
struct SArvError {
    GError* error = nullptr;
    ~SArvError() {
        if (error) g_error_free(error);
    }
    GError** Out() {
        if (error) g_error_free(error);
        error = nullptr;
        return &error;
    }
    explicit operator bool() const { return error != nullptr; }
    std::string Text() const { return error && error->message ? error->message : ""; }
};

SView ArvView(ArvGcNode* node, const std::string& kind) {
    SView v;
    v.kind = kind;
    auto* feature = ARV_GC_FEATURE_NODE(node);
    SArvError err;
    const bool implemented = arv_gc_feature_node_is_implemented(feature, err.Out()) && !err;
    const bool available = arv_gc_feature_node_is_available(feature, err.Out()) && !err;
    const bool locked = arv_gc_feature_node_is_locked(feature, err.Out()) && !err;
    const ArvGcAccessMode mode = arv_gc_feature_node_get_actual_access_mode(feature);
    v.implemented = implemented;
    v.readable = implemented && available &&
                 (mode == ARV_GC_ACCESS_MODE_RO || mode == ARV_GC_ACCESS_MODE_RW);
    v.writable = implemented && available && !locked &&
                 (mode == ARV_GC_ACCESS_MODE_WO || mode == ARV_GC_ACCESS_MODE_RW);
    return v;
}

// Aravis reads whatever it is asked to, readable or not: the walk asks it exactly
// when both engines call the node readable.
void ArvRead(ArvGcNode* node, SView& v) {
    SArvError err;
    const std::string& kind = v.kind;
    if (kind == "int" && ARV_IS_GC_INTEGER(node)) {
        auto* i = ARV_GC_INTEGER(node);
        v.value = std::to_string(arv_gc_integer_get_value(i, err.Out()));
        if (!err) {
            const gint64 mn = arv_gc_integer_get_min(i, nullptr);
            const gint64 mx = arv_gc_integer_get_max(i, nullptr);
            const gint64 inc = arv_gc_integer_get_inc(i, nullptr);
            v.range = std::to_string(mn) + ".." + std::to_string(mx) + "/" + std::to_string(inc);
        }
    } else if (kind == "float" && ARV_IS_GC_FLOAT(node)) {
        auto* f = ARV_GC_FLOAT(node);
        v.number = arv_gc_float_get_value(f, err.Out());
        v.isNumber = true;
        v.value = Num(v.number);
        if (!err) {
            v.range = Num(arv_gc_float_get_min(f, nullptr)) + ".." +
                      Num(arv_gc_float_get_max(f, nullptr));
            // Aravis answers "property not defined" for a float without an increment.
            SArvError incErr;
            const double inc = arv_gc_float_get_inc(f, incErr.Out());
            if (!incErr) v.range += "/" + Num(inc);
        }
    } else if (kind == "bool" && ARV_IS_GC_BOOLEAN(node)) {
        v.value = arv_gc_boolean_get_value(ARV_GC_BOOLEAN(node), err.Out()) ? "true" : "false";
    } else if (kind == "enum" && ARV_IS_GC_ENUMERATION(node)) {
        auto* e = ARV_GC_ENUMERATION(node);
        const char* s = arv_gc_enumeration_get_string_value(e, err.Out());
        v.value = s ? s : "(none)";
        if (!err) {
            guint n = 0;
            SArvError listErr;
            const char** list =
                arv_gc_enumeration_dup_available_string_values(e, &n, listErr.Out());
            for (guint k = 0; list && k < n; ++k) v.entries += std::string(list[k]) + ",";
            g_free(list);
        }
    } else if (kind == "string" && ARV_IS_GC_STRING(node)) {
        const char* s = arv_gc_string_get_value(ARV_GC_STRING(node), err.Out());
        v.value = s ? s : "";
    } else if (kind == "register" && ARV_IS_GC_REGISTER(node)) {
        auto* r = ARV_GC_REGISTER(node);
        const guint64 length = arv_gc_register_get_length(r, err.Out());
        if (!err && length <= (1u << 20)) {
            std::vector<uint8_t> bytes(static_cast<size_t>(length));
            arv_gc_register_get(r, bytes.data(), length, err.Out());
            v.value = Hex(bytes.data(), bytes.size());
        }
    } else {
        v.failed = true;
        v.error = "Aravis's node is no " + kind;
        return;
    }
    if (err) {
        v.failed = true;
        v.error = err.Text();
    }
}

bool ArvWriteBack(ArvGcNode* node, const std::string& kind, std::string& why) {
    SArvError err;
    if (kind == "command" && ARV_IS_GC_COMMAND(node)) {
        arv_gc_command_execute(ARV_GC_COMMAND(node), err.Out());
    } else if (kind == "int" && ARV_IS_GC_INTEGER(node)) {
        const gint64 value = arv_gc_integer_get_value(ARV_GC_INTEGER(node), err.Out());
        if (!err) arv_gc_integer_set_value(ARV_GC_INTEGER(node), value, err.Out());
    } else if (kind == "float" && ARV_IS_GC_FLOAT(node)) {
        const double value = arv_gc_float_get_value(ARV_GC_FLOAT(node), err.Out());
        if (!err) arv_gc_float_set_value(ARV_GC_FLOAT(node), value, err.Out());
    } else if (kind == "bool" && ARV_IS_GC_BOOLEAN(node)) {
        const gboolean value = arv_gc_boolean_get_value(ARV_GC_BOOLEAN(node), err.Out());
        if (!err) arv_gc_boolean_set_value(ARV_GC_BOOLEAN(node), value, err.Out());
    } else if (kind == "enum" && ARV_IS_GC_ENUMERATION(node)) {
        const gint64 value = arv_gc_enumeration_get_int_value(ARV_GC_ENUMERATION(node), err.Out());
        if (!err) arv_gc_enumeration_set_int_value(ARV_GC_ENUMERATION(node), value, err.Out());
    } else if (kind == "string" && ARV_IS_GC_STRING(node)) {
        auto* s = ARV_GC_STRING(node);
        const char* value = arv_gc_string_get_value(s, err.Out());
        const std::string copy = value ? value : "";
        if (!err) arv_gc_string_set_value(s, copy.c_str(), err.Out());
    } else if (kind == "register" && ARV_IS_GC_REGISTER(node)) {
        auto* r = ARV_GC_REGISTER(node);
        const guint64 length = arv_gc_register_get_length(r, err.Out());
        if (!err && length <= (1u << 20)) {
            std::vector<uint8_t> bytes(static_cast<size_t>(length));
            arv_gc_register_get(r, bytes.data(), length, err.Out());
            if (!err) arv_gc_register_set(r, bytes.data(), length, err.Out());
        }
    } else {
        why = "Aravis's node is no " + kind;
        return false;
    }
    if (err) why = err.Text();
    return !err;
}

// ---------------------------------------------------------------------------
// Where the standard and Aravis part. Each rule names a difference the walk
// expects, recognised from the description itself (the node's element and its
// children); the walk follows the standard (our engine's side) and counts the rule.
struct SDifference {
    const std::string& node;
    const std::string& aspect;  // readable, writable, value, range, entries, error, write, memory
    const SView& ours;
    const SView& arv;
    ArvGcNode* element;      // the node in Aravis's tree (its element and children), or null
    const std::string& xml;  // the whole description
};

/// The element name of the node of that name in the description's text.
std::string ElementOf(const std::string& xml, const std::string& name) {
    const size_t at = xml.find("Name=\"" + name + "\"");
    const size_t open = at == std::string::npos ? at : xml.rfind('<', at);
    if (open == std::string::npos) return std::string();
    const size_t end = xml.find_first_of(" \t\r\n>", open + 1);
    return xml.substr(open + 1, end - open - 1);
}

/// The text of the node's first child element of that name; null when it has none.
const char* ChildText(ArvGcNode* node, const char* name) {
    if (!node) return nullptr;
    for (ArvDomNode* child = arv_dom_node_get_first_child(ARV_DOM_NODE(node)); child;
         child = arv_dom_node_get_next_sibling(child)) {
        const char* childName = arv_dom_node_get_node_name(child);
        if (!childName || std::strcmp(childName, name) != 0) continue;
        ArvDomNode* text = arv_dom_node_get_first_child(child);
        const char* value = text ? arv_dom_node_get_node_value(text) : nullptr;
        return value ? value : "";
    }
    return nullptr;
}

bool IsElement(const SDifference& d, const char* name) {
    const char* element = d.element ? arv_dom_node_get_node_name(ARV_DOM_NODE(d.element)) : nullptr;
    return element && std::strcmp(element, name) == 0;
}

bool FormulaHas(const SDifference& d, const char* text) {
    const char* formula = ChildText(d.element, "Formula");
    return formula && std::strstr(formula, text);
}

bool IsAccess(const SDifference& d) {
    return d.aspect == "readable" || d.aspect == "writable";
}

struct SRule {
    const char* name;
    const char* reason;
    std::function<bool(const SDifference&)> applies;
};

const std::vector<SRule>& Rules() {
    static const std::vector<SRule> rules = {
        {"implemented-down-pValue",
         "A node whose pValue names a node that is not implemented is not implemented "
         "either (access combines down the pValue chain); Aravis asks only the node's own "
         "pIsImplemented and reads it.",
         [](const SDifference& d) {
             return IsAccess(d) && !d.ours.implemented && d.arv.implemented &&
                    ChildText(d.element, "pValue");
         }},
        {"imposed-access-restricts",
         "ImposedAccessMode can only take access away from what the pValue chain allows "
         "(WO over an RO register is NA); Aravis grants the imposed mode as it stands.",
         [](const SDifference& d) {
             return IsAccess(d) && ChildText(d.element, "ImposedAccessMode") &&
                    ChildText(d.element, "pValue") &&
                    !(d.aspect == "readable" ? d.ours.readable : d.ours.writable);
         }},
        {"integer-not-and-abs",
         "In an IntSwissKnife !x is 1 for x = 0 and ABS(x) is |x|; Aravis answers 0 for "
         "both.",
         [](const SDifference& d) {
             return d.aspect == "value" && IsElement(d, "IntSwissKnife") &&
                    (FormulaHas(d, "!") || FormulaHas(d, "ABS("));
         }},
        {"float-modulo",
         "In a SwissKnife the operands of % are floats and the remainder keeps its "
         "fraction (fmod); Aravis truncates both operands to integers.",
         [](const SDifference& d) {
             return d.aspect == "value" && IsElement(d, "SwissKnife") && FormulaHas(d, "%");
         }},
        {"converter-range-through-formula",
         "A Converter's range is its pValue's range mapped through FormulaFrom (in the "
         "order its Slope gives); Aravis reports the whole double range.",
         [](const SDifference& d) {
             return d.aspect == "range" && IsElement(d, "Converter") &&
                    d.arv.range.rfind("-1.7976931348623157e+308..", 0) == 0;
         }},
        {"converter-write-division",
         "Writing a Converter whose FormulaTo divides by FROM: Aravis reports a division "
         "by zero for a value that is not zero and writes nothing; ours writes it.",
         [](const SDifference& d) {
             return d.aspect == "write" && IsElement(d, "Converter") &&
                    d.arv.error.find("division by zero") != std::string::npos &&
                    d.ours.error.empty();
         }},
        {"legacy-kinds",
         "ConfRom, TextDesc, IntKey, AdvFeatureLock and SmartFeature (schema 1.0) read as "
         "their register analogues; Aravis does not know them and leaves them out of its tree.",
         [](const SDifference& d) {
             const std::string kind = ElementOf(d.xml, d.node);
             return d.aspect == "missing" &&
                    (kind == "ConfRom" || kind == "TextDesc" || kind == "IntKey" ||
                     kind == "AdvFeatureLock" || kind == "SmartFeature");
         }},
        {"float-without-increment",
         "A Float, SwissKnife or Converter without Inc has no increment (HasInc false); "
         "Aravis reports one anyway: the smallest double, or a converter's raw increment "
         "mapped through its formula.",
         [](const SDifference& d) {
             const size_t slash = d.arv.range.rfind('/');
             return d.aspect == "range" && d.ours.kind == "float" && !ChildText(d.element, "Inc") &&
                    !ChildText(d.element, "pInc") && slash != std::string::npos &&
                    d.arv.range.compare(0, slash, d.ours.range) == 0;
         }},
    };
    return rules;
}

bool Near(double a, double b) {
    if (std::isnan(a) && std::isnan(b)) return true;
    if (a == b) return true;
    return std::fabs(a - b) <= 1e-9 * std::max(std::fabs(a), std::fabs(b));
}

// ---------------------------------------------------------------------------
/// The generator's index: "NAME FILE MEMFILE", one description a line.
std::vector<std::string> Descriptions() {
    std::vector<std::string> out;
    std::ifstream index(std::string(KZR_ENGINE_CAMERAS) + "/index.txt");
    for (std::string line; std::getline(index, line);) out.push_back(line);
    return out;
}

std::string ReadAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

struct SReport {
    const std::string& xml;
    std::map<std::string, int> ruleCounts;
    std::vector<std::string> mismatches;
    int compared = 0;
    int writes = 0;

    void Note(const SDifference& d, const std::string& detail) {
        for (const SRule& rule : Rules())
            if (rule.applies(d)) {
                ++ruleCounts[rule.name];
                return;
            }
        mismatches.push_back(d.node + " " + d.aspect + ": " + detail);
    }
};

void Compare(const std::string& name, ArvGcNode* element, const SView& ours, const SView& arv,
             SReport& report) {
    auto note = [&](const char* aspect, const std::string& detail) {
        const std::string a = aspect;
        report.Note({name, a, ours, arv, element, report.xml}, detail);
    };
    for (const auto& [aspect, mine, theirs] : {std::tuple("readable", ours.readable, arv.readable),
                                               std::tuple("writable", ours.writable, arv.writable)})
        if (mine != theirs)
            note(aspect, "ours " + std::to_string(mine) + ", Aravis " + std::to_string(theirs));
    if (!ours.readable || !arv.readable || ours.kind == "command") return;
    if (ours.failed != arv.failed) {
        note("error", "ours '" + ours.error + "', Aravis '" + arv.error + "'");
        return;
    }
    if (ours.failed) return;
    const bool sameValue =
        ours.isNumber && arv.isNumber ? Near(ours.number, arv.number) : ours.value == arv.value;
    if (!sameValue) note("value", "ours " + ours.value + ", Aravis " + arv.value);
    if (ours.range != arv.range) note("range", "ours " + ours.range + ", Aravis " + arv.range);
    if (ours.entries != arv.entries)
        note("entries", "ours " + ours.entries + ", Aravis " + arv.entries);
}

class EngineWalk : public ::testing::TestWithParam<std::string> {};

TEST_P(EngineWalk, AgreesWithAravisOnEveryNode) {
    std::string stem, file, mem;
    std::istringstream(GetParam()) >> stem >> file >> mem;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    const std::string raw = ReadAll(std::string(KZR_ENGINE_CAMERAS) + "/" + file);
    const std::string memText = ReadAll(std::string(KZR_ENGINE_CAMERAS) + "/" + mem);
    ASSERT_FALSE(raw.empty()) << file;
    const std::vector<uint8_t> image(memText.begin(), memText.end());
    const std::string xml = UnpackDescription(raw.data(), raw.size());

    auto port = std::make_shared<CMemoryPort>(image.size());
    port->memory = image;
    std::unique_ptr<CEngineNodeMap> ours = CEngineNodeMap::Load(xml, port, stem);
    ASSERT_TRUE(ours);

    ArvDevice* device = KzrMemoryDeviceNew(xml, image.size());
    ASSERT_NE(device, nullptr);
    KzrMemoryDeviceLoad(device, image);
    ArvGc* gc = arv_device_get_genicam(device);
    ASSERT_NE(gc, nullptr);
    arv_gc_set_range_check_policy(gc, ARV_RANGE_CHECK_POLICY_ENABLE);
    arv_gc_set_access_check_policy(gc, ARV_ACCESS_CHECK_POLICY_ENABLE);

    NodeList_t nodes;
    ours->GetNodes(nodes);
    SReport report{xml, {}, {}, 0, 0};
    std::vector<std::pair<INode*, ArvGcNode*>> walked;
    for (INode* node : nodes) {
        const char* kind = KindOf(node);
        if (!kind) continue;
        const std::string name = node->GetName().str();
        ArvGcNode* theirs = arv_gc_get_node(gc, name.c_str());
        if (!theirs || !ARV_IS_GC_FEATURE_NODE(theirs)) {
            const SView none;
            report.Note({name, "missing", none, none, nullptr, xml}, "not in Aravis's tree");
            continue;
        }
        SView mine = OurView(node);
        SView arv = ArvView(theirs, kind);
        if (mine.readable && arv.readable) ArvRead(theirs, arv);
        Compare(name, theirs, mine, arv, report);
        ++report.compared;
        walked.emplace_back(node, theirs);
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "walk too slow";
    }
    // Writing back and commands: both memories stay equal after each one.
    for (auto& [node, theirs] : walked) {
        const std::string kind = KindOf(node);
        if (!IsWritable(node->GetAccessMode())) continue;
        const std::string name = node->GetName().str();
        SView ourWrite, arvWrite;  // their errors, for the rules
        const bool ok = OurWriteBack(node, ourWrite.error);
        const bool arvOk = ArvWriteBack(theirs, kind, arvWrite.error);
        ++report.writes;
        if (ok != arvOk)
            report.Note({name, "write", ourWrite, arvWrite, theirs, xml},
                        "ours '" + ourWrite.error + "', Aravis '" + arvWrite.error + "'");
        const std::vector<uint8_t>& theirMemory = KzrMemoryDeviceBytes(device);
        if (theirMemory != port->memory) {
            size_t at = 0;
            while (at < theirMemory.size() && theirMemory[at] == port->memory[at]) ++at;
            char where[64];
            std::snprintf(where, sizeof where, "memory differs from 0x%zx", at);
            report.Note({name, "memory", ourWrite, arvWrite, theirs, xml}, where);
            KzrMemoryDeviceLoad(device, port->memory);  // one difference is reported once
        }
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "walk too slow";
    }
    g_object_unref(device);

    std::ostringstream summary;
    summary << stem << ": " << report.compared << " nodes compared, " << report.writes << " writes";
    for (const auto& [rule, count] : report.ruleCounts)
        summary << ", rule " << rule << " x" << count;
    std::printf("%s\n", summary.str().c_str());
    EXPECT_GT(report.compared, 0);
    std::string list;
    for (size_t i = 0; i < report.mismatches.size() && i < 60; ++i)
        list += report.mismatches[i] + "\n";
    EXPECT_TRUE(report.mismatches.empty())
        << report.mismatches.size() << " mismatches, the first:\n"
        << list;
}

INSTANTIATE_TEST_SUITE_P(Generated, EngineWalk, ::testing::ValuesIn(Descriptions()),
                         [](const ::testing::TestParamInfo<std::string>& param) {
                             return param.param.substr(0, param.param.find(' '));
                         });

// ---------------------------------------------------------------------------
// The Aravis transport's port: errors as GenICam exceptions, and a camera that
// stopped answering is lost for every later call.
enum class EOutcome { Ok, Timeout, Runtime, Argument };

struct SPortCase {
    const char* name;
    bool gone;        // the device stops answering before the call
    bool lostBefore;  // the camera already counts as lost
    bool write;
    int64_t address;
    EOutcome outcome;
    bool lostAfter;
};

class AravisPortCases : public ::testing::TestWithParam<SPortCase> {};

TEST_P(AravisPortCases, MapsErrorsAndLoss) {
    const SPortCase& c = GetParam();
    ArvDevice* device = KzrMemoryDeviceNew("<RegisterDescription/>", 0x100);
    KzrMemoryDeviceLoad(device, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4});
    KzrMemoryDeviceSetDelay(device, c.gone ? -1 : 0);
    auto lost = std::make_shared<std::atomic<bool>>(c.lostBefore);
    KZRGENICAM::detail::CAravisPort port(device, lost);
    uint8_t bytes[4] = {9, 9, 9, 9};
    EOutcome got = EOutcome::Ok;
    try {
        if (c.write)
            port.Write(bytes, c.address, 4);
        else
            port.Read(bytes, c.address, 4);
    } catch (const GenICam::TimeoutException&) {
        got = EOutcome::Timeout;
    } catch (const GenICam::RuntimeException&) {
        got = EOutcome::Runtime;
    } catch (const GenICam::InvalidArgumentException&) {
        got = EOutcome::Argument;
    }
    EXPECT_EQ(static_cast<int>(got), static_cast<int>(c.outcome));
    EXPECT_EQ(lost->load(), c.lostAfter);
    const std::vector<uint8_t>& memory = KzrMemoryDeviceBytes(device);
    if (got != EOutcome::Ok) {
        EXPECT_EQ(memory[0x10], 1) << "a failed call changed memory";
    } else if (c.write) {
        EXPECT_EQ(memory[0x10], 9);
    } else {
        EXPECT_EQ(bytes[0] + bytes[3], 1 + 4);
    }
    g_object_unref(device);
}

INSTANTIATE_TEST_SUITE_P(
    Port, AravisPortCases,
    ::testing::Values(
        SPortCase{"Read", false, false, false, 0x10, EOutcome::Ok, false},
        SPortCase{"Write", false, false, true, 0x10, EOutcome::Ok, false},
        SPortCase{"ReadGone", true, false, false, 0x10, EOutcome::Timeout, true},
        SPortCase{"WriteGone", true, false, true, 0x10, EOutcome::Timeout, true},
        SPortCase{"LostAlready", false, true, true, 0x10, EOutcome::Runtime, true},
        SPortCase{"OutsideMemory", false, false, false, 0x1000, EOutcome::Runtime, false},
        SPortCase{"NegativeAddress", false, false, false, -4, EOutcome::Argument, false}),
    [](const ::testing::TestParamInfo<SPortCase>& param) { return std::string(param.param.name); });

}  // namespace
