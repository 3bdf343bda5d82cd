// GenApi node map over the GenICam tree Aravis built for one open device.
//
// Aravis's node layer has no locks, so every call on a map and its nodes holds the
// map's one mutex; the camera takes the same mutex for its own Aravis calls that
// go through the tree (payload size, acquisition start and stop).
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "AravisSystem.h"
#include "GenApi.h"

namespace KZRGENICAM::detail {

class CArvNode;

class CArvNodeMap final : public GenApi::INodeMap {
public:
    /// gc belongs to the device; the camera calls Detach before it lets the device go.
    /// lost is the camera's flag for a device that stopped answering.
    CArvNodeMap(ArvGc* gc, std::string deviceName, std::shared_ptr<std::atomic<bool>> lost);
    ~CArvNodeMap() override;
    CArvNodeMap(const CArvNodeMap&) = delete;
    CArvNodeMap& operator=(const CArvNodeMap&) = delete;

    GenApi::INode* GetNode(const GenApi::gcstring& name) const override;
    void GetNodes(GenApi::NodeList_t& nodes) const override;
    GenApi::gcstring GetDeviceName() override;

    std::unique_lock<std::recursive_mutex> Lock() const {
        return std::unique_lock<std::recursive_mutex>(m_mutex);
    }
    /// Cuts the map off its device: nodes stay valid objects but refuse every call.
    void Detach();

    // For the nodes, with the lock held.
    /// The tree; AccessException once detached, RuntimeException once the device is lost.
    ArvGc* Tree() const;
    bool Attached() const { return m_gc != nullptr; }
    bool Lost() const { return m_lost->load(); }
    /// A device that timed out after Aravis's own retries is taken as gone, so that
    /// later calls fail at once instead of each waiting out the network again.
    void NoteError(const GError* error) const;
    bool IsFeatureName(const std::string& name) const;
    CArvNode* NodeFor(const std::string& name) const;
    CArvNode* EntryFor(const std::string& enumeration, ArvGcNode* entry) const;

private:
    CArvNode* Adapt(const std::string& key, ArvGcNode* node) const;
    void Collect(ArvDomNode* parent, GenApi::NodeList_t& nodes) const;

    mutable std::recursive_mutex m_mutex;
    ArvGc* m_gc;
    std::string m_deviceName;
    std::shared_ptr<std::atomic<bool>> m_lost;
    mutable std::map<std::string, std::unique_ptr<CArvNode>> m_nodes;
    mutable std::unique_ptr<std::set<std::string>> m_features;  // built at first use
};

}  // namespace KZRGENICAM::detail
