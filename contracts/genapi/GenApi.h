// The GenApi node-map interfaces, with the names and default arguments of GenApi
// 3.3. A node implements INode and one or more value interfaces; the typed
// pointers reach the interfaces by dynamic cast.
//
// Threads: an implementation states its own rules; the in-memory node map of this
// layer serialises every call on one map.
#pragma once

#include <cstdint>
#include <vector>

#include "GCBase.h"

namespace GenApi {

using GenICam::gcstring;
using GenICam::gcstring_vector;

enum EInterfaceType {
    intfIValue = 0,
    intfIBase = 1,
    intfIInteger = 2,
    intfIBoolean = 3,
    intfICommand = 4,
    intfIFloat = 5,
    intfIString = 6,
    intfIRegister = 7,
    intfICategory = 8,
    intfIEnumeration = 9,
    intfIEnumEntry = 10,
    intfIPort = 11
};

/// NI not implemented, NA not available, WO write only, RO read only, RW read/write.
enum EAccessMode { NI, NA, WO, RO, RW, _UndefinedAccesMode, _CycleDetectAccesMode };

enum EIncMode { noIncrement, fixedIncrement, listIncrement };

/// Who a user interface shows a feature to.
enum EVisibility { Beginner = 0, Expert = 1, Guru = 2, Invisible = 3, _UndefinedVisibility = 99 };

struct INode;

struct GENAPI_API IBase {
    virtual ~IBase();
    virtual EAccessMode GetAccessMode() const = 0;
};

using NodeList_t = std::vector<INode*>;
using FeatureList_t = std::vector<struct IValue*>;

struct GENAPI_API INode : virtual public IBase {
    ~INode() override;
    virtual gcstring GetName(bool FullQualified = false) const = 0;
    virtual EInterfaceType GetPrincipalInterfaceType() const = 0;
    /// True when the node is reachable as a feature (from the Root category).
    virtual bool IsFeature() const = 0;
    virtual gcstring GetDisplayName() const = 0;
    virtual gcstring GetDescription() const = 0;
    // Presentation facts for feature browsers. Not pure, so that every node map
    // need not describe itself: the defaults are the description and Beginner.
    virtual gcstring GetToolTip() const;
    virtual EVisibility GetVisibility() const;
    /// A selector's value chooses which of several values its selected features
    /// read and write (GainSelector for Gain, LineSelector for LineMode). The
    /// defaults: no selector, nothing selected.
    virtual bool IsSelector() const;
    virtual void GetSelectedFeatures(FeatureList_t& Features) const;
};

struct GENAPI_API IValue : virtual public IBase {
    ~IValue() override;
    virtual INode* GetNode() = 0;
    virtual gcstring ToString(bool Verify = false, bool IgnoreCache = false) = 0;
    virtual void FromString(const gcstring& ValueStr, bool Verify = true) = 0;
    virtual bool IsValueCacheValid() const = 0;
};

struct GENAPI_API IBoolean : virtual public IValue {
    ~IBoolean() override;
    virtual void SetValue(bool Value, bool Verify = true) = 0;
    virtual bool GetValue(bool Verify = false, bool IgnoreCache = false) const = 0;
};

struct GENAPI_API IInteger : virtual public IValue {
    ~IInteger() override;
    virtual void SetValue(int64_t Value, bool Verify = true) = 0;
    virtual int64_t GetValue(bool Verify = false, bool IgnoreCache = false) = 0;
    virtual int64_t GetMin() = 0;
    virtual int64_t GetMax() = 0;
    virtual EIncMode GetIncMode() = 0;
    virtual int64_t GetInc() = 0;
    /// Physical unit of the value ("us", "Hz"); empty when it has none (the default).
    virtual gcstring GetUnit() const;
};

struct GENAPI_API IFloat : virtual public IValue {
    ~IFloat() override;
    virtual void SetValue(double Value, bool Verify = true) = 0;
    virtual double GetValue(bool Verify = false, bool IgnoreCache = false) = 0;
    virtual double GetMin() = 0;
    virtual double GetMax() = 0;
    virtual bool HasInc() = 0;
    virtual EIncMode GetIncMode() = 0;
    virtual double GetInc() = 0;
    /// Physical unit of the value; empty when it has none (the default).
    virtual gcstring GetUnit() const;
};

struct GENAPI_API IString : virtual public IValue {
    ~IString() override;
    virtual void SetValue(const gcstring& Value, bool Verify = true) = 0;
    virtual gcstring GetValue(bool Verify = false, bool IgnoreCache = false) = 0;
    virtual int64_t GetMaxLength() = 0;
};

struct GENAPI_API IEnumEntry : virtual public IValue {
    ~IEnumEntry() override;
    virtual int64_t GetValue() = 0;
    virtual gcstring GetSymbolic() const = 0;
};

struct GENAPI_API IEnumeration : virtual public IValue {
    ~IEnumeration() override;
    /// Symbolic names of the entries that are available, in the map's order.
    virtual void GetSymbolics(gcstring_vector& Symbolics) = 0;
    virtual void SetIntValue(int64_t Value, bool Verify = true) = 0;
    virtual int64_t GetIntValue(bool Verify = false, bool IgnoreCache = false) = 0;
    virtual IEnumEntry* GetEntryByName(const gcstring& Symbolic) = 0;
    virtual IEnumEntry* GetCurrentEntry(bool Verify = false, bool IgnoreCache = false) = 0;
    /// Every entry node, available or not, in the map's order. The default knows
    /// only the available ones (through GetSymbolics).
    virtual void GetEntries(NodeList_t& Entries);
};

struct GENAPI_API ICommand : virtual public IValue {
    ~ICommand() override;
    virtual void Execute(bool Verify = true) = 0;
    virtual bool IsDone(bool Verify = true) = 0;
};

struct GENAPI_API IRegister : virtual public IValue {
    ~IRegister() override;
    virtual void Set(const uint8_t* pBuffer, int64_t Length, bool Verify = true) = 0;
    virtual void Get(uint8_t* pBuffer, int64_t Length, bool Verify = false,
                     bool IgnoreCache = false) = 0;
    virtual int64_t GetLength() = 0;
    virtual int64_t GetAddress() = 0;
};

struct GENAPI_API ICategory : virtual public IValue {
    ~ICategory() override;
    virtual void GetFeatures(FeatureList_t& Features) const = 0;
};

struct GENAPI_API IPort : virtual public IBase {
    ~IPort() override;
    virtual void Read(void* pBuffer, int64_t Address, int64_t Length) = 0;
    virtual void Write(const void* pBuffer, int64_t Address, int64_t Length) = 0;
};

struct GENAPI_API INodeMap {
    virtual ~INodeMap();
    /// The node of that name, or null.
    virtual INode* GetNode(const gcstring& Name) const = 0;
    virtual void GetNodes(NodeList_t& Nodes) const = 0;
    virtual gcstring GetDeviceName() = 0;
};

// Access tests as GenApi defines them.
inline bool IsReadable(EAccessMode mode) {
    return mode == RO || mode == RW;
}
inline bool IsWritable(EAccessMode mode) {
    return mode == WO || mode == RW;
}
inline bool IsImplemented(EAccessMode mode) {
    return mode != NI;
}
inline bool IsAvailable(EAccessMode mode) {
    return !(mode == NA || mode == NI);
}
inline bool IsReadable(const IBase* p) {
    return p && IsReadable(p->GetAccessMode());
}
inline bool IsWritable(const IBase* p) {
    return p && IsWritable(p->GetAccessMode());
}
inline bool IsImplemented(const IBase* p) {
    return p && IsImplemented(p->GetAccessMode());
}
inline bool IsAvailable(const IBase* p) {
    return p && IsAvailable(p->GetAccessMode());
}

/// Smart pointer to one interface of a node, built by a dynamic cast. Empty for a
/// null node or a node without interface T; dereferencing an empty pointer raises
/// LogicalErrorException. It does not own the node.
template <class T, class B = IBase>
class CPointer {
public:
    CPointer() = default;
    CPointer(B* pB) : m_ptr(pB ? dynamic_cast<T*>(pB) : nullptr) {}  // NOLINT: as in GenApi
    template <class U>
    CPointer(const CPointer<U, B>& other)
        : m_ptr(other.IsValid() ? dynamic_cast<T*>(other.operator->()) : nullptr) {}  // NOLINT

