// Integer, Float, Boolean, Command, Enumeration, EnumEntry and String nodes, and
// the formula nodes (SwissKnife, IntSwissKnife, Converter, IntConverter).
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "EngineNodes.h"
#include "EngineText.h"

namespace GenApi::engine {

namespace {

[[noreturn]] void OutOfRange(const CEngNode& node, const std::string& what) {
    const std::string message = "node '" + node.Name() + "': " + what;
    GENICAM_THROW(OutOfRangeException, message.c_str());
}

[[noreturn]] void InvalidArgument(const CEngNode& node, const std::string& what) {
    const std::string message = "node '" + node.Name() + "': " + what;
    GENICAM_THROW(InvalidArgumentException, message.c_str());
}

/// A float rounded to the nearest int64, saturating (NaN gives 0).
int64_t RoundToInt(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 9.2233720368547758e18) return INT64_MAX;
    if (v <= -9.2233720368547758e18) return INT64_MIN;
    return static_cast<int64_t>(std::llround(v));
}

}  // namespace

// ---------------------------------------------------------------------------
// CIntegerBase

gcstring CIntegerBase::ToString(bool Verify, bool IgnoreCache) {
    return std::to_string(GetValue(Verify, IgnoreCache));
}

void CIntegerBase::FromString(const gcstring& ValueStr, bool Verify) {
    int64_t v = 0;
    if (!ParseInt64(ValueStr.str(), v)) {
        CQuery query(this);
        InvalidArgument(*this, "'" + ValueStr.str() + "' is not an integer");
    }
    SetValue(v, Verify);
}

void CIntegerBase::SetValue(int64_t Value, bool Verify) {
    CQuery query(this);
    RequireWritable();
    if (Verify) CheckRange(Value);
    Write(Num::Int(Value), Verify);
}

int64_t CIntegerBase::GetValue(bool Verify, bool IgnoreCache) {
    CQuery query(this, IgnoreCache);
    RequireReadable();
    const int64_t v = Value().AsInt();
    if (Verify) CheckRange(v);
    return v;
}

int64_t CIntegerBase::GetMin() {
    CQuery query(this);
    RequireAvailable();
    return Min().AsInt();
}

int64_t CIntegerBase::GetMax() {
    CQuery query(this);
    RequireAvailable();
    return Max().AsInt();
}

EIncMode CIntegerBase::GetIncMode() {
    CQuery query(this);
    return m_validValues.empty() ? IncMode() : listIncrement;
}

int64_t CIntegerBase::GetInc() {
    CQuery query(this);
    RequireAvailable();
    return Inc().AsInt();
}

gcstring CIntegerBase::GetUnit() const {
    return m_texts ? m_texts->unit : std::string();
}

void CIntegerBase::CheckRange(int64_t v) {
    const int64_t min = Min().AsInt();
    const int64_t max = Max().AsInt();
    if (v < min || v > max) {
        OutOfRange(*this, std::to_string(v) + " is outside [" + std::to_string(min) + ", " +
                              std::to_string(max) + "]");
    }
    const int64_t inc = Inc().AsInt();
    // v >= min, so the difference fits in uint64 exactly even for min = INT64_MIN.
    const uint64_t offset = static_cast<uint64_t>(v) - static_cast<uint64_t>(min);
    if (inc > 1 && offset % static_cast<uint64_t>(inc) != 0) {
        OutOfRange(*this, std::to_string(v) + " is not " + std::to_string(min) +
                              " plus a multiple of " + std::to_string(inc));
    }
    if (!m_validValues.empty() &&
        std::find(m_validValues.begin(), m_validValues.end(), v) == m_validValues.end()) {
        OutOfRange(*this, std::to_string(v) + " is not in the valid value set");
    }
}

// ---------------------------------------------------------------------------
// CIntegerNode

Num CIntegerNode::Min() {
    CDepth depth(this);
    if (m_pMin) return Num::Int(m_pMin->Value().AsInt());
    if (m_hasMin) return Num::Int(m_min);
    if (m_source.pValue) return Num::Int(m_source.pValue->Min().AsInt());
    return Num::Int(INT64_MIN);
}

Num CIntegerNode::Max() {
    CDepth depth(this);
    if (m_pMax) return Num::Int(m_pMax->Value().AsInt());
    if (m_hasMax) return Num::Int(m_max);
    if (m_source.pValue) return Num::Int(m_source.pValue->Max().AsInt());
    return Num::Int(INT64_MAX);
}

