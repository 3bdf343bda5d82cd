// In-memory node map: a GenApi INodeMap whose nodes are built in code. It backs
// the simulated cameras and serves tests that need a node map with exact ranges,
// access modes, command timing and injected faults.
//
// Threads: every node operation of one map runs under that map's lock. Observers
// (SetOnExecute, SetOnWrite) are called after the lock is released, on the thread
// that made the call, so an observer may call into the map again.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ChunkNodeMap.h"
#include "GenApi.h"

namespace GenApi {

/// Operations that a fault can be injected into. A node only sees the operations
/// of its own interfaces; Any matches every operation of the node.
enum class EFaultOp {
    Any,
    GetAccessMode,
    GetValue,  // IBoolean/IInteger/IFloat/IString GetValue, IEnumeration GetIntValue
    SetValue,  // the matching SetValue, IEnumeration SetIntValue
    GetMin,
    GetMax,
    GetInc,
    ToString,
    FromString,
    GetSymbolics,
    Execute,
    IsDone,
    RegisterGet,
    RegisterSet
};

/// What an injected fault raises: a GenICam RuntimeException, or a plain
/// std::runtime_error that is not a GenICam exception.
enum class EFaultKind { GenICam, Std };

struct SFault {
    EFaultOp op = EFaultOp::Any;
    EFaultKind kind = EFaultKind::GenICam;
    /// 0: every call raises; N > 0: only the Nth matching call (counted from 1) raises.
    int64_t nth = 0;
};

/// When an executed command reports done.
enum class ECommandCompletion {
    Immediate,   // IsDone is true right after Execute (and before the first Execute)
    AfterPolls,  // IsDone answers false param times after each Execute, then true
    AfterDelay,  // IsDone is true param milliseconds after the last Execute
    Never        // IsDone never answers true, not even before the first Execute
};

/// What a feature browser shows of a node; empty texts fall back to the name
/// (display name) and the description (tool tip).
struct SNodeText {
    std::string displayName;
    std::string description;
    std::string toolTip;
    std::string unit;  ///< integer and float nodes only
    EVisibility visibility = Beginner;
};

/// Handle to configure a node after it was added. Valid while its map lives.
class GENAPI_API CMemNodeRef {
public:
    explicit CMemNodeRef(class CMemNode* node) : m_node(node) {}
    /// Access mode the node reports (default RW; NI and NA nodes refuse every value
    /// operation with AccessException).
    CMemNodeRef& Access(EAccessMode mode);
    /// Whether the node counts as a feature (default true).
    CMemNodeRef& Feature(bool isFeature);
    CMemNodeRef& InjectFault(const SFault& fault);
    /// Called after every successful Execute of this command node.
    CMemNodeRef& OnExecute(std::function<void()> observer);
    /// Called after every successful write of this node's value (any interface).
    CMemNodeRef& OnWrite(std::function<void()> observer);
    CMemNodeRef& Text(const SNodeText& text);
    /// Makes an integer, enumeration or boolean node a selector of the named
    /// nodes: each of its values keeps its own value of each of them, starting
    /// from what they hold now (so add them first).
    CMemNodeRef& Selects(const std::vector<std::string>& names);
    /// Only for commands: how they complete.
    CMemNodeRef& Completion(ECommandCompletion completion, int64_t param = 0);
    /// Only for integers and floats: makes the node a chunk feature. Its value is
    /// bytes [offset, offset + length) of the chunk with this id in the last frame
    /// attached: a little-endian unsigned integer (length 1 to 8), or an IEEE float
    /// (length 4) or double (8). Read-only while its chunk is attached, NA before
    /// and when the last frame lacks it.
    CMemNodeRef& Chunk(uint64_t id, int64_t offset, int64_t length);
    class CMemNode* Node() const {
        return m_node;
    }

private:
    class CMemNode* m_node;
};

/// Float increment description.
struct SFloatInc {
    bool hasInc = false;
    EIncMode mode = noIncrement;  // with hasInc, fixedIncrement or listIncrement
    double inc = 0.0;
};

class GENAPI_API CMemoryNodeMap : public INodeMap, public IChunkNodeMap {
public:
    explicit CMemoryNodeMap(std::string deviceName = "Device");
    ~CMemoryNodeMap() override;
    CMemoryNodeMap(const CMemoryNodeMap&) = delete;
    CMemoryNodeMap& operator=(const CMemoryNodeMap&) = delete;

