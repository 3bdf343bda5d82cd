#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "QRVData.h"

namespace {

const char kGroesse[] =
    "Kamera-Gr\xC3\xB6\xC3\x9F"
    "e";                                              // Kamera-Größe
const char kXiangji[] = "\xE7\x9B\xB8\xE6\x9C\xBA";   // 相机
const char kGrinning[] = "\xF0\x9F\x98\x80";          // U+1F600
const std::string kReplacementUtf8 = "\xEF\xBF\xBD";  // U+FFFD

struct DecodeCase {
    const char* name;
    const char* utf8;
    std::u16string units;
};

void PrintTo(const DecodeCase& c, std::ostream* os) {
    *os << c.name;
}

class Utf8Decoding : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Utf8Decoding, GivesExpectedCodeUnits) {
    const DecodeCase& c = GetParam();
    EXPECT_EQ(QRVString(c.utf8).utf16(), c.units);

    QRVString assigned("previous content");
    assigned = c.utf8;
    EXPECT_EQ(assigned.utf16(), c.units) << "operator= must read like the constructor";
}

INSTANTIATE_TEST_SUITE_P(
    WellFormed, Utf8Decoding,
    ::testing::Values(DecodeCase{"Ascii", "Cam 1", u"Cam 1"},
                      DecodeCase{"Latin1", kGroesse, u"Kamera-Gr\u00F6\u00DFe"},
                      DecodeCase{"Cjk", kXiangji, u"\u76F8\u673A"},
                      DecodeCase{"EmojiBecomesSurrogatePair", kGrinning, u"\xD83D\xDE00"},
                      DecodeCase{"SmallestTwoByte", "\xC2\x80", u"\u0080"},
                      DecodeCase{"LastBeforeSurrogates", "\xED\x9F\xBF", u"\uD7FF"},
                      DecodeCase{"FirstAfterSurrogates", "\xEE\x80\x80", u"\uE000"},
                      DecodeCase{"LastBmp", "\xEF\xBF\xBF", u"\uFFFF"},
                      DecodeCase{"LastCodePoint", "\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"}),
    [](const auto& tpi) { return std::string(tpi.param.name); });

