// Nodes of the in-memory node map. One class per node kind, each implementing
// exactly the GenApi interfaces of that kind, because the typed pointers find an
// interface by dynamic cast and a surplus interface would make a node look like
// something it is not.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "MemoryNodeMap.h"

namespace GenApi {

/// The state of one map that its nodes share.
struct CMemMapState {
    std::string deviceName;
    mutable std::recursive_mutex mutex;
    /// Every node ever added; replaced and removed ones stay alive until the map dies
    /// because callers may still hold raw pointers to them.
    std::vector<std::unique_ptr<CMemNode>> storage;
    std::vector<CMemNode*> order;
    std::unordered_map<std::string, CMemNode*> byName;

    /// Nodes that CMemNodeRef::Chunk made chunk features, in the order it was called.
    struct SChunkBinding {
        CMemNode* node = nullptr;
        uint64_t id = 0;
        int64_t offset = 0;
        int64_t length = 0;
    };
    std::vector<SChunkBinding> chunkBindings;

    CMemNode* Find(const std::string& name) const;
    CMemNode* FindOrThrow(const std::string& name) const;
    void Insert(std::unique_ptr<CMemNode> node);
    void Unlink(const std::string& name);
};

using MapLock = std::unique_lock<std::recursive_mutex>;

/// The value of one node, kept aside while its selector holds another value.
struct SMemSaved {
    int64_t number = 0;
    double real = 0.0;
    std::string text;
};

/// What an operation needs from the node's access mode.
enum class ENeed { Nothing, Available, Read, Write };

class CMemNode : public virtual INode {
public:
    CMemNode(CMemMapState* map, std::string name);
    ~CMemNode() override;

    // INode
    EAccessMode GetAccessMode() const override;
    gcstring GetName(bool FullQualified = false) const override;
    bool IsFeature() const override;
    gcstring GetDisplayName() const override;
    gcstring GetDescription() const override;
    gcstring GetToolTip() const override;
    EVisibility GetVisibility() const override;
    bool IsSelector() const override;
    void GetSelectedFeatures(FeatureList_t& Features) const override;

    const std::string& Name() const { return m_name; }
    CMemMapState* Map() const { return m_map; }

    // Configuration, called under the map's lock.
    void SetAccess(EAccessMode mode) { m_access = mode; }
    void SetFeature(bool isFeature) { m_isFeature = isFeature; }
    void SetText(const SNodeText& text) { m_text = text; }
    /// The unit that integer and float nodes report.
    std::string UnitText() const;
    void AddFault(const SFault& fault) { m_faults.push_back({fault, 0}); }
    void SetOnWrite(std::function<void()> observer) { m_onWrite = std::move(observer); }
    void SetOnExecute(std::function<void()> observer) { m_onExecute = std::move(observer); }
    int64_t CallCount(EFaultOp op) const;
    /// The access mode without counting the call or firing faults.
    EAccessMode AccessUnchecked() const { return m_access; }
    /// Makes this node a selector of the named nodes: from now on each value of
    /// this node has its own value of each of them, starting from what they hold now.
    void SetSelected(std::vector<std::string> names);

protected:
    /// Takes the map's lock, counts the call, raises an injected fault if one is due,
    /// then checks access. Faults come first so that they fire whatever the node's state.
    MapLock Enter(EFaultOp op, ENeed need) const;
    /// Takes the lock and checks access, for queries that are not counted operations.
    MapLock Guard(ENeed need) const;
    /// Swaps the selected nodes' values when a selector's value changed, releases
    /// the lock, then tells the write observer.
    void NotifyWrite(MapLock& lock);
    void NotifyExecute(MapLock& lock) const;

private:
    void CheckAccess(ENeed need) const;

    struct SArmedFault {
        SFault fault;
        int64_t calls;
    };
    static constexpr std::size_t kOpCount = static_cast<std::size_t>(EFaultOp::RegisterSet) + 1;