Num CIntegerNode::Inc() {
    CDepth depth(this);
    int64_t inc = 1;
    if (m_pInc) {
        inc = m_pInc->Value().AsInt();
    } else if (m_hasInc) {
        inc = m_inc;
    } else if (m_source.pValue && m_source.pValue->IsInteger()) {
        inc = m_source.pValue->Inc().AsInt();
    }
    return Num::Int(inc < 1 ? 1 : inc);
}

EIncMode CIntegerNode::IncMode() {
    return fixedIncrement;
}

void CIntegerNode::CollectDeps(SEdges& out) const {
    CEngNode::CollectDeps(out);
    m_source.CollectDeps(out);
    for (CEngNode* n : {m_pMin, m_pMax, m_pInc}) out.Add(kRange, kValue, n);
}

// ---------------------------------------------------------------------------
// Formulas

namespace {

struct SEvalContext {
    const SFormulaVars* vars;
    Num extra;
    bool integerMode;

    Num Get(size_t i) const;
    Num Run(const CFormula& formula) const {
        // Captures one pointer: std::function keeps it without allocating.
        return formula.Evaluate([this](size_t index) { return Get(index); }, integerMode);
    }
};

Num SEvalContext::Get(size_t i) const {
    const std::size_t nv = vars->variables.size();
    const std::size_t nc = vars->constants.size();
    const std::size_t ne = vars->expressions.size();
    if (i < nv) return vars->variables[i]->Value();
    if (i < nv + nc) return vars->constants[i - nv];
    if (i < nv + nc + ne) {
        const auto& expression = vars->expressions[i - nv - nc];
        CDepth depth(vars->owner);
        return Run(*expression);
    }
    return extra;
}

}  // namespace

Num SFormulaVars::Evaluate(const CFormula& formula, bool integerMode, Num extra) const {
    const SEvalContext context{this, extra, integerMode};
    return context.Run(formula);
}

EAccessMode SFormulaVars::Access() const {
    for (CEngNode* variable : variables) {
        if (!IsReadable(variable->Access())) return NA;
    }
    return RW;
}

bool SFormulaVars::CacheValid() const {
    for (CEngNode* variable : variables) {
        if (!variable->IsCached()) return false;
    }
    return true;
}

Num CIntSwissKnifeNode::Read() {
    return Num::Int(m_vars.Evaluate(*m_formula, true, {}).AsInt());
}

void CIntSwissKnifeNode::CollectDeps(SEdges& out) const {
    CEngNode::CollectDeps(out);
    for (CEngNode* v : m_vars.variables) {
        out.Add(kValue, kValue, v);
        out.Add(kAccess, kAccess, v);
    }
}

Num CSwissKnifeNode::Read() {
    return Num::Float(m_vars.Evaluate(*m_formula, false, {}).AsFloat());
}

void CSwissKnifeNode::CollectDeps(SEdges& out) const {
    CEngNode::CollectDeps(out);
    for (CEngNode* v : m_vars.variables) {
        out.Add(kValue, kValue, v);
        out.Add(kAccess, kAccess, v);
    }
}

EAccessMode SConverter::Access() const {
    return CombineAccess(pValue->Access(), vars.Access());
}

Num SConverter::Read(bool integerMode) const {
    const Num r = vars.Evaluate(*from, integerMode, pValue->Value());
    return integerMode ? Num::Int(r.AsInt()) : Num::Float(r.AsFloat());
}

void SConverter::Write(Num v, bool integerMode, bool verify) const {
    const Num r = vars.Evaluate(*to, integerMode, v);
    // A float result lands on the nearest integer of an integer target: 100 / 0.1
    // must give 1000, not 999.
    const Num target =
        pValue->IsInteger() ? Num::Int(r.isFloat ? RoundToInt(r.f) : r.i) : Num::Float(r.AsFloat());
    pValue->Write(target, verify);
}

Num SConverter::Bound(bool wantMax, bool integerMode) const {
    CDepth depth(vars.owner);
    const Num a = vars.Evaluate(*from, integerMode, pValue->Min());
    const Num b = vars.Evaluate(*from, integerMode, pValue->Max());
    bool pickB = wantMax;
    switch (slope) {
        case ESlope::Increasing:
            break;
        case ESlope::Decreasing:
            pickB = !wantMax;
            break;
        default:
            pickB = (a.AsFloat() < b.AsFloat()) == wantMax;
            break;
    }
    const Num r = pickB ? b : a;
    return integerMode ? Num::Int(r.AsInt()) : Num::Float(r.AsFloat());
}

