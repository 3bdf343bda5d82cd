#include "AravisNodes.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "AravisNodeRules.h"
#include "GObjectPtr.h"

namespace KZRGENICAM::detail {

namespace {

std::string Copy(const char* text) {
    return text ? std::string(text) : std::string();
}

ArvGcFeatureNode* Feature(ArvGcNode* node) {
    return ARV_GC_FEATURE_NODE(node);
}

}  // namespace

void ThrowFromGError(const GError* error, const std::string& node) {
    const std::string text = node + ": " + (error && error->message ? error->message : "failed");
    if (error && error->domain == ARV_GC_ERROR) {
        if (error->code == ARV_GC_ERROR_OUT_OF_RANGE)
            GENICAM_THROW(OutOfRangeException, text.c_str());
        if (error->code == ARV_GC_ERROR_READ_ONLY) GENICAM_THROW(AccessException, text.c_str());
    }
    if (error && error->domain == ARV_DEVICE_ERROR) {
        if (error->code == ARV_DEVICE_ERROR_TIMEOUT) GENICAM_THROW(TimeoutException, text.c_str());
        if (error->code == ARV_DEVICE_ERROR_NOT_CONTROLLER)
            GENICAM_THROW(AccessException, text.c_str());
    }
    GENICAM_THROW(RuntimeException, text.c_str());
}

GenApi::EInterfaceType PrincipalTypeOf(ArvGcNode* node) {
    if (ARV_IS_GC_CATEGORY(node)) return GenApi::intfICategory;
    if (ARV_IS_GC_ENUMERATION(node)) return GenApi::intfIEnumeration;
    if (ARV_IS_GC_ENUM_ENTRY(node)) return GenApi::intfIEnumEntry;
    if (ARV_IS_GC_COMMAND(node)) return GenApi::intfICommand;
    if (ARV_IS_GC_BOOLEAN(node)) return GenApi::intfIBoolean;
    if (ARV_IS_GC_INTEGER(node)) return GenApi::intfIInteger;
    if (ARV_IS_GC_FLOAT(node)) return GenApi::intfIFloat;
    if (ARV_IS_GC_STRING(node)) return GenApi::intfIString;
    if (ARV_IS_GC_REGISTER(node)) return GenApi::intfIRegister;
    if (ARV_IS_GC_PORT(node)) return GenApi::intfIPort;
    return GenApi::intfIBase;
}

std::unique_ptr<CArvNode> MakeArvNode(const CArvNodeMap* map, ArvGcNode* node, std::string name) {
    const GenApi::EInterfaceType type = PrincipalTypeOf(node);
    const bool reg = ARV_IS_GC_REGISTER(node);
    switch (type) {
        case GenApi::intfICategory:
            return std::make_unique<CArvNodeOf<CCategoryPart>>(map, node, std::move(name), type);
        case GenApi::intfIEnumeration:
            return std::make_unique<CArvNodeOf<CEnumerationPart>>(map, node, std::move(name), type);
        case GenApi::intfIEnumEntry:
            return std::make_unique<CArvNodeOf<CEnumEntryPart>>(map, node, std::move(name), type);
        case GenApi::intfICommand:
            return std::make_unique<CArvNodeOf<CCommandPart>>(map, node, std::move(name), type);
        case GenApi::intfIBoolean:
            return std::make_unique<CArvNodeOf<CBooleanPart>>(map, node, std::move(name), type);
        case GenApi::intfIInteger:
            if (reg)
                return std::make_unique<CArvNodeOf<CIntegerPart, CRegisterPart>>(
                    map, node, std::move(name), type);
            return std::make_unique<CArvNodeOf<CIntegerPart>>(map, node, std::move(name), type);
        case GenApi::intfIFloat:
            if (reg)
                return std::make_unique<CArvNodeOf<CFloatPart, CRegisterPart>>(
                    map, node, std::move(name), type);
            return std::make_unique<CArvNodeOf<CFloatPart>>(map, node, std::move(name), type);
        case GenApi::intfIString:
            if (reg)
                return std::make_unique<CArvNodeOf<CStringPart, CRegisterPart>>(
                    map, node, std::move(name), type);
            return std::make_unique<CArvNodeOf<CStringPart>>(map, node, std::move(name), type);
        case GenApi::intfIRegister:
            return std::make_unique<CArvNodeOf<CRegisterPart>>(map, node, std::move(name), type);
        default:
            return std::make_unique<CArvNodeOf<>>(map, node, std::move(name), type);
    }
}

// ---- CArvNode ----

GenApi::EAccessMode CArvNode::GetAccessMode() const {
    auto lock = m_map->Lock();
    return AccessLocked();
}

GenApi::EAccessMode CArvNode::AccessLocked() const {
    if (!m_map->Attached() || m_map->Lost()) return GenApi::NA;
    // A failed probe (device gone) leaves the node unusable rather than throwing
    // from an access query.
    CGError error;
    const GenApi::EAccessMode mode = CombinedAccess(m_node, error.Out());
    if (error) {
        m_map->NoteError(error.Get());
        return GenApi::NA;
    }
    return mode;
}

void CArvNode::RequireReadable() const {
    m_map->Tree();  // AccessException once the camera is closed
    if (!GenApi::IsReadable(AccessLocked()))
        GENICAM_THROW(AccessException, (m_name + ": not readable").c_str());
}

void CArvNode::RequireWritable() const {
    m_map->Tree();
    if (!GenApi::IsWritable(AccessLocked()))
        GENICAM_THROW(AccessException, (m_name + ": not writable").c_str());
}

GenApi::gcstring CArvNode::GetName(bool /*fullQualified*/) const {
    return m_name;
}

bool CArvNode::IsFeature() const {
    auto lock = m_map->Lock();
    return m_map->IsFeatureName(m_name) && m_type != GenApi::intfIEnumEntry;
}

GenApi::gcstring CArvNode::GetDisplayName() const {
    auto lock = m_map->Lock();
    if (!m_map->Attached()) return m_name;
    const std::string text = Copy(arv_gc_feature_node_get_display_name(Feature(m_node)));
    return text.empty() ? m_name : text;
}

GenApi::gcstring CArvNode::GetDescription() const {
    auto lock = m_map->Lock();
    if (!m_map->Attached()) return "";
    return Copy(arv_gc_feature_node_get_description(Feature(m_node)));
}

// ---- CValuePart ----

GenApi::gcstring CValuePart::ToString(bool /*verify*/, bool /*ignoreCache*/) {
    auto lock = m_map->Lock();
    RequireReadable();
    CGError error;
    if (m_type == GenApi::intfIRegister) {
        // As GenApi shows a plain register: its bytes in hex.
        const guint64 length = arv_gc_register_get_length(ARV_GC_REGISTER(m_node), error.Out());
        if (error) Fail(error.Get());
        std::vector<uint8_t> bytes(static_cast<std::size_t>(length));
        arv_gc_register_get(ARV_GC_REGISTER(m_node), bytes.data(), length, error.Out());
        if (error) Fail(error.Get());
        std::string text = "0x";
        char digits[3];
        for (uint8_t b : bytes) {
            std::snprintf(digits, sizeof digits, "%02x", b);
            text += digits;
        }
        return text;
    }
    if (m_type == GenApi::intfIEnumeration) return CurrentSymbolic(ARV_GC_ENUMERATION(m_node));
    std::string text = Copy(arv_gc_feature_node_get_value_as_string(Feature(m_node), error.Out()));
    if (error) Fail(error.Get());
    return text;
}

std::string CValuePart::CurrentSymbolic(ArvGcEnumeration* enumeration) const {
    CGError error;
    const gint64 value = arv_gc_enumeration_get_int_value(enumeration, error.Out());
    if (error) Fail(error.Get());
    for (const GSList* item = arv_gc_enumeration_get_entries(enumeration); item;
         item = item->next) {
        auto* entry = static_cast<ArvGcNode*>(item->data);
        if (!ARV_IS_GC_ENUM_ENTRY(entry)) continue;
        const gint64 entryValue =
            arv_gc_enum_entry_get_value(ARV_GC_ENUM_ENTRY(entry), error.Out());
        if (error) Fail(error.Get());
        if (entryValue == value) return Copy(arv_gc_feature_node_get_name(Feature(entry)));
    }
    // GenApi refuses a value no entry stands for; "" would read as a valid answer.
    GENICAM_THROW(AccessException,
                  (m_name + ": value " + std::to_string(value) + " matches no entry").c_str());
}

void CValuePart::FromString(const GenApi::gcstring& value, bool /*verify*/) {
    auto lock = m_map->Lock();
    RequireWritable();
    CGError error;
    arv_gc_feature_node_set_value_from_string(Feature(m_node), value.c_str(), error.Out());
    if (error) Fail(error.Get());
}

// ---- CIntegerPart ----

void CIntegerPart::SetValue(int64_t value, bool verify) {
    auto lock = m_map->Lock();
    RequireWritable();
    ArvGcInteger* node = ARV_GC_INTEGER(m_node);
    CGError error;
    if (verify) {
        // Aravis checks min and max but not the increment.
        const int64_t min = GetMin();
        const int64_t max = GetMax();
        const int64_t inc = GetInc();
        if (value < min || value > max)
            GENICAM_THROW(OutOfRangeException, (m_name + ": value outside [min, max]").c_str());
        if (inc > 1 && (value - min) % inc != 0)
            GENICAM_THROW(OutOfRangeException, (m_name + ": value off the increment").c_str());
    }
    arv_gc_integer_set_value(node, value, error.Out());
    if (error) Fail(error.Get());
}

int64_t CIntegerPart::GetValue(bool /*verify*/, bool /*ignoreCache*/) {
    auto lock = m_map->Lock();
    RequireReadable();
    CGError error;
    const gint64 v = arv_gc_integer_get_value(ARV_GC_INTEGER(m_node), error.Out());
    if (error) Fail(error.Get());
    return v;
}

int64_t CIntegerPart::GetMin() {
    auto lock = m_map->Lock();
    m_map->Tree();
    CGError error;
    const gint64 v = arv_gc_integer_get_min(ARV_GC_INTEGER(m_node), error.Out());
    if (IsUndefinedProperty(error.Get())) return std::numeric_limits<int64_t>::min();
    if (error) Fail(error.Get());
    return v;
}

int64_t CIntegerPart::GetMax() {
    auto lock = m_map->Lock();
    m_map->Tree();
    CGError error;
    const gint64 v = arv_gc_integer_get_max(ARV_GC_INTEGER(m_node), error.Out());
    if (IsUndefinedProperty(error.Get())) return std::numeric_limits<int64_t>::max();
    if (error) Fail(error.Get());
    return v;
}

int64_t CIntegerPart::GetInc() {
    auto lock = m_map->Lock();
    m_map->Tree();
    CGError error;
    const gint64 v = arv_gc_integer_get_inc(ARV_GC_INTEGER(m_node), error.Out());
    if (IsUndefinedProperty(error.Get())) return 1;
    if (error) Fail(error.Get());
    return v > 0 ? v : 1;
}

// ---- CFloatPart ----

void CFloatPart::SetValue(double value, bool /*verify*/) {
    auto lock = m_map->Lock();
    RequireWritable();
    CGError error;
    arv_gc_float_set_value(ARV_GC_FLOAT(m_node), value, error.Out());
    if (error) Fail(error.Get());
}

double CFloatPart::GetValue(bool /*verify*/, bool /*ignoreCache*/) {
    auto lock = m_map->Lock();
    RequireReadable();
    CGError error;
    const double v = arv_gc_float_get_value(ARV_GC_FLOAT(m_node), error.Out());
    if (error) Fail(error.Get());
    return v;
}

double CFloatPart::GetMin() {
    auto lock = m_map->Lock();
    m_map->Tree();
    CGError error;
    const double v = arv_gc_float_get_min(ARV_GC_FLOAT(m_node), error.Out());
    if (IsUndefinedProperty(error.Get())) return std::numeric_limits<double>::lowest();
    if (error) Fail(error.Get());
    return v;
}

double CFloatPart::GetMax() {
    auto lock = m_map->Lock();
    m_map->Tree();
    CGError error;
    const double v = arv_gc_float_get_max(ARV_GC_FLOAT(m_node), error.Out());
    if (IsUndefinedProperty(error.Get())) return std::numeric_limits<double>::max();
    if (error) Fail(error.Get());
    return v;
}

double CFloatPart::GetInc() {
    auto lock = m_map->Lock();
    m_map->Tree();
    CGError error;
    const double v = arv_gc_float_get_inc(ARV_GC_FLOAT(m_node), error.Out());
    if (IsUndefinedProperty(error.Get())) return 0.0;
    if (error) Fail(error.Get());
    // Aravis answers G_MINDOUBLE for a float without an increment.
    return v > G_MINDOUBLE ? v : 0.0;
}

bool CFloatPart::HasInc() {
    return GetInc() > 0.0;
}

GenApi::EIncMode CFloatPart::GetIncMode() {
    return HasInc() ? GenApi::fixedIncrement : GenApi::noIncrement;
}

// ---- CBooleanPart ----

void CBooleanPart::SetValue(bool value, bool /*verify*/) {
    auto lock = m_map->Lock();
    RequireWritable();
    CGError error;
    arv_gc_boolean_set_value(ARV_GC_BOOLEAN(m_node), value ? TRUE : FALSE, error.Out());
    if (error) Fail(error.Get());
}

bool CBooleanPart::GetValue(bool /*verify*/, bool /*ignoreCache*/) const {
    auto lock = m_map->Lock();
    RequireReadable();
    CGError error;
    // Aravis reads "not OnValue" as false; GenApi refuses a value that is neither.
    ArvGcNode* value = LinkedNode(m_node, ARV_GC_PROPERTY_NODE_TYPE_P_VALUE);
    if (value && ARV_IS_GC_INTEGER(value)) {
        const int64_t on = PropertyInt(m_node, ARV_GC_PROPERTY_NODE_TYPE_ON_VALUE,
                                       ARV_GC_PROPERTY_NODE_TYPE_UNKNOWN, 1, error.Out());
        if (error) Fail(error.Get());
        const int64_t off = PropertyInt(m_node, ARV_GC_PROPERTY_NODE_TYPE_OFF_VALUE,
                                        ARV_GC_PROPERTY_NODE_TYPE_UNKNOWN, 0, error.Out());
        if (error) Fail(error.Get());
        const gint64 raw = arv_gc_integer_get_value(ARV_GC_INTEGER(value), error.Out());
        if (error) Fail(error.Get());
        if (raw == on) return true;
        if (raw == off) return false;
        GENICAM_THROW(
            AccessException,
            (m_name + ": value " + std::to_string(raw) + " is neither on nor off").c_str());
    }
    const gboolean v = arv_gc_boolean_get_value(ARV_GC_BOOLEAN(m_node), error.Out());
    if (error) Fail(error.Get());
    return v != FALSE;
}

// ---- CStringPart ----

void CStringPart::SetValue(const GenApi::gcstring& value, bool /*verify*/) {
    auto lock = m_map->Lock();
    RequireWritable();
    CGError error;
    arv_gc_string_set_value(ARV_GC_STRING(m_node), value.c_str(), error.Out());
    if (error) Fail(error.Get());
}

GenApi::gcstring CStringPart::GetValue(bool /*verify*/, bool /*ignoreCache*/) {
    auto lock = m_map->Lock();
    RequireReadable();
    CGError error;
    std::string text = Copy(arv_gc_string_get_value(ARV_GC_STRING(m_node), error.Out()));
    if (error) Fail(error.Get());
    return text;
}

int64_t CStringPart::GetMaxLength() {
    auto lock = m_map->Lock();
    m_map->Tree();
    CGError error;
    const gint64 v = arv_gc_string_get_max_length(ARV_GC_STRING(m_node), error.Out());
    if (error) Fail(error.Get());
    return v;
}

// ---- CEnumEntryPart ----

int64_t CEnumEntryPart::GetValue() {
    auto lock = m_map->Lock();
    m_map->Tree();
    CGError error;
    const gint64 v = arv_gc_enum_entry_get_value(ARV_GC_ENUM_ENTRY(m_node), error.Out());
    if (error) Fail(error.Get());
    return v;
}

// ---- CEnumerationPart ----

void CEnumerationPart::GetSymbolics(GenApi::gcstring_vector& symbolics) {
    auto lock = m_map->Lock();
    m_map->Tree();
    CGError error;
    guint count = 0;
    const char** names = arv_gc_enumeration_dup_available_string_values(ARV_GC_ENUMERATION(m_node),
                                                                        &count, error.Out());
    if (error) {
        g_free(names);
        Fail(error.Get());
    }
    symbolics.clear();
    for (guint i = 0; i < count; ++i) symbolics.emplace_back(Copy(names[i]));
    g_free(names);  // the array only: the texts belong to the entries
}

void CEnumerationPart::SetIntValue(int64_t value, bool verify) {
    auto lock = m_map->Lock();
    RequireWritable();
    CGError error;
    if (verify) {
        guint count = 0;
        gint64* values = arv_gc_enumeration_dup_available_int_values(ARV_GC_ENUMERATION(m_node),
                                                                     &count, error.Out());
        bool found = false;
        for (guint i = 0; values && i < count; ++i) found = found || values[i] == value;
        g_free(values);
        if (error) Fail(error.Get());
        if (!found)
            GENICAM_THROW(OutOfRangeException,
                          (m_name + ": no available entry has that value").c_str());
    }
    arv_gc_enumeration_set_int_value(ARV_GC_ENUMERATION(m_node), value, error.Out());
    if (error) Fail(error.Get());
}

int64_t CEnumerationPart::GetIntValue(bool /*verify*/, bool /*ignoreCache*/) {
    auto lock = m_map->Lock();
    RequireReadable();
    CGError error;
    const gint64 v = arv_gc_enumeration_get_int_value(ARV_GC_ENUMERATION(m_node), error.Out());
    if (error) Fail(error.Get());
    return v;
}

GenApi::IEnumEntry* CEnumerationPart::GetEntryByName(const GenApi::gcstring& symbolic) {
    auto lock = m_map->Lock();
    m_map->Tree();
    for (const GSList* item = arv_gc_enumeration_get_entries(ARV_GC_ENUMERATION(m_node)); item;
         item = item->next) {
        auto* entry = static_cast<ArvGcNode*>(item->data);
        if (!ARV_IS_GC_ENUM_ENTRY(entry)) continue;
        if (symbolic == Copy(arv_gc_feature_node_get_name(Feature(entry))).c_str())
            return dynamic_cast<GenApi::IEnumEntry*>(m_map->EntryFor(m_name, entry));
    }
    return nullptr;
}

GenApi::IEnumEntry* CEnumerationPart::GetCurrentEntry(bool verify, bool ignoreCache) {
    auto lock = m_map->Lock();
    return GetEntryByName(ToString(verify, ignoreCache));  // throws for a value without entry
}

// ---- CCommandPart ----

void CCommandPart::Execute(bool /*verify*/) {
    auto lock = m_map->Lock();
    RequireWritable();
    CGError error;
    arv_gc_command_execute(ARV_GC_COMMAND(m_node), error.Out());
    if (error) Fail(error.Get());
}

bool CCommandPart::IsDone(bool /*verify*/) {
    auto lock = m_map->Lock();
    m_map->Tree();
    // As GenApi: pending while the value register still reads the command value;
    // a register that cannot be read back (write-only) is done at once.
    ArvGcNode* value = LinkedNode(m_node, ARV_GC_PROPERTY_NODE_TYPE_P_VALUE);
    if (!value || !ARV_IS_GC_INTEGER(value)) return true;
    CGError error;
    const GenApi::EAccessMode access = CombinedAccess(value, error.Out());
    if (error) Fail(error.Get());
    if (!GenApi::IsReadable(access)) return true;
    const int64_t command = PropertyInt(m_node, ARV_GC_PROPERTY_NODE_TYPE_COMMAND_VALUE,
                                        ARV_GC_PROPERTY_NODE_TYPE_P_COMMAND_VALUE, 1, error.Out());
    if (error) Fail(error.Get());
    const gint64 current = arv_gc_integer_get_value(ARV_GC_INTEGER(value), error.Out());
    if (error) Fail(error.Get());
    return current != command;
}

// ---- CRegisterPart ----

void CRegisterPart::Set(const uint8_t* buffer, int64_t length, bool /*verify*/) {
    auto lock = m_map->Lock();
    RequireWritable();
    CGError error;
    const guint64 size = arv_gc_register_get_length(ARV_GC_REGISTER(m_node), error.Out());
    if (error) Fail(error.Get());
    if (!buffer || length != static_cast<int64_t>(size))
        GENICAM_THROW(OutOfRangeException,
                      (m_name + ": buffer length is not the register's length").c_str());
    arv_gc_register_set(ARV_GC_REGISTER(m_node), buffer, size, error.Out());
    if (error) Fail(error.Get());
}

void CRegisterPart::Get(uint8_t* buffer, int64_t length, bool /*verify*/, bool /*ignoreCache*/) {
    auto lock = m_map->Lock();
    RequireReadable();
    CGError error;
    const guint64 size = arv_gc_register_get_length(ARV_GC_REGISTER(m_node), error.Out());
    if (error) Fail(error.Get());
    if (!buffer || length <= 0 || static_cast<guint64>(length) > size)
        GENICAM_THROW(OutOfRangeException,
                      (m_name + ": buffer length outside the register").c_str());
    std::vector<uint8_t> bytes(static_cast<std::size_t>(size));
    arv_gc_register_get(ARV_GC_REGISTER(m_node), bytes.data(), size, error.Out());
    if (error) Fail(error.Get());
    std::memcpy(buffer, bytes.data(), static_cast<std::size_t>(length));
}

int64_t CRegisterPart::GetLength() {
    auto lock = m_map->Lock();
    m_map->Tree();
    CGError error;
    const guint64 v = arv_gc_register_get_length(ARV_GC_REGISTER(m_node), error.Out());
    if (error) Fail(error.Get());
    return static_cast<int64_t>(v);
}

int64_t CRegisterPart::GetAddress() {
    auto lock = m_map->Lock();
    m_map->Tree();
    CGError error;
    const guint64 v = arv_gc_register_get_address(ARV_GC_REGISTER(m_node), error.Out());
    if (error) Fail(error.Get());
    return static_cast<int64_t>(v);
}

// ---- CCategoryPart ----

void CCategoryPart::GetFeatures(GenApi::FeatureList_t& features) const {
    auto lock = m_map->Lock();
    m_map->Tree();
    features.clear();
    for (const GSList* item = arv_gc_category_get_features(ARV_GC_CATEGORY(m_node)); item;
         item = item->next) {
        const std::string name = Copy(static_cast<const char*>(item->data));
        if (auto* value = dynamic_cast<GenApi::IValue*>(m_map->NodeFor(name)))
            features.push_back(value);
    }
}

}  // namespace KZRGENICAM::detail
