// CEngineNodeMap: the public face of the engine's node map.
#include "EngineNodeMap.h"

#include <cstring>

#include "EngineNodes.h"
#include "NodeBuilder.h"
#include "XmlReader.h"

namespace GenApi {

namespace {

/// A frame's chunk bytes behind a chunk Port node. Each attached frame copies its
/// block in, reusing the buffer.
class CChunkBytes final : public IPort {
public:
    EAccessMode GetAccessMode() const override { return RO; }
    void Read(void* buffer, int64_t address, int64_t length) override {
        if (address < 0 || length < 0 || static_cast<uint64_t>(address) > bytes.size() ||
            static_cast<uint64_t>(length) > bytes.size() - static_cast<uint64_t>(address))
            GENICAM_THROW(AccessException, "read outside the chunk");
        if (length > 0) std::memcpy(buffer, bytes.data() + address, static_cast<size_t>(length));
    }
    void Write(const void*, int64_t, int64_t) override {
        GENICAM_THROW(AccessException, "chunk data is read-only");
    }

    std::vector<uint8_t> bytes;
};

struct SChunkPort {
    engine::CPortNode* node = nullptr;
    uint64_t id = 0;
    std::shared_ptr<CChunkBytes> bytes;
};

uint64_t ParseChunkId(const std::string& text) {
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits = digits.substr(2);
    try {
        std::size_t used = 0;
        const uint64_t id = std::stoull(digits, &used, 16);
        return used == digits.size() ? id : 0;
    } catch (const std::exception&) {
        return 0;
    }
}

/// The register a feature reads: its own, or that of the node its pValue names.
engine::SRegister* RegisterOf(engine::CEngNode* node) {
    if (engine::SRegister* reg = node->Reg()) return reg;
    engine::CEngNode* target = nullptr;
    if (auto* integer = dynamic_cast<engine::CIntegerNode*>(node))
        target = integer->m_source.pValue;
    if (auto* real = dynamic_cast<engine::CFloatNode*>(node)) target = real->m_source.pValue;
    return target ? target->Reg() : nullptr;
}

}  // namespace

struct CEngineNodeMap::Impl {
    engine::SMapState state;
    std::vector<SChunkPort> chunkPorts;  ///< built at load, one per Port node with a ChunkID
    std::vector<SChunkPort> eventPorts;  ///< likewise, one per Port node with an EventID

