// The plug-in, loaded with dlopen as a host loads it, against the fake GigE Vision
// camera where threads, a camera that goes away or Aravis beside it are needed;
// the rest is in the tool's case files under tests/tool/cases/aravis/.
#include <arv.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <limits>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ArvPluginApi.h"
#include "FakeGvCamera.h"

namespace {

using Clock = std::chrono::steady_clock;

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

TEST_F(FakeCameraTest, StopEndsAWaitForAHardwareTriggerThatNeverComes) {
    OpenCamera();
    ASSERT_EQ(api->SetParamStr(handle, QRVString("TriggerMode"), QRVString("On")), QRV_OK);
    ASSERT_EQ(api->SetParamStr(handle, QRVString("TriggerSource"), QRVString("Line0")), QRV_OK);
    ASSERT_EQ(api->StartAcquire(handle, 0, 0), QRV_OK);
    std::atomic<int> result{-1};
    std::thread waiter([&] {
        QRVImage waited;
        result = api->GrabImage(handle, &waited, 20000);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto stopAt = Clock::now();
    EXPECT_EQ(api->StopAcquire(handle), QRV_OK);
    waiter.join();
    EXPECT_EQ(result.load(), QRV_ERR_GRAB_ABORTED);
    // Ended by the stop, not by its own 20 s time-out.
    EXPECT_LT(Clock::now() - stopAt, std::chrono::seconds(10));
}

TEST_F(FakeCameraTest, ALostCameraFailsEveryCallAndOpensAgainOnceBack) {
    OpenCamera();
    ASSERT_EQ(api->StartAcquire(handle, 0, 0), QRV_OK);
    QRVImage first;
    ASSERT_EQ(api->GrabImage(handle, &first, 3000), QRV_OK);
    fake.Stop();
    int failures = 0;
    for (int i = 0; i < 5; ++i) {
        QRVImage image;
        // A frame or two may still be in flight; after that every grab fails.
        if (api->GrabImage(handle, &image, 500) == QRV_ERR_GRAB_FAILED) ++failures;
    }
    EXPECT_GE(failures, 3);
    // Once the control channel went unanswered, the camera is lost: features
    // are unavailable, the stream stops and the camera closes without asking it.
    EXPECT_FALSE(api->IsOpen(handle));
    int value = 0;
    EXPECT_EQ(api->GetParamInt(handle, QRVString("Width"), &value, nullptr, nullptr, nullptr),
              QRV_ERR_PARAMETER_ACCESS);
    EXPECT_EQ(api->SetParamStr(handle, QRVString("TriggerMode"), QRVString("On")),
              QRV_ERR_PARAMETER_ACCESS);
    EXPECT_EQ(api->StopAcquire(handle), QRV_OK);
    EXPECT_EQ(api->Close(handle), QRV_OK);
    handle = nullptr;

    // The same camera back: the plug-in opens and streams it again.
    std::string why;
    ASSERT_TRUE(fake.Start(why)) << why;
    int code = -1;
    for (int attempt = 0; attempt < 50 && code != QRV_OK; ++attempt) {
        code = api->Open(serial, &handle, QRVString(""), QRVString(""));
        if (code != QRV_OK) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(code, QRV_OK);
    EXPECT_TRUE(api->IsOpen(handle));
    ASSERT_EQ(api->StartAcquire(handle, 0, 0), QRV_OK);
    QRVImage again;
    EXPECT_EQ(api->GrabImage(handle, &again, 3000), QRV_OK);
}

enum class EKind { Integer, Float, Boolean, Enumeration, String, Register };

struct SAravisReading {
    std::string name;
    EKind kind;
    gint64 integer = 0;
    double real = 0;
    std::string text;
    std::vector<unsigned char> bytes;
};

// The description's nodes that cannot be read: write-only, or their value
// matches no entry.
const std::set<std::string> kUnreadable = {"AccessWOOverRO", "AccessROOverWO", "AccessWOOverWO",
                                           "AccessRWOverWO", "AccessWOOverRW", "KeyUpload",
                                           "EnumNoMatch"};

std::string Fixture(const char* name) {
    return std::string(KZR_GENICAM_FIXTURES) + "/" + name;
}

void Collect(ArvDomNode* parent, std::vector<ArvGcNode*>& out) {
    for (ArvDomNode* child = arv_dom_node_get_first_child(parent); child;
         child = arv_dom_node_get_next_sibling(child)) {
        if (ARV_IS_GC_FEATURE_NODE(child) && !ARV_IS_GC_ENUM_ENTRY(child) &&
            !ARV_IS_GC_CATEGORY(child) && !ARV_IS_GC_PORT(child) && !ARV_IS_GC_COMMAND(child) &&
            arv_gc_feature_node_get_name(ARV_GC_FEATURE_NODE(child)))
            out.push_back(ARV_GC_NODE(child));
        Collect(child, out);
    }
}

/// Seeds the registers and reads every node with Aravis alone, before the
/// plug-in opens the camera.
std::vector<SAravisReading> ReadWithAravis(const std::string& deviceId, std::string& why) {
    std::vector<SAravisReading> readings;
    GError* error = nullptr;
    ArvCamera* camera = arv_camera_new(deviceId.c_str(), &error);
    if (!camera) {
        why = error ? error->message : "arv_camera_new failed";
        g_clear_error(&error);
        return readings;
    }
    ArvDevice* device = arv_camera_get_device(camera);
    std::ifstream seeds(Fixture("kzr_test_camera.seeds"));
    std::string address, value;
    while (seeds >> address >> value) {
        guint32 big = GUINT32_TO_BE(static_cast<guint32>(std::stoull(value, nullptr, 16)));
        arv_device_write_memory(device, std::stoull(address, nullptr, 16), 4, &big, nullptr);
    }
    ArvGc* gc = arv_device_get_genicam(device);
    // Aravis then refuses what the description's registers refuse.
    arv_gc_set_access_check_policy(gc, ARV_ACCESS_CHECK_POLICY_ENABLE);
    std::vector<ArvGcNode*> nodes;
    Collect(ARV_DOM_NODE(gc), nodes);
    // Aravis adds GigE Vision features of its own to the tree it builds (ArvGev*,
    // DeviceID, ...); they are not the camera's, and the plug-in serves only what
    // the camera's description holds.
    std::ifstream file(Fixture("kzr_test_camera.xml"));
    const std::string description((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
    for (ArvGcNode* node : nodes) {
        auto* feature = ARV_GC_FEATURE_NODE(node);
        SAravisReading r;
        r.name = arv_gc_feature_node_get_name(feature);
        // Aravis reads nodes it calls unimplemented or unavailable; GenApi does not.
        if (description.find("Name=\"" + r.name + "\"") == std::string::npos ||
            !arv_gc_feature_node_is_implemented(feature, nullptr) ||
            !arv_gc_feature_node_is_available(feature, nullptr))
            continue;
        if (ARV_IS_GC_ENUMERATION(node)) {
            r.kind = EKind::Enumeration;
            const char* text =
                arv_gc_enumeration_get_string_value(ARV_GC_ENUMERATION(node), &error);
            r.text = text ? text : "";
        } else if (ARV_IS_GC_BOOLEAN(node)) {
            r.kind = EKind::Boolean;
            r.integer = arv_gc_boolean_get_value(ARV_GC_BOOLEAN(node), &error);
        } else if (ARV_IS_GC_INTEGER(node)) {
            r.kind = EKind::Integer;
            r.integer = arv_gc_integer_get_value(ARV_GC_INTEGER(node), &error);
        } else if (ARV_IS_GC_FLOAT(node)) {
            r.kind = EKind::Float;
            r.real = arv_gc_float_get_value(ARV_GC_FLOAT(node), &error);
        } else if (ARV_IS_GC_STRING(node)) {
            r.kind = EKind::String;
            const char* text = arv_gc_string_get_value(ARV_GC_STRING(node), &error);
            r.text = text ? text : "";
        } else if (ARV_IS_GC_REGISTER(node)) {
            r.kind = EKind::Register;
            r.bytes.resize(arv_gc_register_get_length(ARV_GC_REGISTER(node), nullptr));
            arv_gc_register_get(ARV_GC_REGISTER(node), r.bytes.data(), r.bytes.size(), &error);
        } else {
            continue;
        }
        if (error) {
            g_clear_error(&error);
            continue;  // Aravis cannot read it either
        }
        readings.push_back(std::move(r));
    }
    g_object_unref(camera);
    return readings;
}

class DescriptionOverFake : public FakeCameraTest {
protected:
    std::string Description() const override { return Fixture("kzr_test_camera.xml"); }
};

TEST_F(DescriptionOverFake, EveryNodeReadsAsAravisReadsItAndTakesItsValueBack) {
    std::string why;
    const std::vector<SAravisReading> readings = ReadWithAravis(id.toUtf8().str(), why);
    ASSERT_GT(readings.size(), 150u) << why;
    OpenCamera();
    int compared = 0;
    int writtenBack = 0;
    for (const SAravisReading& r : readings) {
        SCOPED_TRACE(r.name);
        const QRVString name(r.name.c_str());
        const bool readable = kUnreadable.count(r.name) == 0;
        int code = -1, back = -1;  // reading, and writing back the value read
        switch (r.kind) {
            case EKind::Integer: {
                int value = 0, min = 0, max = 0, inc = 0;
                code = api->GetParamInt(handle, name, &value, &min, &max, &inc);
                if (code != QRV_OK) break;
                // The plug-in saturates what does not fit its 32 bits.
                EXPECT_EQ(value, static_cast<int>(
                                     std::clamp<gint64>(r.integer, std::numeric_limits<int>::min(),
                                                        std::numeric_limits<int>::max())));
                back = api->SetParamInt(handle, name, value);
                if (back == QRV_OK) {
                    int again = 0;
                    EXPECT_EQ(api->GetParamInt(handle, name, &again, &min, &max, &inc), QRV_OK);
                    EXPECT_EQ(again, value);
                }
                break;
            }
            case EKind::Float: {
                float value = 0, min = 0, max = 0, inc = 0;
                code = api->GetParamFloat(handle, name, &value, &min, &max, &inc);
                if (code != QRV_OK) break;
                EXPECT_FLOAT_EQ(value, static_cast<float>(r.real));
                back = api->SetParamFloat(handle, name, value);
                break;
            }
            case EKind::Boolean: {
                bool value = false;
                code = api->GetParamBool(handle, name, &value);
                if (code != QRV_OK) break;
                EXPECT_EQ(value, r.integer != 0);
                back = api->SetParamBool(handle, name, value);
                EXPECT_EQ(back, QRV_OK);
                break;
            }
            case EKind::Enumeration:
            case EKind::String: {
                QRVString value("untouched");
                QRVStringArray entries;
                code = api->GetParamStr(handle, name, &value, &entries);
                if (code != QRV_OK) {
                    EXPECT_EQ(value, QRVString("untouched"));  // no entry stands for it: not ""
                    break;
                }
                EXPECT_EQ(value.toUtf8().str(), r.text);
                back = api->SetParamStr(handle, name, value);
                // Only enumerations are written by text.
                if (r.kind == EKind::String) {
                    EXPECT_EQ(back, QRV_ERR_PARAMETER_ACCESS);
                }
                break;
            }
            case EKind::Register: {
                std::vector<unsigned char> bytes(r.bytes.size());
                code = api->GetRegisterData(handle, name, bytes.data(),
                                            static_cast<int>(bytes.size()));
                if (code != QRV_OK) break;
                EXPECT_EQ(bytes, r.bytes);
                back = api->SetRegisterData(handle, name, bytes.data(),
                                            static_cast<int>(bytes.size()));
                break;
            }
        }
        if (readable) {
            EXPECT_EQ(code, QRV_OK);
            // Read-only features refuse the write with 101022; the rest take it.
            EXPECT_TRUE(back == QRV_OK || back == QRV_ERR_PARAMETER_ACCESS) << back;
            writtenBack += back == QRV_OK;
            ++compared;
        } else {
            // Write-only or unavailable: refused as an unusable node; no entry
            // stands for the value: a GenICam error.
            EXPECT_TRUE(code == QRV_ERR_PARAMETER_ACCESS || code == QRV_ERR_GENICAM_EXCEPTION)
                << code;
        }
    }
    EXPECT_GT(compared, 150);
    // Read-only ones aside (101022 above), the description's features write back.
    EXPECT_GT(writtenBack, 100);
}

}  // namespace
