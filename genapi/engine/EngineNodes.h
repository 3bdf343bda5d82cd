// Nodes of the GenICam engine and the state of one map that they share.
//
// Every node evaluates through a small internal interface (Access, Value, Write,
// Min/Max/Inc) that the public GenApi methods call after taking the map's lock and
// opening a query. Within one query each node's access mode and value are computed
// at most once (memoised under the query's epoch), so a node graph that fans out is
// evaluated in time linear in the nodes it reaches. Reference cycles are refused at
// load, and evaluation depth is bounded, so no description can recurse without end.
//
// Caching lives in register slots only: the bytes of a register, keyed by port,
// address and length. Computed nodes (formulas, pValue chains) recompute from the
// slots, which costs no port traffic.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "EngineNodeMap.h"
#include "Formula.h"

namespace GenApi::engine {

using Num = SFormulaValue;

class CEngNode;
class CPortNode;

/// Deepest chain of nodes one evaluation may follow.
constexpr unsigned kMaxEvalDepth = 512;

enum class ECache : uint8_t { NoCache, WriteThrough, WriteAround };
enum class ESlope : uint8_t { Automatic, Increasing, Decreasing, Varying };

/// Cached bytes of one register (shared by every register node of the same port,
/// constant address, length and caching).
struct SRegSlot {
    CPortNode* port = nullptr;
    int64_t address = 0;
    std::vector<uint8_t> bytes;  ///< sized to the last length read
    bool valid = false;
    bool cacheable = true;
};

/// State of one map, shared by its nodes. Evaluation fields are used under the lock.
struct SMapState {
    mutable std::recursive_mutex mutex;
    std::string deviceName;
    std::string modelName;
    std::string vendorName;
    std::string schemaVersion;
    std::shared_ptr<IPort> defaultPort;

    std::vector<std::unique_ptr<CEngNode>> storage;  ///< every node, anonymous ones too
    std::vector<CEngNode*> order;                    ///< named nodes, description order
    /// Keys view the names held by the nodes, which never move.
    std::unordered_map<std::string_view, CEngNode*> byName;
    std::vector<std::unique_ptr<SRegSlot>> slots;
    std::vector<CPortNode*> ports;

    /// Value dependencies of node i: deps[depBegin[i] .. depBegin[i+1]).
    std::vector<uint32_t> depBegin;
    std::vector<CEngNode*> deps;
    /// Nodes whose pInvalidator names the key node.
    std::unordered_map<const CEngNode*, std::vector<CEngNode*>> invalidatedBy;

    uint32_t epoch = 1;  ///< memo generation; a new one per query and per write
    /// Generation of access modes that depend on no value (only on ports): a new
    /// one when a port is connected.
    uint32_t accessGeneration = 1;
    unsigned depth = 0;        ///< current evaluation depth
    unsigned queryDepth = 0;   ///< nesting of public calls
    bool ignoreCache = false;  ///< of the outermost query
    bool detached = false;

    uint32_t walkStamp = 0;
    std::vector<uint32_t> walkMark;  ///< per node, for graph walks at write time
    std::vector<CEngNode*> walkStack;

