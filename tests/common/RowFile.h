// Tables of cases kept in tab-separated files beside the tests: a header line
// naming the columns, then one case a line; blank lines and lines starting with
// '#' are skipped. Fields are unescaped: \t \n \r \\ \0 \xHH, and \{text*N}
// stands for text repeated N times.
#pragma once

#include <cstdlib>
#include <fstream>
#include <map>
#include <ostream>
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
    /// The row's name for gtest: the "name" column.
    std::string Name() const { return (*this)["name"]; }
};

inline void PrintTo(const SRow& row, std::ostream* os) {
    *os << row.file << ":" << row.line;
}

inline std::string Unescape(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char c = s[++i];
        if (c == 'x' && i + 2 < s.size()) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else if (c == '{') {
            const std::size_t close = s.find('}', i);
            const std::size_t star = s.rfind('*', close);
            if (close == std::string::npos || star == std::string::npos || star < i)
                throw std::invalid_argument("bad repeat in " + s);
            const std::string text = Unescape(s.substr(i + 1, star - i - 1));
            for (long n = std::stol(s.substr(star + 1, close - star - 1)); n > 0; --n) out += text;
            i = close;
        } else {
            const std::string from = "tnr0\\", to("\t\n\r\0\\", 5);
            const std::size_t k = from.find(c);
            if (k == std::string::npos) throw std::invalid_argument("bad escape in " + s);
            out += to[k];
        }
    }
    return out;
}

inline std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields(1);
    for (const char c : line) {
        if (c == '\t')
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
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
        std::vector<std::string> fields = SplitTabs(text);
        if (header.empty()) {
            header = fields;
            continue;
        }
        if (fields.size() != header.size())
            throw std::runtime_error(path + ":" + std::to_string(line) + ": " +
                                     std::to_string(fields.size()) + " fields");
        SRow row{path, line, {}};
        for (std::size_t k = 0; k < fields.size(); ++k) row.fields[header[k]] = Unescape(fields[k]);
        rows.push_back(row);
    }
    if (rows.empty()) throw std::runtime_error(path + ": no rows");
    return rows;
}

}  // namespace qrvtest
