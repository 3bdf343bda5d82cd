// Our test description served by the fake GigE Vision camera: every node Aravis
// reads reads the same through the plug-in's entry points, and every writable one
// takes back the value just read. The access each feature lacks is the tool's
// case file tests/tool/cases/aravis/description-access.test.
#include <arv.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <limits>
#include <set>
#include <vector>

#include "PluginOverFake.h"

namespace {

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
        const uint32_t v = static_cast<uint32_t>(std::stoull(value, nullptr, 16));
        unsigned char big[4] = {static_cast<unsigned char>(v >> 24),
                                static_cast<unsigned char>(v >> 16),
                                static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
        arv_device_write_memory(device, std::stoull(address, nullptr, 16), 4, big, nullptr);
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
        int code = -1;
        switch (r.kind) {
            case EKind::Integer: {
                int value = 0, min = 0, max = 0, inc = 0;
                code = api->GetParamInt(handle, name, &value, &min, &max, &inc);
                if (code != QRV_OK) break;
                // The plug-in saturates what does not fit its 32 bits.
                EXPECT_EQ(value, static_cast<int>(
                                     std::clamp<gint64>(r.integer, std::numeric_limits<int>::min(),
                                                        std::numeric_limits<int>::max())));
                const int back = api->SetParamInt(handle, name, value);
                EXPECT_TRUE(back == QRV_OK || back == QRV_ERR_PARAMETER_ACCESS) << back;
                if (back == QRV_OK) {
                    ++writtenBack;
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
                const int back = api->SetParamFloat(handle, name, value);
                EXPECT_TRUE(back == QRV_OK || back == QRV_ERR_PARAMETER_ACCESS) << back;
                writtenBack += back == QRV_OK;
                break;
            }
            case EKind::Boolean: {
                bool value = false;
                code = api->GetParamBool(handle, name, &value);
                if (code != QRV_OK) break;
                EXPECT_EQ(value, r.integer != 0);
                EXPECT_EQ(api->SetParamBool(handle, name, value), QRV_OK);
                ++writtenBack;
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
                const int back = api->SetParamStr(handle, name, value);
                // Only enumerations are written by text.
                if (r.kind == EKind::String)
                    EXPECT_EQ(back, QRV_ERR_PARAMETER_ACCESS);
                else
                    EXPECT_TRUE(back == QRV_OK || back == QRV_ERR_PARAMETER_ACCESS) << back;
                break;
            }
            case EKind::Register: {
                std::vector<unsigned char> bytes(r.bytes.size());
                code = api->GetRegisterData(handle, name, bytes.data(),
                                            static_cast<int>(bytes.size()));
                if (code != QRV_OK) break;
                EXPECT_EQ(bytes, r.bytes);
                const int back = api->SetRegisterData(handle, name, bytes.data(),
                                                      static_cast<int>(bytes.size()));
                EXPECT_TRUE(back == QRV_OK || back == QRV_ERR_PARAMETER_ACCESS) << back;
                break;
            }
        }
        if (readable) {
            EXPECT_EQ(code, QRV_OK);
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