    /// Slots of port whose bytes overlap [address, address + length), except keep.
    void InvalidateOverlapping(const CPortNode* port, int64_t address, int64_t length,
                               const SRegSlot* keep);
    /// Every slot that node reads through its references (selected features,
    /// pInvalidator holders); uncache: never cache them again (polled nodes).
    void InvalidateBelow(CEngNode* node, bool uncache = false);
    /// What a write to node makes stale: the features it selects and the nodes
    /// naming it as an invalidator.
    void InvalidateAfterWrite(CEngNode* node);
};

/// A public call's scope: the lock, a fresh epoch for the outermost call, the
/// IgnoreCache flag, and AccessException after Detach (unless allowDetached).
class CQuery {
public:
    CQuery(const CEngNode* node, bool ignoreCache = false, bool allowDetached = false);
    ~CQuery();
    CQuery(const CQuery&) = delete;
    CQuery& operator=(const CQuery&) = delete;

private:
    SMapState* m_map;
    std::unique_lock<std::recursive_mutex> m_lock;
    bool m_outer;
};

/// One level of evaluation depth; RuntimeException beyond kMaxEvalDepth.
class CDepth {
public:
    explicit CDepth(const CEngNode* node);
    ~CDepth();
    CDepth(const CDepth&) = delete;
    CDepth& operator=(const CDepth&) = delete;

private:
    SMapState* m_map;
};

/// Presentation texts, allocated only for nodes that have any.
struct SNodeTexts {
    std::string displayName;
    std::string description;
    std::string toolTip;
    std::string unit;
};

/// What one evaluation of a node computes. The reference graph links these, not
/// nodes: a node's maximum may read another node whose maximum reads the first
/// one's value (Width and OffsetX), which is no cycle.
enum EAspect : uint8_t { kValue, kAccess, kRange, kWrite, kAspects };

/// The references of one node, each from one of its aspects to one of the target's.
struct SEdges {
    struct SEdge {
        EAspect from;
        EAspect to;
        CEngNode* node;
    };
    std::vector<SEdge> edges;
    void Add(EAspect from, EAspect to, CEngNode* node) {
        if (node) edges.push_back({from, to, node});
    }
};

/// EAccessMode of two constraints together (NI beats NA beats everything; RO with
/// WO leaves nothing).
EAccessMode CombineAccess(EAccessMode a, EAccessMode b);
[[noreturn]] void ThrowAccess(const CEngNode& node, const char* what);

class CEngNode : public virtual INode {
public:
    CEngNode(SMapState* map, std::string name);
    ~CEngNode() override;

    // INode
    EAccessMode GetAccessMode() const override;
    gcstring GetName(bool FullQualified = false) const override;
    bool IsFeature() const override;
    gcstring GetDisplayName() const override;
    gcstring GetDescription() const override;
    gcstring GetToolTip() const override;
    EVisibility GetVisibility() const override;
    bool IsSelector() const override { return !m_selected.empty(); }
    void GetSelectedFeatures(FeatureList_t& Features) const override;

    // Evaluation, under the lock inside a query.
    /// The access mode, memoised per query: pIsImplemented, pIsAvailable, the kind's
    /// own access, ImposedAccessMode, then pIsLocked.
    EAccessMode Access();
    /// The numeric value, memoised per query.
    Num Value();
    /// Writes v (verify: range checks), then invalidates what depends on the node.
    void Write(Num v, bool verify);
    /// After the node's bytes or value changed: a new epoch, the invalidations the
    /// write causes, and (verify) the pError check.
    void Written(bool verify);
    /// CacheValid with the depth bound.
    bool IsCached();
    void ResetMemo() { m_accessEpoch = m_valueEpoch = 0; }
    virtual Num Min();
    virtual Num Max();
    virtual Num Inc();
    virtual EIncMode IncMode();
    /// True when the value is integer-typed (Integer kinds, Boolean, Enumeration...).
    virtual bool IsInteger() const { return true; }
    /// Whether reading now would be served without port traffic.
    virtual bool CacheValid();
    /// Appends the references of this node by aspect.
    virtual void CollectDeps(SEdges& out) const;
    /// Whether Value() can answer (false for strings, categories, ports, registers).
    virtual bool HasNumber() const { return true; }
    /// The register part of register kinds.
    virtual struct SRegister* Reg() { return nullptr; }
    virtual class CCategoryNode* AsCategory() { return nullptr; }

    const std::string& Name() const { return m_name; }
    SMapState* Map() const { return m_map; }
    void RequireReadable();
    void RequireWritable();
    /// Neither NI nor NA (what range queries need).
    void RequireAvailable();
    [[noreturn]] void Fail(const std::string& message) const;

