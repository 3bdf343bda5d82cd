// The test description on a memory-backed device, seeded as the description's
// seed file says, with Aravis's tree and the GenApi adapter over it.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "AravisNodeMap.h"
#include "MemoryDevice.h"

inline std::string ReadFixture(const std::string& name) {
    std::ifstream in(std::string(KZR_GENICAM_FIXTURES) + "/" + name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class NodeMapOnMemory : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string xml = ReadFixture("kzr_test_camera.xml");
        ASSERT_FALSE(xml.empty()) << "fixture missing";
        device = KzrMemoryDeviceNew(xml, 0x10000);
        std::istringstream seeds(ReadFixture("kzr_test_camera.seeds"));
        std::string address, value;
        while (seeds >> address >> value)
            KzrMemoryDevicePoke(device, std::stoull(address, nullptr, 16),
                                static_cast<uint32_t>(std::stoull(value, nullptr, 16)));
        gc = arv_device_get_genicam(device);
        // As the camera sets them.
        arv_gc_set_range_check_policy(gc, ARV_RANGE_CHECK_POLICY_ENABLE);
        arv_gc_set_access_check_policy(gc, ARV_ACCESS_CHECK_POLICY_ENABLE);
        map = std::make_unique<KZRGENICAM::detail::CArvNodeMap>(gc, "memory", lost);
    }

    void TearDown() override {
        map.reset();
        if (device) g_object_unref(device);
    }

    ArvDevice* device = nullptr;
    ArvGc* gc = nullptr;
    std::shared_ptr<std::atomic<bool>> lost = std::make_shared<std::atomic<bool>>(false);
    std::unique_ptr<KZRGENICAM::detail::CArvNodeMap> map;
};
