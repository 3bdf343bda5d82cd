// Gives a fetched frame back to the camera library exactly once, on every way
// out of a grab.
#pragma once

#include "KZRGeniCam.h"

namespace qrv {

class CFrameGuard {
public:
    CFrameGuard() = default;
    ~CFrameGuard() { Release(); }
    CFrameGuard(const CFrameGuard&) = delete;
    CFrameGuard& operator=(const CFrameGuard&) = delete;

    /// Where getFrame writes the frame.
    KZRGENICAM::IFrame** Slot() { return &m_frame; }
    KZRGENICAM::IFrame* operator->() const { return m_frame; }
    KZRGENICAM::IFrame* Get() const { return m_frame; }

    void Release() {
        if (m_frame) {
            KZRGENICAM::IFrame* frame = m_frame;
            m_frame = nullptr;
            frame->release();
        }
    }

private:
    KZRGENICAM::IFrame* m_frame = nullptr;
};

}  // namespace qrv
