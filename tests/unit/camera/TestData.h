// Test data as text: tables of cases beside the tests, one "<input> => <expected>"
// row per line (lines starting with '#', the header naming the columns among them,
// are comments), and simulated cameras described in JSON.
#pragma once

#include <fstream>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "KZRSim.h"

struct Row {
    std::string input, expected;
    /// The input's first word: the row's name in test names.
    std::string Name() const { return input.substr(0, input.find(' ')); }
};

inline void PrintTo(const Row& row, std::ostream* os) {
    *os << row.Name();
}

inline std::string ReadText(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

inline std::vector<Row> Rows(const std::string& name) {
    std::istringstream in(ReadText(std::string(QRV_SOURCE_DIR) + "/tests/unit/camera/" + name));
    std::vector<Row> rows;
    for (std::string line; std::getline(in, line);) {
        const size_t arrow = line.find(" => ");
        if (line.empty() || line[0] == '#') continue;
        if (arrow == std::string::npos) throw std::runtime_error(name + ": no \" => \" in " + line);
        rows.push_back({line.substr(0, arrow), line.substr(arrow + 4)});
    }
    if (rows.empty()) throw std::runtime_error(name + ": no rows");
    return rows;
}

/// Activates the cameras of a JSON camera list.
inline void UseJson(const std::string& cameras) {
    KZRSIM::LoadScenarioJson("{\"cameras\": [" + cameras + "]}");
}
