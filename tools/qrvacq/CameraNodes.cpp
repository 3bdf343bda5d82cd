#include "CameraNodes.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <ostream>
#include <set>

#include "Directory.h"
#include "KZRGeniCam.h"
#include "Text.h"

namespace qrvacq {

using json = nlohmann::ordered_json;

LibraryCamera::LibraryCamera() {
    KZRGENICAM::Init();
}

LibraryCamera::~LibraryCamera() {
    if (m_camera) {
        if (m_open) m_camera->close();
        m_camera->release();
    }
    KZRGENICAM::UnInit();
}

bool LibraryCamera::Open(const std::string& serial, std::string& error) {
    m_camera = KZRGENICAM::CreateCameraBySN(serial.c_str());
    if (!m_camera) {
        error = "no camera with serial number " + Quote(serial);
        return false;
    }
    if (CameraDirectory* directory = RunDirectory()) {
        error = ControlledElsewhere(*directory, serial);
        if (!error.empty()) return false;
    }
    const int result = m_camera->open(1);
    if (result != 0) {
        error = "the camera refused to open (error " + std::to_string(result) + ")";
        return false;
    }
    m_open = true;
    return true;
}

GenApi::INodeMap* LibraryCamera::DeviceMap() const {
    KZRGENICAM::IModule* module = m_camera ? m_camera->getDeviceModule() : nullptr;
    return module ? module->getNodeMap() : nullptr;
}

GenApi::INodeMap* LibraryCamera::GrabberMap() const {
    KZRGENICAM::IModule* module = m_camera ? m_camera->getGrabberModule() : nullptr;
    return module ? module->getNodeMap() : nullptr;
}

int LibraryCamera::Transport() const {
    KZRGENICAM::ICameraInfo* info = m_camera ? m_camera->getInfo() : nullptr;
    return info ? info->getInterfaceType() : -1;
}

namespace {

const char* TypeName(GenApi::EInterfaceType type) {
    switch (type) {
        case GenApi::intfIInteger:
            return "int";
        case GenApi::intfIBoolean:
            return "bool";
        case GenApi::intfICommand:
            return "command";
        case GenApi::intfIFloat:
            return "float";
        case GenApi::intfIString:
            return "string";
        case GenApi::intfIRegister:
            return "register";
        case GenApi::intfICategory:
            return "category";
        case GenApi::intfIEnumeration:
            return "enum";
        default:
            return "other";
    }
}

const char* AccessName(GenApi::EAccessMode mode) {
    switch (mode) {
        case GenApi::NI:
            return "NI";
        case GenApi::NA:
            return "NA";
        case GenApi::WO:
            return "WO";
        case GenApi::RO:
            return "RO";
        case GenApi::RW:
            return "RW";
        default:
            return "undefined";
    }
}

const char* VisibilityName(GenApi::EVisibility visibility) {
    switch (visibility) {
        case GenApi::Beginner:
            return "Beginner";
        case GenApi::Expert:
            return "Expert";
        case GenApi::Guru:
            return "Guru";
        case GenApi::Invisible:
            return "Invisible";
        default:
            return "undefined";
    }
}

// Runs read and records a failure as "error" instead of throwing.
void Guarded(json& out, const std::function<void()>& read) {
    try {
        read();
    } catch (const GenICam::GenericException& ex) {
        out["error"] = ex.GetDescription();
    } catch (const std::exception& ex) {
        out["error"] = ex.what();
    }
}

// A range limit that a node cannot give (a description without <Min>, say) is
// left out rather than hiding the node's other facts.
template <class F>
void Optional(json& out, const char* key, F&& read) {
    try {
        out[key] = read();
    } catch (const GenICam::GenericException&) {
    }
}

void ReadValue(GenApi::INode& node, json& out) {
    using namespace GenApi;
    const bool readable = IsReadable(node.GetAccessMode());
    switch (node.GetPrincipalInterfaceType()) {
        case intfIInteger: {
            CIntegerPtr p(&node);
            if (!p) break;
            out["unit"] = p->GetUnit().str();
            Optional(out, "min", [&] { return p->GetMin(); });
            Optional(out, "max", [&] { return p->GetMax(); });
            Optional(out, "inc", [&] { return p->GetInc(); });
            if (readable) out["value"] = p->GetValue();
            break;
        }
        case intfIFloat: {
            CFloatPtr p(&node);
            if (!p) break;
            out["unit"] = p->GetUnit().str();
            Optional(out, "min", [&] { return p->GetMin(); });
            Optional(out, "max", [&] { return p->GetMax(); });
            if (p->HasInc() && p->GetIncMode() == fixedIncrement) out["inc"] = p->GetInc();
            if (readable) out["value"] = p->GetValue();
            break;
        }
        case intfIBoolean: {
            CBooleanPtr p(&node);
            if (p && readable) out["value"] = p->GetValue();
            break;
        }
        case intfIString: {
            CStringPtr p(&node);
            if (p && readable) out["value"] = p->GetValue().str();
            break;
        }
        case intfIEnumeration: {
            CEnumerationPtr p(&node);
            if (!p) break;
            if (readable) out["value"] = p->ToString().str();
            NodeList_t entries;
            p->GetEntries(entries);
            json list = json::array();
            for (INode* entry : entries) {
                CEnumEntryPtr e(entry);
                if (!e) continue;
                list.push_back({{"name", e->GetSymbolic().str()},
                                {"value", e->GetValue()},
                                {"available", IsAvailable(entry->GetAccessMode())}});
            }
            out["entries"] = list;
            break;
        }
        case intfIRegister: {
            CRegisterPtr p(&node);
            if (!p) break;
            out["length"] = p->GetLength();
            if (readable) out["value"] = p->ToString().str();
            break;
        }
        default:
            break;
    }
}

json Describe(GenApi::INode& node, std::set<std::string>& seen) {
    json out = {{"name", node.GetName().str()}};
    Guarded(out, [&] {
        out["type"] = TypeName(node.GetPrincipalInterfaceType());
        out["displayName"] = node.GetDisplayName().str();
        out["access"] = AccessName(node.GetAccessMode());
        out["visibility"] = VisibilityName(node.GetVisibility());
        out["description"] = node.GetDescription().str();
        out["toolTip"] = node.GetToolTip().str();
        ReadValue(node, out);
    });
    GenApi::CCategoryPtr category(&node);
    if (!category) return out;
    json children = json::array();
    Guarded(out, [&] {
        GenApi::FeatureList_t features;
        category->GetFeatures(features);
        for (GenApi::IValue* feature : features) {
            GenApi::INode* child = feature ? feature->GetNode() : nullptr;
            // A category listed twice (or in a cycle) is shown once.
            if (!child || !seen.insert(child->GetName().str()).second) continue;
            children.push_back(Describe(*child, seen));
        }
    });
    out["features"] = children;
    return out;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string Number(const json& value) {
    if (!value.is_number_float()) return value.dump();
    char text[64];
    const double number = value.get<double>();
    const auto result = std::to_chars(text, text + sizeof(text), number);
    return std::string(text, result.ptr);
}

}  // namespace

json FeatureTree(GenApi::INodeMap& map) {
    GenApi::INode* root = map.GetNode("Root");
    if (!root) return json::object();
    std::set<std::string> seen = {"Root"};
    return Describe(*root, seen);
}

std::vector<std::string> FeatureNames(GenApi::INodeMap& map) {
    std::vector<std::string> names;
    std::function<void(const json&)> collect = [&](const json& node) {
        if (node.contains("name")) names.push_back(node["name"]);
        if (node.contains("features"))
            for (const json& child : node["features"]) collect(child);
    };
    collect(FeatureTree(map));
    return names;
}

std::vector<std::string> CloseNames(const std::string& name,
                                    const std::vector<std::string>& candidates, std::size_t max) {
    const std::string wanted = Lower(name);
    std::vector<std::pair<std::size_t, std::string>> scored;
    for (const std::string& candidate : candidates) {
        const std::string lower = Lower(candidate);
        std::size_t score;
        if (lower == wanted) {
            score = 0;
        } else if (wanted.size() >= 3 && lower.find(wanted) != std::string::npos) {
            score = 1;
        } else if (wanted.size() >= 4 && lower.compare(0, 4, wanted, 0, 4) == 0) {
            score = 2;  // same start, different end: "Gainn" for "GainRaw"
        } else {
            const std::size_t distance = EditDistance(wanted, lower);
            if (distance > std::max<std::size_t>(2, wanted.size() / 4)) continue;
            score = 2 + distance;
        }
        scored.emplace_back(score, candidate);
    }
    std::stable_sort(scored.begin(), scored.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> names;
    for (const auto& [score, candidate] : scored) {
        if (names.size() == max) break;
        names.push_back(candidate);
    }
    return names;
}

void PrintFeatureTree(const json& node, std::ostream& out, int depth) {
    const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
    const std::string type = node.value("type", "");
    if (type == "category") {
        out << indent << node.value("name", "") << "\n";
        for (const json& child : node["features"]) PrintFeatureTree(child, out, depth + 1);
        return;
    }
    out << indent << node.value("name", "") << " (" << type << ", " << node.value("access", "?")
        << ")";
    if (node.contains("value")) {
        const json& value = node["value"];
        out << " = ";
        if (value.is_string()) {
            out << (type == "enum" ? value.get<std::string>() : Quote(value.get<std::string>()));
        } else if (value.is_boolean()) {
            out << (value.get<bool>() ? "true" : "false");
        } else {
            out << Number(value);
        }
    }
    const std::string unit = node.value("unit", "");
    if (!unit.empty() && node.contains("value")) out << " " << unit;
    if (node.contains("min") && node.contains("max")) {
        out << "  [min " << Number(node["min"]) << ", max " << Number(node["max"]);
        if (node.contains("inc")) out << ", inc " << Number(node["inc"]);
        out << "]";
    }
    if (node.contains("entries")) {
        out << "  {";
        bool first = true;
        for (const json& entry : node["entries"]) {
            out << (first ? "" : ", ") << entry.value("name", "");
            if (!entry.value("available", true)) out << " (n/a)";
            first = false;
        }
        out << "}";
    }
    if (node.contains("length")) out << "  [" << node["length"].get<long long>() << " bytes]";
    const std::string visibility = node.value("visibility", "Beginner");
    if (visibility != "Beginner") out << "  <" << visibility << ">";
    out << "\n";
    if (node.contains("error"))
        out << indent << "    error: " << node["error"].get<std::string>() << "\n";
    const std::string description = node.value("description", "");
    if (!description.empty()) out << indent << "    " << description << "\n";
}

}  // namespace qrvacq