    // Built at load.
    uint32_t m_index = 0;
    bool m_isFeature = false;
    /// The access mode reads no value anywhere below (no pIs*, no value index,
    /// found from the reference graph): it is kept until a port changes.
    bool m_staticAccess = false;
    EVisibility m_visibility = Beginner;
    EAccessMode m_imposed = RW;
    CEngNode* m_pIsImplemented = nullptr;
    CEngNode* m_pIsAvailable = nullptr;
    CEngNode* m_pIsLocked = nullptr;
    CEngNode* m_pError = nullptr;
    CEngNode* m_pAlias = nullptr;
    CEngNode* m_pCastAlias = nullptr;
    std::vector<CEngNode*> m_selected;
    std::unique_ptr<SNodeTexts> m_texts;
    SRegSlot* m_slot = nullptr;  ///< register kinds: the slot of their bytes

protected:
    virtual EAccessMode OwnAccess() { return RW; }
    virtual Num Read();
    virtual void Store(Num v, bool verify);
    /// After a verified write: pError names an error node; a non-zero value fails.
    void CheckError();

private:
    SMapState* m_map;
    std::string m_name;
    uint32_t m_accessEpoch = 0;
    uint32_t m_valueEpoch = 0;
    EAccessMode m_accessMemo = NI;
    Num m_valueMemo;
};

/// Nodes with a value interface.
class CEngValue : public CEngNode, public virtual IValue {
public:
    using CEngNode::CEngNode;
    INode* GetNode() override { return this; }
    bool IsValueCacheValid() const override;
};

/// Where Integer, Float, Boolean, Command, Enumeration and String take their value:
/// Value, pValue, or pIndex with pValueIndexed/ValueIndexed and a default.
struct SValueSource {
    struct SIndexed {
        int64_t index;
        CEngNode* node;  ///< or null: value
        Num value;
    };
    CEngNode* pValue = nullptr;
    CEngNode* pIndex = nullptr;
    std::vector<SIndexed> indexed;
    CEngNode* pDefault = nullptr;
    bool hasDefault = false;
    Num defaultValue;
    std::vector<CEngNode*> copies;  ///< pValueCopy
    Num value;                      ///< Value, when there is no pValue/pIndex

    /// The node the value comes from now, or null when it is a stored value (then
    /// *slot is that value).
    CEngNode* Target(CEngNode& owner, Num** slot);
    EAccessMode Access(CEngNode& owner);
    Num Read(CEngNode& owner);
    void Write(CEngNode& owner, Num v, bool verify);
    bool CacheValid(CEngNode& owner);
    void CollectDeps(SEdges& out) const;
};

/// Plain Node elements: a name and texts, no value.
class CPlainNode final : public CEngValue {
public:
    using CEngValue::CEngValue;
    bool HasNumber() const override { return false; }
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIValue; }
    gcstring ToString(bool Verify = false, bool IgnoreCache = false) override;
    void FromString(const gcstring& ValueStr, bool Verify = true) override;
};

class CCategoryNode final : public CEngValue, public ICategory {
public:
    using CEngValue::CEngValue;
    EInterfaceType GetPrincipalInterfaceType() const override { return intfICategory; }
    gcstring ToString(bool Verify = false, bool IgnoreCache = false) override;
    void FromString(const gcstring& ValueStr, bool Verify = true) override;
    void GetFeatures(FeatureList_t& Features) const override;
    bool HasNumber() const override { return false; }
    CCategoryNode* AsCategory() override { return this; }

    std::vector<CEngNode*> m_features;

protected:
    EAccessMode OwnAccess() override { return RO; }
};

/// Integer-valued nodes with IInteger; subclasses supply the value.
class CIntegerBase : public CEngValue, public IInteger {
public:
    using CEngValue::CEngValue;
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIInteger; }
    gcstring ToString(bool Verify = false, bool IgnoreCache = false) override;
    void FromString(const gcstring& ValueStr, bool Verify = true) override;
    void SetValue(int64_t Value, bool Verify = true) override;
    int64_t GetValue(bool Verify = false, bool IgnoreCache = false) override;
    int64_t GetMin() override;
    int64_t GetMax() override;
    EIncMode GetIncMode() override;
    int64_t GetInc() override;
    gcstring GetUnit() const override;

    /// Refuses v outside [Min, Max], off the Inc grid, or outside ValidValueSet.
    void CheckRange(int64_t v);

    std::vector<int64_t> m_validValues;  ///< ValidValueSet; empty: none
    uint8_t m_representation = 0;
};

/// Integer: a value source with Min/Max/Inc (constants or nodes).
class CIntegerNode final : public CIntegerBase {
public:
    using CIntegerBase::CIntegerBase;
    Num Min() override;
    Num Max() override;
    Num Inc() override;
    EIncMode IncMode() override;
    bool CacheValid() override { return m_source.CacheValid(*this); }
    void CollectDeps(SEdges& out) const override;

