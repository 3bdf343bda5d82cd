#include "plugin/SessionRegistry.h"

#include <limits>

namespace qrv {

namespace {

static_assert(sizeof(void*) >= sizeof(std::uint64_t),
              "a handle carries a 32-bit slot and a 32-bit generation");

constexpr std::uint32_t kLastGeneration = std::numeric_limits<std::uint32_t>::max();

void* MakeHandle(std::uint32_t index, std::uint32_t generation) {
    const std::uint64_t id = (static_cast<std::uint64_t>(generation) << 32) | (index + 1ULL);
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(id));
}

/// Slot index and generation of a handle; false for a value that no slot can have.
bool SplitHandle(const void* handle, std::uint32_t& index, std::uint32_t& generation) {
    const std::uint64_t id = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(handle));
    const std::uint32_t slot = static_cast<std::uint32_t>(id);
    generation = static_cast<std::uint32_t>(id >> 32);
    if (slot == 0 || generation == 0) return false;
    index = slot - 1;
    return true;
}

}  // namespace

void* CSessionRegistry::Add(std::shared_ptr<CGenICamCamera> session) {
    if (!session) return nullptr;
    std::lock_guard<std::mutex> lock(m_mutex);
    std::uint32_t index = 0;
    if (!m_free.empty()) {
        index = m_free.back();
        m_free.pop_back();
    } else {
        if (m_slots.size() >= std::numeric_limits<std::uint32_t>::max() - 1) return nullptr;
        index = static_cast<std::uint32_t>(m_slots.size());
        m_slots.emplace_back();
    }
    SSlot& slot = m_slots[index];
    slot.session = std::move(session);
    ++m_live;
    return MakeHandle(index, slot.generation);
}

const CSessionRegistry::SSlot* CSessionRegistry::LiveSlotLocked(const void* handle) const {
    std::uint32_t index = 0;
    std::uint32_t generation = 0;
    if (!SplitHandle(handle, index, generation) || index >= m_slots.size()) return nullptr;
    const SSlot& slot = m_slots[index];
    return slot.session && slot.generation == generation ? &slot : nullptr;
}

std::shared_ptr<CGenICamCamera> CSessionRegistry::Find(const void* handle) const {
    if (!handle) return nullptr;
    std::lock_guard<std::mutex> lock(m_mutex);
    const SSlot* slot = LiveSlotLocked(handle);
    return slot ? slot->session : nullptr;
}

std::shared_ptr<CGenICamCamera> CSessionRegistry::Remove(const void* handle) {
    if (!handle) return nullptr;
    std::lock_guard<std::mutex> lock(m_mutex);
    const SSlot* live = LiveSlotLocked(handle);
    if (!live) return nullptr;
    const auto index = static_cast<std::uint32_t>(live - m_slots.data());
    SSlot& slot = m_slots[index];
    std::shared_ptr<CGenICamCamera> session = std::move(slot.session);
    slot.session.reset();
    --m_live;
    // A slot whose generations are used up is never handed out again, so no id
    // comes back even after four billion opens on one slot.
    if (slot.generation != kLastGeneration) {
        ++slot.generation;
        m_free.push_back(index);
    }
    return session;
}

std::size_t CSessionRegistry::Size() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_live;
}

CSessionRegistry::~CSessionRegistry() {
    // Unloading does not close what the host left open: such sessions are let go
    // as they are, only the registry itself is freed.
    for (SSlot& slot : m_slots) {
        if (slot.session) new std::shared_ptr<CGenICamCamera>(std::move(slot.session));
    }
}

CSessionRegistry& Sessions() {
    static CSessionRegistry registry;
    return registry;
}

}  // namespace qrv
