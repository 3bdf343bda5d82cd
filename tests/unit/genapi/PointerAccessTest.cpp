#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "MemoryNodeMap.h"

using namespace GenApi;

namespace {

class NodeMapTest : public ::testing::Test {
protected:
    void SetUp() override {
        map.AddBoolean("Flag", true);
        map.AddInteger("Width", 640, 16, 4096, 16);
        map.AddFloat("Exposure", 1000.0, 10.0, 1e6);
        map.AddString("Model", "Sim");
        map.AddEnumeration("PixelFormat", {{"Mono8", 1}, {"Mono16", 2}}, "Mono8");
        map.AddCommand("Start");
        map.AddRegister("Lut", 4);
        map.AddIntRegister("Gain", 3, 0, 255, 2);
        map.AddCategory("Root", {"Width", "Missing", "Model"});
        map.AddValue("Opaque");
        map.AddPort("Device", 16);
    }
    CMemoryNodeMap map;
};

}  // namespace

// kinds: the typed pointers that accept the node, I integer, F float, B boolean,
// S string, E enumeration, C command, R register, K category, V value, P port.
TEST_F(NodeMapTest, EachKindHasExactlyItsInterfaces) {
    const std::tuple<const char*, EInterfaceType, std::string> cases[] = {
        {"Flag", intfIBoolean, "BV"},
        {"Width", intfIInteger, "IV"},
        {"Exposure", intfIFloat, "FV"},
        {"Model", intfIString, "SV"},
        {"PixelFormat", intfIEnumeration, "EV"},
        {"Start", intfICommand, "CV"},
        {"Lut", intfIRegister, "RV"},
        {"Gain", intfIInteger, "IRV"},
        {"Root", intfICategory, "KV"},
        {"Opaque", intfIValue, "V"},
        {"Device", intfIPort, "P"},
    };
    for (const auto& [name, principal, kinds] : cases) {
        SCOPED_TRACE(name);
        INode* node = map.GetNode(name);
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->GetPrincipalInterfaceType(), principal);
        std::string valid;
        if (CIntegerPtr(node).IsValid()) valid += 'I';
        if (CFloatPtr(node).IsValid()) valid += 'F';
        if (CBooleanPtr(node).IsValid()) valid += 'B';
        if (CStringPtr(node).IsValid()) valid += 'S';
        if (CEnumerationPtr(node).IsValid()) valid += 'E';
        if (CCommandPtr(node).IsValid()) valid += 'C';
        if (CRegisterPtr(node).IsValid()) valid += 'R';
        if (CCategoryPtr(node).IsValid()) valid += 'K';
        if (CValuePtr(node).IsValid()) valid += 'V';
        if (CPointer<IPort>(node).IsValid()) valid += 'P';
        EXPECT_EQ(valid, kinds);
        EXPECT_TRUE(node->IsFeature());
    }
}

TEST_F(NodeMapTest, EmptyPointerThrowsLogicalErrorCatchableAsGeneric) {
    CIntegerPtr none(nullptr);
    CIntegerPtr wrong(map.GetNode("Model"));
    CIntegerPtr unknown(map.GetNode("NoSuchNode"));
    EXPECT_FALSE(none.IsValid());
    EXPECT_FALSE(wrong.IsValid());
    EXPECT_FALSE(unknown.IsValid());
    EXPECT_THROW(wrong->GetValue(), GenICam::LogicalErrorException);
    bool caught = false;
    try {
        (*none).GetMin();
    } catch (const GenICam::GenericException&) {
        caught = true;
    }
    EXPECT_TRUE(caught);
    // Converting between typed pointers goes through the node as well.
    CRegisterPtr reg = CIntegerPtr(map.GetNode("Gain"));
    EXPECT_TRUE(reg.IsValid());
    CRegisterPtr notReg = CIntegerPtr(map.GetNode("Width"));
    EXPECT_FALSE(notReg.IsValid());
}

