#include "EngineText.h"

#include <charconv>
#include <limits>

namespace GenApi::engine {

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

bool ParseInt64(std::string_view text, int64_t& value) {
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return false;
    uint64_t magnitude = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return false;
    if (base == 10) {
        const uint64_t limit = negative ? uint64_t{1} << 63 : uint64_t{INT64_MAX};
        if (magnitude > limit) return false;
    }
    value = static_cast<int64_t>(negative ? uint64_t{0} - magnitude : magnitude);
    return true;
}

bool ParseDouble(std::string_view text, double& value) {
    text = Trim(text);
    if (text.size() > 2 && (text[1] == 'x' || text[1] == 'X' || text[2] == 'x' || text[2] == 'X')) {
        int64_t i = 0;
        if (!ParseInt64(text, i)) return false;
        value = static_cast<double>(i);
        return true;
    }
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text == "INF" || text == "inf" || text == "Inf") {
        value = negative ? -std::numeric_limits<double>::infinity()
                         : std::numeric_limits<double>::infinity();
        return true;
    }
    if (text.empty() || text[0] == '+' || text[0] == '-') return false;
    double v = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), v);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return false;
    value = negative ? -v : v;
    return true;
}

std::string DoubleText(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

}  // namespace GenApi::engine
