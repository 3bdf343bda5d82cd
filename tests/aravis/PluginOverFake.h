// The plug-in, loaded with dlopen as a host loads it, in front of a running fake
// GigE Vision camera.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "ArvPluginApi.h"
#include "FakeGvCamera.h"

/// Starts the fake camera, waits (at most about 5 s) until the plug-in lists it,
/// and stops it at the end. Skips when it cannot be had.
class FakeCameraTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        api = ArvPlugin(error);
        ASSERT_NE(api, nullptr) << error;
        std::string why;
        if (!fake.Start(why, Description())) GTEST_SKIP() << why;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (int attempt = 0; attempt < 5 && std::chrono::steady_clock::now() < deadline;
             ++attempt) {
            QRVCameraInfoArray list;
            const int count = api->GetCameraList(&list);
            for (long i = 0; i < count && i < list.Length(); ++i) {
                const QRVCameraInfo& info = list.At(i);
                if (info.GetManufacturerInfo() == QRVString("Aravis")) {
                    serial = info.GetSerialNumber();
                    id = info.GetID();
                    return;
                }
            }
        }
        GTEST_SKIP() << "the fake camera did not appear on 127.0.0.1 within 5 s";
    }

    /// The GenICam description the fake camera serves; empty: its own.
    virtual std::string Description() const { return std::string(); }

    void TearDown() override {
        if (handle) api->Close(handle);
        fake.Stop();
    }

    void OpenCamera() {
        ASSERT_EQ(api->Open(serial, &handle, QRVString(""), QRVString("")), QRV_OK);
        ASSERT_NE(handle, nullptr);
    }

    const SArvPluginApi* api = nullptr;
    CFakeGvCamera fake;
    QRVString serial;
    QRVString id;
    QRVCameraHandle handle = nullptr;
};