TEST_F(NodeMapTest, AccessModesDriveReadableAndWritable) {
    struct Case {
        EAccessMode mode;
        bool readable, writable, implemented, available;
    };
    const Case cases[] = {{NI, false, false, false, false},
                          {NA, false, false, true, false},
                          {WO, false, true, true, true},
                          {RO, true, false, true, true},
                          {RW, true, true, true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        map.Ref("Width").Access(c.mode);
        CIntegerPtr width(map.GetNode("Width"));
        EXPECT_EQ(IsReadable(width), c.readable);
        EXPECT_EQ(IsWritable(width), c.writable);
        EXPECT_EQ(IsImplemented(static_cast<IBase*>(width)), c.implemented);
        EXPECT_EQ(IsAvailable(static_cast<IBase*>(width)), c.available);
        if (c.readable) {
            EXPECT_EQ(width->GetValue(), 640);
            EXPECT_EQ(width->ToString(), "640");
        } else {
            EXPECT_THROW(width->GetValue(), GenICam::AccessException);
            EXPECT_THROW(width->ToString(), GenICam::AccessException);
        }
        if (c.writable) {
            EXPECT_NO_THROW(width->SetValue(640));
            EXPECT_NO_THROW(width->FromString("640"));
        } else {
            EXPECT_THROW(width->SetValue(640), GenICam::AccessException);
            EXPECT_THROW(width->FromString("640"), GenICam::AccessException);
        }
        if (c.available) {
            EXPECT_EQ(width->GetMax(), 4096);
        } else {
            EXPECT_THROW(width->GetMax(), GenICam::AccessException);
        }
    }
    EXPECT_FALSE(IsReadable(CIntegerPtr()));
    EXPECT_FALSE(IsWritable(static_cast<const IBase*>(nullptr)));
}

TEST_F(NodeMapTest, NotAvailableNodesRefuseEveryValueOperation) {
    for (const char* name : {"Flag", "Exposure", "Model", "PixelFormat", "Start", "Lut"}) {
        SCOPED_TRACE(name);
        map.Ref(name).Access(NA);
        CValuePtr value(map.GetNode(name));
        EXPECT_THROW(value->ToString(), GenICam::AccessException);
        EXPECT_THROW(value->FromString("1"), GenICam::AccessException);
    }
    uint8_t bytes[4] = {};
    EXPECT_THROW(CRegisterPtr(map.GetNode("Lut"))->Get(bytes, 4), GenICam::AccessException);
    EXPECT_THROW(CCommandPtr(map.GetNode("Start"))->Execute(), GenICam::AccessException);
    EXPECT_THROW(CCommandPtr(map.GetNode("Start"))->IsDone(), GenICam::AccessException);
    gcstring_vector symbolics;
    EXPECT_THROW(CEnumerationPtr(map.GetNode("PixelFormat"))->GetSymbolics(symbolics),
                 GenICam::AccessException);
}

// Enumeration entries are nodes but not features; a category lists only the
// children that exist.
TEST_F(NodeMapTest, ListingEntriesAndCategories) {
    INode* entry = map.GetNode("EnumEntry_PixelFormat_Mono16");
    ASSERT_NE(entry, nullptr);
    EXPECT_FALSE(entry->IsFeature());
    EXPECT_EQ(entry->GetPrincipalInterfaceType(), intfIEnumEntry);
    CEnumEntryPtr typed(entry);
    ASSERT_TRUE(typed.IsValid());
    EXPECT_EQ(typed->GetValue(), 2);
    EXPECT_EQ(typed->GetSymbolic(), "Mono16");
    EXPECT_EQ(static_cast<IEnumEntry*>(typed),
              CEnumerationPtr(map.GetNode("PixelFormat"))->GetEntryByName("Mono16"));

    map.Ref("Opaque").Feature(false);
    EXPECT_FALSE(map.GetNode("Opaque")->IsFeature());
    NodeList_t nodes;
    map.GetNodes(nodes);
    EXPECT_EQ(nodes.size(), 13u);  // 11 nodes and two enumeration entries
    EXPECT_EQ(nodes.front()->GetName(), "Flag");
    EXPECT_EQ(map.GetDeviceName(), "Device");

    FeatureList_t features;
    CCategoryPtr(map.GetNode("Root"))->GetFeatures(features);
    ASSERT_EQ(features.size(), 2u);
    EXPECT_EQ(features[0]->GetNode()->GetName(), "Width");
    EXPECT_EQ(features[1]->GetNode()->GetName(), "Model");
    map.AddBoolean("Missing", false);
    CCategoryPtr(map.GetNode("Root"))->GetFeatures(features);
    EXPECT_EQ(features.size(), 3u);
}

TEST_F(NodeMapTest, ReplaceKeepsOldNodeAliveAndRemoveForgetsIt) {
    INode* old = map.GetNode("Width");
    map.AddString("Width", "now a string");
    EXPECT_NE(map.GetNode("Width"), old);
    EXPECT_TRUE(CStringPtr(map.GetNode("Width")).IsValid());
    // The replaced node is still usable through the pointer a caller kept.
    EXPECT_EQ(CIntegerPtr(old)->GetValue(), 640);

    map.AddEnumeration("PixelFormat", {{"Rgb8", 7}}, "Rgb8");
    EXPECT_EQ(map.GetNode("EnumEntry_PixelFormat_Mono8"), nullptr);
    EXPECT_NE(map.GetNode("EnumEntry_PixelFormat_Rgb8"), nullptr);

    map.Remove("PixelFormat");
    EXPECT_FALSE(map.Has("PixelFormat"));
    EXPECT_EQ(map.GetNode("EnumEntry_PixelFormat_Rgb8"), nullptr);
    EXPECT_THROW(map.Ref("PixelFormat"), std::out_of_range);
    NodeList_t nodes;
    map.GetNodes(nodes);
    EXPECT_EQ(nodes.size(), 10u);
}

TEST_F(NodeMapTest, PeekAndPokeBypassChecksButNotKinds) {
    map.Ref("Width").Access(RO);
    map.PokeInt("Width", 5);  // off the grid and read-only: the simulator may do it
    EXPECT_EQ(map.PeekInt("Width"), 5);
    map.PokeString("PixelFormat", "Mono16");
    EXPECT_EQ(map.PeekInt("PixelFormat"), 2);
    EXPECT_EQ(map.PeekString("PixelFormat"), "Mono16");
    map.PokeInt("Flag", 0);
    EXPECT_EQ(map.PeekInt("Flag"), 0);
    map.PokeFloat("Exposure", 3.5);
    EXPECT_EQ(map.PeekFloat("Exposure"), 3.5);
    EXPECT_THROW(map.PeekFloat("Width"), std::logic_error);
    EXPECT_THROW(map.PokeString("Width", "x"), std::logic_error);
    EXPECT_THROW(map.PeekInt("Nope"), std::out_of_range);
    EXPECT_THROW(map.PokeString("PixelFormat", "Bayer"), std::invalid_argument);
    EXPECT_EQ(map.CallCount("Width", EFaultOp::Any), 0);
}