void SConverter::CollectDeps(SEdges& out) const {
    for (EAspect aspect : {kValue, kAccess, kWrite, kRange}) out.Add(aspect, aspect, pValue);
    for (CEngNode* v : vars.variables) {
        for (EAspect aspect : {kValue, kWrite, kRange}) out.Add(aspect, kValue, v);
        out.Add(kAccess, kAccess, v);
    }
}

bool CIntConverterNode::CacheValid() {
    return m_conv.pValue->IsCached() && m_conv.vars.CacheValid();
}

void CIntConverterNode::CollectDeps(SEdges& out) const {
    CEngNode::CollectDeps(out);
    m_conv.CollectDeps(out);
}

bool CConverterNode::CacheValid() {
    return m_conv.pValue->IsCached() && m_conv.vars.CacheValid();
}

void CConverterNode::CollectDeps(SEdges& out) const {
    CEngNode::CollectDeps(out);
    m_conv.CollectDeps(out);
}

// ---------------------------------------------------------------------------
// CFloatBase, CFloatNode

gcstring CFloatBase::ToString(bool Verify, bool IgnoreCache) {
    return DoubleText(GetValue(Verify, IgnoreCache));
}

void CFloatBase::FromString(const gcstring& ValueStr, bool Verify) {
    double v = 0;
    if (!ParseDouble(ValueStr.str(), v)) {
        CQuery query(this);
        InvalidArgument(*this, "'" + ValueStr.str() + "' is not a number");
    }
    SetValue(v, Verify);
}

void CFloatBase::SetValue(double Value, bool Verify) {
    CQuery query(this);
    RequireWritable();
    if (Verify) CheckRange(Value);
    Write(Num::Float(Value), Verify);
}

double CFloatBase::GetValue(bool Verify, bool IgnoreCache) {
    CQuery query(this, IgnoreCache);
    RequireReadable();
    const double v = Value().AsFloat();
    if (Verify) CheckRange(v);
    return v;
}

double CFloatBase::GetMin() {
    CQuery query(this);
    RequireAvailable();
    return Min().AsFloat();
}

double CFloatBase::GetMax() {
    CQuery query(this);
    RequireAvailable();
    return Max().AsFloat();
}

bool CFloatBase::HasInc() {
    CQuery query(this);
    return IncMode() != noIncrement;
}

EIncMode CFloatBase::GetIncMode() {
    CQuery query(this);
    return IncMode();
}

double CFloatBase::GetInc() {
    CQuery query(this);
    if (IncMode() == noIncrement) {
        const std::string message = "node '" + Name() + "' has no increment";
        GENICAM_THROW(LogicalErrorException, message.c_str());
    }
    return Inc().AsFloat();
}

gcstring CFloatBase::GetUnit() const {
    return m_texts ? m_texts->unit : std::string();
}

void CFloatBase::CheckRange(double v) {
    const double min = Min().AsFloat();
    const double max = Max().AsFloat();
    if (std::isnan(v) || v < min || v > max) {
        OutOfRange(*this, DoubleText(v) + " is outside [" + DoubleText(min) + ", " +
                              DoubleText(max) + "]");
    }
}

Num CFloatNode::Min() {
    CDepth depth(this);
    if (m_pMin) return Num::Float(m_pMin->Value().AsFloat());
    if (m_hasMin) return Num::Float(m_min);
    if (m_source.pValue) return Num::Float(m_source.pValue->Min().AsFloat());
    return CFloatBase::Min();
}

Num CFloatNode::Max() {
    CDepth depth(this);
    if (m_pMax) return Num::Float(m_pMax->Value().AsFloat());
    if (m_hasMax) return Num::Float(m_max);
    if (m_source.pValue) return Num::Float(m_source.pValue->Max().AsFloat());
    return CFloatBase::Max();
}

Num CFloatNode::Inc() {
    CDepth depth(this);
    if (m_pInc) return Num::Float(m_pInc->Value().AsFloat());
    return Num::Float(m_inc);
}

EIncMode CFloatNode::IncMode() {
    return m_pInc || m_hasInc ? fixedIncrement : noIncrement;
}

void CFloatNode::CollectDeps(SEdges& out) const {
    CEngNode::CollectDeps(out);
    m_source.CollectDeps(out);
    for (CEngNode* n : {m_pMin, m_pMax, m_pInc}) out.Add(kRange, kValue, n);
}

// ---------------------------------------------------------------------------
// CBooleanNode

gcstring CBooleanNode::ToString(bool Verify, bool IgnoreCache) {
    return GetValue(Verify, IgnoreCache) ? "true" : "false";
}