    CMemMapState* m_map;
    std::string m_name;
    EAccessMode m_access = RW;
    bool m_isFeature = true;
    SNodeText m_text;
    mutable std::vector<SArmedFault> m_faults;
    mutable std::array<int64_t, kOpCount> m_calls{};
    std::function<void()> m_onWrite;
    std::function<void()> m_onExecute;
    // Selector: the selected nodes' values per selector value, and the selector
    // value whose values they hold now.
    void Reselect(int depth = 0);
    std::vector<std::string> m_selected;
    int64_t m_selectedKey = 0;
    std::map<std::string, SMemSaved> m_selectedDefaults;
    std::map<int64_t, std::map<std::string, SMemSaved>> m_selectedBank;
};

/// Base of every node that has a value interface.
class CMemValueNode : public CMemNode, public virtual IValue {
public:
    using CMemNode::CMemNode;
    INode* GetNode() override { return this; }
    bool IsValueCacheValid() const override { return true; }
};

/// A node with IValue only.
class CValueNode : public CMemValueNode {
public:
    using CMemValueNode::CMemValueNode;
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIValue; }
    gcstring ToString(bool Verify = false, bool IgnoreCache = false) override;
    void FromString(const gcstring& ValueStr, bool Verify = true) override;

private:
    std::string m_text;
};

class CBooleanNode : public CMemValueNode, public IBoolean {
public:
    CBooleanNode(CMemMapState* map, std::string name, bool value)
        : CMemValueNode(map, std::move(name)), m_value(value) {}
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIBoolean; }
    gcstring ToString(bool Verify = false, bool IgnoreCache = false) override;
    void FromString(const gcstring& ValueStr, bool Verify = true) override;
    void SetValue(bool Value, bool Verify = true) override;
    bool GetValue(bool Verify = false, bool IgnoreCache = false) const override;

    bool m_value;
};

class CIntegerNode : public CMemValueNode, public IInteger {
public:
    CIntegerNode(CMemMapState* map, std::string name, int64_t min, int64_t max, int64_t inc);
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIInteger; }
    gcstring ToString(bool Verify = false, bool IgnoreCache = false) override;
    void FromString(const gcstring& ValueStr, bool Verify = true) override;
    void SetValue(int64_t Value, bool Verify = true) override;
    int64_t GetValue(bool Verify = false, bool IgnoreCache = false) override;
    int64_t GetMin() override;
    int64_t GetMax() override;
    EIncMode GetIncMode() override;
    int64_t GetInc() override;
    gcstring GetUnit() const override { return UnitText(); }

    virtual int64_t Load() const { return m_value; }
    virtual void Store(int64_t value) { m_value = value; }

private:
    void CheckRange(int64_t value) const;

    int64_t m_value = 0;
    int64_t m_min;
    int64_t m_max;
    int64_t m_inc;
};

class CFloatNode : public CMemValueNode, public IFloat {
public:
    CFloatNode(CMemMapState* map, std::string name, double value, double min, double max,
               SFloatInc inc);
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
    gcstring GetUnit() const override { return UnitText(); }

    double m_value;

private:
    void CheckRange(double value) const;

    double m_min;
    double m_max;
    SFloatInc m_inc;
};

class CStringNode : public CMemValueNode, public IString {
public:
    CStringNode(CMemMapState* map, std::string name, std::string value, int64_t maxLength)
        : CMemValueNode(map, std::move(name)), m_value(std::move(value)), m_maxLength(maxLength) {}
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIString; }
    gcstring ToString(bool Verify = false, bool IgnoreCache = false) override;
    void FromString(const gcstring& ValueStr, bool Verify = true) override;
    void SetValue(const gcstring& Value, bool Verify = true) override;
    gcstring GetValue(bool Verify = false, bool IgnoreCache = false) override;
    int64_t GetMaxLength() override;

    std::string m_value;

private:
    void CheckLength(const std::string& value) const;

    int64_t m_maxLength;
};

class CEnumEntryNode : public CMemValueNode, public IEnumEntry {
public:
    CEnumEntryNode(CMemMapState* map, std::string name, std::string symbolic, int64_t value)
        : CMemValueNode(map, std::move(name)), m_symbolic(std::move(symbolic)), m_value(value) {
        SetFeature(false);
    }
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIEnumEntry; }
    gcstring ToString(bool Verify = false, bool IgnoreCache = false) override;
    void FromString(const gcstring& ValueStr, bool Verify = true) override;
    int64_t GetValue() override;
    gcstring GetSymbolic() const override { return m_symbolic; }

    const std::string m_symbolic;
    const int64_t m_value;
};

