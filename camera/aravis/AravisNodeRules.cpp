#include "AravisNodeRules.h"

namespace KZRGENICAM::detail {

namespace {

// A description whose pValue chain loops is refused rather than followed forever.
constexpr int kMaxDepth = 32;

GenApi::EAccessMode FromAravis(ArvGcAccessMode mode) {
    switch (mode) {
        case ARV_GC_ACCESS_MODE_RO:
            return GenApi::RO;
        case ARV_GC_ACCESS_MODE_WO:
            return GenApi::WO;
        case ARV_GC_ACCESS_MODE_RW:
            return GenApi::RW;
        default:
            return GenApi::NA;
    }
}

bool Readable(GenApi::EAccessMode mode) {
    return mode == GenApi::RO || mode == GenApi::RW;
}

bool Writable(GenApi::EAccessMode mode) {
    return mode == GenApi::WO || mode == GenApi::RW;
}

/// What both modes allow; NI wins over NA, NA over the rest.
GenApi::EAccessMode Combine(GenApi::EAccessMode a, GenApi::EAccessMode b) {
    if (a == GenApi::NI || b == GenApi::NI) return GenApi::NI;
    const bool read = Readable(a) && Readable(b);
    const bool write = Writable(a) && Writable(b);
    if (read && write) return GenApi::RW;
    if (read) return GenApi::RO;
    if (write) return GenApi::WO;
    return GenApi::NA;
}

GenApi::EAccessMode Access(ArvGcNode* node, int depth, GError** error);

/// A formula reads every variable: one that cannot be read leaves it NA.
GenApi::EAccessMode VariablesAccess(ArvGcNode* node, int depth, GError** error) {
    for (ArvDomNode* child = arv_dom_node_get_first_child(ARV_DOM_NODE(node)); child;
         child = arv_dom_node_get_next_sibling(child)) {
        if (!ARV_IS_GC_PROPERTY_NODE(child)) continue;
        auto* property = ARV_GC_PROPERTY_NODE(child);
        if (arv_gc_property_node_get_node_type(property) != ARV_GC_PROPERTY_NODE_TYPE_P_VARIABLE)
            continue;
        ArvGcNode* variable = arv_gc_property_node_get_linked_node(property);
        if (!variable || !ARV_IS_GC_FEATURE_NODE(variable)) continue;
        if (!Readable(Access(variable, depth + 1, error))) return GenApi::NA;
    }
    return GenApi::RO;
}

GenApi::EAccessMode OwnAccess(ArvGcNode* node, int depth, GError** error) {
    auto* feature = ARV_GC_FEATURE_NODE(node);
    if (ARV_IS_GC_CATEGORY(node) || ARV_IS_GC_ENUM_ENTRY(node) || ARV_IS_GC_PORT(node))
        return GenApi::RO;
    if (ARV_IS_GC_SWISS_KNIFE(node)) return VariablesAccess(node, depth, error);
    // Registers: the access their description declares.
    if (ARV_IS_GC_REGISTER_NODE(node) || ARV_IS_GC_STRUCT_ENTRY_NODE(node))
        return FromAravis(arv_gc_feature_node_get_actual_access_mode(feature));
    GenApi::EAccessMode mode = FromAravis(arv_gc_feature_node_get_imposed_access_mode(feature));
    if (ArvGcNode* value = LinkedNode(node, ARV_GC_PROPERTY_NODE_TYPE_P_VALUE)) {
        if (ARV_IS_GC_FEATURE_NODE(value)) mode = Combine(mode, Access(value, depth + 1, error));
    }
    // A converter's formulas read its variables; their access does not limit its own.
    if (ARV_IS_GC_CONVERTER(node) && VariablesAccess(node, depth, error) == GenApi::NA)
        return GenApi::NA;
    return mode;
}

GenApi::EAccessMode Access(ArvGcNode* node, int depth, GError** error) {
    if (depth > kMaxDepth || (error && *error)) return GenApi::NA;
    auto* feature = ARV_GC_FEATURE_NODE(node);
    if (!arv_gc_feature_node_is_implemented(feature, error)) return GenApi::NI;
    if (error && *error) return GenApi::NA;
    if (!arv_gc_feature_node_is_available(feature, error)) return GenApi::NA;
    if (error && *error) return GenApi::NA;
    GenApi::EAccessMode mode = OwnAccess(node, depth, error);
    if (error && *error) return GenApi::NA;
    if (Writable(mode) && arv_gc_feature_node_is_locked(feature, error))
        mode = Combine(mode, GenApi::RO);
    if (error && *error) return GenApi::NA;
    return mode;
}

}  // namespace

bool IsUndefinedProperty(const GError* error) {
    return error && error->domain == ARV_GC_ERROR &&
           error->code == ARV_GC_ERROR_PROPERTY_NOT_DEFINED;
}

ArvGcNode* LinkedNode(ArvGcNode* node, ArvGcPropertyNodeType type) {
    for (ArvDomNode* child = arv_dom_node_get_first_child(ARV_DOM_NODE(node)); child;
         child = arv_dom_node_get_next_sibling(child)) {
        if (ARV_IS_GC_PROPERTY_NODE(child) &&
            arv_gc_property_node_get_node_type(ARV_GC_PROPERTY_NODE(child)) == type)
            return arv_gc_property_node_get_linked_node(ARV_GC_PROPERTY_NODE(child));
    }
    return nullptr;
}

int64_t PropertyInt(ArvGcNode* node, ArvGcPropertyNodeType type, ArvGcPropertyNodeType pointerType,
                    int64_t fallback, GError** error) {
    for (ArvDomNode* child = arv_dom_node_get_first_child(ARV_DOM_NODE(node)); child;
         child = arv_dom_node_get_next_sibling(child)) {
        if (!ARV_IS_GC_PROPERTY_NODE(child)) continue;
        auto* property = ARV_GC_PROPERTY_NODE(child);
        const ArvGcPropertyNodeType own = arv_gc_property_node_get_node_type(property);
        if (own == type || own == pointerType)
            return arv_gc_property_node_get_int64(property, error);
    }
    return fallback;
}

GenApi::EAccessMode CombinedAccess(ArvGcNode* node, GError** error) {
    return Access(node, 0, error);
}

}  // namespace KZRGENICAM::detail
