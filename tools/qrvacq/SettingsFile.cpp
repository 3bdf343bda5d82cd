// save and load: every read-write feature of a camera as FEATURE=VALUE lines,
// through the camera library's node map (strings and 64-bit integers included,
// which the plug-in's entry points cannot carry).
#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "CameraNodes.h"
#include "Commands.h"
#include "Text.h"

namespace qrvacq {

namespace {

bool Saveable(GenApi::EInterfaceType type) {
    return type == GenApi::intfIInteger || type == GenApi::intfIFloat ||
           type == GenApi::intfIBoolean || type == GenApi::intfIString ||
           type == GenApi::intfIEnumeration;
}

// The features under Root, depth first in the description's order: the order
// in which a camera's own description lists them, which puts a selector and the
// size of an image before what depends on it.
void Collect(GenApi::INode* node, std::vector<GenApi::INode*>& out, std::set<GenApi::INode*>& seen,
             int depth) {
    if (!node || depth > 64 || !seen.insert(node).second) return;
    if (auto* category = dynamic_cast<GenApi::ICategory*>(node)) {
        GenApi::FeatureList_t features;
        category->GetFeatures(features);
        for (GenApi::IValue* feature : features)
            if (feature) Collect(feature->GetNode(), out, seen, depth + 1);
        return;
    }
    out.push_back(node);
}

std::string CameraMessage(const std::exception& ex) {
    std::string message = ex.what();
    const std::size_t origin = message.rfind(" : ");
    if (origin != std::string::npos &&
        message.find("Exception thrown", origin) != std::string::npos)
        message.erase(origin);
    return message;
}

const char* AccessText(GenApi::EAccessMode mode) {
    switch (mode) {
        case GenApi::NI:
            return "NI (not implemented)";
        case GenApi::NA:
            return "NA (not available now)";
        case GenApi::RO:
            return "RO (read-only now)";
        default:
            return "not writable";
    }
}

// The save order: every saveable read-write feature in tree order, except that
// a feature a selector selects is written inside that selector's block: for
// each entry of the selector, the line that selects it, then the selected
// features' values under it; last, the selector's own value again. load replays
// the lines in order, so each value lands under its entry.
class Saver {
public:
    Saver(std::ostream& out, std::ostream& err) : m_out(out), m_err(err) {}

    void Run(GenApi::INodeMap& map) {
        GenApi::INode* root = map.GetNode("Root");
        std::vector<GenApi::INode*> nodes;
        std::set<GenApi::INode*> seen;
        Collect(root, nodes, seen, 0);
        m_tree.insert(nodes.begin(), nodes.end());
        for (GenApi::INode* node : nodes)
            if (IsSavedSelector(node))
                for (GenApi::INode* selected : Selected(node)) m_underSelector.insert(selected);
        for (GenApi::INode* node : nodes) {
            if (m_underSelector.count(node)) continue;
            if (IsSavedSelector(node)) {
                SaveSelector(node, 0);
            } else {
                SaveOne(node);
            }
        }
    }

    int saved = 0;
    int unreadable = 0;

private:
    static bool Writable(GenApi::INode* node) {
        return Saveable(node->GetPrincipalInterfaceType()) && node->GetAccessMode() == GenApi::RW;
    }

    bool IsSavedSelector(GenApi::INode* node) const {
        try {
            return node->IsSelector() && Writable(node) && !Selected(node).empty();
        } catch (const std::exception&) {
            return false;
        }
    }

    /// The selected features that are in the feature tree.
    std::vector<GenApi::INode*> Selected(GenApi::INode* selector) const {
        GenApi::FeatureList_t features;
        selector->GetSelectedFeatures(features);
        std::vector<GenApi::INode*> out;
        for (GenApi::IValue* feature : features)
            if (feature && m_tree.count(feature->GetNode())) out.push_back(feature->GetNode());
        return out;
    }

    /// A selector's values: an enumeration's available entries, a boolean's two,
    /// an integer's grid while it is short.
    static std::vector<std::string> Choices(GenApi::INode* selector) {
        std::vector<std::string> out;
        if (auto* enumeration = dynamic_cast<GenApi::IEnumeration*>(selector)) {
            GenApi::gcstring_vector symbolics;
            enumeration->GetSymbolics(symbolics);
            for (const GenApi::gcstring& symbolic : symbolics) out.push_back(symbolic.c_str());
        } else if (dynamic_cast<GenApi::IBoolean*>(selector)) {
            out = {"false", "true"};
        } else if (auto* integer = dynamic_cast<GenApi::IInteger*>(selector)) {
            const int64_t min = integer->GetMin(), max = integer->GetMax();
            const int64_t inc = std::max<int64_t>(1, integer->GetInc());
            if (max >= min && (max - min) / inc < kMaxChoices)
                for (int64_t value = min; value <= max; value += inc)
                    out.push_back(std::to_string(value));
        }
        return out;
    }