    SValueSource m_source;
    CEngNode* m_pMin = nullptr;
    CEngNode* m_pMax = nullptr;
    CEngNode* m_pInc = nullptr;
    bool m_hasMin = false, m_hasMax = false, m_hasInc = false;
    int64_t m_min = INT64_MIN, m_max = INT64_MAX, m_inc = 1;

protected:
    EAccessMode OwnAccess() override { return m_source.Access(*this); }
    Num Read() override { return Num::Int(m_source.Read(*this).AsInt()); }
    void Store(Num v, bool verify) override { m_source.Write(*this, v, verify); }
};

/// pVariable/Constant/Expression of a SwissKnife or Converter.
struct SFormulaVars {
    CEngNode* owner = nullptr;
    std::vector<std::string> names;  ///< variables, then constants, then expressions
    std::vector<CEngNode*> variables;
    std::vector<Num> constants;
    std::vector<std::shared_ptr<const CFormula>> expressions;

    /// Evaluates formula; index names.size() is the extra variable (TO or FROM).
    Num Evaluate(const CFormula& formula, bool integerMode, Num extra) const;
    EAccessMode Access() const;
    bool CacheValid() const;
};

class CIntSwissKnifeNode final : public CIntegerBase {
public:
    using CIntegerBase::CIntegerBase;
    bool CacheValid() override { return m_vars.CacheValid(); }
    void CollectDeps(SEdges& out) const override;

    SFormulaVars m_vars;
    std::shared_ptr<const CFormula> m_formula;

protected:
    EAccessMode OwnAccess() override { return CombineAccess(RO, m_vars.Access()); }
    Num Read() override;
};

/// Converter and IntConverter: the value is FormulaFrom(TO = pValue), a write
/// stores FormulaTo(FROM = value) into pValue.
struct SConverter {
    SFormulaVars vars;
    std::shared_ptr<const CFormula> to;
    std::shared_ptr<const CFormula> from;
    CEngNode* pValue = nullptr;
    ESlope slope = ESlope::Automatic;

    EAccessMode Access() const;
    Num Read(bool integerMode) const;
    void Write(Num v, bool integerMode, bool verify) const;
    /// Min (wantMax false) or max of the converted range of pValue.
    Num Bound(bool wantMax, bool integerMode) const;
    void CollectDeps(SEdges& out) const;
};

class CIntConverterNode final : public CIntegerBase {
public:
    using CIntegerBase::CIntegerBase;
    Num Min() override { return m_conv.Bound(false, true); }
    Num Max() override { return m_conv.Bound(true, true); }
    bool CacheValid() override;
    void CollectDeps(SEdges& out) const override;

    SConverter m_conv;

protected:
    EAccessMode OwnAccess() override { return m_conv.Access(); }
    Num Read() override { return m_conv.Read(true); }
    void Store(Num v, bool verify) override { m_conv.Write(v, true, verify); }
};

class CFloatBase : public CEngValue, public IFloat {
public:
    using CEngValue::CEngValue;
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIFloat; }
    gcstring ToString(bool Verify = false, bool IgnoreCache = false) override;
    void FromString(const gcstring& ValueStr, bool Verify = true) override;
    void SetValue(double Value, bool Verify = true) override;
    double GetValue(bool Verify = false, bool IgnoreCache = false) override;
    double GetMin() override;
    double GetMax() override;
    bool HasInc() override;
    EIncMode GetIncMode() override;
    double GetInc() override;
    gcstring GetUnit() const override;
    bool IsInteger() const override { return false; }
    Num Min() override { return Num::Float(-1.7976931348623157e308); }
    Num Max() override { return Num::Float(1.7976931348623157e308); }
    EIncMode IncMode() override { return noIncrement; }

    void CheckRange(double v);

    uint8_t m_representation = 0;
    uint8_t m_displayNotation = 0;
    int64_t m_displayPrecision = 6;
};

class CFloatNode final : public CFloatBase {
public:
    using CFloatBase::CFloatBase;
    Num Min() override;
    Num Max() override;
    Num Inc() override;
    EIncMode IncMode() override;
    bool CacheValid() override { return m_source.CacheValid(*this); }
    void CollectDeps(SEdges& out) const override;

