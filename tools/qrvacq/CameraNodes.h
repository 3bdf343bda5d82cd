// The camera access library used directly, for what the plug-in's entry points
// cannot do: walk a camera's node map. The camera is opened here, not through the
// plug-in, so the two must not hold the same camera at once (a GigE Vision camera
// takes one controlling open).
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "GenApi.h"

namespace KZRGENICAM {
class ICamera;
}

namespace qrvacq {

/// Init on construction, UnInit on destruction; the camera, once opened, is
/// closed and released exactly once.
class LibraryCamera {
public:
    LibraryCamera();
    ~LibraryCamera();
    LibraryCamera(const LibraryCamera&) = delete;
    LibraryCamera& operator=(const LibraryCamera&) = delete;

    /// False with a message when there is no such camera or it does not open.
    bool Open(const std::string& serial, std::string& error);
    /// Null when the camera has no such module or map.
    GenApi::INodeMap* DeviceMap() const;
    GenApi::INodeMap* GrabberMap() const;
    /// The transport code of the opened camera's record (KZRGENICAM::Transport*), -1 without one.
    int Transport() const;
    /// The opened camera, for what the node maps do not carry (events); null before Open.
    KZRGENICAM::ICamera* Camera() const { return m_open ? m_camera : nullptr; }

private:
    KZRGENICAM::ICamera* m_camera = nullptr;
    bool m_open = false;
};

/// The features under the map's "Root" category as a tree of JSON objects: name,
/// displayName, type, access, visibility, description, toolTip, and per type
/// value, min, max, inc, unit, entries (name, value, available); categories hold
/// "features". A value that cannot be read gives "error" instead. Empty when the
/// map has no Root.
nlohmann::ordered_json FeatureTree(GenApi::INodeMap& map);

/// Names of every feature under Root (categories included).
std::vector<std::string> FeatureNames(GenApi::INodeMap& map);

/// Names that the user may have meant: equal but for case, containing it, or a
/// few typing errors away. Best first, at most max.
std::vector<std::string> CloseNames(const std::string& name,
                                    const std::vector<std::string>& candidates,
                                    std::size_t max = 3);

/// Prints a FeatureTree as indented text.
void PrintFeatureTree(const nlohmann::ordered_json& tree, std::ostream& out, int depth = 0);

}  // namespace qrvacq
