#include "AravisNodeMap.h"

#include <vector>

#include "AravisNodes.h"

namespace KZRGENICAM::detail {

CArvNodeMap::CArvNodeMap(ArvGc* gc, std::string deviceName, std::shared_ptr<std::atomic<bool>> lost)
    : m_gc(gc), m_deviceName(std::move(deviceName)), m_lost(std::move(lost)) {}

CArvNodeMap::~CArvNodeMap() = default;

void CArvNodeMap::Detach() {
    auto lock = Lock();
    m_gc = nullptr;
}

ArvGc* CArvNodeMap::Tree() const {
    if (!m_gc) GENICAM_THROW(AccessException, "camera closed: node map detached");
    if (m_lost->load()) GENICAM_THROW(RuntimeException, "device lost");
    return m_gc;
}

void CArvNodeMap::NoteError(const GError* error) const {
    if (error && error->domain == ARV_DEVICE_ERROR &&
        (error->code == ARV_DEVICE_ERROR_TIMEOUT || error->code == ARV_DEVICE_ERROR_NOT_CONNECTED))
        m_lost->store(true);
}

GenApi::INode* CArvNodeMap::GetNode(const GenApi::gcstring& name) const {
    auto lock = Lock();
    if (!m_gc) return nullptr;
    return NodeFor(name.str());
}

CArvNode* CArvNodeMap::NodeFor(const std::string& name) const {
    auto found = m_nodes.find(name);
    if (found != m_nodes.end()) return found->second.get();
    ArvGcNode* node = m_gc ? arv_gc_get_node(m_gc, name.c_str()) : nullptr;
    if (!node || !ARV_IS_GC_FEATURE_NODE(node)) return nullptr;
    return Adapt(name, node);
}

CArvNode* CArvNodeMap::EntryFor(const std::string& enumeration, ArvGcNode* entry) const {
    const char* symbolic = arv_gc_feature_node_get_name(ARV_GC_FEATURE_NODE(entry));
    // Entry names repeat across enumerations ("Off"); GenApi scopes them the same way.
    const std::string key = "EnumEntry_" + enumeration + "_" + (symbolic ? symbolic : "");
    auto found = m_nodes.find(key);
    if (found != m_nodes.end()) return found->second.get();
    return Adapt(key, entry);
}

CArvNode* CArvNodeMap::Adapt(const std::string& key, ArvGcNode* node) const {
    const char* own = arv_gc_feature_node_get_name(ARV_GC_FEATURE_NODE(node));
    auto adapted = MakeArvNode(this, node, own ? own : key);
    CArvNode* raw = adapted.get();
    m_nodes.emplace(key, std::move(adapted));
    return raw;
}

void CArvNodeMap::Collect(ArvDomNode* parent, GenApi::NodeList_t& nodes) const {
    for (ArvDomNode* child = arv_dom_node_get_first_child(parent); child;
         child = arv_dom_node_get_next_sibling(child)) {
        if (ARV_IS_GC_ENUMERATION(child)) {
            const char* name = arv_gc_feature_node_get_name(ARV_GC_FEATURE_NODE(child));
            if (CArvNode* node = NodeFor(name ? name : "")) nodes.push_back(node);
            for (const GSList* item = arv_gc_enumeration_get_entries(ARV_GC_ENUMERATION(child));
                 item; item = item->next) {
                if (ARV_IS_GC_ENUM_ENTRY(item->data))
                    nodes.push_back(
                        EntryFor(name ? name : "", static_cast<ArvGcNode*>(item->data)));
            }
            continue;
        }
        if (ARV_IS_GC_FEATURE_NODE(child)) {
            const char* name = arv_gc_feature_node_get_name(ARV_GC_FEATURE_NODE(child));
            if (CArvNode* node = name ? NodeFor(name) : nullptr) nodes.push_back(node);
        }
        // Groups hold nodes too.
        Collect(child, nodes);
    }
}

void CArvNodeMap::GetNodes(GenApi::NodeList_t& nodes) const {
    auto lock = Lock();
    nodes.clear();
    if (!m_gc) return;
    Collect(ARV_DOM_NODE(m_gc), nodes);
}

GenApi::gcstring CArvNodeMap::GetDeviceName() {
    return m_deviceName;
}

bool CArvNodeMap::IsFeatureName(const std::string& name) const {
    if (!m_features) {
        auto features = std::make_unique<std::set<std::string>>();
        if (m_gc) {
            // Breadth-first over the categories from Root; a category reached twice
            // is walked once, so a cyclic description cannot loop.
            std::vector<std::string> pending{"Root"};
            while (!pending.empty()) {
                const std::string current = pending.back();
                pending.pop_back();
                if (!features->insert(current).second) continue;
                ArvGcNode* node = arv_gc_get_node(m_gc, current.c_str());
                if (!node || !ARV_IS_GC_CATEGORY(node)) continue;
                for (const GSList* item = arv_gc_category_get_features(ARV_GC_CATEGORY(node)); item;
                     item = item->next) {
                    if (item->data) pending.emplace_back(static_cast<const char*>(item->data));
                }
            }
        }
        m_features = std::move(features);
    }
    return m_features->count(name) != 0;
}

}  // namespace KZRGENICAM::detail
