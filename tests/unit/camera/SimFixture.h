// Shared helpers of the camera library tests: every test starts from an empty
// simulated transport.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "KZRGeniCam.h"
#include "KZRSim.h"

class SimTest : public ::testing::Test {
protected:
    void SetUp() override { KZRSIM::Reset(); }
    void TearDown() override { KZRSIM::Reset(); }

    static KZRSIM::CameraSpec Cam(const std::string& serial) {
        KZRSIM::CameraSpec desc;
        desc.serial = serial;
        return desc;
    }
    static void Use(std::initializer_list<KZRSIM::CameraSpec> cameras) {
        KZRSIM::Scenario s;
        s.cameras = cameras;
        KZRSIM::SetScenario(s);
    }
};

/// Releases a camera at scope end.
struct CameraGuard {
    KZRGENICAM::ICamera* camera;
    explicit CameraGuard(KZRGENICAM::ICamera* c) : camera(c) {}
    ~CameraGuard() {
        if (camera) camera->release();
    }
    CameraGuard(const CameraGuard&) = delete;
    CameraGuard& operator=(const CameraGuard&) = delete;
    KZRGENICAM::ICamera* operator->() const { return camera; }
};
