// The live sessions behind the handles that Open gave out. A handle is an id,
// not an address: the low 32 bits name a slot of the table (plus one), the high
// 32 bits the slot's generation, which Remove advances. An id is therefore never
// handed out twice in a process, and a null, closed or forged handle is only
// ever compared against the table, never followed.
//
// A call on a handle holds the session for its whole length, so a Close from
// another thread never frees a session under a call in flight: the last holder
// destroys it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "session/GenICamCamera.h"

namespace qrv {

class CSessionRegistry {
public:
    CSessionRegistry() = default;
    ~CSessionRegistry();
    CSessionRegistry(const CSessionRegistry&) = delete;
    CSessionRegistry& operator=(const CSessionRegistry&) = delete;

    /// Makes the session live and returns its new handle; null when the table
    /// cannot take another session (the session is then dropped).
    void* Add(std::shared_ptr<CGenICamCamera> session);
    /// The live session behind the handle, or null for a null, unknown or closed one.
    std::shared_ptr<CGenICamCamera> Find(const void* handle) const;
    /// Takes the session out of the registry; later calls see the handle as closed.
    std::shared_ptr<CGenICamCamera> Remove(const void* handle);
    std::size_t Size() const;

private:
    struct SSlot {
        std::uint32_t generation = 1;  ///< of the live session, or of the next one
        std::shared_ptr<CGenICamCamera> session;
    };

    /// The slot a handle names if it is live with the handle's generation, else null.
    const SSlot* LiveSlotLocked(const void* handle) const;

    mutable std::mutex m_mutex;
    std::vector<SSlot> m_slots;
    std::vector<std::uint32_t> m_free;  ///< indexes of empty slots that may be used again
    std::size_t m_live = 0;
};

CSessionRegistry& Sessions();

}  // namespace qrv