    SValueSource m_source;
    CEngNode* m_pMin = nullptr;
    CEngNode* m_pMax = nullptr;
    CEngNode* m_pInc = nullptr;
    bool m_hasMin = false, m_hasMax = false, m_hasInc = false;
    double m_min = -1.7976931348623157e308, m_max = 1.7976931348623157e308, m_inc = 0;

protected:
    EAccessMode OwnAccess() override { return m_source.Access(*this); }
    Num Read() override { return Num::Float(m_source.Read(*this).AsFloat()); }
    void Store(Num v, bool verify) override { m_source.Write(*this, v, verify); }
};

class CSwissKnifeNode final : public CFloatBase {
public:
    using CFloatBase::CFloatBase;
    bool CacheValid() override { return m_vars.CacheValid(); }
    void CollectDeps(SEdges& out) const override;

    SFormulaVars m_vars;
    std::shared_ptr<const CFormula> m_formula;

protected:
    EAccessMode OwnAccess() override { return CombineAccess(RO, m_vars.Access()); }
    Num Read() override;
};

class CConverterNode final : public CFloatBase {
public:
    using CFloatBase::CFloatBase;
    Num Min() override { return m_conv.Bound(false, false); }
    Num Max() override { return m_conv.Bound(true, false); }
    bool CacheValid() override;
    void CollectDeps(SEdges& out) const override;

    SConverter m_conv;

protected:
    EAccessMode OwnAccess() override { return m_conv.Access(); }
    Num Read() override { return m_conv.Read(false); }
    void Store(Num v, bool verify) override { m_conv.Write(v, false, verify); }
};

class CBooleanNode final : public CEngValue, public IBoolean {
public:
    using CEngValue::CEngValue;
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIBoolean; }
    gcstring ToString(bool Verify = false, bool IgnoreCache = false) override;
    void FromString(const gcstring& ValueStr, bool Verify = true) override;
    void SetValue(bool Value, bool Verify = true) override;
    bool GetValue(bool Verify = false, bool IgnoreCache = false) const override;
    bool CacheValid() override { return m_source.CacheValid(*this); }
    void CollectDeps(SEdges& out) const override;

    SValueSource m_source;
    int64_t m_on = 1;
    int64_t m_off = 0;

protected:
    EAccessMode OwnAccess() override { return m_source.Access(*this); }
    /// 1 or 0; a raw value that is neither OnValue nor OffValue raises.
    Num Read() override;
    void Store(Num v, bool verify) override;
};

class CCommandNode final : public CEngValue, public ICommand {
public:
    using CEngValue::CEngValue;
    EInterfaceType GetPrincipalInterfaceType() const override { return intfICommand; }
    gcstring ToString(bool Verify = false, bool IgnoreCache = false) override;
    void FromString(const gcstring& ValueStr, bool Verify = true) override;
    void Execute(bool Verify = true) override;
    bool IsDone(bool Verify = true) override;
    void CollectDeps(SEdges& out) const override;

    SValueSource m_source;
    CEngNode* m_pCommandValue = nullptr;
    int64_t m_commandValue = 1;
    int64_t m_pollingTime = -1;

protected:
    EAccessMode OwnAccess() override { return m_source.Access(*this); }
    Num Read() override { return Num::Int(m_source.Read(*this).AsInt()); }
    void Store(Num v, bool verify) override { m_source.Write(*this, v, verify); }

private:
    int64_t CommandValue();
};

class CEnumerationNode;

class CEnumEntryNode final : public CEngValue, public IEnumEntry {
public:
    using CEngValue::CEngValue;
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIEnumEntry; }
    gcstring ToString(bool Verify = false, bool IgnoreCache = false) override;
    void FromString(const gcstring& ValueStr, bool Verify = true) override;
    int64_t GetValue() override;
    gcstring GetSymbolic() const override { return m_symbolic; }

    std::string m_symbolic;
    int64_t m_value = 0;
    double m_numericValue = 0;
    bool m_selfClearing = false;
    CEnumerationNode* m_enum = nullptr;

protected:
    EAccessMode OwnAccess() override { return RO; }
    Num Read() override { return Num::Int(m_value); }
};

