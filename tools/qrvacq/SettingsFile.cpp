// save and load: every read-write feature of a camera as FEATURE=VALUE lines,
// through the camera library's node map (strings and 64-bit integers included,
// which the plug-in's entry points cannot carry).
#include <fstream>
#include <iostream>
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

}  // namespace

int RunSave(const CameraTarget& target, const std::string& path) {
    LibraryCamera camera;
    std::string error;
    if (!camera.Open(target.serial, error)) {
        std::cerr << "qrvacq: open " << target.serial << ": " << error << "\n";
        return kExitCallFailed;
    }
    GenApi::INodeMap* map = camera.DeviceMap();
    GenApi::INode* root = map ? map->GetNode("Root") : nullptr;
    if (!root) {
        std::cerr << "qrvacq: " << target.serial << ": the node map has no Root category\n";
        return kExitCallFailed;
    }
    std::vector<GenApi::INode*> nodes;
    std::set<GenApi::INode*> seen;
    Collect(root, nodes, seen, 0);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) {
        std::cerr << "qrvacq: cannot create " << path << "\n";
        return kExitUsage;
    }
    file << "# qrvacq settings of " << target.serial << ": FEATURE=VALUE, read-write features\n";
    int saved = 0, unreadable = 0;
    for (GenApi::INode* node : nodes) {
        try {
            if (!Saveable(node->GetPrincipalInterfaceType()) || node->GetAccessMode() != GenApi::RW)
                continue;
            auto* value = dynamic_cast<GenApi::IValue*>(node);
            if (!value) continue;
            const std::string text = value->ToString().c_str();
            file << node->GetName().c_str() << "=" << text << "\n";
            ++saved;
        } catch (const std::exception& ex) {
            std::cerr << "qrvacq: " << node->GetName().c_str()
                      << ": not saved: " << CameraMessage(ex) << "\n";
            ++unreadable;
        }
    }
    file.close();
    if (!file) {
        std::cerr << "qrvacq: cannot write " << path << "\n";
        return kExitCallFailed;
    }
    std::cout << Counted(saved, "setting") << " saved to " << path << "\n";
    return unreadable ? kExitCallFailed : kExitOk;
}

int RunLoad(const CameraTarget& target, const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::cerr << "qrvacq: cannot read " << path << "\n";
        return kExitUsage;
    }
    struct Entry {
        int line = 0;
        std::string name, value, reason;
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
        entries.push_back({number, text.substr(0, equals), text.substr(equals + 1), {}});
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
    // A value may depend on one written later in the file (an offset on a
    // width); what failed is tried again while another pass still sets more.
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
                    value->FromString(entry->value.c_str());
                    entry->reason.clear();
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
        if (!progress) break;
    }
    for (const Entry* entry : pending) {
        std::cerr << "qrvacq: " << path << ":" << entry->line << ": " << entry->name << "="
                  << entry->value << ": not set: " << entry->reason << "\n";
    }
    std::cout << "loaded " << loaded << " of "
              << Counted(static_cast<long long>(entries.size()), "setting") << " from " << path
              << "\n";
    return pending.empty() ? kExitOk : kExitCallFailed;
}

}  // namespace qrvacq
