// CEngineNodeMap: the public face of the engine's node map.
#include "EngineNodeMap.h"

#include "EngineNodes.h"
#include "NodeBuilder.h"
#include "XmlReader.h"

namespace GenApi {

struct CEngineNodeMap::Impl {
    engine::SMapState state;
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
        // New bytes behind the port: nothing cached from it holds.
        for (const auto& slot : m_impl->state.slots) {
            if (slot->port == node) slot->valid = false;
        }
        if (++m_impl->state.epoch == 0) m_impl->state.epoch = 1;
        if (++m_impl->state.accessGeneration == 0) m_impl->state.accessGeneration = 1;
        return true;
    }
    return false;
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