    void SaveOne(GenApi::INode* node) {
        try {
            if (!Writable(node)) return;
            auto* value = dynamic_cast<GenApi::IValue*>(node);
            if (!value) return;
            const std::string text = value->ToString().c_str();
            m_out << node->GetName().c_str() << "=" << text << "\n";
            ++saved;
        } catch (const std::exception& ex) {
            m_err << "qrvacq: " << node->GetName().c_str() << ": not saved: " << CameraMessage(ex)
                  << "\n";
            ++unreadable;
        }
    }

    void SaveSelector(GenApi::INode* selector, int depth) {
        auto* value = dynamic_cast<GenApi::IValue*>(selector);
        const std::string name = selector->GetName().c_str();
        std::string original;
        std::vector<std::string> choices;
        try {
            original = value->ToString().c_str();
            choices = Choices(selector);
        } catch (const std::exception& ex) {
            m_err << "qrvacq: " << name << ": not saved: " << CameraMessage(ex) << "\n";
            ++unreadable;
            return;
        }
        // An integer selector with too many values: its current one only.
        if (choices.empty()) choices.push_back(original);
        for (const std::string& choice : choices) {
            try {
                value->FromString(choice.c_str());
            } catch (const std::exception& ex) {
                m_err << "qrvacq: " << name << "=" << choice
                      << ": its selected features not saved: " << CameraMessage(ex) << "\n";
                ++unreadable;
                continue;
            }
            m_out << name << "=" << choice << "\n";
            ++saved;
            for (GenApi::INode* selected : Selected(selector)) {
                if (depth < 4 && IsSavedSelector(selected)) {
                    SaveSelector(selected, depth + 1);
                } else {
                    SaveOne(selected);
                }
            }
        }
        try {
            value->FromString(original.c_str());
        } catch (const std::exception& ex) {
            m_err << "qrvacq: " << name << ": cannot select " << original
                  << " again: " << CameraMessage(ex) << "\n";
            ++unreadable;
            return;
        }
        m_out << name << "=" << original << "\n";
        ++saved;
    }

    static constexpr int64_t kMaxChoices = 64;
    std::ostream& m_out;
    std::ostream& m_err;
    std::set<GenApi::INode*> m_tree;
    std::set<GenApi::INode*> m_underSelector;
};

/// Writes the camera's settings to path; false with a message on stderr.
bool SaveTo(GenApi::INodeMap& map, const std::string& serial, const std::string& path,
            int& saved, int& unreadable) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) {
        std::cerr << "qrvacq: cannot create " << path << "\n";
        return false;
    }
    file << "# qrvacq settings of " << serial << ": FEATURE=VALUE, read-write features\n";
    Saver saver(file, std::cerr);
    saver.Run(map);
    file.close();
    if (!file) {
        std::cerr << "qrvacq: cannot write " << path << "\n";
        return false;
    }
    saved = saver.saved;
    unreadable = saver.unreadable;
    return true;
}

/// Two texts of one value: equal as text, or as numbers.
bool SameValue(const std::string& a, const std::string& b) {
    if (a == b) return true;
    double x = 0, y = 0;
    const auto [endA, errorA] = std::from_chars(a.data(), a.data() + a.size(), x);
    const auto [endB, errorB] = std::from_chars(b.data(), b.data() + b.size(), y);
    if (errorA != std::errc() || errorB != std::errc() || endA != a.data() + a.size() ||
        endB != b.data() + b.size())
        return false;
    return std::fabs(x - y) <= 1e-6 * std::max(1.0, std::fabs(x));
}

}  // namespace

int RunSave(const CameraTarget& target, const std::string& path) {
    LibraryCamera camera;
    std::string error;
    if (!camera.Open(target.serial, error)) {
        std::cerr << "qrvacq: open " << target.serial << ": " << error << "\n";
        return kExitCallFailed;
    }
    GenApi::INodeMap* map = camera.DeviceMap();
    if (!map || !map->GetNode("Root")) {
        std::cerr << "qrvacq: " << target.serial << ": the node map has no Root category\n";
        return kExitCallFailed;
    }
    int saved = 0, unreadable = 0;
    if (!SaveTo(*map, target.serial, path, saved, unreadable)) return kExitUsage;
    std::cout << Counted(saved, "setting") << " saved to " << path << "\n";
    return unreadable ? kExitCallFailed : kExitOk;
}

