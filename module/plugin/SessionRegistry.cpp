#include "plugin/SessionRegistry.h"

namespace qrv {

void* CSessionRegistry::Add(std::shared_ptr<CGenICamCamera> session) {
    void* handle = session.get();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sessions[handle] = std::move(session);
    return handle;
}

std::shared_ptr<CGenICamCamera> CSessionRegistry::Find(const void* handle) const {
    if (!handle) return nullptr;
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_sessions.find(handle);
    return it == m_sessions.end() ? nullptr : it->second;
}

std::shared_ptr<CGenICamCamera> CSessionRegistry::Remove(const void* handle) {
    if (!handle) return nullptr;
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_sessions.find(handle);
    if (it == m_sessions.end()) return nullptr;
    std::shared_ptr<CGenICamCamera> session = std::move(it->second);
    m_sessions.erase(it);
    return session;
}

std::size_t CSessionRegistry::Size() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sessions.size();
}

CSessionRegistry::~CSessionRegistry() {
    // Unloading does not close what the host left open: such sessions are let go
    // as they are, only the registry itself is freed.
    for (auto& entry : m_sessions) new std::shared_ptr<CGenICamCamera>(std::move(entry.second));
}

CSessionRegistry& Sessions() {
    static CSessionRegistry registry;
    return registry;
}

}  // namespace qrv
