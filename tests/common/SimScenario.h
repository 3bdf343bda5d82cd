// The simulated transport shared by the camera library and module tests: every
// test starts and ends with no scenario, and a camera released at scope end.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KZRGeniCam.h"
#include "KZRSim.h"

class SimTest : public ::testing::Test {
protected:
    void SetUp() override { KZRSIM::Reset(); }
    void TearDown() override { KZRSIM::Reset(); }

    /// A camera with the simulator's defaults.
    static KZRSIM::CameraSpec Cam(const std::string& serial) {
        KZRSIM::CameraSpec desc;
        desc.serial = serial;
        return desc;
    }
    static void Use(std::vector<KZRSIM::CameraSpec> cameras,
                    std::vector<std::string> clSerials = {},
                    std::vector<std::string> clProtocols = {}) {
        KZRSIM::Scenario scenario;
        scenario.cameras = std::move(cameras);
        scenario.clSerials = std::move(clSerials);
        scenario.clProtocols = std::move(clProtocols);
        KZRSIM::SetScenario(scenario);
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
