#include "SimRecord.h"

namespace KZRSIM::detail {

CSimCameraInfo::CSimCameraInfo(const CameraSpec& spec, bool ownedByCamera, uint64_t epoch)
    : m_transport(spec.transport),
      m_id(spec.id.empty() ? "SIM-" + spec.serial : spec.id),
      m_serial(spec.serial),
      m_vendor(spec.vendor),
      m_model(spec.model),
      m_link(spec.link),
      m_faults(spec.faults),
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
    if (m_ownedByCamera || m_released) {
        ++g.library.doubleReleases;
        return;
    }
    m_released = true;
    if (m_epoch == g.epoch) --g.library.recordsOut;
    evicted = BuryLocked(this);
}

}  // namespace KZRSIM::detail
