// The evaluation core every engine node shares: queries and their epochs, the
// access rules, value memos, invalidation after writes, and value sources.
#include <algorithm>
#include <cstring>
#include <string>

#include "EngineNodes.h"

namespace GenApi::engine {

namespace {

const char* AccessText(EAccessMode mode) {
    switch (mode) {
        case NI:
            return "NI";
        case NA:
            return "NA";
        case WO:
            return "WO";
        case RO:
            return "RO";
        case RW:
            return "RW";
        default:
            return "undefined";
    }
}

}  // namespace

EAccessMode CombineAccess(EAccessMode a, EAccessMode b) {
    if (a == NI || b == NI) return NI;
    if (a == NA || b == NA) return NA;
    if (a == RW) return b;
    if (b == RW) return a;
    return a == b ? a : NA;  // RO with WO
}

void ThrowAccess(const CEngNode& node, const char* what) {
    const std::string message = "node '" + node.Name() + "' " + what;
    GENICAM_THROW(AccessException, message.c_str());
}

// ---------------------------------------------------------------------------
// SMapState

void SMapState::InvalidateOverlapping(const CPortNode* port, int64_t address, int64_t length,
                                      const SRegSlot* keep) {
    const uint64_t begin = static_cast<uint64_t>(address);
    const uint64_t end = begin + static_cast<uint64_t>(length);
    for (const auto& slot : slots) {
        if (slot.get() == keep || !slot->valid || slot->port != port) continue;
        const uint64_t b = static_cast<uint64_t>(slot->address);
        const uint64_t e = b + slot->bytes.size();
        if (b < end && begin < e) slot->valid = false;
    }
}

void SMapState::InvalidateBelow(CEngNode* node, bool uncache) {
    if (walkMark.size() != storage.size()) walkMark.assign(storage.size(), 0);
    if (++walkStamp == 0) {
        std::fill(walkMark.begin(), walkMark.end(), 0);
        walkStamp = 1;
    }
    walkStack.clear();
    walkStack.push_back(node);
    while (!walkStack.empty()) {
        CEngNode* n = walkStack.back();
        walkStack.pop_back();
        if (walkMark[n->m_index] == walkStamp) continue;
        walkMark[n->m_index] = walkStamp;
        if (n->m_slot) {
            n->m_slot->valid = false;
            if (uncache) n->m_slot->cacheable = false;
        }
        for (uint32_t i = depBegin[n->m_index]; i < depBegin[n->m_index + 1]; ++i) {
            if (walkMark[deps[i]->m_index] != walkStamp) walkStack.push_back(deps[i]);
        }
    }
}

void SMapState::InvalidateAfterWrite(CEngNode* node) {
    if (!node->m_selected.empty()) {
        // Selectors of selectors: a bounded walk over pSelected alone (its cycles
        // are refused at load).
        std::vector<CEngNode*> pending(node->m_selected.begin(), node->m_selected.end());
        std::size_t steps = 0;
        while (!pending.empty() && steps++ < storage.size()) {
            CEngNode* selected = pending.back();
            pending.pop_back();
            InvalidateBelow(selected);
            pending.insert(pending.end(), selected->m_selected.begin(), selected->m_selected.end());
        }
    }
    if (invalidatedBy.empty()) return;
    auto it = invalidatedBy.find(node);
    if (it == invalidatedBy.end()) return;
    for (CEngNode* holder : it->second) InvalidateBelow(holder);
}

// ---------------------------------------------------------------------------
// CQuery, CDepth

CQuery::CQuery(const CEngNode* node, bool ignoreCache, bool allowDetached)
    : m_map(node->Map()), m_lock(m_map->mutex), m_outer(m_map->queryDepth == 0) {
    if (m_map->detached && !allowDetached) ThrowAccess(*node, "belongs to a closed device");
    if (m_outer) {
        if (++m_map->epoch == 0) {
            for (const auto& n : m_map->storage) n->ResetMemo();
            m_map->epoch = 1;
        }
        m_map->ignoreCache = ignoreCache;
        m_map->depth = 0;
    }
    ++m_map->queryDepth;
}

CQuery::~CQuery() {
    --m_map->queryDepth;
}

CDepth::CDepth(const CEngNode* node) : m_map(node->Map()) {
    if (m_map->depth >= kMaxEvalDepth) {
        const std::string message = "evaluating node '" + node->Name() + "' nests deeper than " +
                                    std::to_string(kMaxEvalDepth) + " nodes";
        GENICAM_THROW(RuntimeException, message.c_str());
    }
    ++m_map->depth;
}

CDepth::~CDepth() {
    --m_map->depth;
}

// ---------------------------------------------------------------------------
// CEngNode

CEngNode::CEngNode(SMapState* map, std::string name) : m_map(map), m_name(std::move(name)) {}

CEngNode::~CEngNode() = default;

EAccessMode CEngNode::GetAccessMode() const {
    CQuery query(this, false, true);
    return const_cast<CEngNode*>(this)->Access();
}

gcstring CEngNode::GetName(bool) const {
    return m_name;
}

bool CEngNode::IsFeature() const {
    return m_isFeature;
}

gcstring CEngNode::GetDisplayName() const {
    return m_texts && !m_texts->displayName.empty() ? m_texts->displayName : m_name;
}

gcstring CEngNode::GetDescription() const {
    return m_texts ? m_texts->description : std::string();
}

gcstring CEngNode::GetToolTip() const {
    if (!m_texts) return {};
    return m_texts->toolTip.empty() ? m_texts->description : m_texts->toolTip;
}

EVisibility CEngNode::GetVisibility() const {
    return m_visibility;
}

void CEngNode::GetSelectedFeatures(FeatureList_t& Features) const {
    Features.clear();
    for (CEngNode* node : m_selected)
        if (auto* value = dynamic_cast<IValue*>(node)) Features.push_back(value);
}

EAccessMode CEngNode::Access() {
    if (m_map->detached) return NA;
    const uint32_t stamp = m_staticAccess ? m_map->accessGeneration : m_map->epoch;
    if (m_accessEpoch == stamp) return m_accessMemo;
    CDepth depth(this);
    EAccessMode mode = RW;
    if (m_pIsImplemented &&
        (!IsReadable(m_pIsImplemented->Access()) || m_pIsImplemented->Value().AsInt() == 0)) {
        mode = NI;
    } else if (m_pIsAvailable &&
               (!IsReadable(m_pIsAvailable->Access()) || m_pIsAvailable->Value().AsInt() == 0)) {
        mode = NA;
    } else {
        mode = CombineAccess(OwnAccess(), m_imposed);
        if (m_pIsLocked && IsWritable(mode)) {
            const bool locked =
                !IsReadable(m_pIsLocked->Access()) || m_pIsLocked->Value().AsInt() != 0;
            if (locked) mode = mode == RW ? RO : NA;
        }
    }
    m_accessEpoch = stamp;
    m_accessMemo = mode;
    return mode;
}

Num CEngNode::Value() {
    if (m_valueEpoch == m_map->epoch) return m_valueMemo;
    CDepth depth(this);
    const Num v = Read();
    m_valueEpoch = m_map->epoch;
    m_valueMemo = v;
    return v;
}

void CEngNode::Write(Num v, bool verify) {
    CDepth depth(this);
    Store(v, verify);
    Written(verify);
}

void CEngNode::Written(bool verify) {
    if (++m_map->epoch == 0) m_map->epoch = 1;
    m_map->InvalidateAfterWrite(this);
    if (verify) CheckError();
}

bool CEngNode::IsCached() {
    CDepth depth(this);
    return CacheValid();
}

Num CEngNode::Min() {
    return Num::Int(INT64_MIN);
}

Num CEngNode::Max() {
    return Num::Int(INT64_MAX);
}

Num CEngNode::Inc() {
    return Num::Int(1);
}

EIncMode CEngNode::IncMode() {
    return fixedIncrement;
}

bool CEngNode::CacheValid() {
    return true;
}

void CEngNode::CollectDeps(SEdges& out) const {
    for (CEngNode* n : {m_pIsImplemented, m_pIsAvailable, m_pIsLocked}) out.Add(kAccess, kValue, n);
    out.Add(kWrite, kAccess, m_pError);
    out.Add(kWrite, kValue, m_pError);
}

Num CEngNode::Read() {
    Fail("has no numeric value");
}

void CEngNode::Store(Num, bool) {
    Fail("has no numeric value to write");
}

void CEngNode::RequireReadable() {
    const EAccessMode mode = Access();
    if (IsReadable(mode)) return;
    const std::string what = std::string("is not readable (") + AccessText(mode) + ")";
    ThrowAccess(*this, what.c_str());
}

void CEngNode::RequireWritable() {
    const EAccessMode mode = Access();
    if (IsWritable(mode)) return;
    const std::string what = std::string("is not writable (") + AccessText(mode) + ")";
    ThrowAccess(*this, what.c_str());
}

void CEngNode::RequireAvailable() {
    const EAccessMode mode = Access();
    if (IsAvailable(mode)) return;
    const std::string what = std::string("is not available (") + AccessText(mode) + ")";
    ThrowAccess(*this, what.c_str());
}

void CEngNode::Fail(const std::string& message) const {
    const std::string text = "node '" + m_name + "' " + message;
    GENICAM_THROW(RuntimeException, text.c_str());
}

void CEngNode::CheckError() {
    if (!m_pError || !IsReadable(m_pError->Access())) return;
    const int64_t code = m_pError->Value().AsInt();
    if (code == 0) return;
    std::string what = std::to_string(code);
    if (auto* errors = dynamic_cast<CEnumerationNode*>(m_pError)) {
        if (CEnumEntryNode* entry = errors->EntryByValue(code)) what = entry->m_symbolic;
    }
    Fail("reports the error " + what + " after a write");
}

bool CEngValue::IsValueCacheValid() const {
    CQuery query(this, false, true);
    if (Map()->detached) return false;
    return const_cast<CEngValue*>(this)->IsCached();
}

// ---------------------------------------------------------------------------
// SValueSource

CEngNode* SValueSource::Target(CEngNode& owner, Num** slot) {
    *slot = nullptr;
    if (pValue) return pValue;
    if (!pIndex) {
        *slot = &value;
        return nullptr;
    }
    const int64_t index = pIndex->Value().AsInt();
    for (SIndexed& entry : indexed) {
        if (entry.index != index) continue;
        if (entry.node) return entry.node;
        *slot = &entry.value;
        return nullptr;
    }
    if (pDefault) return pDefault;
    if (hasDefault) {
        *slot = &defaultValue;
        return nullptr;
    }
    const std::string message =
        "node '" + owner.Name() + "' has no value for index " + std::to_string(index);
    GENICAM_THROW(OutOfRangeException, message.c_str());
}

EAccessMode SValueSource::Access(CEngNode& owner) {
    if (pValue) return pValue->Access();
    if (!pIndex) return RW;
    if (!IsReadable(pIndex->Access())) return NA;
    const int64_t index = pIndex->Value().AsInt();
    for (const SIndexed& entry : indexed) {
        if (entry.index == index) return entry.node ? entry.node->Access() : RW;
    }
    if (pDefault) return pDefault->Access();
    (void)owner;
    return hasDefault ? RW : NA;
}

Num SValueSource::Read(CEngNode& owner) {
    Num* slot = nullptr;
    CEngNode* target = Target(owner, &slot);
    return target ? target->Value() : *slot;
}

void SValueSource::Write(CEngNode& owner, Num v, bool verify) {
    Num* slot = nullptr;
    CEngNode* target = Target(owner, &slot);
    if (target) {
        target->Write(target->IsInteger() ? Num::Int(v.AsInt()) : Num::Float(v.AsFloat()), verify);
    } else {
        *slot = owner.IsInteger() ? Num::Int(v.AsInt()) : Num::Float(v.AsFloat());
    }
    for (CEngNode* copy : copies) {
        copy->Write(copy->IsInteger() ? Num::Int(v.AsInt()) : Num::Float(v.AsFloat()), verify);
    }
}

bool SValueSource::CacheValid(CEngNode& owner) {
    if (pIndex && !pIndex->IsCached()) return false;
    Num* slot = nullptr;
    CEngNode* target = Target(owner, &slot);
    return !target || target->IsCached();
}

void SValueSource::CollectDeps(SEdges& out) const {
    for (EAspect aspect : {kValue, kAccess, kWrite}) {
        out.Add(aspect, kValue, pIndex);
        out.Add(aspect, aspect, pValue);
        out.Add(aspect, aspect, pDefault);
        for (const SIndexed& entry : indexed) out.Add(aspect, aspect, entry.node);
    }
    out.Add(kAccess, kAccess, pIndex);
    // Ranges follow pValue when the node has no range of its own.
    out.Add(kRange, kRange, pValue);
    for (CEngNode* copy : copies) out.Add(kWrite, kWrite, copy);
}

// ---------------------------------------------------------------------------
// Node, Category

gcstring CPlainNode::ToString(bool, bool) {
    CQuery query(this);
    Fail("has no value to read");
}

void CPlainNode::FromString(const gcstring&, bool) {
    CQuery query(this);
    Fail("has no value to write");
}

gcstring CCategoryNode::ToString(bool, bool) {
    CQuery query(this);
    const std::string message = "category '" + Name() + "' has no value to read";
    GENICAM_THROW(LogicalErrorException, message.c_str());
}

void CCategoryNode::FromString(const gcstring&, bool) {
    CQuery query(this);
    const std::string message = "category '" + Name() + "' has no value to write";
    GENICAM_THROW(LogicalErrorException, message.c_str());
}

void CCategoryNode::GetFeatures(FeatureList_t& Features) const {
    CQuery query(this, false, true);
    Features.clear();
    Features.reserve(m_features.size());
    for (CEngNode* feature : m_features) {
        if (auto* value = dynamic_cast<IValue*>(feature)) Features.push_back(value);
    }
}

}  // namespace GenApi::engine
