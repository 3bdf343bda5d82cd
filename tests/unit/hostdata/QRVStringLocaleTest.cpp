// toLocal8Bit follows the process's LC_CTYPE, so each test switches it and puts
// it back.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "Latin1Locale.h"
#include "QRVData.h"

namespace {

const char kGroesse[] =
    "Kamera-Gr\xC3\xB6\xC3\x9F"
    "e";  // Kamera-Größe

class LocaleTest : public ::testing::Test {
protected:
    void SetUp() override { m_saved = std::setlocale(LC_CTYPE, nullptr); }
    void TearDown() override { std::setlocale(LC_CTYPE, m_saved.c_str()); }

private:
    std::string m_saved;
};

TEST_F(LocaleTest, CAndUtf8LocalesGiveUtf8) {
    for (const char* locale : {"C", "C.UTF-8"}) {
        if (std::setlocale(LC_CTYPE, locale) == nullptr) continue;  // C.UTF-8 may be missing
        for (const char* text : {"Cam 1", kGroesse, "\xE7\x9B\xB8\xE6\x9C\xBA", "\xF0\x9F\x98\x80"})
            EXPECT_EQ(QRVString(text).toLocal8Bit().str(), text) << locale;
    }
}

TEST_F(LocaleTest, Latin1LocaleConvertsAndMarksMissingCharacters) {
    const qrvtest::CLatin1Locale locale;
    if (!locale.IsLatin1()) GTEST_SKIP() << "no ISO-8859-1 locale available";

    const QRVBuffer groesse = QRVString(kGroesse).toLocal8Bit();
    EXPECT_EQ(groesse.str(),
              "Kamera-Gr\xF6\xDF"
              "e");
    EXPECT_EQ(groesse.size(), 12);

    // Each missing character is one '?', whatever its UTF-8 or UTF-16 length.
    EXPECT_EQ(QRVString("\xE7\x9B\xB8\xE6\x9C\xBA").toLocal8Bit().str(), "??");
    EXPECT_EQ(QRVString("a\xF0\x9F\x98\x80z").toLocal8Bit().str(), "a?z");
    EXPECT_EQ(QRVString("5\xE2\x82\xAC").toLocal8Bit().str(), "5?");  // euro sign
    EXPECT_EQ(QRVString::fromUtf16(u"x\xD83Dy").toLocal8Bit().str(), "x?y");
    EXPECT_EQ(QRVString("\xC3\xBF\xC2\xA0").toLocal8Bit().str(), "\xFF\xA0");
}

}  // namespace
