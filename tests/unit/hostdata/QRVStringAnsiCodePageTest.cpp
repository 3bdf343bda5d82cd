// toLocal8Bit on Windows: the process's ANSI code page, whatever the C locale
// says. The expectations depend on that code page; others skip.
#include <gtest/gtest.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <clocale>
#include <string>

#include "QRVData.h"

namespace {

const char kGroesse[] =
    "Kamera-Gr\xC3\xB6\xC3\x9F"
    "e";  // Kamera-Größe

TEST(AnsiCodePage, Windows1252ConvertsAndMarksMissingCharacters) {
    if (::GetACP() != 1252) GTEST_SKIP() << "ANSI code page is " << ::GetACP() << ", not 1252";

    const QRVBuffer groesse = QRVString(kGroesse).toLocal8Bit();
    EXPECT_EQ(groesse.str(),
              "Kamera-Gr\xF6\xDF"
              "e");
    EXPECT_EQ(groesse.size(), 12);
    // Unlike ISO-8859-1, 1252 has the euro sign.
    EXPECT_EQ(QRVString("5\xE2\x82\xAC").toLocal8Bit().str(), "5\x80");
    EXPECT_EQ(QRVString("\xE7\x9B\xB8\xE6\x9C\xBA").toLocal8Bit().str(), "??");
    EXPECT_EQ(QRVString::fromUtf16(u"x\xD83Dy").toLocal8Bit().str(), "x?y");
}

TEST(AnsiCodePage, CLocaleDoesNotOverrideTheCodePage) {
    if (::GetACP() != 1252) GTEST_SKIP() << "ANSI code page is " << ::GetACP() << ", not 1252";
    const std::string saved = std::setlocale(LC_CTYPE, nullptr);
    ASSERT_NE(std::setlocale(LC_CTYPE, "C"), nullptr);
    const std::string converted = QRVString(kGroesse).toLocal8Bit().str();
    std::setlocale(LC_CTYPE, saved.c_str());
    EXPECT_EQ(converted,
              "Kamera-Gr\xF6\xDF"
              "e");
}

TEST(AnsiCodePage, AsciiAndEmptyPassUnchanged) {
    EXPECT_EQ(QRVString("Cam 1").toLocal8Bit().str(), "Cam 1");
    EXPECT_EQ(QRVString("").toLocal8Bit().size(), 0);
}

}  // namespace