class CEnumerationNode : public CMemValueNode, public IEnumeration {
public:
    using CMemValueNode::CMemValueNode;
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIEnumeration; }
    gcstring ToString(bool Verify = false, bool IgnoreCache = false) override;
    void FromString(const gcstring& ValueStr, bool Verify = true) override;
    void GetSymbolics(gcstring_vector& Symbolics) override;
    void SetIntValue(int64_t Value, bool Verify = true) override;
    int64_t GetIntValue(bool Verify = false, bool IgnoreCache = false) override;
    IEnumEntry* GetEntryByName(const gcstring& Symbolic) override;
    IEnumEntry* GetCurrentEntry(bool Verify = false, bool IgnoreCache = false) override;
    void GetEntries(NodeList_t& Entries) override;

    CEnumEntryNode* EntryBySymbolic(const std::string& symbolic) const;
    CEnumEntryNode* EntryByValue(int64_t value) const;

    std::vector<CEnumEntryNode*> m_entries;
    int64_t m_value = 0;

private:
    /// Refuses an entry the caller may not select.
    static void CheckSelectable(const CEnumEntryNode& entry);
};

class CCommandNode : public CMemValueNode, public ICommand {
public:
    CCommandNode(CMemMapState* map, std::string name, ECommandCompletion completion, int64_t param)
        : CMemValueNode(map, std::move(name)), m_completion(completion), m_param(param) {}
    EInterfaceType GetPrincipalInterfaceType() const override { return intfICommand; }
    gcstring ToString(bool Verify = false, bool IgnoreCache = false) override;
    void FromString(const gcstring& ValueStr, bool Verify = true) override;
    void Execute(bool Verify = true) override;
    bool IsDone(bool Verify = true) override;

    void SetCompletion(ECommandCompletion completion, int64_t param);
    int64_t m_executed = 0;

private:
    ECommandCompletion m_completion;
    int64_t m_param;
    bool m_everExecuted = false;
    int64_t m_pollsLeft = 0;
    std::chrono::steady_clock::time_point m_lastExecute{};
};

/// Byte storage shared by registers and integer registers.
class CRegisterNode : public CMemValueNode, public IRegister {
public:
    CRegisterNode(CMemMapState* map, std::string name, std::vector<uint8_t> bytes, int64_t address)
        : CMemValueNode(map, std::move(name)), m_bytes(std::move(bytes)), m_address(address) {}
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIRegister; }
    gcstring ToString(bool Verify = false, bool IgnoreCache = false) override;
    void FromString(const gcstring& ValueStr, bool Verify = true) override;
    void Set(const uint8_t* pBuffer, int64_t Length, bool Verify = true) override;
    void Get(uint8_t* pBuffer, int64_t Length, bool Verify = false,
             bool IgnoreCache = false) override;
    int64_t GetLength() override;
    int64_t GetAddress() override;

private:
    std::vector<uint8_t> m_bytes;
    int64_t m_address;
};

/// An integer whose value is the little-endian content of a short register.
class CIntRegNode : public CIntegerNode, public IRegister {
public:
    CIntRegNode(CMemMapState* map, std::string name, int64_t min, int64_t max, int64_t length,
                int64_t address);
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIInteger; }
    void Set(const uint8_t* pBuffer, int64_t Length, bool Verify = true) override;
    void Get(uint8_t* pBuffer, int64_t Length, bool Verify = false,
             bool IgnoreCache = false) override;
    int64_t GetLength() override;
    int64_t GetAddress() override;

    int64_t Load() const override;
    void Store(int64_t value) override;

private:
    std::vector<uint8_t> m_bytes;
    int64_t m_address;
    bool m_signed;
};

class CCategoryNode : public CMemValueNode, public ICategory {
public:
    CCategoryNode(CMemMapState* map, std::string name, std::vector<std::string> features)
        : CMemValueNode(map, std::move(name)), m_features(std::move(features)) {}
    EInterfaceType GetPrincipalInterfaceType() const override { return intfICategory; }
    gcstring ToString(bool Verify = false, bool IgnoreCache = false) override;
    void FromString(const gcstring& ValueStr, bool Verify = true) override;
    void GetFeatures(FeatureList_t& Features) const override;

private:
    std::vector<std::string> m_features;
};

class CPortNode : public CMemNode, public IPort {
public:
    CPortNode(CMemMapState* map, std::string name, int64_t size)
        : CMemNode(map, std::move(name)), m_memory(static_cast<std::size_t>(size)) {}
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIPort; }
    void Read(void* pBuffer, int64_t Address, int64_t Length) override;
    void Write(const void* pBuffer, int64_t Address, int64_t Length) override;

private:
    void CheckSpan(const void* pBuffer, int64_t Address, int64_t Length) const;

    std::vector<uint8_t> m_memory;
};

}  // namespace GenApi
