// The live sessions behind the handles that Open gave out. A call on a handle
// holds the session for its whole length, so a Close from another thread never
// frees a session under a call in flight: the last holder destroys it.
#pragma once

#include <memory>
#include <mutex>
#include <unordered_map>

#include "session/GenICamCamera.h"

namespace qrv {

class CSessionRegistry {
public:
    CSessionRegistry() = default;
    ~CSessionRegistry();
    CSessionRegistry(const CSessionRegistry&) = delete;
    CSessionRegistry& operator=(const CSessionRegistry&) = delete;

    /// Makes the session live; its address becomes the handle.
    void* Add(std::shared_ptr<CGenICamCamera> session);
    /// The live session behind the handle, or null for a null, unknown or closed one.
    std::shared_ptr<CGenICamCamera> Find(const void* handle) const;
    /// Takes the session out of the registry; later calls see the handle as closed.
    std::shared_ptr<CGenICamCamera> Remove(const void* handle);
    std::size_t Size() const;

private:
    mutable std::mutex m_mutex;
    std::unordered_map<const void*, std::shared_ptr<CGenICamCamera>> m_sessions;
};

CSessionRegistry& Sessions();

}  // namespace qrv
