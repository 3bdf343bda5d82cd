#include "SimRecord.h"

namespace KZRSIM::detail {

CSimCameraInfo::CSimCameraInfo(const CameraSpec& desc, bool ownedByCamera, uint64_t epoch)
    : m_transport(desc.transport),
      m_id(desc.id.empty() ? "DEV-" + desc.serial : desc.id),
      m_serial(desc.serial),
      m_vendor(desc.vendor),
      m_model(desc.model),
      m_link(desc.link),
      m_faults(desc.faults),
      m_ownedByCamera(ownedByCamera),
      m_epoch(epoch) {}

int CSimCameraInfo::getInterfaceType() const {
    CheckFault(m_faults, "getInterfaceType");
    return m_transport;
}

const char* CSimCameraInfo::getSerialNumber() const {
    CheckFault(m_faults, "getSerialNumber");
    return m_serial.c_str();
}

void CSimCameraInfo::release() {
    std::unique_ptr<CGraveItem> evicted;
    State& g = Global();
    std::lock_guard<std::mutex> lock(g.mutex);
    // A record its camera owns is never the caller's to give back.
    if (m_ownedByCamera) {
        ++g.library.doubleReleases;
        return;
    }
    if (!FirstReleaseLocked(g, m_released)) return;
    if (m_epoch == g.epoch) --g.library.recordsOut;
    evicted = BuryLocked(this);
}

}  // namespace KZRSIM::detail
