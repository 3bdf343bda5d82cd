#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "MemoryNodeMap.h"

using namespace GenApi;
using GenICam::AccessException;
using GenICam::InvalidArgumentException;
using GenICam::OutOfRangeException;

namespace {
constexpr int64_t kMin64 = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax64 = std::numeric_limits<int64_t>::max();
}  // namespace

TEST(IntegerNode, RangeAndGridAreEnforced) {
    CMemoryNodeMap map;
    map.AddInteger("OffsetX", 8, 8, 1024, 4);
    CIntegerPtr x(map.GetNode("OffsetX"));
    EXPECT_EQ(x->GetMin(), 8);
    EXPECT_EQ(x->GetMax(), 1024);
    EXPECT_EQ(x->GetInc(), 4);
    EXPECT_EQ(x->GetIncMode(), fixedIncrement);
    x->SetValue(1024);
    EXPECT_EQ(x->GetValue(), 1024);
    EXPECT_THROW(x->SetValue(1028), OutOfRangeException);
    EXPECT_THROW(x->SetValue(4), OutOfRangeException);
    EXPECT_THROW(x->SetValue(10), OutOfRangeException);
    EXPECT_THROW(x->SetValue(10, false), OutOfRangeException);
    EXPECT_EQ(x->GetValue(), 1024) << "a refused write must leave the value alone";
}

TEST(IntegerNode, ExtremeRangesNeedNoOverflow) {
    CMemoryNodeMap map;
    map.AddInteger("Full", 0, kMin64, kMax64);
    map.AddInteger("Coarse", kMin64, kMin64, kMax64, int64_t{1} << 62);
    CIntegerPtr full(map.GetNode("Full"));
    full->SetValue(kMin64);
    EXPECT_EQ(full->GetValue(), kMin64);
    full->SetValue(kMax64);
    EXPECT_EQ(full->GetValue(), kMax64);
    EXPECT_THROW(full->FromString("9223372036854775808"), OutOfRangeException);

    CIntegerPtr coarse(map.GetNode("Coarse"));
    // The grid points are -2^63, -2^62, 0 and 2^62.
    coarse->SetValue(int64_t{1} << 62);
    EXPECT_EQ(coarse->GetValue(), int64_t{1} << 62);
    coarse->SetValue(0);
    EXPECT_THROW(coarse->SetValue(kMax64), OutOfRangeException);
    EXPECT_THROW(coarse->SetValue(kMin64 + 1), OutOfRangeException);
    EXPECT_EQ(coarse->GetValue(), 0);
}

