// Discovery record of a simulated camera.
#pragma once

#include <string>

#include "SimState.h"

namespace KZRSIM::detail {

class CSimCameraInfo final : public KZRGENICAM::ICameraInfo, public CGraveItem {
public:
    /// ownedByCamera: the record a camera lends through getInfo; giving it back
    /// is a caller error and only counted.
    CSimCameraInfo(const CameraSpec& desc, bool ownedByCamera, uint64_t epoch);
    ~CSimCameraInfo() override = default;

    int getInterfaceType() const override;
    const char* getId() const override { return m_id.c_str(); }
    const char* getSerialNumber() const override;
    const char* getManufacturer() const override { return m_vendor.c_str(); }
    const char* getModelName() const override { return m_model.c_str(); }
    const char* getLinkName() const override { return m_link.c_str(); }
    void release() override;

private:
    int m_transport;
    std::string m_id;
    std::string m_serial;
    std::string m_vendor;
    std::string m_model;
    std::string m_link;
    FaultMap m_faults;
    bool m_ownedByCamera;
    uint64_t m_epoch;
    bool m_released = false;  // guarded by Global().mutex
};

}  // namespace KZRSIM::detail