int RunLoad(const CameraTarget& target, const std::string& path, const std::string& saveAfter) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::cerr << "qrvacq: cannot read " << path << "\n";
        return kExitUsage;
    }
    using Assignment = std::pair<std::string, std::string>;
    struct Entry {
        int line = 0;
        std::string name, value, reason;
        /// The selector lines in force before this one, outermost first.
        std::vector<Assignment> context;
        bool set = false;
    };
    std::vector<Entry> entries;
    std::string text;
    for (int number = 1; std::getline(file, text); ++number) {
        if (!text.empty() && text.back() == '\r') text.pop_back();
        if (text.empty() || text[0] == '#') continue;
        const std::size_t equals = text.find('=');
        if (equals == std::string::npos || equals == 0) {
            std::cerr << "qrvacq: " << path << ":" << number << ": expected FEATURE=VALUE, got "
                      << Quote(text) << "\n";
            return kExitUsage;
        }
        entries.push_back({number, text.substr(0, equals), text.substr(equals + 1), {}, {}, false});
    }
    LibraryCamera camera;
    std::string error;
    if (!camera.Open(target.serial, error)) {
        std::cerr << "qrvacq: open " << target.serial << ": " << error << "\n";
        return kExitCallFailed;
    }
    GenApi::INodeMap* map = camera.DeviceMap();
    if (!map) {
        std::cerr << "qrvacq: " << target.serial << ": no node map\n";
        return kExitCallFailed;
    }
    // Which selector entry each line belongs to: the selector lines above it.
    std::vector<Assignment> selection;
    for (Entry& entry : entries) {
        entry.context = selection;
        GenApi::INode* node = map->GetNode(entry.name.c_str());
        if (!node || !node->IsSelector()) continue;
        auto same = std::find_if(selection.begin(), selection.end(),
                                 [&](const Assignment& a) { return a.first == entry.name; });
        if (same == selection.end()) {
            selection.emplace_back(entry.name, entry.value);
        } else {
            same->second = entry.value;
        }
    }
    auto select = [map](const std::vector<Assignment>& assignments) {
        for (const Assignment& assignment : assignments) {
            auto* value = dynamic_cast<GenApi::IValue*>(map->GetNode(assignment.first.c_str()));
            try {
                if (value) value->FromString(assignment.second.c_str());
            } catch (const std::exception&) {
                // The line of that selector reports its own failure.
            }
        }
    };
    // A value may depend on one written later in the file (an offset on a
    // width); what failed is tried again while another pass still sets more,
    // under the selector entries it was saved under.
    std::vector<Entry*> pending;
    for (Entry& entry : entries) pending.push_back(&entry);
    int loaded = 0;
    for (int pass = 0; pass < 4 && !pending.empty(); ++pass) {
        std::vector<Entry*> failed;
        for (Entry* entry : pending) {
            GenApi::INode* node = map->GetNode(entry->name.c_str());
            auto* value = dynamic_cast<GenApi::IValue*>(node);
            try {
                if (!node || !value) {
                    entry->reason = "no feature " + Quote(entry->name);
                } else if (!GenApi::IsWritable(node->GetAccessMode())) {
                    entry->reason = std::string("not writable: access mode ") +
                                    AccessText(node->GetAccessMode());
                } else {
                    if (pass > 0) select(entry->context);
                    value->FromString(entry->value.c_str());
                    entry->reason.clear();
                    entry->set = true;
                    ++loaded;
                    continue;
                }
            } catch (const std::exception& ex) {
                entry->reason = "the camera refused it: " + CameraMessage(ex);
            }
            failed.push_back(entry);
        }
        const bool progress = failed.size() < pending.size();
        pending = failed;
        if (pass > 0) select(selection);
        if (!progress) break;
    }
    for (const Entry* entry : pending) {
        std::cerr << "qrvacq: " << path << ":" << entry->line << ": " << entry->name << "="
                  << entry->value << ": not set: " << entry->reason << "\n";
    }
    // What the camera holds now, each under its selector entry: a later line may
    // have changed an earlier one (a width that moves an offset).
    // Only the last line of a feature under the same selector entries counts.
    auto keyOf = [](const Entry& entry) {
        std::string key = entry.name;
        for (const Assignment& a : entry.context) key += "\n" + a.first + "=" + a.second;
        return key;
    };
    std::map<std::string, const Entry*> lastOf;
    for (const Entry& entry : entries) lastOf[keyOf(entry)] = &entry;
    int changed = 0;
    for (const Entry& entry : entries) {
        if (!entry.set || lastOf[keyOf(entry)] != &entry) continue;
        GenApi::INode* node = map->GetNode(entry.name.c_str());
        if (!node || node->IsSelector()) continue;
        select(entry.context);
        auto* value = dynamic_cast<GenApi::IValue*>(node);
        try {
            const std::string held = value->ToString().c_str();
            if (SameValue(held, entry.value)) continue;
            std::cerr << "qrvacq: " << path << ":" << entry.line << ": " << entry.name << "="
                      << entry.value << ": set, but the camera now holds " << held << "\n";
        } catch (const std::exception& ex) {
            std::cerr << "qrvacq: " << path << ":" << entry.line << ": " << entry.name << "="
                      << entry.value << ": set, but cannot be read back: " << CameraMessage(ex)
                      << "\n";
        }
        ++changed;
    }
    select(selection);
    std::cout << "loaded " << loaded << " of "
              << Counted(static_cast<long long>(entries.size()), "setting") << " from " << path
              << "\n";
    int status = pending.empty() && changed == 0 ? kExitOk : kExitCallFailed;
    if (!saveAfter.empty()) {
        int saved = 0, unreadable = 0;
        if (!SaveTo(*map, target.serial, saveAfter, saved, unreadable)) return kExitUsage;
        std::cout << Counted(saved, "setting") << " saved to " << saveAfter << "\n";
        if (unreadable) status = kExitCallFailed;
    }
    return status;
}

}  // namespace qrvacq
