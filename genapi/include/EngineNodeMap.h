// The GenICam engine: a node map built from a camera's description (GenICam XML,
// plain or zipped) and connected to ports, as GenApi itself is shaped. Every real
// transport hands the engine a port (read and write bytes at an address); caching,
// invalidation, access rules and formulas live here, never in a transport.
//
// Threads: one recursive lock per map; every node operation runs under it. A port
// is called with the lock held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "ChunkNodeMap.h"
#include "GenApi.h"

namespace GenApi {

/// Caps that keep a hostile description from exhausting the host. Exceeding one
/// fails the load with a RuntimeException that names the cap.
struct SDescriptionLimits {
    std::size_t maxXmlBytes = std::size_t{64} << 20;        ///< XML text, after unzipping
    std::size_t maxZipBytes = std::size_t{64} << 20;        ///< a zipped description as stored
    unsigned maxDepth = 64;                                 ///< element nesting
    std::size_t maxNodes = 500000;                          ///< nodes of one description
    std::size_t maxAttributeBytes = std::size_t{64} << 10;  ///< one attribute value
    std::size_t maxTextBytes = std::size_t{1} << 20;        ///< one element's text
};

/// The XML text of a description as a camera stores it: plain XML (returned as it is)
/// or a zip archive holding one XML file, inflated with every offset and size checked
/// against the data. RuntimeException on a damaged or oversized archive.
GENAPI_API std::string UnpackDescription(const void* data, std::size_t size,
                                         const SDescriptionLimits& limits = {});

/// A description file: a regular file only (no device, FIFO or directory), read up
/// to the cap plus one byte, then unpacked as above. RuntimeException naming the
/// path and the reason on failure.
GENAPI_API std::string ReadDescriptionFile(const std::string& path,
                                           const SDescriptionLimits& limits = {});

/// A node map of the engine. Nodes live as long as the map.
class GENAPI_API CEngineNodeMap final : public INodeMap, public IChunkNodeMap {
public:
    /// Builds the map of an XML description (see UnpackDescription for raw bytes).
    /// port serves every Port node that is not connected by name (ConnectPort); it
    /// may be null for a map that is only browsed. deviceName is what GetDeviceName
    /// answers. RuntimeException on malformed XML (naming line and column), on an
    /// exceeded cap, and on a reference to a node that does not exist or a reference
    /// cycle (naming the nodes).
    static std::unique_ptr<CEngineNodeMap> Load(const std::string& xml, std::shared_ptr<IPort> port,
                                                const std::string& deviceName,
                                                const SDescriptionLimits& limits = {});
    ~CEngineNodeMap() override;
    CEngineNodeMap(const CEngineNodeMap&) = delete;
    CEngineNodeMap& operator=(const CEngineNodeMap&) = delete;

    /// Hash lookup; null for an unknown name.
    INode* GetNode(const gcstring& name) const override;
    /// Every node, in the description's order.
    void GetNodes(NodeList_t& nodes) const override;
    gcstring GetDeviceName() override;

    // IChunkNodeMap: each Port node with a ChunkID takes the block of that id (its
    // id read as hexadecimal); a chunk feature is a feature node whose register,
    // or whose pValue's register, lies on such a port. A port whose chunk the
    // frame lacks is left unconnected: its features are not available.
    void AttachChunks(const SChunkView* blocks, std::size_t count) override;
    std::vector<SChunkFeature> ChunkFeatures() const override;
    bool HasChunkFeatures() const override;

    /// Event data: each Port node with an EventID (read as hexadecimal) equal to id
    /// takes a copy of the event's data bytes; the other event ports are left
    /// unconnected, so features of other events are not available. Returns the
    /// features over the matching ports, in the map's order, with the name of the
    /// first matching port in portName; empty when no port has that id.
    std::vector<std::string> AttachEvent(uint64_t id, const uint8_t* data, std::size_t size,
                                         std::string& portName);

    /// Connects the Port node of that name to a port of its own (a chunk port, a
    /// second register space); false when the map has no such Port node.
    bool ConnectPort(const std::string& portName, std::shared_ptr<IPort> port);
    /// Forgets every cached value (the device changed behind the map's back).
    void InvalidateNodes();
    /// Cuts the map off its ports: nodes stay valid objects, every value call then
    /// raises AccessException. For a camera that is closed while a host still holds
    /// node pointers.
    void Detach();
    /// The map's lock, for a caller that must keep several calls together.
    std::unique_lock<std::recursive_mutex> Lock() const;

    /// Description facts from the RegisterDescription element.
    std::string GetModelName() const;
    std::string GetVendorName() const;
    /// "major.minor.subminor" of the schema the description names.
    std::string GetSchemaVersion() const;

    struct Impl;

private:
    explicit CEngineNodeMap(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

}  // namespace GenApi