    CPointer& operator=(B* pB) {
        m_ptr = pB ? dynamic_cast<T*>(pB) : nullptr;
        return *this;
    }

    bool IsValid() const { return m_ptr != nullptr; }
    operator bool() const { return IsValid(); }  // NOLINT
    bool operator==(std::nullptr_t) const { return m_ptr == nullptr; }
    bool operator!=(std::nullptr_t) const { return m_ptr != nullptr; }

    T* operator->() const {
        if (!m_ptr) GENICAM_THROW(LogicalErrorException, "NULL pointer dereferenced");
        return m_ptr;
    }
    T& operator*() const { return *operator->(); }
    operator T*() const { return m_ptr; }  // NOLINT

private:
    T* m_ptr = nullptr;
};

using CNodePtr = CPointer<INode>;
using CValuePtr = CPointer<IValue>;
using CBooleanPtr = CPointer<IBoolean>;
using CIntegerPtr = CPointer<IInteger>;
using CFloatPtr = CPointer<IFloat>;
using CStringPtr = CPointer<IString>;
using CEnumerationPtr = CPointer<IEnumeration>;
using CEnumEntryPtr = CPointer<IEnumEntry>;
using CCommandPtr = CPointer<ICommand>;
using CRegisterPtr = CPointer<IRegister>;
using CCategoryPtr = CPointer<ICategory>;

template <class T, class B>
bool IsReadable(const CPointer<T, B>& p) {
    return p.IsValid() && IsReadable(p->GetAccessMode());
}
template <class T, class B>
bool IsWritable(const CPointer<T, B>& p) {
    return p.IsValid() && IsWritable(p->GetAccessMode());
}

}  // namespace GenApi