    /// New bytes (or none) behind a port: what was cached from it no longer holds.
    void PortChanged(engine::CPortNode* node) {
        for (const auto& slot : state.slots) {
            if (slot->port == node) slot->valid = false;
        }
        if (++state.epoch == 0) state.epoch = 1;
        if (++state.accessGeneration == 0) state.accessGeneration = 1;
    }
};

CEngineNodeMap::CEngineNodeMap(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

CEngineNodeMap::~CEngineNodeMap() = default;

std::unique_ptr<CEngineNodeMap> CEngineNodeMap::Load(const std::string& xml,
                                                     std::shared_ptr<IPort> port,
                                                     const std::string& deviceName,
                                                     const SDescriptionLimits& limits) {
    auto impl = std::make_unique<Impl>();
    impl->state.deviceName = deviceName;
    impl->state.defaultPort = std::move(port);
    {
        // The element tree lives only while the nodes are built.
        const engine::SXmlElement root = engine::ParseXml(xml, limits);
        engine::BuildNodes(impl->state, root, limits);
    }
    for (engine::CPortNode* node : impl->state.ports) {
        if (node->m_isChunk)
            impl->chunkPorts.push_back(
                {node, ParseChunkId(node->m_chunkId), std::make_shared<CChunkBytes>()});
        else if (node->m_isEvent)
            impl->eventPorts.push_back(
                {node, ParseChunkId(node->m_eventId), std::make_shared<CChunkBytes>()});
    }
    return std::unique_ptr<CEngineNodeMap>(new CEngineNodeMap(std::move(impl)));
}

INode* CEngineNodeMap::GetNode(const gcstring& name) const {
    std::lock_guard<std::recursive_mutex> lock(m_impl->state.mutex);
    const auto it = m_impl->state.byName.find(name.str());
    return it == m_impl->state.byName.end() ? nullptr : it->second;
}

void CEngineNodeMap::GetNodes(NodeList_t& nodes) const {
    std::lock_guard<std::recursive_mutex> lock(m_impl->state.mutex);
    nodes.assign(m_impl->state.order.begin(), m_impl->state.order.end());
}

gcstring CEngineNodeMap::GetDeviceName() {
    return m_impl->state.deviceName;
}

bool CEngineNodeMap::ConnectPort(const std::string& portName, std::shared_ptr<IPort> port) {
    std::lock_guard<std::recursive_mutex> lock(m_impl->state.mutex);
    for (engine::CPortNode* node : m_impl->state.ports) {
        if (node->Name() != portName) continue;
        node->m_port = std::move(port);
        m_impl->PortChanged(node);
        return true;
    }
    return false;
}

void CEngineNodeMap::AttachChunks(const SChunkView* blocks, std::size_t count) {
    std::lock_guard<std::recursive_mutex> lock(m_impl->state.mutex);
    if (m_impl->state.detached) return;
    for (SChunkPort& port : m_impl->chunkPorts) {
        const SChunkView* block = nullptr;
        for (std::size_t i = 0; i < count && !block; ++i)
            if (blocks[i].id == port.id && blocks[i].data) block = &blocks[i];
        if (block) {
            port.bytes->bytes.assign(block->data, block->data + block->size);
            port.node->m_port = port.bytes;
        } else {
            port.node->m_port.reset();
        }
        m_impl->PortChanged(port.node);
    }
}

std::vector<std::string> CEngineNodeMap::AttachEvent(uint64_t id, const uint8_t* data,
                                                     std::size_t size, std::string& portName) {
    std::lock_guard<std::recursive_mutex> lock(m_impl->state.mutex);
    std::vector<std::string> features;
    portName.clear();
    if (m_impl->state.detached) return features;
    bool matched = false;
    for (SChunkPort& port : m_impl->eventPorts) {
        if (port.id == id) {
            if (data)
                port.bytes->bytes.assign(data, data + size);
            else
                port.bytes->bytes.clear();
            port.node->m_port = port.bytes;
            if (!matched) portName = port.node->Name();
            matched = true;
        } else {
            port.node->m_port.reset();
        }
        m_impl->PortChanged(port.node);
    }
    if (!matched) return features;
    for (engine::CEngNode* node : m_impl->state.order) {
        if (!node->IsFeature()) continue;
        engine::SRegister* reg = RegisterOf(node);
        if (reg && reg->port && reg->port->m_isEvent && reg->port->m_port)
            features.push_back(node->Name());
    }
    return features;
}

std::vector<SChunkFeature> CEngineNodeMap::ChunkFeatures() const {
    std::lock_guard<std::recursive_mutex> lock(m_impl->state.mutex);
    std::vector<SChunkFeature> out;
    if (m_impl->chunkPorts.empty()) return out;
    for (engine::CEngNode* node : m_impl->state.order) {
        if (!node->IsFeature()) continue;
        engine::SRegister* reg = RegisterOf(node);
        if (!reg || !reg->port || !reg->port->m_isChunk) continue;
        out.push_back(
            {node->Name(), ParseChunkId(reg->port->m_chunkId), reg->pLength ? 0 : reg->length});
    }
    return out;
}

bool CEngineNodeMap::HasChunkFeatures() const {
    return !m_impl->chunkPorts.empty();  // fixed at load: no lock
}

void CEngineNodeMap::InvalidateNodes() {
    std::lock_guard<std::recursive_mutex> lock(m_impl->state.mutex);
    for (const auto& slot : m_impl->state.slots) slot->valid = false;
    if (++m_impl->state.epoch == 0) m_impl->state.epoch = 1;
}

void CEngineNodeMap::Detach() {
    std::lock_guard<std::recursive_mutex> lock(m_impl->state.mutex);
    m_impl->state.detached = true;
    for (const auto& slot : m_impl->state.slots) slot->valid = false;
    for (engine::CPortNode* node : m_impl->state.ports) node->m_port.reset();
    m_impl->state.defaultPort.reset();
    if (++m_impl->state.epoch == 0) m_impl->state.epoch = 1;
}

std::unique_lock<std::recursive_mutex> CEngineNodeMap::Lock() const {
    return std::unique_lock<std::recursive_mutex>(m_impl->state.mutex);
}

std::string CEngineNodeMap::GetModelName() const {
    return m_impl->state.modelName;
}

std::string CEngineNodeMap::GetVendorName() const {
    return m_impl->state.vendorName;
}

std::string CEngineNodeMap::GetSchemaVersion() const {
    return m_impl->state.schemaVersion;
}

}  // namespace GenApi