void CBooleanNode::FromString(const gcstring& ValueStr, bool Verify) {
    std::string text(Trim(ValueStr.str()));
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (text == "true" || text == "1") return SetValue(true, Verify);
    if (text == "false" || text == "0") return SetValue(false, Verify);
    CQuery query(this);
    InvalidArgument(*this, "'" + ValueStr.str() + "' is not a boolean");
}

void CBooleanNode::SetValue(bool Value, bool Verify) {
    CQuery query(this);
    RequireWritable();
    Write(Num::Int(Value ? 1 : 0), Verify);
}

bool CBooleanNode::GetValue(bool, bool IgnoreCache) const {
    CQuery query(this, IgnoreCache);
    auto* self = const_cast<CBooleanNode*>(this);
    self->RequireReadable();
    return self->Value().AsInt() != 0;
}

Num CBooleanNode::Read() {
    const int64_t raw = m_source.Read(*this).AsInt();
    if (raw == m_on) return Num::Int(1);
    if (raw == m_off) return Num::Int(0);
    Fail("reads " + std::to_string(raw) + ", neither its OnValue " + std::to_string(m_on) +
         " nor its OffValue " + std::to_string(m_off));
}

void CBooleanNode::Store(Num v, bool verify) {
    m_source.Write(*this, Num::Int(v.AsInt() != 0 ? m_on : m_off), verify);
}

void CBooleanNode::CollectDeps(SEdges& out) const {
    CEngNode::CollectDeps(out);
    m_source.CollectDeps(out);
}

// ---------------------------------------------------------------------------
// CCommandNode

gcstring CCommandNode::ToString(bool, bool) {
    CQuery query(this);
    const std::string message = "command '" + Name() + "' has no value to read";
    GENICAM_THROW(LogicalErrorException, message.c_str());
}

void CCommandNode::FromString(const gcstring&, bool) {
    CQuery query(this);
    const std::string message = "command '" + Name() + "' has no value to write";
    GENICAM_THROW(LogicalErrorException, message.c_str());
}

int64_t CCommandNode::CommandValue() {
    return m_pCommandValue ? m_pCommandValue->Value().AsInt() : m_commandValue;
}

void CCommandNode::Execute(bool Verify) {
    CQuery query(this);
    RequireWritable();
    Write(Num::Int(CommandValue()), Verify);
    // The device clears the command's register on its own: IsDone must ask it.
    Map()->InvalidateBelow(this);
}

bool CCommandNode::IsDone(bool) {
    CQuery query(this, true);
    if (!IsReadable(Access())) return true;
    return Value().AsInt() != CommandValue();
}

void CCommandNode::CollectDeps(SEdges& out) const {
    CEngNode::CollectDeps(out);
    m_source.CollectDeps(out);
    out.Add(kValue, kValue, m_pCommandValue);
    out.Add(kWrite, kValue, m_pCommandValue);
}

// ---------------------------------------------------------------------------
// CEnumEntryNode, CEnumerationNode

gcstring CEnumEntryNode::ToString(bool, bool) {
    CQuery query(this);
    return m_symbolic;
}

void CEnumEntryNode::FromString(const gcstring&, bool) {
    CQuery query(this);
    ThrowAccess(*this, "is an enumeration entry and cannot be written");
}

int64_t CEnumEntryNode::GetValue() {
    CQuery query(this, false, true);
    return m_value;
}

CEnumEntryNode* CEnumerationNode::EntryByValue(int64_t value) const {
    for (CEnumEntryNode* entry : m_entries) {
        if (entry->m_value == value) return entry;
    }
    return nullptr;
}

CEnumEntryNode* CEnumerationNode::CurrentEntry() {
    const int64_t v = Value().AsInt();
    CEnumEntryNode* entry = EntryByValue(v);
    if (!entry) Fail("has the value " + std::to_string(v) + ", which matches no entry");
    return entry;
}

void CEnumerationNode::Select(CEnumEntryNode& entry, bool verify) {
    if (!IsAvailable(entry.Access())) ThrowAccess(entry, "is not available");
    Write(Num::Int(entry.m_value), verify);
    // A self-clearing entry goes back on its own: the next read must ask the device.
    if (entry.m_selfClearing) Map()->InvalidateBelow(this);
}

gcstring CEnumerationNode::ToString(bool, bool IgnoreCache) {
    CQuery query(this, IgnoreCache);
    RequireReadable();
    return CurrentEntry()->m_symbolic;
}

