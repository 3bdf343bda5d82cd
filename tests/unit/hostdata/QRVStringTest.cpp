// QRVString's conversions and code-unit access as one table (strings.tsv).
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "QRVData.h"
#include "RowFile.h"

namespace {

std::string Units(const std::u16string& text) {
    std::string out;
    for (const char16_t unit : text) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%s%04X", out.empty() ? "" : " ", unsigned{unit});
        out += hex;
    }
    return out;
}

std::u16string FromUnits(const std::string& hex) {
    std::u16string text;
    std::istringstream in(hex);
    for (unsigned unit = 0; in >> std::hex >> unit;) text += static_cast<char16_t>(unit);
    return text;
}

class QRVStringRows : public ::testing::TestWithParam<qrvtest::SRow> {};

TEST_P(QRVStringRows, GiveTheirResult) {
    const qrvtest::SRow& c = GetParam();
    const std::string& op = c["op"];
    const std::string& text = c["text"];
    const QRVString string(text.c_str());
    std::istringstream args(c["args"]);
    int first = 0;
    int second = -1;
    std::string result;
    if (op == "decode") {
        result = Units(string.utf16());
        QRVString assigned("previous content");
        assigned = text.c_str();
        EXPECT_EQ(assigned.utf16(), string.utf16()) << "operator= must read like the constructor";
        if (c["expected"].find("FFFD") == std::string::npos) {
            const QRVBuffer back = string.toUtf8();
            EXPECT_EQ(back.str(), text);
            EXPECT_EQ(back.size(), static_cast<int>(text.size()));
            EXPECT_EQ(back.constData()[back.size()], '\0');
        }
    } else if (op == "encode") {
        result = QRVString::fromUtf16(FromUnits(text)).toUtf8().str();
    } else if (op == "at" && args >> first) {
        result = Units(std::u16string(1, string.at(first).unicode()));
    } else if (op == "latin1" && args >> first) {
        result = qrvtest::Hex({static_cast<uint8_t>(string.at(first).toLatin1())});
    } else if (op == "mid" && args >> first) {
        args >> second;
        result = Units((c["args"].find(' ') == std::string::npos ? string.mid(first)
                                                                 : string.mid(first, second))
                           .utf16());
    } else if (op == "contains") {
        const char* needle = c["args"].c_str();
        result = std::string(string.contains(needle, QRVString::CaseSensitive) ? "yes" : "no") +
                 (string.contains(needle, QRVString::CaseInsensitive) ? " yes" : " no");
    } else {
        FAIL() << "bad row " << op << " " << c["args"];
    }
    EXPECT_EQ(result, c["expected"]);
}

INSTANTIATE_TEST_SUITE_P(Table, QRVStringRows,
                         ::testing::ValuesIn(qrvtest::ReadRows(QRV_HOSTDATA_ROWS "/strings.tsv")),
                         [](const auto& row) { return row.param["name"]; });

TEST(QRVStringConversion, NullPointerGivesEmptyString) {
    EXPECT_TRUE(QRVString(static_cast<const char*>(nullptr)).isEmpty());
    QRVString text("not empty");
    text = static_cast<const char*>(nullptr);
    EXPECT_TRUE(text.isEmpty());
    EXPECT_EQ(text.length(), 0);
}

TEST(QRVStringContainer, ArrayKeepsOrderAndThrowsOutOfRange) {
    QRVStringArray list;
    list.push_back(QRVString("a"));
    list.push_back(QRVString("\xE7\x9B\xB8"));
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list.at(0), QRVString("a"));
    EXPECT_EQ(list.at(1), QRVString("\xE7\x9B\xB8"));
    EXPECT_THROW(list.at(2), std::out_of_range);
    EXPECT_THROW(list.at(-1), std::out_of_range);
    list.clear();
    EXPECT_EQ(list.size(), 0);
}

}  // namespace
