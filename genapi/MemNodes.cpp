#include "MemNodes.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace GenApi {

namespace {

std::string Trimmed(const gcstring& text) {
    const std::string& s = text.str();
    auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

const char* AccessName(EAccessMode mode) {
    switch (mode) {
        case NI:
            return "not implemented";
        case NA:
            return "not available";
        case WO:
            return "write-only";
        case RO:
            return "read-only";
        case RW:
            return "read/write";
        default:
            return "of undefined access";
    }
}

/// Shortest text that reads back as the same double, independent of the C locale.
std::string DoubleToText(double value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

}  // namespace

// ---------------------------------------------------------------------------
// CMemNode

CMemNode::CMemNode(CMemMapState* map, std::string name) : m_map(map), m_name(std::move(name)) {}

CMemNode::~CMemNode() = default;

EAccessMode CMemNode::GetAccessMode() const {
    MapLock lock = Enter(EFaultOp::GetAccessMode, ENeed::Nothing);
    return m_access;
}

gcstring CMemNode::GetName(bool) const {
    return m_name;
}

bool CMemNode::IsFeature() const {
    MapLock lock(m_map->mutex);
    return m_isFeature;
}

gcstring CMemNode::GetDisplayName() const {
    MapLock lock(m_map->mutex);
    return m_text.displayName.empty() ? m_name : m_text.displayName;
}

gcstring CMemNode::GetDescription() const {
    MapLock lock(m_map->mutex);
    return m_text.description;
}

gcstring CMemNode::GetToolTip() const {
    MapLock lock(m_map->mutex);
    return m_text.toolTip.empty() ? m_text.description : m_text.toolTip;
}

EVisibility CMemNode::GetVisibility() const {
    MapLock lock(m_map->mutex);
    return m_text.visibility;
}

std::string CMemNode::UnitText() const {
    MapLock lock(m_map->mutex);
    return m_text.unit;
}

int64_t CMemNode::CallCount(EFaultOp op) const {
    if (op != EFaultOp::Any) return m_calls[static_cast<std::size_t>(op)];
    // Any: the node's value operations, the same set an Any fault covers.
    int64_t total = 0;
    for (std::size_t i = 0; i < kOpCount; ++i) {
        if (i != static_cast<std::size_t>(EFaultOp::GetAccessMode)) total += m_calls[i];
    }
    return total;
}

MapLock CMemNode::Enter(EFaultOp op, ENeed need) const {
    MapLock lock(m_map->mutex);
    ++m_calls[static_cast<std::size_t>(op)];
    // Any covers value operations only: a fault on the access query would otherwise
    // make every IsReadable() probe throw, which is a different fault to inject.
    const bool isValueOp = op != EFaultOp::GetAccessMode;
    // Every matching fault counts this call, even when an earlier one already fires.
    const SFault* due = nullptr;
    for (SArmedFault& armed : m_faults) {
        const bool matches = armed.fault.op == op || (armed.fault.op == EFaultOp::Any && isValueOp);
        if (!matches) continue;
        ++armed.calls;
        if (!due && (armed.fault.nth == 0 || armed.calls == armed.fault.nth)) due = &armed.fault;
    }
    if (due) {
        const std::string message = "injected fault in node '" + m_name + "'";
        if (due->kind == EFaultKind::Std) throw std::runtime_error(message);
        GENICAM_THROW(RuntimeException, message.c_str());
    }
    CheckAccess(need);
    return lock;
}

MapLock CMemNode::Guard(ENeed need) const {
    MapLock lock(m_map->mutex);
    CheckAccess(need);
    return lock;
}

void CMemNode::CheckAccess(ENeed need) const {
    bool allowed = true;
    switch (need) {
        case ENeed::Nothing:
            break;
        case ENeed::Available:
            allowed = IsAvailable(m_access);
            break;
        case ENeed::Read:
            allowed = IsReadable(m_access);
            break;
        case ENeed::Write:
            allowed = IsWritable(m_access);
            break;
    }
    if (!allowed) {
        const std::string message = "node '" + m_name + "' is " + AccessName(m_access);
        GENICAM_THROW(AccessException, message.c_str());
    }
}

namespace {

// The value a selector selects by: an integer, an enumeration's integer, a boolean.
int64_t SelectorKey(const CMemNode& node) {
    if (auto* integer = dynamic_cast<const CIntegerNode*>(&node)) return integer->Load();
    if (auto* enumeration = dynamic_cast<const CEnumerationNode*>(&node))
        return enumeration->m_value;
    if (auto* boolean = dynamic_cast<const CBooleanNode*>(&node)) return boolean->m_value ? 1 : 0;
    return 0;
}

void SaveValue(const CMemNode& node, SMemSaved& saved) {
    if (auto* integer = dynamic_cast<const CIntegerNode*>(&node)) saved.number = integer->Load();
    if (auto* enumeration = dynamic_cast<const CEnumerationNode*>(&node))
        saved.number = enumeration->m_value;
    if (auto* boolean = dynamic_cast<const CBooleanNode*>(&node)) saved.number = boolean->m_value;
    if (auto* real = dynamic_cast<const CFloatNode*>(&node)) saved.real = real->m_value;
    if (auto* text = dynamic_cast<const CStringNode*>(&node)) saved.text = text->m_value;
}

void RestoreValue(CMemNode& node, const SMemSaved& saved) {
    if (auto* integer = dynamic_cast<CIntegerNode*>(&node)) integer->Store(saved.number);
    if (auto* enumeration = dynamic_cast<CEnumerationNode*>(&node))
        enumeration->m_value = saved.number;
    if (auto* boolean = dynamic_cast<CBooleanNode*>(&node)) boolean->m_value = saved.number != 0;
    if (auto* real = dynamic_cast<CFloatNode*>(&node)) real->m_value = saved.real;
    if (auto* text = dynamic_cast<CStringNode*>(&node)) text->m_value = saved.text;
}

}  // namespace

bool CMemNode::IsSelector() const {
    MapLock lock(m_map->mutex);
    return !m_selected.empty();
}

void CMemNode::GetSelectedFeatures(FeatureList_t& Features) const {
    MapLock lock(m_map->mutex);
    Features.clear();
    for (const std::string& name : m_selected)
        if (auto* value = dynamic_cast<IValue*>(m_map->Find(name))) Features.push_back(value);
}

void CMemNode::SetSelected(std::vector<std::string> names) {
    m_selected = std::move(names);
    m_selectedKey = SelectorKey(*this);
    m_selectedBank.clear();
    m_selectedDefaults.clear();
    for (const std::string& name : m_selected)
        if (CMemNode* node = m_map->Find(name)) SaveValue(*node, m_selectedDefaults[name]);
}

void CMemNode::Reselect(int depth) {
    // Selectors that select each other stop after a few rounds.
    if (m_selected.empty() || depth > 8) return;
    const int64_t key = SelectorKey(*this);
    if (key == m_selectedKey) return;
    std::map<std::string, SMemSaved>& left = m_selectedBank[m_selectedKey];
    for (const std::string& name : m_selected)
        if (CMemNode* node = m_map->Find(name)) SaveValue(*node, left[name]);
    const auto found = m_selectedBank.find(key);
    const std::map<std::string, SMemSaved>& next =
        found != m_selectedBank.end() ? found->second : m_selectedDefaults;
    m_selectedKey = key;
    for (const std::string& name : m_selected) {
        CMemNode* node = m_map->Find(name);
        const auto saved = next.find(name);
        if (!node || saved == next.end()) continue;
        RestoreValue(*node, saved->second);
        // A selector under a selector: its own selected values follow.
        if (node != this) node->Reselect(depth + 1);
    }
}

void CMemNode::NotifyWrite(MapLock& lock) {
    Reselect();
    std::function<void()> observer = m_onWrite;
    lock.unlock();
    if (observer) observer();
}

void CMemNode::NotifyExecute(MapLock& lock) const {
    std::function<void()> observer = m_onExecute;
    lock.unlock();
    if (observer) observer();
}

// ---------------------------------------------------------------------------
// CValueNode

gcstring CValueNode::ToString(bool, bool) {
    MapLock lock = Enter(EFaultOp::ToString, ENeed::Read);
    return m_text;
}

void CValueNode::FromString(const gcstring& ValueStr, bool) {
    MapLock lock = Enter(EFaultOp::FromString, ENeed::Write);
    m_text = ValueStr.str();
    NotifyWrite(lock);
}

// ---------------------------------------------------------------------------
// CBooleanNode

gcstring CBooleanNode::ToString(bool, bool) {
    MapLock lock = Enter(EFaultOp::ToString, ENeed::Read);
    return m_value ? "true" : "false";
}

void CBooleanNode::FromString(const gcstring& ValueStr, bool) {
    MapLock lock = Enter(EFaultOp::FromString, ENeed::Write);
    std::string text = Trimmed(ValueStr);
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (text == "true" || text == "1") {
        m_value = true;
    } else if (text == "false" || text == "0") {
        m_value = false;
    } else {
        const std::string message =
            "'" + ValueStr.str() + "' is not a boolean for node '" + Name() + "'";
        GENICAM_THROW(InvalidArgumentException, message.c_str());
    }
    NotifyWrite(lock);
}

void CBooleanNode::SetValue(bool Value, bool) {
    MapLock lock = Enter(EFaultOp::SetValue, ENeed::Write);
    m_value = Value;
    NotifyWrite(lock);
}

bool CBooleanNode::GetValue(bool, bool) const {
    MapLock lock = Enter(EFaultOp::GetValue, ENeed::Read);
    return m_value;
}

// ---------------------------------------------------------------------------
// CIntegerNode

CIntegerNode::CIntegerNode(CMemMapState* map, std::string name, int64_t min, int64_t max,
                           int64_t inc)
    : CMemValueNode(map, std::move(name)), m_min(min), m_max(max), m_inc(inc) {}

void CIntegerNode::CheckRange(int64_t value) const {
    if (value < m_min || value > m_max) {
        const std::string message = std::to_string(value) + " is outside [" +
                                    std::to_string(m_min) + ", " + std::to_string(m_max) +
                                    "] of node '" + Name() + "'";
        GENICAM_THROW(OutOfRangeException, message.c_str());
    }
    // value >= min here, so the unsigned difference is exact even across the whole
    // 64-bit range, where the signed one would overflow.
    const uint64_t offset = static_cast<uint64_t>(value) - static_cast<uint64_t>(m_min);
    if (offset % static_cast<uint64_t>(m_inc) != 0) {
        const std::string message = std::to_string(value) + " is not min + k * " +
                                    std::to_string(m_inc) + " for node '" + Name() + "'";
        GENICAM_THROW(OutOfRangeException, message.c_str());
    }
}

gcstring CIntegerNode::ToString(bool, bool) {
    MapLock lock = Enter(EFaultOp::ToString, ENeed::Read);
    return std::to_string(Load());
}

void CIntegerNode::FromString(const gcstring& ValueStr, bool) {
    MapLock lock = Enter(EFaultOp::FromString, ENeed::Write);
    const std::string text = Trimmed(ValueStr);
    const char* first = text.data();
    const char* last = text.data() + text.size();
    bool negative = false;
    if (first != last && (*first == '-' || *first == '+')) negative = *first++ == '-';
    int base = 10;
    if (last - first > 2 && first[0] == '0' && (first[1] == 'x' || first[1] == 'X')) {
        base = 16;
        first += 2;
    }
    uint64_t magnitude = 0;
    auto result = std::from_chars(first, last, magnitude, base);
    if (first == last || result.ec == std::errc::invalid_argument || result.ptr != last) {
        const std::string message =
            "'" + ValueStr.str() + "' is not an integer for node '" + Name() + "'";
        GENICAM_THROW(InvalidArgumentException, message.c_str());
    }
    const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
    if (result.ec == std::errc::result_out_of_range || magnitude > limit) {
        const std::string message = "'" + ValueStr.str() + "' does not fit node '" + Name() + "'";
        GENICAM_THROW(OutOfRangeException, message.c_str());
    }
    const int64_t value =
        negative ? static_cast<int64_t>(uint64_t{0} - magnitude) : static_cast<int64_t>(magnitude);
    CheckRange(value);
    Store(value);
    NotifyWrite(lock);
}

void CIntegerNode::SetValue(int64_t Value, bool) {
    MapLock lock = Enter(EFaultOp::SetValue, ENeed::Write);
    CheckRange(Value);
    Store(Value);
    NotifyWrite(lock);
}

int64_t CIntegerNode::GetValue(bool, bool) {
    MapLock lock = Enter(EFaultOp::GetValue, ENeed::Read);
    return Load();
}

int64_t CIntegerNode::GetMin() {
    MapLock lock = Enter(EFaultOp::GetMin, ENeed::Available);
    return m_min;
}

int64_t CIntegerNode::GetMax() {
    MapLock lock = Enter(EFaultOp::GetMax, ENeed::Available);
    return m_max;
}

EIncMode CIntegerNode::GetIncMode() {
    MapLock lock = Enter(EFaultOp::GetInc, ENeed::Available);
    return fixedIncrement;
}

int64_t CIntegerNode::GetInc() {
    MapLock lock = Enter(EFaultOp::GetInc, ENeed::Available);
    return m_inc;
}

// ---------------------------------------------------------------------------
// CFloatNode

CFloatNode::CFloatNode(CMemMapState* map, std::string name, double value, double min, double max,
                       SFloatInc inc)
    : CMemValueNode(map, std::move(name)), m_value(value), m_min(min), m_max(max), m_inc(inc) {}

void CFloatNode::CheckRange(double value) const {
    if (std::isnan(value) || value < m_min || value > m_max) {
        const std::string message = DoubleToText(value) + " is outside [" + DoubleToText(m_min) +
                                    ", " + DoubleToText(m_max) + "] of node '" + Name() + "'";
        GENICAM_THROW(OutOfRangeException, message.c_str());
    }
    if (!m_inc.hasInc || m_inc.mode != fixedIncrement || !(m_inc.inc > 0.0)) return;
    const double steps = (value - m_min) / m_inc.inc;
    if (!std::isfinite(steps)) return;
    // The grid is only as exact as the doubles that describe it: allow a small
    // relative slack so that min + k * inc computed by a caller is accepted.
    const double tolerance = std::max(1e-6, std::fabs(steps) * 1e-12);
    if (std::fabs(steps - std::nearbyint(steps)) > tolerance) {
        const std::string message = DoubleToText(value) + " is not min + k * " +
                                    DoubleToText(m_inc.inc) + " for node '" + Name() + "'";
        GENICAM_THROW(OutOfRangeException, message.c_str());
    }
}

gcstring CFloatNode::ToString(bool, bool) {
    MapLock lock = Enter(EFaultOp::ToString, ENeed::Read);
    return DoubleToText(m_value);
}

void CFloatNode::FromString(const gcstring& ValueStr, bool) {
    MapLock lock = Enter(EFaultOp::FromString, ENeed::Write);
    std::string text = Trimmed(ValueStr);
    // from_chars does not take the leading '+' that strtod-style input may carry.
    if (!text.empty() && text[0] == '+') text.erase(0, 1);
    double value = 0.0;
    auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        const std::string message =
            "'" + ValueStr.str() + "' is not a number for node '" + Name() + "'";
        GENICAM_THROW(InvalidArgumentException, message.c_str());
    }
    CheckRange(value);
    m_value = value;
    NotifyWrite(lock);
}

void CFloatNode::SetValue(double Value, bool) {
    MapLock lock = Enter(EFaultOp::SetValue, ENeed::Write);
    CheckRange(Value);
    m_value = Value;
    NotifyWrite(lock);
}

double CFloatNode::GetValue(bool, bool) {
    MapLock lock = Enter(EFaultOp::GetValue, ENeed::Read);
    return m_value;
}

double CFloatNode::GetMin() {
    MapLock lock = Enter(EFaultOp::GetMin, ENeed::Available);
    return m_min;
}

double CFloatNode::GetMax() {
    MapLock lock = Enter(EFaultOp::GetMax, ENeed::Available);
    return m_max;
}

bool CFloatNode::HasInc() {
    MapLock lock = Enter(EFaultOp::GetInc, ENeed::Available);
    return m_inc.hasInc;
}

EIncMode CFloatNode::GetIncMode() {
    MapLock lock = Enter(EFaultOp::GetInc, ENeed::Available);
    return m_inc.hasInc ? m_inc.mode : noIncrement;
}

double CFloatNode::GetInc() {
    MapLock lock = Enter(EFaultOp::GetInc, ENeed::Available);
    return m_inc.hasInc ? m_inc.inc : 0.0;
}

// ---------------------------------------------------------------------------
// CStringNode

void CStringNode::CheckLength(const std::string& value) const {
    if (static_cast<int64_t>(value.size()) > m_maxLength) {
        const std::string message = "string of " + std::to_string(value.size()) +
                                    " bytes exceeds the maximum " + std::to_string(m_maxLength) +
                                    " of node '" + Name() + "'";
        GENICAM_THROW(OutOfRangeException, message.c_str());
    }
}

gcstring CStringNode::ToString(bool, bool) {
    MapLock lock = Enter(EFaultOp::ToString, ENeed::Read);
    return m_value;
}

void CStringNode::FromString(const gcstring& ValueStr, bool) {
    MapLock lock = Enter(EFaultOp::FromString, ENeed::Write);
    CheckLength(ValueStr.str());
    m_value = ValueStr.str();
    NotifyWrite(lock);
}

void CStringNode::SetValue(const gcstring& Value, bool) {
    MapLock lock = Enter(EFaultOp::SetValue, ENeed::Write);
    CheckLength(Value.str());
    m_value = Value.str();
    NotifyWrite(lock);
}

gcstring CStringNode::GetValue(bool, bool) {
    MapLock lock = Enter(EFaultOp::GetValue, ENeed::Read);
    return m_value;
}

int64_t CStringNode::GetMaxLength() {
    MapLock lock = Enter(EFaultOp::GetMax, ENeed::Available);
    return m_maxLength;
}

// ---------------------------------------------------------------------------
// CEnumEntryNode

gcstring CEnumEntryNode::ToString(bool, bool) {
    MapLock lock = Enter(EFaultOp::ToString, ENeed::Available);
    return m_symbolic;
}

void CEnumEntryNode::FromString(const gcstring&, bool) {
    MapLock lock = Enter(EFaultOp::FromString, ENeed::Available);
    const std::string message = "enumeration entry '" + Name() + "' cannot be written";
    GENICAM_THROW(AccessException, message.c_str());
}

int64_t CEnumEntryNode::GetValue() {
    MapLock lock = Enter(EFaultOp::GetValue, ENeed::Available);
    return m_value;
}

// ---------------------------------------------------------------------------
// CEnumerationNode

CEnumEntryNode* CEnumerationNode::EntryBySymbolic(const std::string& symbolic) const {
    for (CEnumEntryNode* entry : m_entries) {
        if (entry->m_symbolic == symbolic) return entry;
    }
    return nullptr;
}

CEnumEntryNode* CEnumerationNode::EntryByValue(int64_t value) const {
    for (CEnumEntryNode* entry : m_entries) {
        if (entry->m_value == value) return entry;
    }
    return nullptr;
}

void CEnumerationNode::CheckSelectable(const CEnumEntryNode& entry) {
    // Read the field directly: the entry's public GetAccessMode would count calls
    // and fire faults meant for the caller's own probes.
    if (!IsAvailable(entry.AccessUnchecked())) {
        const std::string message = "enumeration entry '" + entry.Name() + "' is not available";
        GENICAM_THROW(AccessException, message.c_str());
    }
}

gcstring CEnumerationNode::ToString(bool, bool) {
    MapLock lock = Enter(EFaultOp::ToString, ENeed::Read);
    const CEnumEntryNode* entry = EntryByValue(m_value);
    if (!entry) {
        const std::string message =
            "value " + std::to_string(m_value) + " of node '" + Name() + "' has no entry";
        GENICAM_THROW(LogicalErrorException, message.c_str());
    }
    return entry->m_symbolic;
}

void CEnumerationNode::FromString(const gcstring& ValueStr, bool) {
    MapLock lock = Enter(EFaultOp::FromString, ENeed::Write);
    const CEnumEntryNode* entry = EntryBySymbolic(ValueStr.str());
    if (!entry) {
        const std::string message =
            "'" + ValueStr.str() + "' is not an entry of node '" + Name() + "'";
        GENICAM_THROW(InvalidArgumentException, message.c_str());
    }
    CheckSelectable(*entry);
    m_value = entry->m_value;
    NotifyWrite(lock);
}

void CEnumerationNode::GetSymbolics(gcstring_vector& Symbolics) {
    MapLock lock = Enter(EFaultOp::GetSymbolics, ENeed::Available);
    Symbolics.clear();
    for (const CEnumEntryNode* entry : m_entries) {
        if (IsAvailable(entry->AccessUnchecked())) Symbolics.emplace_back(entry->m_symbolic);
    }
}

void CEnumerationNode::GetEntries(NodeList_t& Entries) {
    MapLock lock(Map()->mutex);
    Entries.assign(m_entries.begin(), m_entries.end());
}

void CEnumerationNode::SetIntValue(int64_t Value, bool) {
    MapLock lock = Enter(EFaultOp::SetValue, ENeed::Write);
    const CEnumEntryNode* entry = EntryByValue(Value);
    if (!entry) {
        const std::string message =
            std::to_string(Value) + " is not an entry of node '" + Name() + "'";
        GENICAM_THROW(OutOfRangeException, message.c_str());
    }
    CheckSelectable(*entry);
    m_value = Value;
    NotifyWrite(lock);
}

int64_t CEnumerationNode::GetIntValue(bool, bool) {
    MapLock lock = Enter(EFaultOp::GetValue, ENeed::Read);
    return m_value;
}

IEnumEntry* CEnumerationNode::GetEntryByName(const gcstring& Symbolic) {
    MapLock lock(Map()->mutex);
    return EntryBySymbolic(Symbolic.str());
}

IEnumEntry* CEnumerationNode::GetCurrentEntry(bool, bool) {
    MapLock lock = Enter(EFaultOp::GetValue, ENeed::Read);
    return EntryByValue(m_value);
}

// ---------------------------------------------------------------------------
// CCommandNode

gcstring CCommandNode::ToString(bool, bool) {
    MapLock lock = Enter(EFaultOp::ToString, ENeed::Available);
    const std::string message = "command '" + Name() + "' has no value to read";
    GENICAM_THROW(LogicalErrorException, message.c_str());
}

void CCommandNode::FromString(const gcstring&, bool) {
    MapLock lock = Enter(EFaultOp::FromString, ENeed::Available);
    const std::string message = "command '" + Name() + "' has no value to write";
    GENICAM_THROW(LogicalErrorException, message.c_str());
}

void CCommandNode::Execute(bool) {
    MapLock lock = Enter(EFaultOp::Execute, ENeed::Write);
    m_everExecuted = true;
    m_pollsLeft = m_param;
    m_lastExecute = std::chrono::steady_clock::now();
    ++m_executed;
    NotifyExecute(lock);
}

bool CCommandNode::IsDone(bool) {
    MapLock lock = Enter(EFaultOp::IsDone, ENeed::Available);
    switch (m_completion) {
        case ECommandCompletion::Immediate:
            return true;
        case ECommandCompletion::Never:
            return false;
        case ECommandCompletion::AfterPolls:
            if (m_pollsLeft > 0) {
                --m_pollsLeft;
                return false;
            }
            return true;
        case ECommandCompletion::AfterDelay:
            return !m_everExecuted || std::chrono::steady_clock::now() - m_lastExecute >=
                                          std::chrono::milliseconds(m_param);
    }
    return true;
}

void CCommandNode::SetCompletion(ECommandCompletion completion, int64_t param) {
    m_completion = completion;
    m_param = param;
    m_pollsLeft = 0;
}

// ---------------------------------------------------------------------------
// Registers

namespace {

void CheckBuffer(const std::string& node, const void* buffer, int64_t length, int64_t expected) {
    if (length != expected) {
        const std::string message = "register '" + node + "' is " + std::to_string(expected) +
                                    " bytes long, not " + std::to_string(length);
        GENICAM_THROW(InvalidArgumentException, message.c_str());
    }
    if (!buffer && length > 0) {
        const std::string message = "null buffer for register '" + node + "'";
        GENICAM_THROW(InvalidArgumentException, message.c_str());
    }
}

std::string BytesToHex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text = "0x";
    for (uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 0xF];
    }
    return text;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

gcstring CRegisterNode::ToString(bool, bool) {
    MapLock lock = Enter(EFaultOp::ToString, ENeed::Read);
    return BytesToHex(m_bytes);
}

void CRegisterNode::FromString(const gcstring& ValueStr, bool) {
    MapLock lock = Enter(EFaultOp::FromString, ENeed::Write);
    std::string text = Trimmed(ValueStr);
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.erase(0, 2);
    std::vector<uint8_t> bytes(text.size() / 2);
    bool valid = text.size() == 2 * m_bytes.size();
    for (std::size_t i = 0; valid && i < bytes.size(); ++i) {
        const int high = HexDigit(text[2 * i]);
        const int low = HexDigit(text[2 * i + 1]);
        valid = high >= 0 && low >= 0;
        if (valid) bytes[i] = static_cast<uint8_t>(high << 4 | low);
    }
    if (!valid) {
        const std::string message = "'" + ValueStr.str() + "' is not " +
                                    std::to_string(m_bytes.size()) + " hex bytes for register '" +
                                    Name() + "'";
        GENICAM_THROW(InvalidArgumentException, message.c_str());
    }
    m_bytes = std::move(bytes);
    NotifyWrite(lock);
}

void CRegisterNode::Set(const uint8_t* pBuffer, int64_t Length, bool) {
    MapLock lock = Enter(EFaultOp::RegisterSet, ENeed::Write);
    CheckBuffer(Name(), pBuffer, Length, static_cast<int64_t>(m_bytes.size()));
    if (Length > 0) std::memcpy(m_bytes.data(), pBuffer, m_bytes.size());
    NotifyWrite(lock);
}

void CRegisterNode::Get(uint8_t* pBuffer, int64_t Length, bool, bool) {
    MapLock lock = Enter(EFaultOp::RegisterGet, ENeed::Read);
    CheckBuffer(Name(), pBuffer, Length, static_cast<int64_t>(m_bytes.size()));
    if (Length > 0) std::memcpy(pBuffer, m_bytes.data(), m_bytes.size());
}

int64_t CRegisterNode::GetLength() {
    MapLock lock = Guard(ENeed::Nothing);
    return static_cast<int64_t>(m_bytes.size());
}

int64_t CRegisterNode::GetAddress() {
    MapLock lock(Map()->mutex);
    return m_address;
}

CIntRegNode::CIntRegNode(CMemMapState* map, std::string name, int64_t min, int64_t max,
                         int64_t length, int64_t address)
    : CIntegerNode(map, std::move(name), min, max, 1),
      m_bytes(static_cast<std::size_t>(length)),
      m_address(address),
      m_signed(min < 0) {}

int64_t CIntRegNode::Load() const {
    uint64_t raw = 0;
    for (std::size_t i = m_bytes.size(); i-- > 0;) raw = raw << 8 | m_bytes[i];
    const unsigned bits = static_cast<unsigned>(8 * m_bytes.size());
    if (m_signed && bits < 64 && (raw >> (bits - 1) & 1)) raw |= ~uint64_t{0} << bits;
    return static_cast<int64_t>(raw);
}

void CIntRegNode::Store(int64_t value) {
    uint64_t raw = static_cast<uint64_t>(value);
    for (uint8_t& b : m_bytes) {
        b = static_cast<uint8_t>(raw & 0xFF);
        raw >>= 8;
    }
}

void CIntRegNode::Set(const uint8_t* pBuffer, int64_t Length, bool) {
    MapLock lock = Enter(EFaultOp::RegisterSet, ENeed::Write);
    CheckBuffer(Name(), pBuffer, Length, static_cast<int64_t>(m_bytes.size()));
    std::memcpy(m_bytes.data(), pBuffer, m_bytes.size());
    NotifyWrite(lock);
}

void CIntRegNode::Get(uint8_t* pBuffer, int64_t Length, bool, bool) {
    MapLock lock = Enter(EFaultOp::RegisterGet, ENeed::Read);
    CheckBuffer(Name(), pBuffer, Length, static_cast<int64_t>(m_bytes.size()));
    std::memcpy(pBuffer, m_bytes.data(), m_bytes.size());
}

int64_t CIntRegNode::GetLength() {
    MapLock lock(Map()->mutex);
    return static_cast<int64_t>(m_bytes.size());
}

int64_t CIntRegNode::GetAddress() {
    MapLock lock(Map()->mutex);
    return m_address;
}

// ---------------------------------------------------------------------------
// CCategoryNode

gcstring CCategoryNode::ToString(bool, bool) {
    MapLock lock = Enter(EFaultOp::ToString, ENeed::Available);
    const std::string message = "category '" + Name() + "' has no value to read";
    GENICAM_THROW(LogicalErrorException, message.c_str());
}

void CCategoryNode::FromString(const gcstring&, bool) {
    MapLock lock = Enter(EFaultOp::FromString, ENeed::Available);
    const std::string message = "category '" + Name() + "' has no value to write";
    GENICAM_THROW(LogicalErrorException, message.c_str());
}

void CCategoryNode::GetFeatures(FeatureList_t& Features) const {
    MapLock lock = Guard(ENeed::Available);
    Features.clear();
    for (const std::string& name : m_features) {
        if (auto* value = dynamic_cast<IValue*>(Map()->Find(name))) Features.push_back(value);
    }
}

// ---------------------------------------------------------------------------
// CPortNode

void CPortNode::CheckSpan(const void* pBuffer, int64_t Address, int64_t Length) const {
    if (Length < 0 || (!pBuffer && Length > 0)) {
        const std::string message = "bad buffer for port '" + Name() + "'";
        GENICAM_THROW(InvalidArgumentException, message.c_str());
    }
    const auto size = static_cast<int64_t>(m_memory.size());
    if (Address < 0 || Address > size || Length > size - Address) {
        const std::string message = "span [" + std::to_string(Address) + ", +" +
                                    std::to_string(Length) + ") is outside port '" + Name() + "'";
        GENICAM_THROW(OutOfRangeException, message.c_str());
    }
}

void CPortNode::Read(void* pBuffer, int64_t Address, int64_t Length) {
    MapLock lock = Enter(EFaultOp::RegisterGet, ENeed::Read);
    CheckSpan(pBuffer, Address, Length);
    if (Length > 0)
        std::memcpy(pBuffer, m_memory.data() + Address, static_cast<std::size_t>(Length));
}

void CPortNode::Write(const void* pBuffer, int64_t Address, int64_t Length) {
    MapLock lock = Enter(EFaultOp::RegisterSet, ENeed::Write);
    CheckSpan(pBuffer, Address, Length);
    if (Length > 0)
        std::memcpy(m_memory.data() + Address, pBuffer, static_cast<std::size_t>(Length));
    NotifyWrite(lock);
}

}  // namespace GenApi