void CEnumerationNode::FromString(const gcstring& ValueStr, bool Verify) {
    CQuery query(this);
    RequireWritable();
    const std::string_view symbolic = Trim(ValueStr.str());
    for (CEnumEntryNode* entry : m_entries) {
        if (entry->m_symbolic == symbolic) return Select(*entry, Verify);
    }
    InvalidArgument(*this, "'" + ValueStr.str() + "' is not one of its entries");
}

void CEnumerationNode::GetSymbolics(gcstring_vector& Symbolics) {
    CQuery query(this);
    Symbolics.clear();
    for (CEnumEntryNode* entry : m_entries) {
        if (IsAvailable(entry->Access())) Symbolics.emplace_back(entry->m_symbolic);
    }
}

void CEnumerationNode::SetIntValue(int64_t Value, bool Verify) {
    CQuery query(this);
    RequireWritable();
    CEnumEntryNode* entry = EntryByValue(Value);
    if (!entry) InvalidArgument(*this, std::to_string(Value) + " matches none of its entries");
    Select(*entry, Verify);
}

int64_t CEnumerationNode::GetIntValue(bool Verify, bool IgnoreCache) {
    CQuery query(this, IgnoreCache);
    RequireReadable();
    if (Verify) return CurrentEntry()->m_value;
    return Value().AsInt();
}

IEnumEntry* CEnumerationNode::GetEntryByName(const gcstring& Symbolic) {
    CQuery query(this, false, true);
    for (CEnumEntryNode* entry : m_entries) {
        if (entry->m_symbolic == Symbolic.str()) return entry;
    }
    return nullptr;
}

IEnumEntry* CEnumerationNode::GetCurrentEntry(bool, bool IgnoreCache) {
    CQuery query(this, IgnoreCache);
    RequireReadable();
    return CurrentEntry();
}

void CEnumerationNode::GetEntries(NodeList_t& Entries) {
    CQuery query(this, false, true);
    Entries.assign(m_entries.begin(), m_entries.end());
}

void CEnumerationNode::CollectDeps(SEdges& out) const {
    CEngNode::CollectDeps(out);
    m_source.CollectDeps(out);
    // Selecting an entry asks whether it is available.
    for (CEngNode* entry : m_entries) out.Add(kWrite, kAccess, entry);
}

// ---------------------------------------------------------------------------
// Strings

gcstring CStringBase::ToString(bool Verify, bool IgnoreCache) {
    return GetValue(Verify, IgnoreCache);
}

void CStringBase::FromString(const gcstring& ValueStr, bool Verify) {
    SetValue(ValueStr, Verify);
}

void CStringBase::SetValue(const gcstring& Value, bool Verify) {
    CQuery query(this);
    RequireWritable();
    const int64_t max = MaxLength();
    if (static_cast<int64_t>(Value.size()) > max) {
        OutOfRange(*this, "a text of " + std::to_string(Value.size()) + " bytes exceeds its " +
                              std::to_string(max));
    }
    WriteText(Value.str());
    Written(Verify);
}

gcstring CStringBase::GetValue(bool, bool IgnoreCache) {
    CQuery query(this, IgnoreCache);
    RequireReadable();
    return ReadText();
}

int64_t CStringBase::GetMaxLength() {
    CQuery query(this);
    return MaxLength();
}

Num CStringBase::Read() {
    Fail("is a string and has no numeric value");
}

std::string CStringNode::ReadText() {
    if (!m_pValue) return m_value;
    CDepth depth(this);
    return static_cast<CStringBase*>(m_pValue)->ReadText();
}

void CStringNode::WriteText(const std::string& text) {
    if (!m_pValue) {
        m_value = text;
        return;
    }
    CDepth depth(this);
    auto* target = static_cast<CStringBase*>(m_pValue);
    target->WriteText(text);
    target->Written(false);
}

int64_t CStringNode::MaxLength() {
    if (!m_pValue) return kMaxLength;
    CDepth depth(this);
    return static_cast<CStringBase*>(m_pValue)->MaxLength();
}

bool CStringNode::CacheValid() {
    return !m_pValue || m_pValue->IsCached();
}

void CStringNode::CollectDeps(SEdges& out) const {
    CEngNode::CollectDeps(out);
    for (EAspect aspect : {kValue, kAccess, kWrite}) out.Add(aspect, aspect, m_pValue);
}

EAccessMode CStringNode::OwnAccess() {
    return m_pValue ? m_pValue->Access() : RW;
}

}  // namespace GenApi::engine