class CEnumerationNode final : public CEngValue, public IEnumeration {
public:
    using CEngValue::CEngValue;
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIEnumeration; }
    gcstring ToString(bool Verify = false, bool IgnoreCache = false) override;
    void FromString(const gcstring& ValueStr, bool Verify = true) override;
    void GetSymbolics(gcstring_vector& Symbolics) override;
    void SetIntValue(int64_t Value, bool Verify = true) override;
    int64_t GetIntValue(bool Verify = false, bool IgnoreCache = false) override;
    IEnumEntry* GetEntryByName(const gcstring& Symbolic) override;
    IEnumEntry* GetCurrentEntry(bool Verify = false, bool IgnoreCache = false) override;
    void GetEntries(NodeList_t& Entries) override;
    bool CacheValid() override { return m_source.CacheValid(*this); }
    void CollectDeps(SEdges& out) const override;

    CEnumEntryNode* EntryByValue(int64_t value) const;
    /// The entry of the current value; GenICam exception when none matches.
    CEnumEntryNode* CurrentEntry();
    /// Writes the entry's value (it must be available).
    void Select(CEnumEntryNode& entry, bool verify);

    SValueSource m_source;
    std::vector<CEnumEntryNode*> m_entries;
    int64_t m_pollingTime = -1;

protected:
    EAccessMode OwnAccess() override { return m_source.Access(*this); }
    Num Read() override { return Num::Int(m_source.Read(*this).AsInt()); }
    void Store(Num v, bool verify) override { m_source.Write(*this, v, verify); }
};

class CStringBase : public CEngValue, public IString {
public:
    using CEngValue::CEngValue;
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIString; }
    gcstring ToString(bool Verify = false, bool IgnoreCache = false) override;
    void FromString(const gcstring& ValueStr, bool Verify = true) override;
    void SetValue(const gcstring& Value, bool Verify = true) override;
    gcstring GetValue(bool Verify = false, bool IgnoreCache = false) override;
    int64_t GetMaxLength() override;
    bool HasNumber() const override { return false; }

    virtual std::string ReadText() = 0;
    virtual void WriteText(const std::string& text) = 0;
    virtual int64_t MaxLength() = 0;

protected:
    Num Read() override;
};

/// String: a value of its own (capacity kMaxLength) or the value of another string node.
class CStringNode final : public CStringBase {
public:
    static constexpr int64_t kMaxLength = 4096;
    using CStringBase::CStringBase;
    std::string ReadText() override;
    void WriteText(const std::string& text) override;
    int64_t MaxLength() override;
    bool CacheValid() override;
    void CollectDeps(SEdges& out) const override;

    std::string m_value;
    CEngNode* m_pValue = nullptr;

protected:
    EAccessMode OwnAccess() override;
};

/// The register part of Register, IntReg, MaskedIntReg, FloatReg, StringReg and
/// StructEntry: address terms, length, port, access mode and caching.
struct SRegister {
    struct SAddressTerm {
        int64_t constant = 0;
        CEngNode* node = nullptr;     ///< pAddress or an IntSwissKnife address
        CEngNode* pIndex = nullptr;   ///< address += index * offset
        CEngNode* pOffset = nullptr;  ///< offset from a node, or constant
    };
    std::vector<SAddressTerm> terms;
    int64_t length = 4;
    CEngNode* pLength = nullptr;
    CPortNode* port = nullptr;
    EAccessMode accessMode = RO;
    ECache cache = ECache::WriteThrough;
    int64_t pollingTime = -1;
    bool bigEndian = false;
    SRegSlot* slot = nullptr;

    bool ConstantAddress() const;
    int64_t Address() const;
    int64_t Length() const;
    EAccessMode Access() const;
    /// Fills out (Length() bytes) from the slot or the port.
    void Read(CEngNode& owner, uint8_t* out, int64_t length);
    void Write(CEngNode& owner, const uint8_t* data, int64_t length);
    bool CacheValid() const;
    void CollectDeps(SEdges& out) const;
};

