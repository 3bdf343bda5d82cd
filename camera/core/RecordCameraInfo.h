// A discovery record over what a transport's listing tells about one device.
#pragma once

#include <utility>

#include "KZRGeniCam.h"

namespace KZRGENICAM {

/// TRecord: a struct with transport, id, serial, vendor, model and link (texts as
/// std::string). A record the camera keeps for itself (ownedByCamera) is left
/// alone by release(); every other one is deleted by it, exactly once.
template <class TRecord>
class CRecordCameraInfo final : public ICameraInfo {
public:
    CRecordCameraInfo(TRecord record, bool ownedByCamera)
        : m_record(std::move(record)), m_ownedByCamera(ownedByCamera) {}
    ~CRecordCameraInfo() override = default;

    int getInterfaceType() const override { return m_record.transport; }
    const char* getId() const override { return m_record.id.c_str(); }
    const char* getSerialNumber() const override { return m_record.serial.c_str(); }
    const char* getManufacturer() const override { return m_record.vendor.c_str(); }
    const char* getModelName() const override { return m_record.model.c_str(); }
    const char* getLinkName() const override { return m_record.link.c_str(); }
    void release() override {
        if (!m_ownedByCamera) delete this;
    }
    const TRecord& Record() const { return m_record; }

private:
    TRecord m_record;
    bool m_ownedByCamera;
};

}  // namespace KZRGENICAM