TEST(IntegerNode, FromStringParsesOrRefuses) {
    CMemoryNodeMap map;
    map.AddInteger("Count", 0, -100, 100);
    CIntegerPtr n(map.GetNode("Count"));
    n->FromString(" -42 ");
    EXPECT_EQ(n->GetValue(), -42);
    n->FromString("0x10");
    EXPECT_EQ(n->GetValue(), 16);
    for (const char* bad : {"", "abc", "12abc", "1.5", "--1"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(n->FromString(bad), InvalidArgumentException);
    }
    EXPECT_THROW(n->FromString("101"), OutOfRangeException);
    EXPECT_EQ(n->GetValue(), 16);
}

TEST(FloatNode, RangeIncrementModesAndRoundTrip) {
    CMemoryNodeMap map;
    map.AddFloat("Free", 0.5, 0.0, 10.0);
    map.AddFloat("Stepped", 1.0, 1.0, 3.0, SFloatInc{true, fixedIncrement, 0.1});
    map.AddFloat("Listed", 1.0, 0.0, 3.0, SFloatInc{true, listIncrement, 0.0});
    CFloatPtr free(map.GetNode("Free"));
    CFloatPtr stepped(map.GetNode("Stepped"));
    CFloatPtr listed(map.GetNode("Listed"));

    EXPECT_FALSE(free->HasInc());
    EXPECT_EQ(free->GetIncMode(), noIncrement);
    EXPECT_TRUE(stepped->HasInc());
    EXPECT_EQ(stepped->GetIncMode(), fixedIncrement);
    EXPECT_DOUBLE_EQ(stepped->GetInc(), 0.1);
    EXPECT_EQ(listed->GetIncMode(), listIncrement);

    free->SetValue(1.0 / 3.0);
    EXPECT_EQ(std::strtod(free->ToString().c_str(), nullptr), 1.0 / 3.0)
        << "ToString must round-trip";
    EXPECT_THROW(free->SetValue(10.5), OutOfRangeException);
    EXPECT_THROW(free->SetValue(std::nan("")), OutOfRangeException);
    EXPECT_THROW(free->FromString("fast"), InvalidArgumentException);
    free->FromString("2.5e0");
    EXPECT_EQ(free->GetValue(), 2.5);

    stepped->SetValue(1.0 + 7 * 0.1);  // not exactly 1.7 in binary, still on the grid
    EXPECT_THROW(stepped->SetValue(1.75), OutOfRangeException);
    EXPECT_NEAR(stepped->GetValue(), 1.7, 1e-12);
    listed->SetValue(1.234);
    EXPECT_EQ(listed->GetValue(), 1.234);
}

TEST(BooleanNode, TextForms) {
    CMemoryNodeMap map;
    map.AddBoolean("Reverse", false);
    CBooleanPtr b(map.GetNode("Reverse"));
    EXPECT_EQ(b->ToString(), "false");
    b->FromString("1");
    EXPECT_TRUE(b->GetValue());
    EXPECT_EQ(b->ToString(), "true");
    b->FromString("false");
    EXPECT_FALSE(b->GetValue());
    b->FromString("true");
    b->FromString("0");
    EXPECT_FALSE(b->GetValue());
    EXPECT_THROW(b->FromString("yes"), InvalidArgumentException);
}

TEST(StringNode, MaxLengthIsEnforced) {
    CMemoryNodeMap map;
    map.AddString("UserId", "cam", 4);
    CStringPtr s(map.GetNode("UserId"));
    EXPECT_EQ(s->GetMaxLength(), 4);
    s->SetValue("abcd");
    EXPECT_EQ(s->GetValue(), "abcd");
    EXPECT_THROW(s->SetValue("abcde"), OutOfRangeException);
    EXPECT_THROW(s->FromString("abcde"), OutOfRangeException);
    s->FromString("");
    EXPECT_EQ(s->ToString(), "");
}

TEST(EnumerationNode, SymbolicsEntriesAndRefusals) {
    CMemoryNodeMap map;
    map.AddEnumeration("TriggerMode", {{"Off", 0}, {"On", 1}, {"Auto", 5}}, "On");
    CEnumerationPtr e(map.GetNode("TriggerMode"));
    gcstring_vector symbolics;
    e->GetSymbolics(symbolics);
    ASSERT_EQ(symbolics.size(), 3u);
    EXPECT_EQ(symbolics[0], "Off");
    EXPECT_EQ(symbolics[1], "On");
    EXPECT_EQ(symbolics[2], "Auto");

    EXPECT_EQ(e->GetIntValue(), 1);
    EXPECT_EQ(e->ToString(), "On");
    e->FromString("Auto");
    EXPECT_EQ(e->GetIntValue(), 5);
    EXPECT_EQ(e->GetCurrentEntry()->GetSymbolic(), "Auto");
    e->SetIntValue(0);
    EXPECT_EQ(e->ToString(), "Off");
    EXPECT_THROW(e->SetIntValue(2), OutOfRangeException);
    EXPECT_THROW(e->FromString("Sometimes"), InvalidArgumentException);
    EXPECT_EQ(e->GetEntryByName("Sometimes"), nullptr);
    EXPECT_EQ(e->GetIntValue(), 0);

    // An entry that is not available drops out of the symbolics and cannot be
    // chosen, but GetEntries still lists it.
    map.Ref("EnumEntry_TriggerMode_On").Access(NA);
    e->GetSymbolics(symbolics);
    EXPECT_EQ(symbolics.size(), 2u);
    EXPECT_THROW(e->FromString("On"), AccessException);
    NodeList_t entries;
    e->GetEntries(entries);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(CEnumEntryPtr(entries[1])->GetSymbolic(), gcstring("On"));
    EXPECT_FALSE(IsAvailable(entries[1]->GetAccessMode()));
    EXPECT_TRUE(IsAvailable(entries[2]->GetAccessMode()));
}

TEST(EnumerationNode, EmptyCurrentPicksFirstEntryAndUnknownCurrentIsRefused) {
    CMemoryNodeMap map;
    map.AddEnumeration("Mode", {{"A", 3}, {"B", 4}}, "");
    EXPECT_EQ(map.PeekString("Mode"), "A");
    EXPECT_THROW(map.AddEnumeration("Bad", {{"A", 3}}, "Z"), std::invalid_argument);
}

TEST(ValueNode, ValueOnlyNodeStoresText) {
    CMemoryNodeMap map;
    map.AddValue("Opaque");
    CValuePtr v(map.GetNode("Opaque"));
    v->FromString("anything");
    EXPECT_EQ(v->ToString(), "anything");
    EXPECT_EQ(v->GetNode(), map.GetNode("Opaque"));
}

TEST(NodeText, BrowserFactsAndTheirFallbacks) {
    CMemoryNodeMap map;
    map.AddFloat("ExposureTime", 100.0, 1.0, 1000.0)
        .Text({"Exposure", "Sensor exposure.", "", "us"});
    map.AddInteger("Gain", 1, 0, 10).Text({"", "", "Raw steps", "dB", Guru});
    map.AddBoolean("ReverseX", false);
    INode* exposure = map.GetNode("ExposureTime");
    EXPECT_EQ(exposure->GetDisplayName(), gcstring("Exposure"));
    EXPECT_EQ(exposure->GetToolTip(), gcstring("Sensor exposure.")) << "tool tip falls back";
    EXPECT_EQ(CFloatPtr(exposure)->GetUnit(), gcstring("us"));
    INode* gain = map.GetNode("Gain");
    EXPECT_EQ(gain->GetDisplayName(), gcstring("Gain")) << "display name falls back";
    EXPECT_EQ(gain->GetToolTip(), gcstring("Raw steps"));
    EXPECT_EQ(gain->GetVisibility(), Guru);
    EXPECT_EQ(CIntegerPtr(gain)->GetUnit(), gcstring("dB"));
    EXPECT_EQ(map.GetNode("ReverseX")->GetVisibility(), Beginner);
}
