// Chunk features decoded per frame in grab --chunks. The plug-in hands the tool
// a frame's chunk blocks joined, without their ids; the camera library attaches
// each fetched frame's blocks to the camera's node map, so the chunk features
// (ChunkFrameID, ChunkTimestamp, ...) read the last frame's values. Which
// features exist and which chunk id each reads, the tool learns once through the
// camera library before the grab opens the camera; the values it reads after
// every grab through the plug-in's GetParamInt and GetParamFloat.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "PluginApi.h"

namespace qrvacq {

class ChunkValues {
public:
    /// Learns the camera's chunk features. Call it while the plug-in does not
    /// hold the camera. False, with the reason, when there are none to read.
    bool Learn(const std::string& serial, std::string& why);
    /// Features whose integers the plug-in's 32-bit entry point cuts to their low
    /// 32 bits (their range is wider), comma-separated; empty when none.
    std::string WideFeatures() const;

    /// Reads every chunk feature after a grab; a feature whose chunk the frame
    /// lacked (not available) counts as not read.
    void Read(const PluginApi& api, QRVCameraHandle handle);
    /// "chunk 0x00000002 ChunkFrameID=17, chunk 0x00000003 ChunkExposureTime=5000";
    /// features of one chunk share its entry.
    std::string Text() const;
    /// [{"id": 2, "feature": "ChunkFrameID", "value": 17}, ...]
    nlohmann::ordered_json Json() const;
    /// The last frame's ChunkFrameID (low 32 bits), when it was read.
    bool FrameId(uint32_t& id) const;

private:
    struct Feature {
        std::string name;
        uint64_t id = 0;
        bool isFloat = false;
        bool wide = false;
        bool read = false;
        int integer = 0;
        float real = 0;
    };
    std::vector<Feature> m_features;
};

/// Frames lost between grabbed frames, from gaps in their frame ids (32-bit,
/// wrapping). A frame id that does not move forward (the camera restarted its
/// count) starts counting afresh.
class FrameIdGaps {
public:
    void Next(uint32_t id) {
        const uint32_t step = id - m_last;
        if (m_known && step > 1 && step < (uint32_t{1} << 31) && step - 1 > m_withoutId)
            m_lost += step - 1 - m_withoutId;
        m_last = id;
        m_known = true;
        m_withoutId = 0;
    }
    /// A frame grabbed without a frame id fills one place of the next gap.
    void WithoutId() { ++m_withoutId; }
    bool Known() const { return m_known; }
    long long Lost() const { return m_lost; }

private:
    bool m_known = false;
    uint32_t m_last = 0;
    uint32_t m_withoutId = 0;
    long long m_lost = 0;
};

}  // namespace qrvacq