// One U+FFFD per bad byte: nothing is dropped and good bytes after a bad one
// are still read.
INSTANTIATE_TEST_SUITE_P(
    IllFormed, Utf8Decoding,
    ::testing::Values(
        DecodeCase{"LoneContinuation", "a\x80z", u"a\uFFFDz"},
        DecodeCase{"OverlongSlash", "\xC0\xAF", u"\uFFFD\uFFFD"},
        DecodeCase{"OverlongThreeByte", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
        DecodeCase{"OverlongFourByte", "\xF0\x80\x80\xAF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        DecodeCase{"EncodedSurrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        DecodeCase{"AboveLastCodePoint", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        DecodeCase{"InvalidLeadByte", "\xF5\x80", u"\uFFFD\uFFFD"},
        DecodeCase{"ByteFF", "x\xFFy", u"x\uFFFDy"},
        DecodeCase{"TruncatedMiddle",
                   "a\xE7\x9B"
                   "b",
                   u"a\uFFFD\uFFFDb"},
        DecodeCase{"TruncatedAtEnd", "ab\xF0\x9F\x98", u"ab\uFFFD\uFFFD\uFFFD"},
        DecodeCase{"GoodAfterBad", "\xC3\xC3\xB6", u"\uFFFD\u00F6"}),
    [](const auto& tpi) { return std::string(tpi.param.name); });

TEST(QRVStringConversion, NullPointerGivesEmptyString) {
    EXPECT_TRUE(QRVString(static_cast<const char*>(nullptr)).isEmpty());
    QRVString text("not empty");
    text = static_cast<const char*>(nullptr);
    EXPECT_TRUE(text.isEmpty());
    EXPECT_EQ(text.length(), 0);
}

TEST(QRVStringConversion, Utf8RoundTripsWellFormedText) {
    for (const char* utf8 :
         {"", "Cam 1", kGroesse, kXiangji, kGrinning, "\xF4\x8F\xBF\xBF\xEF\xBF\xBF\xC2\x80"}) {
        const QRVBuffer back = QRVString(utf8).toUtf8();
        EXPECT_EQ(back.str(), utf8);
        EXPECT_EQ(back.size(), static_cast<int>(std::string(utf8).size()));
        EXPECT_EQ(back.constData()[back.size()], '\0');
    }
}

TEST(QRVStringConversion, LoneSurrogatesEncodeAsReplacementCharacter) {
    const std::string r = kReplacementUtf8;
    EXPECT_EQ(QRVString::fromUtf16(u"a\xD83D").toUtf8().str(), "a" + r);
    EXPECT_EQ(QRVString::fromUtf16(u"\xDE00z").toUtf8().str(), r + "z");
    EXPECT_EQ(QRVString::fromUtf16(u"\xDE00\xD83D").toUtf8().str(), r + r)
        << "a reversed pair is two lone surrogates";
    EXPECT_EQ(QRVString::fromUtf16(u"\xD83D\xD83D\xDE00").toUtf8().str(), r + kGrinning);
}

TEST(QRVStringAccess, AtCountsCodeUnitsAndGivesNullOutside) {
    const QRVString text(kGroesse);
    EXPECT_EQ(text.length(), 12);
    EXPECT_EQ(text.at(0).unicode(), u'K');
    EXPECT_EQ(text.at(9).unicode(), u'\u00F6');
    EXPECT_EQ(text.at(9).toLatin1(), '\xF6');
    EXPECT_EQ(text.at(11).unicode(), u'e');

    const QRVString emoji(std::string("a").append(kGrinning).c_str());
    ASSERT_EQ(emoji.length(), 3);
    EXPECT_EQ(emoji.at(1).unicode(), 0xD83D);
    EXPECT_EQ(emoji.at(2).unicode(), 0xDE00);
    EXPECT_EQ(QRVString(kXiangji).at(0).toLatin1(), '?');
    // Outside the text: the null character.
    EXPECT_EQ(text.at(-1), QRVChar(0));
    EXPECT_EQ(text.at(12), QRVChar(0));
    EXPECT_EQ(QRVString().at(0), QRVChar(0));
}

TEST(QRVStringAccess, MidCountsCodeUnitsAndIsEmptyOutside) {
    const QRVString text(kGroesse);
    EXPECT_EQ(text.mid(7).toUtf8().str(),
              "Gr\xC3\xB6\xC3\x9F"
              "e");
    EXPECT_EQ(text.mid(7, -1), text.mid(7, -42)) << "any negative count runs to the end";
    EXPECT_EQ(text.mid(9, 2).toUtf8().str(), "\xC3\xB6\xC3\x9F");
    EXPECT_EQ(text.mid(10, 100).toUtf8().str(),
              "\xC3\x9F"
              "e");
    EXPECT_EQ(text.mid(0), text);
    EXPECT_EQ(QRVString(kXiangji).mid(1).toUtf8().str(), "\xE6\x9C\xBA");
    // Outside the text: empty.
    EXPECT_TRUE(text.mid(12).isEmpty());
    EXPECT_TRUE(text.mid(100, 3).isEmpty());
    EXPECT_TRUE(text.mid(-1).isEmpty());
    EXPECT_TRUE(text.mid(3, 0).isEmpty());
    EXPECT_TRUE(QRVString().mid(0).isEmpty());
    // Surrogate pairs are split by code unit.
    const QRVString pair(std::string("a").append(kGrinning).append("b").c_str());
    EXPECT_EQ(pair.mid(1, 2).toUtf8().str(), kGrinning);
    EXPECT_EQ(pair.mid(2, 1).utf16(), u"\xDE00");
}

struct ContainsCase {
    const char* name;
    const char* haystack;
    const char* needle;
    bool sensitive;
    bool insensitive;
};

void PrintTo(const ContainsCase& c, std::ostream* os) {
    *os << c.name;
}

class QRVStringContains : public ::testing::TestWithParam<ContainsCase> {};

TEST_P(QRVStringContains, MatchesPerCaseMode) {
    const ContainsCase& c = GetParam();
    const QRVString haystack(c.haystack);
    EXPECT_EQ(haystack.contains(c.needle, QRVString::CaseSensitive), c.sensitive);
    EXPECT_EQ(haystack.contains(c.needle, QRVString::CaseInsensitive), c.insensitive);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QRVStringContains,
    ::testing::Values(ContainsCase{"ExactAscii", "Basler acA1920", "acA", true, true},
                      ContainsCase{"AsciiCase", "Basler acA1920", "ACA1920", false, true},
                      // GRÖSSE with Ö upper case but ß kept: ß has no one-unit upper case.
                      ContainsCase{"Latin1Case", kGroesse,
                                   "GR\xC3\x96\xC3\x9F"
                                   "E",
                                   false, true},
                      ContainsCase{"YDiaeresis", "\xC3\xBF", "\xC5\xB8", false, true},
                      ContainsCase{"TimesIsNotDivide", "\xC3\x97", "\xC3\xB7", false, false},
                      ContainsCase{"LatinExtendedOddUpper", "\xC5\x81\xC3\xB3\x64\xC5\xBA",
                                   "\xC5\x82\xC3\x93", false, true},  // Łódź / łÓ
                      ContainsCase{"Greek", "\xCE\xBA\xCE\xAC\xCE\xBC\xCE\xB5\xCF\x81\xCE\xB1",
                                   "\xCE\x9A\xCE\x86\xCE\x9C", false, true},  // κάμερα / ΚΆΜ
                      ContainsCase{"Cyrillic", "\xD0\xBA\xD0\xB0\xD0\xBC\xD0\xB5\xD1\x80\xD0\xB0",
                                   "\xD0\x9A\xD0\x90\xD0\x9C\xD0\x95\xD0\xA0\xD0\x90", false,
                                   true},  // камера / КАМЕРА
                      ContainsCase{"Emoji", "cam \xF0\x9F\x98\x80!", kGrinning, true, true},
                      ContainsCase{"DifferentEmoji", "cam \xF0\x9F\x98\x80!", "\xF0\x9F\x98\x81",
                                   false, false},
                      ContainsCase{"EmptyNeedle", "abc", "", true, true},
                      ContainsCase{"NeedleLonger", "ab", "abc", false, false},
                      ContainsCase{"NotPresent", kGroesse, "Gross", false, false}),
    [](const auto& tpi) { return std::string(tpi.param.name); });

TEST(QRVStringContainer, ArrayKeepsOrderAndThrowsOutOfRange) {
    QRVStringArray list;
    list.push_back(QRVString(kGroesse));
    list.push_back(QRVString(kXiangji));
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list.at(0), QRVString(kGroesse));
    EXPECT_EQ(list.at(1), QRVString(kXiangji));
    EXPECT_THROW(list.at(2), std::out_of_range);
    EXPECT_THROW(list.at(-1), std::out_of_range);
    list.clear();
    EXPECT_EQ(list.size(), 0);
}

}  // namespace
