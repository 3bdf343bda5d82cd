// Tables of cases kept in tab-separated files beside the tests: a header line
// naming the columns, then one case a line; blank lines and lines starting with
// '#' are skipped. Fields are unescaped: \t \n \r \\ \0 \xHH, and \{text*N}
// stands for text repeated N times. Also the checks and byte texts the tables share.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace qrvtest {

struct SRow {
    std::string file;
    int line = 0;
    std::map<std::string, std::string> fields;

    const std::string& operator[](const std::string& column) const {
        const auto it = fields.find(column);
        if (it == fields.end()) throw std::out_of_range(file + ": no column " + column);
        return it->second;
    }
};

inline void PrintTo(const SRow& row, std::ostream* os) {
    *os << row.file << ":" << row.line;
}

inline std::string Unescape(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = i + 1 < s.size() && s[i] == '\\' ? s[++i] : '\0';
        const std::size_t close = s.find('}', i), star = s.rfind('*', close);
        if (c == '\0') {
            out += s[i];
        } else if (c == 'x' && i + 2 < s.size()) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else if (c == '{' && close != std::string::npos && star != std::string::npos &&
                   star > i) {
            const std::string text = Unescape(s.substr(i + 1, star - i - 1));
            for (long n = std::stol(s.substr(star + 1, close - star - 1)); n > 0; --n) out += text;
            i = close;
        } else if (std::string("tnr0\\").find(c) != std::string::npos) {
            out += std::string("\t\n\r\0\\", 5)[std::string("tnr0\\").find(c)];
        } else {
            throw std::invalid_argument("bad escape in " + s);
        }
    }
    return out;
}

/// Every row of a table; throws on an unreadable or empty file and on a row
/// whose field count differs from the header's.
inline std::vector<SRow> ReadRows(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> header;
    std::vector<SRow> rows;
    std::string text;
    for (int line = 1; std::getline(in, text); ++line) {
        if (!text.empty() && text.back() == '\r') text.pop_back();
        if (text.empty() || text[0] == '#') continue;
        std::vector<std::string> fields(1);
        for (const char c : text) {
            if (c == '\t')
                fields.emplace_back();
            else
                fields.back() += c;
        }
        if (header.empty()) {
            header = fields;
        } else if (fields.size() != header.size()) {
            throw std::runtime_error(path + ":" + std::to_string(line) + ": wrong field count");
        } else {
            rows.push_back({path, line, {}});
            for (std::size_t k = 0; k < fields.size(); ++k)
                rows.back().fields[header[k]] = Unescape(fields[k]);
        }
    }
    if (rows.empty()) throw std::runtime_error(path + ": no rows");
    return rows;
}

/// expected "!text": result must be an exception ("!" and its message) holding
/// text; any other expected text must equal the result.
inline void ExpectResult(const std::string& result, const std::string& expected) {
    if (!expected.empty() && expected[0] == '!') {
        EXPECT_EQ(result.rfind('!', 0), 0u) << result;
        EXPECT_NE(result.find(expected.substr(1)), std::string::npos) << result;
    } else {
        EXPECT_EQ(result, expected);
    }
}

inline std::string Join(const std::vector<std::string>& items, const char* between = ",") {
    std::string text;
    for (const auto& item : items) text += (text.empty() ? "" : between) + item;
    return text;
}

/// Bytes as "0A FF", and back.
inline std::string Hex(const std::vector<uint8_t>& bytes) {
    std::vector<std::string> items;
    for (const uint8_t byte : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", unsigned{byte});
        items.push_back(hex);
    }
    return Join(items, " ");
}

inline std::vector<uint8_t> Bytes(const std::string& hex) {
    std::vector<uint8_t> bytes;
    std::istringstream in(hex);
    for (unsigned byte = 0; in >> std::hex >> byte;) bytes.push_back(static_cast<uint8_t>(byte));
    return bytes;
}

}  // namespace qrvtest
