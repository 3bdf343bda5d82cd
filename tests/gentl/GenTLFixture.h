// The camera access library over the test producer: GENICAM_GENTL64_PATH names the
// producer's folder (and any others a test adds), the Aravis transport stays out.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <list>
#include <string>

#include "KZRGeniCam.h"

constexpr const char* kAreaSerial = "KZRGEV0001";
constexpr const char* kLineSerial = "KZRCL0042";

inline std::string ProducerDir(const char* folder) {
    return std::string(KZR_TEST_PRODUCER_DIR) + "/" + folder;
}

/// Sets the producer path for one test and starts the library; the last UnInit
/// closes the producers, so every test starts from a freshly built producer.
class GenTLTest : public ::testing::Test {
protected:
    void SetUp() override { Start(ProducerDir("producer")); }
    void TearDown() override {
        if (m_started) KZRGENICAM::UnInit();
        unsetenv("GENICAM_GENTL64_PATH");
    }
    void Start(const std::string& path) {
        setenv("KZR_ARAVIS", "off", 1);
        setenv("KZR_GENTL", "on", 1);
        setenv("GENICAM_GENTL64_PATH", path.c_str(), 1);
        KZRGENICAM::Init();
        m_started = true;
    }

private:
    bool m_started = false;
};

/// Releases every record of a listing at scope end.
class CListing {
public:
    explicit CListing(const char* filter) : m_records(KZRGENICAM::Discovery(filter)) {}
    ~CListing() {
        for (auto* r : m_records)
            if (r) r->release();
    }
    CListing(const CListing&) = delete;
    CListing& operator=(const CListing&) = delete;
    const std::list<KZRGENICAM::ICameraInfo*>& Records() const { return m_records; }
    const KZRGENICAM::ICameraInfo* Find(const char* serial) const {
        for (auto* r : m_records)
            if (r && std::string(r->getSerialNumber()) == serial) return r;
        return nullptr;
    }

private:
    std::list<KZRGENICAM::ICameraInfo*> m_records;
};

/// A camera opened by serial number, released at scope end.
struct SCameraDeleter {
    void operator()(KZRGENICAM::ICamera* c) const {
        if (c) c->release();
    }
};
using CameraPtr = std::unique_ptr<KZRGENICAM::ICamera, SCameraDeleter>;

inline CameraPtr OpenCamera(const char* serial) {
    CameraPtr camera(KZRGENICAM::CreateCameraBySN(serial));
    if (camera && camera->open(1) != 0) camera.reset();
    return camera;
}
