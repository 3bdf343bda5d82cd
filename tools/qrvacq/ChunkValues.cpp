#include "ChunkValues.h"

#include <cstdio>

#include "CameraNodes.h"
#include "ChunkNodeMap.h"
#include "Text.h"

namespace qrvacq {

bool ChunkValues::Learn(const std::string& serial, std::string& why) {
    m_features.clear();
    LibraryCamera camera;
    if (!camera.Open(serial, why)) return false;
    GenApi::INodeMap* map = camera.DeviceMap();
    auto* chunkMap = dynamic_cast<GenApi::IChunkNodeMap*>(map);
    if (!chunkMap) {
        why = "its node map takes no chunk data";
        return false;
    }
    for (const GenApi::SChunkFeature& chunk : chunkMap->ChunkFeatures()) {
        Feature feature;
        feature.name = chunk.name;
        feature.id = chunk.id;
        GenApi::INode* node = map->GetNode(chunk.name.c_str());
        if (!node) continue;
        feature.isFloat = node->GetPrincipalInterfaceType() == GenApi::intfIFloat;
        // Its range cannot tell: a chunk feature is not available until a frame came.
        feature.wide = !feature.isFloat && (chunk.length == 0 || chunk.length > 4);
        m_features.push_back(feature);
    }
    if (m_features.empty()) why = "it has no chunk features";
    return !m_features.empty();
}

std::string ChunkValues::WideFeatures() const {
    std::string names;
    for (const Feature& feature : m_features) {
        if (!feature.wide) continue;
        if (!names.empty()) names += ", ";
        names += feature.name;
    }
    return names;
}

void ChunkValues::Read(const PluginApi& api, QRVCameraHandle handle) {
    for (Feature& feature : m_features) {
        const QRVString name(feature.name.c_str());
        if (feature.isFloat) {
            float min = 0, max = 0, inc = 0;
            feature.read =
                api.GetParamFloat(handle, name, &feature.real, &min, &max, &inc) == QRV_OK;
        } else {
            int min = 0, max = 0, inc = 0;
            feature.read =
                api.GetParamInt(handle, name, &feature.integer, &min, &max, &inc) == QRV_OK;
        }
    }
}

namespace {

std::string ValueText(bool isFloat, bool wide, int integer, float real) {
    if (isFloat) return FormatFloat(real);
    // The low 32 bits of a wider value read as unsigned.
    return wide ? std::to_string(static_cast<uint32_t>(integer)) : std::to_string(integer);
}

}  // namespace

std::string ChunkValues::Text() const {
    std::string text;
    bool first = true;
    uint64_t lastId = 0;
    for (const Feature& feature : m_features) {
        if (!feature.read) continue;
        if (first || feature.id != lastId) {
            char id[32];
            std::snprintf(id, sizeof(id), "chunk 0x%08llx",
                          static_cast<unsigned long long>(feature.id));
            text += (first ? "" : ", ") + std::string(id);
        }
        text += " " + feature.name + "=" +
                ValueText(feature.isFloat, feature.wide, feature.integer, feature.real);
        first = false;
        lastId = feature.id;
    }
    return text;
}

nlohmann::ordered_json ChunkValues::Json() const {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const Feature& feature : m_features) {
        if (!feature.read) continue;
        nlohmann::ordered_json entry = {{"id", feature.id}, {"feature", feature.name}};
        if (feature.isFloat)
            entry["value"] = feature.real;
        else if (feature.wide)
            entry["value"] = static_cast<uint32_t>(feature.integer);
        else
            entry["value"] = feature.integer;
        list.push_back(entry);
    }
    return list;
}

bool ChunkValues::FrameId(uint32_t& id) const {
    for (const Feature& feature : m_features) {
        if (feature.name != "ChunkFrameID" || !feature.read || feature.isFloat) continue;
        id = static_cast<uint32_t>(feature.integer);
        return true;
    }
    return false;
}

}  // namespace qrvacq
