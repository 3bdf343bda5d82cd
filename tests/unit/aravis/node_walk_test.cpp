// The GenApi node adapter against Aravis itself, on our test description: every
// node Aravis reads reads the same through the adapter, every writable one takes
// back the value just read, and access modes, ranges and refusals follow GenApi.
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "NodeFixture.h"

namespace {

using namespace GenApi;

/// Every value-carrying node of the tree (enumeration entries, categories and
/// ports aside), nested ones (struct entries) included.
void CollectValueNodes(ArvDomNode* parent, std::vector<ArvGcNode*>& out) {
    for (ArvDomNode* child = arv_dom_node_get_first_child(parent); child;
         child = arv_dom_node_get_next_sibling(child)) {
        // A struct register is only the frame of its named entries.
        if (ARV_IS_GC_FEATURE_NODE(child) && !ARV_IS_GC_ENUM_ENTRY(child) &&
            !ARV_IS_GC_CATEGORY(child) && !ARV_IS_GC_PORT(child) &&
            arv_gc_feature_node_get_name(ARV_GC_FEATURE_NODE(child)))
            out.push_back(ARV_GC_NODE(child));
        CollectValueNodes(child, out);
    }
}

std::string NameOf(ArvGcNode* node) {
    const char* name = arv_gc_feature_node_get_name(ARV_GC_FEATURE_NODE(node));
    return name ? name : "";
}

// GenApi's verdict on the access combinations of the description.
const std::map<std::string, EAccessMode> kExpectedAccess = {
    {"AccessROOverRO", RO},     {"AccessWOOverRO", NA},    {"AccessRWOverRO", RO},
    {"AccessROOverWO", NA},     {"AccessWOOverWO", WO},    {"AccessRWOverWO", WO},
    {"AccessROOverRW", RO},     {"AccessWOOverRW", WO},    {"AccessRWOverRW", RW},
    {"AccessLocked", RO},       {"AccessUnavailable", NA}, {"AccessUnimplemented", NI},
    {"AccessChained", RO},      {"PayloadSize", RO},       {"WidthMax", RO},
    {"DeviceTemperature", RO},  {"DeviceVendorName", RO},  {"DeviceUserID", RW},
    {"DeviceReset", WO},        {"UserSetSave", RW},       {"KeyUpload", WO},
    {"DeviceFirmwareBlob", RO}, {"SensorWidth", RO},       {"Width", RW},
    {"GevSCPSPacketSize", RW},  {"UserParam3Ratio", RO},   {"UserParam3Scaled", RW},
    {"AcquisitionStart", WO},   {"ExposureTime", RW},      {"Gamma", RW},
};

TEST_F(NodeMapOnMemory, AccessModesCombineTheNodesBehindAFeature) {
    for (const auto& [name, expected] : kExpectedAccess) {
        INode* node = map->GetNode(name.c_str());
        ASSERT_NE(node, nullptr) << name;
        EXPECT_EQ(node->GetAccessMode(), expected) << name;
    }
    // An unavailable entry stays out of the list, an unimplemented one too.
    CEnumerationPtr selector = map->GetNode("TriggerSelector");
    gcstring_vector symbolics;
    selector->GetSymbolics(symbolics);
    ASSERT_EQ(symbolics.size(), 2u);
    EXPECT_EQ(symbolics[1], gcstring("LineStart"));
    CEnumerationPtr format = map->GetNode("PixelFormat");
    format->GetSymbolics(symbolics);
    for (const gcstring& symbolic : symbolics) EXPECT_NE(symbolic, gcstring("RGB8"));
    // The full entry list, unavailable ones too, in the description's order.
    NodeList_t entries;
    format->GetEntries(entries);
    std::vector<std::string> names;
    for (INode* entry : entries) names.push_back(entry->GetName().c_str());
    EXPECT_EQ(names, (std::vector<std::string>{"Mono8", "Mono10", "Mono12", "Mono16", "BayerRG8",
                                               "RGB8"}));
}

TEST_F(NodeMapOnMemory, EveryNodeAravisReadsReadsTheSameAndTakesItsValueBack) {
    std::vector<ArvGcNode*> nodes;
    CollectValueNodes(ARV_DOM_NODE(gc), nodes);
    ASSERT_GT(nodes.size(), 200u);
    int compared = 0;
    for (ArvGcNode* arv : nodes) {
        const std::string name = NameOf(arv);
        SCOPED_TRACE(name);
        INode* node = map->GetNode(name.c_str());
        ASSERT_NE(node, nullptr);
        const auto expected = kExpectedAccess.find(name);
        if (expected != kExpectedAccess.end() && !IsReadable(expected->second)) continue;
        GError* error = nullptr;
        if (ARV_IS_GC_ENUMERATION(arv)) {
            const char* text = arv_gc_enumeration_get_string_value(ARV_GC_ENUMERATION(arv), &error);
            if (error || !text) {
                g_clear_error(&error);
                continue;
            }
            const std::string aravis = text;  // Aravis's buffer does not outlive the next call
            CEnumerationPtr e = node;
            ASSERT_TRUE(e.IsValid());
            EXPECT_EQ(e->ToString(), gcstring(aravis.c_str()));
            if (IsWritable(e)) {
                EXPECT_NO_THROW(e->FromString(aravis.c_str()));
            }
        } else if (ARV_IS_GC_BOOLEAN(arv)) {
            const bool aravis = arv_gc_boolean_get_value(ARV_GC_BOOLEAN(arv), &error) != FALSE;
            if (error) {
                g_clear_error(&error);
                continue;
            }
            CBooleanPtr b = node;
            ASSERT_TRUE(b.IsValid());
            EXPECT_EQ(b->GetValue(), aravis);
            if (IsWritable(b)) {
                EXPECT_NO_THROW(b->SetValue(aravis));
                EXPECT_EQ(b->GetValue(), aravis);
            }
        } else if (ARV_IS_GC_INTEGER(arv)) {
            const gint64 aravis = arv_gc_integer_get_value(ARV_GC_INTEGER(arv), &error);
            if (error) {
                g_clear_error(&error);
                continue;
            }
            CIntegerPtr i = node;
            ASSERT_TRUE(i.IsValid());
            EXPECT_EQ(i->GetValue(), aravis);
            EXPECT_NO_THROW(i->GetMin());
            EXPECT_NO_THROW(i->GetMax());
            EXPECT_GE(i->GetInc(), 1);
            if (IsWritable(i)) {
                EXPECT_NO_THROW(i->SetValue(aravis));
                EXPECT_EQ(i->GetValue(), aravis);
            }
        } else if (ARV_IS_GC_FLOAT(arv)) {
            const double aravis = arv_gc_float_get_value(ARV_GC_FLOAT(arv), &error);
            if (error) {
                g_clear_error(&error);
                continue;
            }
            CFloatPtr f = node;
            ASSERT_TRUE(f.IsValid());
            EXPECT_DOUBLE_EQ(f->GetValue(), aravis);
            EXPECT_LE(f->GetMin(), f->GetMax());
            EXPECT_NO_THROW(f->HasInc());
            if (IsWritable(f)) {
                EXPECT_NO_THROW(f->SetValue(aravis));
                EXPECT_DOUBLE_EQ(f->GetValue(), aravis);
            }
        } else if (ARV_IS_GC_STRING(arv)) {
            const char* text = arv_gc_string_get_value(ARV_GC_STRING(arv), &error);
            if (error || !text) {
                g_clear_error(&error);
                continue;
            }
            const std::string aravis = text;
            CStringPtr s = node;
            ASSERT_TRUE(s.IsValid());
            EXPECT_EQ(s->GetValue(), gcstring(aravis.c_str()));
            if (IsWritable(s)) {
                EXPECT_NO_THROW(s->SetValue(aravis.c_str()));
            }
        } else if (ARV_IS_GC_REGISTER(arv)) {
            const guint64 length = arv_gc_register_get_length(ARV_GC_REGISTER(arv), &error);
            std::vector<uint8_t> aravis(length), ours(length);
            if (!error) arv_gc_register_get(ARV_GC_REGISTER(arv), aravis.data(), length, &error);
            if (error) {
                g_clear_error(&error);
                continue;
            }
            CRegisterPtr r = node;
            ASSERT_TRUE(r.IsValid());
            r->Get(ours.data(), static_cast<int64_t>(length));
            EXPECT_EQ(ours, aravis);
            if (IsWritable(r)) {
                EXPECT_NO_THROW(r->Set(ours.data(), static_cast<int64_t>(length)));
            }
        } else {
            continue;  // commands: nothing to read
        }
        ++compared;
    }
    EXPECT_GT(compared, 150);
}

TEST_F(NodeMapOnMemory, NodesWithoutRangeHaveGenApiDefaults) {
    for (const char* name : {"PayloadSize", "GevTimestampTickFrequency", "PixelSize"}) {
        CIntegerPtr node = map->GetNode(name);
        ASSERT_TRUE(node.IsValid()) << name;
        EXPECT_EQ(node->GetMin(), std::numeric_limits<int64_t>::min()) << name;
        EXPECT_EQ(node->GetMax(), std::numeric_limits<int64_t>::max()) << name;
        EXPECT_EQ(node->GetInc(), 1) << name;
    }
    EXPECT_EQ(CIntegerPtr(map->GetNode("GevTimestampTickFrequency"))->GetValue(), 5000000000LL);
    for (const char* name : {"AcquisitionFrameRate", "UserParam2Ratio", "Gamma"}) {
        CFloatPtr node = map->GetNode(name);
        ASSERT_TRUE(node.IsValid()) << name;
        EXPECT_EQ(node->GetMin(), std::numeric_limits<double>::lowest()) << name;
        EXPECT_EQ(node->GetMax(), std::numeric_limits<double>::max()) << name;
        EXPECT_FALSE(node->HasInc()) << name;
    }
    // An integer over a register without a range of its own has the register's.
    CIntegerPtr packet = map->GetNode("GevSCPSPacketSize");
    EXPECT_EQ(packet->GetMin(), 0);
    EXPECT_EQ(packet->GetMax(), 65535);
    EXPECT_EQ(CIntegerPtr(map->GetNode("UserParam0Int"))->GetMax(), 4294967295LL);
    // Ranges the description names, directly or through other nodes.
    CIntegerPtr height = map->GetNode("Height");
    EXPECT_EQ(height->GetInc(), 2);
    EXPECT_EQ(height->GetMax(), 1536);
    CIntegerPtr width = map->GetNode("Width");
    width->SetValue(640);
    EXPECT_EQ(CIntegerPtr(map->GetNode("PayloadSize"))->GetValue(), 0);  // height 0
    height->SetValue(480);
    EXPECT_EQ(CIntegerPtr(map->GetNode("PayloadSize"))->GetValue(), 640 * 480);
    EXPECT_THROW(width->SetValue(650), GenICam::OutOfRangeException);  // off the grid of 16
    CFloatPtr gain = map->GetNode("Gain");
    EXPECT_TRUE(gain->HasInc());
    EXPECT_DOUBLE_EQ(gain->GetInc(), 0.5);
    EXPECT_DOUBLE_EQ(CFloatPtr(map->GetNode("DeviceTemperature"))->GetValue(), -20.0);
}

TEST_F(NodeMapOnMemory, ValuesWithoutMeaningAreRefused) {
    // An enumeration whose register matches no entry.
    CEnumerationPtr noMatch = map->GetNode("EnumNoMatch");
    EXPECT_EQ(noMatch->GetIntValue(), 0);
    EXPECT_THROW(noMatch->ToString(), GenICam::GenericException);
    EXPECT_THROW(noMatch->GetCurrentEntry(), GenICam::GenericException);
    noMatch->FromString("Two");
    EXPECT_EQ(noMatch->ToString(), gcstring("Two"));
    // A boolean whose register holds neither its on nor its off value.
    CBooleanPtr pattern = map->GetNode("TestPatternEnable");
    pattern->SetValue(true);
    EXPECT_TRUE(pattern->GetValue());
    CIntegerPtr(map->GetNode("TestPatternEnableReg"))->SetValue(4);
    EXPECT_THROW(pattern->GetValue(), GenICam::GenericException);
    // Writes the node refuses.
    EXPECT_THROW(CIntegerPtr(map->GetNode("AccessRWOverRO"))->SetValue(1),
                 GenICam::AccessException);
    EXPECT_THROW(CIntegerPtr(map->GetNode("AccessRWOverWO"))->GetValue(), GenICam::AccessException);
}

TEST_F(NodeMapOnMemory, SelectorsPickTheRegisterOfTheirEntry) {
    CEnumerationPtr selector = map->GetNode("TriggerSelector");
    CEnumerationPtr mode = map->GetNode("TriggerMode");
    selector->FromString("LineStart");
    mode->FromString("On");
    EXPECT_EQ(mode->ToString(), gcstring("On"));
    selector->FromString("FrameStart");
    EXPECT_EQ(mode->ToString(), gcstring("Off"));
    selector->FromString("LineStart");
    EXPECT_EQ(mode->ToString(), gcstring("On"));
    // An entry that is not available cannot be selected.
    EXPECT_THROW(selector->FromString("ExposureActive"), GenICam::GenericException);
}

TEST_F(NodeMapOnMemory, CommandsAreDoneWhenTheirRegisterSaysSo) {
    CCommandPtr save = map->GetNode("UserSetSave");
    EXPECT_TRUE(save->IsDone());
    save->Execute();
    EXPECT_FALSE(save->IsDone());  // the register still holds the command value
    CIntegerPtr(map->GetNode("UserSetSaveReg"))->SetValue(0);
    EXPECT_TRUE(save->IsDone());
    CCommandPtr reset = map->GetNode("DeviceReset");  // write-only register
    reset->Execute();
    EXPECT_TRUE(reset->IsDone());
}

TEST_F(NodeMapOnMemory, ADeviceThatStopsAnsweringFailsEveryLaterCallAtOnce) {
    CIntegerPtr width = map->GetNode("Width");
    ASSERT_EQ(width->GetValue(), 0);
    KzrMemoryDeviceSetGone(device, true);
    EXPECT_THROW(width->GetValue(), GenICam::GenericException);
    EXPECT_TRUE(lost->load());
    EXPECT_EQ(width->GetAccessMode(), NA);
    EXPECT_THROW(CFloatPtr(map->GetNode("Gain"))->GetValue(), GenICam::GenericException);
}

}  // namespace
