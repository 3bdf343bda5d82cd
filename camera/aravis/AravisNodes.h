// GenApi nodes over Aravis's ArvGc nodes. Each node class offers exactly the
// GenApi interfaces its Aravis type stands for (an enumeration is not an integer,
// an integer register is both integer and register), so a call on the wrong type
// is refused by the dynamic cast of CPointer and never reaches Aravis, where it
// would only log a critical and return 0.
#pragma once

#include <string>

#include "AravisNodeMap.h"
#include "AravisSystem.h"
#include "GenApi.h"

namespace KZRGENICAM::detail {

/// Raises the GenICam exception matching an Aravis error: out of range, access,
/// time-out, or RuntimeException for the rest.
[[noreturn]] void ThrowFromGError(const GError* error, const std::string& node);

/// The principal GenApi interface of an Aravis node type.
GenApi::EInterfaceType PrincipalTypeOf(ArvGcNode* node);

/// INode over one Aravis feature node. Every call holds the map's lock.
class CArvNode : public virtual GenApi::INode {
public:
    ~CArvNode() override = default;
    CArvNode(const CArvNode&) = delete;
    CArvNode& operator=(const CArvNode&) = delete;

    GenApi::EAccessMode GetAccessMode() const override;
    GenApi::gcstring GetName(bool fullQualified = false) const override;
    GenApi::EInterfaceType GetPrincipalInterfaceType() const override { return m_type; }
    bool IsFeature() const override;
    GenApi::gcstring GetDisplayName() const override;
    GenApi::gcstring GetDescription() const override;
    GenApi::gcstring GetToolTip() const override;        // AravisNodeInfo.cpp
    GenApi::EVisibility GetVisibility() const override;  // AravisNodeInfo.cpp

protected:
    CArvNode() = default;  // only for the parts; the final class sets the fields
    CArvNode(const CArvNodeMap* map, ArvGcNode* node, std::string name, GenApi::EInterfaceType type)
        : m_map(map), m_node(node), m_name(std::move(name)), m_type(type) {}

    /// Access mode with the lock held.
    GenApi::EAccessMode AccessLocked() const;
    void RequireReadable() const;
    void RequireWritable() const;
    [[noreturn]] void Fail(const GError* error) const {
        m_map->NoteError(error);
        ThrowFromGError(error, m_name);
    }

    const CArvNodeMap* m_map = nullptr;
    ArvGcNode* m_node = nullptr;
    std::string m_name;
    GenApi::EInterfaceType m_type = GenApi::intfIBase;
};

class CValuePart : public virtual GenApi::IValue, public virtual CArvNode {
public:
    GenApi::INode* GetNode() override { return this; }
    GenApi::gcstring ToString(bool verify = false, bool ignoreCache = false) override;
    void FromString(const GenApi::gcstring& value, bool verify = true) override;
    /// Aravis's register cache stays off: every read goes to the device.
    bool IsValueCacheValid() const override { return false; }

protected:
    /// The symbolic name of the entry whose value the enumeration holds;
    /// AccessException when none has it.
    std::string CurrentSymbolic(ArvGcEnumeration* enumeration) const;
};

class CIntegerPart : public virtual GenApi::IInteger, public virtual CValuePart {
public:
    void SetValue(int64_t value, bool verify = true) override;
    int64_t GetValue(bool verify = false, bool ignoreCache = false) override;
    int64_t GetMin() override;
    int64_t GetMax() override;
    GenApi::EIncMode GetIncMode() override { return GenApi::fixedIncrement; }
    int64_t GetInc() override;
    GenApi::gcstring GetUnit() const override;  // AravisNodeInfo.cpp
};

class CFloatPart : public virtual GenApi::IFloat, public virtual CValuePart {
public:
    void SetValue(double value, bool verify = true) override;
    double GetValue(bool verify = false, bool ignoreCache = false) override;
    double GetMin() override;
    double GetMax() override;
    bool HasInc() override;
    GenApi::EIncMode GetIncMode() override;
    double GetInc() override;
    GenApi::gcstring GetUnit() const override;  // AravisNodeInfo.cpp
};

class CBooleanPart : public virtual GenApi::IBoolean, public virtual CValuePart {
public:
    void SetValue(bool value, bool verify = true) override;
    bool GetValue(bool verify = false, bool ignoreCache = false) const override;
};

class CStringPart : public virtual GenApi::IString, public virtual CValuePart {
public:
    void SetValue(const GenApi::gcstring& value, bool verify = true) override;
    GenApi::gcstring GetValue(bool verify = false, bool ignoreCache = false) override;
    int64_t GetMaxLength() override;
};

class CEnumEntryPart : public virtual GenApi::IEnumEntry, public virtual CValuePart {
public:
    int64_t GetValue() override;
    GenApi::gcstring GetSymbolic() const override { return m_name; }
};

class CEnumerationPart : public virtual GenApi::IEnumeration, public virtual CValuePart {
public:
    void GetSymbolics(GenApi::gcstring_vector& symbolics) override;
    void SetIntValue(int64_t value, bool verify = true) override;
    int64_t GetIntValue(bool verify = false, bool ignoreCache = false) override;
    GenApi::IEnumEntry* GetEntryByName(const GenApi::gcstring& symbolic) override;
    GenApi::IEnumEntry* GetCurrentEntry(bool verify = false, bool ignoreCache = false) override;
    void GetEntries(GenApi::NodeList_t& entries) override;  // AravisNodeInfo.cpp
};

class CCommandPart : public virtual GenApi::ICommand, public virtual CValuePart {
public:
    void Execute(bool verify = true) override;
    /// Done once the value register no longer reads the command value (at once
    /// for a register that cannot be read).
    bool IsDone(bool verify = true) override;
};

class CRegisterPart : public virtual GenApi::IRegister, public virtual CValuePart {
public:
    /// Length must be the register's length: Aravis would zero-pad a shorter buffer
    /// over the rest of the register.
    void Set(const uint8_t* buffer, int64_t length, bool verify = true) override;
    /// Reads the register and copies its first length bytes (1 .. GetLength()).
    void Get(uint8_t* buffer, int64_t length, bool verify = false,
             bool ignoreCache = false) override;
    int64_t GetLength() override;
    int64_t GetAddress() override;
};

class CCategoryPart : public virtual GenApi::ICategory, public virtual CValuePart {
public:
    void GetFeatures(GenApi::FeatureList_t& features) const override;
};

/// A node with the given parts; the parts share one CArvNode.
template <class... Parts>
class CArvNodeOf final : public virtual CArvNode, public Parts... {
public:
    CArvNodeOf(const CArvNodeMap* map, ArvGcNode* node, std::string name,
               GenApi::EInterfaceType type)
        : CArvNode(map, node, std::move(name), type) {}
};

/// The node class for an Aravis feature node (entries of an enumeration included).
std::unique_ptr<CArvNode> MakeArvNode(const CArvNodeMap* map, ArvGcNode* node, std::string name);

}  // namespace KZRGENICAM::detail
