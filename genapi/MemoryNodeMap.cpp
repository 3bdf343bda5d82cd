#include "MemoryNodeMap.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "MemNodes.h"

namespace GenApi {

struct CMemoryNodeMap::Impl : CMemMapState {};

// ---------------------------------------------------------------------------
// CMemMapState

CMemNode* CMemMapState::Find(const std::string& name) const {
    auto it = byName.find(name);
    return it == byName.end() ? nullptr : it->second;
}

CMemNode* CMemMapState::FindOrThrow(const std::string& name) const {
    CMemNode* node = Find(name);
    if (!node) throw std::out_of_range("no node '" + name + "' in the node map");
    return node;
}

void CMemMapState::Insert(std::unique_ptr<CMemNode> node) {
    CMemNode* raw = node.get();
    storage.push_back(std::move(node));
    auto it = byName.find(raw->Name());
    if (it == byName.end()) {
        order.push_back(raw);
        byName.emplace(raw->Name(), raw);
        return;
    }
    // A replaced enumeration takes its entries with it; the new one brings its own.
    if (auto* oldEnum = dynamic_cast<CEnumerationNode*>(it->second)) {
        for (CEnumEntryNode* entry : oldEnum->m_entries) {
            if (Find(entry->Name()) == entry) Unlink(entry->Name());
        }
    }
    it = byName.find(raw->Name());
    std::replace(order.begin(), order.end(), it->second, raw);
    it->second = raw;
}

void CMemMapState::Unlink(const std::string& name) {
    auto it = byName.find(name);
    if (it == byName.end()) return;
    CMemNode* node = it->second;
    byName.erase(it);
    order.erase(std::remove(order.begin(), order.end(), node), order.end());
    if (auto* enumeration = dynamic_cast<CEnumerationNode*>(node)) {
        for (CEnumEntryNode* entry : enumeration->m_entries) {
            if (Find(entry->Name()) == entry) Unlink(entry->Name());
        }
    }
}

// ---------------------------------------------------------------------------
// CMemNodeRef

namespace {

template <class F>
void Configure(CMemNode* node, F&& change) {
    if (!node) throw std::logic_error("empty node reference");
    MapLock lock(node->Map()->mutex);
    change(*node);
}

}  // namespace

CMemNodeRef& CMemNodeRef::Access(EAccessMode mode) {
    Configure(m_node, [mode](CMemNode& node) { node.SetAccess(mode); });
    return *this;
}

CMemNodeRef& CMemNodeRef::Feature(bool isFeature) {
    Configure(m_node, [isFeature](CMemNode& node) { node.SetFeature(isFeature); });
    return *this;
}

CMemNodeRef& CMemNodeRef::Selects(const std::vector<std::string>& names) {
    Configure(m_node, [&names](CMemNode& node) { node.SetSelected(names); });
    return *this;
}

CMemNodeRef& CMemNodeRef::Text(const SNodeText& text) {
    Configure(m_node, [&text](CMemNode& node) { node.SetText(text); });
    return *this;
}

CMemNodeRef& CMemNodeRef::InjectFault(const SFault& fault) {
    if (fault.nth < 0) throw std::invalid_argument("fault ordinal must not be negative");
    Configure(m_node, [&fault](CMemNode& node) { node.AddFault(fault); });
    return *this;
}

CMemNodeRef& CMemNodeRef::OnExecute(std::function<void()> observer) {
    Configure(m_node, [&observer](CMemNode& node) { node.SetOnExecute(std::move(observer)); });
    return *this;
}

CMemNodeRef& CMemNodeRef::OnWrite(std::function<void()> observer) {
    Configure(m_node, [&observer](CMemNode& node) { node.SetOnWrite(std::move(observer)); });
    return *this;
}

CMemNodeRef& CMemNodeRef::Completion(ECommandCompletion completion, int64_t param) {
    if (param < 0) throw std::invalid_argument("command completion parameter must not be negative");
    Configure(m_node, [&](CMemNode& node) {
        auto* command = dynamic_cast<CCommandNode*>(&node);
        if (!command) throw std::logic_error("node '" + node.Name() + "' is not a command");
        command->SetCompletion(completion, param);
    });
    return *this;
}

CMemNodeRef& CMemNodeRef::Chunk(uint64_t id, int64_t offset, int64_t length) {
    Configure(m_node, [&](CMemNode& node) {
        const bool integer = dynamic_cast<CIntegerNode*>(&node) != nullptr;
        if (!integer && !dynamic_cast<CFloatNode*>(&node))
            throw std::logic_error("node '" + node.Name() + "' is neither an integer nor a float");
        const bool lengthFits = integer ? length >= 1 && length <= 8 : length == 4 || length == 8;
        if (offset < 0 || !lengthFits)
            throw std::invalid_argument("chunk feature '" + node.Name() +
                                        "': bad offset or length");
        auto& bindings = node.Map()->chunkBindings;
        bindings.erase(
            std::remove_if(bindings.begin(), bindings.end(),
                           [&](const CMemMapState::SChunkBinding& b) { return b.node == &node; }),
            bindings.end());
        bindings.push_back({&node, id, offset, length});
        node.SetAccess(NA);  // no frame attached yet
    });
    return *this;
}

// ---------------------------------------------------------------------------
// CMemoryNodeMap

CMemoryNodeMap::CMemoryNodeMap(std::string deviceName) : m_impl(std::make_unique<Impl>()) {
    m_impl->deviceName = std::move(deviceName);
}

CMemoryNodeMap::~CMemoryNodeMap() = default;

INode* CMemoryNodeMap::GetNode(const gcstring& Name) const {
    MapLock lock(m_impl->mutex);
    return m_impl->Find(Name.str());
}

void CMemoryNodeMap::GetNodes(NodeList_t& Nodes) const {
    MapLock lock(m_impl->mutex);
    Nodes.assign(m_impl->order.begin(), m_impl->order.end());
}

gcstring CMemoryNodeMap::GetDeviceName() {
    MapLock lock(m_impl->mutex);
    return m_impl->deviceName;
}

namespace {

uint64_t LoadLittleEndian(const uint8_t* bytes, int64_t length) {
    uint64_t value = 0;
    for (int64_t i = length; i-- > 0;) value = (value << 8) | bytes[i];
    return value;
}

}  // namespace

void CMemoryNodeMap::AttachChunks(const SChunkView* blocks, std::size_t count) {
    MapLock lock(m_impl->mutex);
    for (const CMemMapState::SChunkBinding& binding : m_impl->chunkBindings) {
        const SChunkView* block = nullptr;
        for (std::size_t i = 0; i < count && !block; ++i)
            if (blocks[i].id == binding.id) block = &blocks[i];
        const uint64_t end = static_cast<uint64_t>(binding.offset + binding.length);
        if (!block || !block->data || block->size < end) {
            binding.node->SetAccess(NA);
            continue;
        }
        const uint64_t bits = LoadLittleEndian(block->data + binding.offset, binding.length);
        if (auto* integer = dynamic_cast<CIntegerNode*>(binding.node)) {
            integer->Store(static_cast<int64_t>(bits));
        } else if (auto* real = dynamic_cast<CFloatNode*>(binding.node)) {
            if (binding.length == 8) {
                std::memcpy(&real->m_value, &bits, sizeof(double));
            } else {
                const uint32_t narrow = static_cast<uint32_t>(bits);
                float single = 0;
                std::memcpy(&single, &narrow, sizeof(float));
                real->m_value = single;
            }
        }
        binding.node->SetAccess(RO);
    }
}

std::vector<SChunkFeature> CMemoryNodeMap::ChunkFeatures() const {
    MapLock lock(m_impl->mutex);
    std::vector<SChunkFeature> out;
    for (const CMemMapState::SChunkBinding& binding : m_impl->chunkBindings)
        if (m_impl->Find(binding.node->Name()) == binding.node)
            out.push_back({binding.node->Name(), binding.id, binding.length});
    return out;
}

bool CMemoryNodeMap::HasChunkFeatures() const {
    MapLock lock(m_impl->mutex);
    return !m_impl->chunkBindings.empty();
}

namespace {

template <class N>
CMemNodeRef Add(CMemMapState& map, std::unique_ptr<N> node) {
    N* raw = node.get();
    MapLock lock(map.mutex);
    map.Insert(std::move(node));
    return CMemNodeRef(raw);
}

}  // namespace

CMemNodeRef CMemoryNodeMap::AddBoolean(const std::string& name, bool value) {
    return Add(*m_impl, std::make_unique<CBooleanNode>(m_impl.get(), name, value));
}

CMemNodeRef CMemoryNodeMap::AddInteger(const std::string& name, int64_t value, int64_t min,
                                       int64_t max, int64_t inc) {
    if (min > max) throw std::invalid_argument("integer '" + name + "': min above max");
    if (inc <= 0) throw std::invalid_argument("integer '" + name + "': increment must be positive");
    auto node = std::make_unique<CIntegerNode>(m_impl.get(), name, min, max, inc);
    node->Store(value);
    return Add(*m_impl, std::move(node));
}

CMemNodeRef CMemoryNodeMap::AddFloat(const std::string& name, double value, double min, double max,
                                     SFloatInc inc) {
    if (!(min <= max)) throw std::invalid_argument("float '" + name + "': min above max");
    if (inc.hasInc && inc.mode == fixedIncrement && !(inc.inc > 0.0)) {
        throw std::invalid_argument("float '" + name + "': fixed increment must be positive");
    }
    return Add(*m_impl, std::make_unique<CFloatNode>(m_impl.get(), name, value, min, max, inc));
}

CMemNodeRef CMemoryNodeMap::AddString(const std::string& name, const std::string& value,
                                      int64_t maxLength) {
    if (maxLength < 0)
        throw std::invalid_argument("string '" + name + "': negative maximum length");
    return Add(*m_impl, std::make_unique<CStringNode>(m_impl.get(), name, value, maxLength));
}

CMemNodeRef CMemoryNodeMap::AddEnumeration(
    const std::string& name, const std::vector<std::pair<std::string, int64_t>>& entries,
    const std::string& current) {
    auto node = std::make_unique<CEnumerationNode>(m_impl.get(), name);
    std::vector<std::unique_ptr<CEnumEntryNode>> entryNodes;
    for (const auto& [symbolic, value] : entries) {
        entryNodes.push_back(std::make_unique<CEnumEntryNode>(
            m_impl.get(), "EnumEntry_" + name + "_" + symbolic, symbolic, value));
        node->m_entries.push_back(entryNodes.back().get());
    }
    if (!current.empty()) {
        const CEnumEntryNode* entry = node->EntryBySymbolic(current);
        if (!entry)
            throw std::invalid_argument("enumeration '" + name + "' has no entry '" + current +
                                        "'");
        node->m_value = entry->m_value;
    } else if (!node->m_entries.empty()) {
        node->m_value = node->m_entries.front()->m_value;
    }
    MapLock lock(m_impl->mutex);
    CMemNodeRef ref = Add(*m_impl, std::move(node));
    for (auto& entry : entryNodes) m_impl->Insert(std::move(entry));
    return ref;
}

CMemNodeRef CMemoryNodeMap::AddCommand(const std::string& name, ECommandCompletion completion,
                                       int64_t param) {
    if (param < 0)
        throw std::invalid_argument("command '" + name + "': negative completion parameter");
    return Add(*m_impl, std::make_unique<CCommandNode>(m_impl.get(), name, completion, param));
}

CMemNodeRef CMemoryNodeMap::AddRegister(const std::string& name, int64_t length,
                                        const std::vector<uint8_t>& bytes, int64_t address) {
    if (length < 0) throw std::invalid_argument("register '" + name + "': negative length");
    std::vector<uint8_t> content(bytes);
    content.resize(static_cast<std::size_t>(length), 0);
    return Add(*m_impl,
               std::make_unique<CRegisterNode>(m_impl.get(), name, std::move(content), address));
}

CMemNodeRef CMemoryNodeMap::AddIntRegister(const std::string& name, int64_t value, int64_t min,
                                           int64_t max, int64_t length, int64_t address) {
    if (length < 1 || length > 8)
        throw std::invalid_argument("int register '" + name + "': length not 1..8");
    if (min > max) throw std::invalid_argument("int register '" + name + "': min above max");
    auto node = std::make_unique<CIntRegNode>(m_impl.get(), name, min, max, length, address);
    node->Store(value);
    return Add(*m_impl, std::move(node));
}

CMemNodeRef CMemoryNodeMap::AddCategory(const std::string& name,
                                        const std::vector<std::string>& features) {
    return Add(*m_impl, std::make_unique<CCategoryNode>(m_impl.get(), name, features));
}

CMemNodeRef CMemoryNodeMap::AddValue(const std::string& name) {
    return Add(*m_impl, std::make_unique<CValueNode>(m_impl.get(), name));
}

CMemNodeRef CMemoryNodeMap::AddPort(const std::string& name, int64_t size) {
    if (size < 0) throw std::invalid_argument("port '" + name + "': negative size");
    return Add(*m_impl, std::make_unique<CPortNode>(m_impl.get(), name, size));
}

CMemNodeRef CMemoryNodeMap::Ref(const std::string& name) {
    MapLock lock(m_impl->mutex);
    return CMemNodeRef(m_impl->FindOrThrow(name));
}

bool CMemoryNodeMap::Has(const std::string& name) const {
    MapLock lock(m_impl->mutex);
    return m_impl->Find(name) != nullptr;
}

void CMemoryNodeMap::Remove(const std::string& name) {
    MapLock lock(m_impl->mutex);
    m_impl->Unlink(name);
}

// ---------------------------------------------------------------------------
// Direct access

namespace {

[[noreturn]] void WrongKind(const std::string& name, const char* wanted) {
    throw std::logic_error("node '" + name + "' is not " + wanted);
}

}  // namespace

int64_t CMemoryNodeMap::PeekInt(const std::string& name) const {
    MapLock lock(m_impl->mutex);
    CMemNode* node = m_impl->FindOrThrow(name);
    if (auto* integer = dynamic_cast<CIntegerNode*>(node)) return integer->Load();
    if (auto* enumeration = dynamic_cast<CEnumerationNode*>(node)) return enumeration->m_value;
    if (auto* boolean = dynamic_cast<CBooleanNode*>(node)) return boolean->m_value ? 1 : 0;
    WrongKind(name, "an integer, enumeration or boolean");
}

double CMemoryNodeMap::PeekFloat(const std::string& name) const {
    MapLock lock(m_impl->mutex);
    CMemNode* node = m_impl->FindOrThrow(name);
    if (auto* real = dynamic_cast<CFloatNode*>(node)) return real->m_value;
    WrongKind(name, "a float");
}

std::string CMemoryNodeMap::PeekString(const std::string& name) const {
    MapLock lock(m_impl->mutex);
    CMemNode* node = m_impl->FindOrThrow(name);
    if (auto* text = dynamic_cast<CStringNode*>(node)) return text->m_value;
    if (auto* enumeration = dynamic_cast<CEnumerationNode*>(node)) {
        const CEnumEntryNode* entry = enumeration->EntryByValue(enumeration->m_value);
        return entry ? entry->m_symbolic : std::string();
    }
    WrongKind(name, "a string or enumeration");
}

void CMemoryNodeMap::PokeInt(const std::string& name, int64_t value) {
    MapLock lock(m_impl->mutex);
    CMemNode* node = m_impl->FindOrThrow(name);
    if (auto* integer = dynamic_cast<CIntegerNode*>(node)) return integer->Store(value);
    if (auto* enumeration = dynamic_cast<CEnumerationNode*>(node)) {
        enumeration->m_value = value;
        return;
    }
    if (auto* boolean = dynamic_cast<CBooleanNode*>(node)) {
        boolean->m_value = value != 0;
        return;
    }
    WrongKind(name, "an integer, enumeration or boolean");
}

void CMemoryNodeMap::PokeFloat(const std::string& name, double value) {
    MapLock lock(m_impl->mutex);
    CMemNode* node = m_impl->FindOrThrow(name);
    auto* real = dynamic_cast<CFloatNode*>(node);
    if (!real) WrongKind(name, "a float");
    real->m_value = value;
}

void CMemoryNodeMap::PokeString(const std::string& name, const std::string& value) {
    MapLock lock(m_impl->mutex);
    CMemNode* node = m_impl->FindOrThrow(name);
    if (auto* text = dynamic_cast<CStringNode*>(node)) {
        text->m_value = value;
        return;
    }
    if (auto* enumeration = dynamic_cast<CEnumerationNode*>(node)) {
        const CEnumEntryNode* entry = enumeration->EntryBySymbolic(value);
        if (!entry)
            throw std::invalid_argument("enumeration '" + name + "' has no entry '" + value + "'");
        enumeration->m_value = entry->m_value;
        return;
    }
    WrongKind(name, "a string or enumeration");
}

int64_t CMemoryNodeMap::ExecuteCount(const std::string& name) const {
    MapLock lock(m_impl->mutex);
    auto* command = dynamic_cast<CCommandNode*>(m_impl->FindOrThrow(name));
    if (!command) WrongKind(name, "a command");
    return command->m_executed;
}

int64_t CMemoryNodeMap::CallCount(const std::string& name, EFaultOp op) const {
    MapLock lock(m_impl->mutex);
    return m_impl->FindOrThrow(name)->CallCount(op);
}

}  // namespace GenApi