/// A node with IRegister over its bytes.
class CRegisterNode final : public CEngValue, public IRegister {
public:
    using CEngValue::CEngValue;
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIRegister; }
    gcstring ToString(bool Verify = false, bool IgnoreCache = false) override;
    void FromString(const gcstring& ValueStr, bool Verify = true) override;
    void Set(const uint8_t* pBuffer, int64_t Length, bool Verify = true) override;
    void Get(uint8_t* pBuffer, int64_t Length, bool Verify = false,
             bool IgnoreCache = false) override;
    int64_t GetLength() override;
    int64_t GetAddress() override;
    bool CacheValid() override { return m_reg.CacheValid(); }
    void CollectDeps(SEdges& out) const override { m_reg.CollectDeps(out); }
    bool HasNumber() const override { return false; }
    SRegister* Reg() override { return &m_reg; }

    SRegister m_reg;

protected:
    EAccessMode OwnAccess() override { return m_reg.Access(); }
};

/// IRegister for nodes that hold an SRegister besides their principal interface.
#define QRV_ENGINE_REGISTER_METHODS                                                           \
    void Set(const uint8_t* pBuffer, int64_t Length, bool Verify = true) override;            \
    void Get(uint8_t* pBuffer, int64_t Length, bool Verify = false, bool IgnoreCache = false) \
        override;                                                                             \
    int64_t GetLength() override;                                                             \
    int64_t GetAddress() override;

/// IntReg, MaskedIntReg and StructEntry: an integer in bits lsb.. of a register.
class CIntRegNode final : public CIntegerBase, public IRegister {
public:
    using CIntegerBase::CIntegerBase;
    QRV_ENGINE_REGISTER_METHODS
    Num Min() override;
    Num Max() override;
    bool CacheValid() override { return m_reg.CacheValid(); }
    void CollectDeps(SEdges& out) const override { m_reg.CollectDeps(out); }
    SRegister* Reg() override { return &m_reg; }

    SRegister m_reg;
    bool m_signed = false;
    bool m_masked = false;
    unsigned m_shift = 0;  ///< of the lowest bit, counted from the register's least significant bit
    unsigned m_width = 64;

protected:
    EAccessMode OwnAccess() override { return m_reg.Access(); }
    Num Read() override;
    void Store(Num v, bool verify) override;
};

class CFloatRegNode final : public CFloatBase, public IRegister {
public:
    using CFloatBase::CFloatBase;
    QRV_ENGINE_REGISTER_METHODS
    /// What the register's width holds: the float range for 4 bytes.
    Num Min() override;
    Num Max() override;
    bool CacheValid() override { return m_reg.CacheValid(); }
    void CollectDeps(SEdges& out) const override { m_reg.CollectDeps(out); }
    SRegister* Reg() override { return &m_reg; }

    SRegister m_reg;

protected:
    EAccessMode OwnAccess() override { return m_reg.Access(); }
    Num Read() override;
    void Store(Num v, bool verify) override;
};

class CStringRegNode final : public CStringBase, public IRegister {
public:
    using CStringBase::CStringBase;
    QRV_ENGINE_REGISTER_METHODS
    std::string ReadText() override;
    void WriteText(const std::string& text) override;
    int64_t MaxLength() override { return m_reg.Length(); }
    bool CacheValid() override { return m_reg.CacheValid(); }
    void CollectDeps(SEdges& out) const override { m_reg.CollectDeps(out); }
    SRegister* Reg() override { return &m_reg; }

    SRegister m_reg;

protected:
    EAccessMode OwnAccess() override { return m_reg.Access(); }
};

#undef QRV_ENGINE_REGISTER_METHODS

/// A Port: the bytes of a device (or of a chunk, once connected).
class CPortNode final : public CEngNode, public IPort {
public:
    using CEngNode::CEngNode;
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIPort; }
    bool HasNumber() const override { return false; }
    using CEngNode::Read;  // the node's own value read stays visible beside IPort's
    void Read(void* pBuffer, int64_t Address, int64_t Length) override;
    void Write(const void* pBuffer, int64_t Address, int64_t Length) override;

    /// Port traffic for registers, under a query: GenICam exceptions for any failure.
    void RawRead(void* buffer, int64_t address, int64_t length);
    void RawWrite(const void* buffer, int64_t address, int64_t length);

    std::shared_ptr<IPort> m_port;
    std::string m_chunkId;
    bool m_isChunk = false;
    bool m_cacheChunkData = false;
    std::string m_eventId;  ///< EventID: the port carries that event's data
    bool m_isEvent = false;

protected:
    EAccessMode OwnAccess() override;
};

}  // namespace GenApi::engine