    INode* GetNode(const gcstring& Name) const override;
    void GetNodes(NodeList_t& Nodes) const override;
    gcstring GetDeviceName() override;

    // IChunkNodeMap: chunk features are nodes configured with CMemNodeRef::Chunk.
    void AttachChunks(const SChunkView* blocks, std::size_t count) override;
    std::vector<SChunkFeature> ChunkFeatures() const override;
    bool HasChunkFeatures() const override;

    // Builders. Adding a name that exists replaces the old node. Integer writes
    // with Verify refuse values outside [min, max] or off the grid min + k*inc
    // (OutOfRangeException); every write refuses a node that is not writable
    // (AccessException) and every read one that is not readable.
    CMemNodeRef AddBoolean(const std::string& name, bool value);
    CMemNodeRef AddInteger(const std::string& name, int64_t value, int64_t min, int64_t max,
                           int64_t inc = 1);
    CMemNodeRef AddFloat(const std::string& name, double value, double min, double max,
                         SFloatInc inc = {});
    CMemNodeRef AddString(const std::string& name, const std::string& value,
                          int64_t maxLength = 256);
    /// entries: symbolic name and integer value, in the order GetSymbolics lists them.
    CMemNodeRef AddEnumeration(const std::string& name,
                               const std::vector<std::pair<std::string, int64_t>>& entries,
                               const std::string& current);
    CMemNodeRef AddCommand(const std::string& name,
                           ECommandCompletion completion = ECommandCompletion::Immediate,
                           int64_t param = 0);
    /// A register of a fixed length; Get/Set with another length raise
    /// InvalidArgumentException. The initial content is bytes, zero-padded or cut.
    CMemNodeRef AddRegister(const std::string& name, int64_t length,
                            const std::vector<uint8_t>& bytes = {}, int64_t address = 0);
    /// An integer register: IInteger (principal) and IRegister over the same bytes
    /// (little-endian, length 1 to 8).
    CMemNodeRef AddIntRegister(const std::string& name, int64_t value, int64_t min, int64_t max,
                               int64_t length = 4, int64_t address = 0);
    /// A category listing the given feature names (nodes need not exist yet).
    CMemNodeRef AddCategory(const std::string& name, const std::vector<std::string>& features = {});
    /// A node that is only INode/IBase/IValue: principal interface intfIValue.
    CMemNodeRef AddValue(const std::string& name);
    /// A port node (principal intfIPort).
    CMemNodeRef AddPort(const std::string& name, int64_t size = 0);

    /// The node for further configuration; throws std::out_of_range for an unknown name.
    CMemNodeRef Ref(const std::string& name);
    bool Has(const std::string& name) const;
    void Remove(const std::string& name);

    // Direct access for simulators and tests: no access checks, no faults, no
    // observers, no counters. Throw std::out_of_range for an unknown name and
    // std::logic_error for a node of another kind.
    int64_t PeekInt(
        const std::string& name) const;  // integer, int register, enum int value, boolean 0/1
    double PeekFloat(const std::string& name) const;
    std::string PeekString(const std::string& name) const;  // string value or enum symbolic
    void PokeInt(const std::string& name,
                 int64_t value);  // integer, int register, enum int, boolean
    void PokeFloat(const std::string& name, double value);
    void PokeString(const std::string& name, const std::string& value);  // string or enum symbolic

    /// Calls of Execute on a command node that succeeded.
    int64_t ExecuteCount(const std::string& name) const;
    /// Calls of any operation on the node (for tests of how often a node was asked).
    int64_t CallCount(const std::string& name, EFaultOp op) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    friend class CMemNode;
    friend class CMemNodeRef;
};

}  // namespace GenApi
