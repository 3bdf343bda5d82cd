// What a feature browser shows of an Aravis node: tool tip, visibility, unit and
// the full entry list of an enumeration. Kept apart from the value access.
#include "AravisNodes.h"

#include <algorithm>

namespace KZRGENICAM::detail {

namespace {

std::string Text(const char* text) {
    return text ? std::string(text) : std::string();
}

}  // namespace

GenApi::gcstring CArvNode::GetToolTip() const {
    auto lock = m_map->Lock();
    if (!m_map->Attached()) return "";
    const std::string tip = Text(arv_gc_feature_node_get_tooltip(ARV_GC_FEATURE_NODE(m_node)));
    return tip.empty() ? Text(arv_gc_feature_node_get_description(ARV_GC_FEATURE_NODE(m_node)))
                       : tip;
}

GenApi::EVisibility CArvNode::GetVisibility() const {
    auto lock = m_map->Lock();
    if (!m_map->Attached()) return GenApi::_UndefinedVisibility;
    switch (arv_gc_feature_node_get_visibility(ARV_GC_FEATURE_NODE(m_node))) {
        case ARV_GC_VISIBILITY_INVISIBLE:
            return GenApi::Invisible;
        case ARV_GC_VISIBILITY_GURU:
            return GenApi::Guru;
        case ARV_GC_VISIBILITY_EXPERT:
            return GenApi::Expert;
        case ARV_GC_VISIBILITY_BEGINNER:
            return GenApi::Beginner;
        default:
            // GenICam's default for a node that does not say.
            return GenApi::Beginner;
    }
}

GenApi::gcstring CIntegerPart::GetUnit() const {
    auto lock = m_map->Lock();
    if (!m_map->Attached()) return "";
    return Text(arv_gc_integer_get_unit(ARV_GC_INTEGER(m_node)));
}

GenApi::gcstring CFloatPart::GetUnit() const {
    auto lock = m_map->Lock();
    if (!m_map->Attached()) return "";
    return Text(arv_gc_float_get_unit(ARV_GC_FLOAT(m_node)));
}

void CEnumerationPart::GetEntries(GenApi::NodeList_t& entries) {
    auto lock = m_map->Lock();
    m_map->Tree();
    entries.clear();
    for (const GSList* item = arv_gc_enumeration_get_entries(ARV_GC_ENUMERATION(m_node)); item;
         item = item->next) {
        auto* entry = static_cast<ArvGcNode*>(item->data);
        if (ARV_IS_GC_ENUM_ENTRY(entry)) entries.push_back(m_map->EntryFor(m_name, entry));
    }
    // Aravis keeps the entries last first; GetSymbolics and the description list
    // them in document order.
    std::reverse(entries.begin(), entries.end());
}

}  // namespace KZRGENICAM::detail
