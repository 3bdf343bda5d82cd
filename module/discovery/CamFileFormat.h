// The text rules of camera configuration files (.cam): which lines are entries,
// and how an entry's value text becomes a number. Shared by the plug-in, which
// writes the entries at Open, and by qrvacq, which checks them against the
// camera afterwards; header only, so that the tool needs none of the plug-in's
// objects.
#pragma once

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <system_error>

namespace qrv::camfile {

/// One line of the file as an entry: false for a comment, an empty line, a line
/// without ';' or without '='. Only the text before the first ';' counts, with
/// every blank and tab removed; the name runs to the first '='. firstLine drops a
/// UTF-8 byte-order mark; a carriage return before the line end is dropped.
inline bool SplitLine(std::string line, bool firstLine, std::string& name, std::string& value) {
    if (firstLine && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.front() == ';') return false;
    const std::size_t terminator = line.find(';');
    if (terminator == std::string::npos) return false;
    line.erase(terminator);
    line.erase(std::remove_if(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; }),
               line.end());
    const std::size_t assign = line.find('=');
    if (assign == std::string::npos) return false;
    name = line.substr(0, assign);
    value = line.substr(assign + 1);
    return true;
}

/// One optional sign: from_chars takes a '-' itself but no '+', and a '+' must
/// not let a second sign through ("+-5").
inline const char* SkipPlus(const char* first, const char* last) {
    if (first != last && *first == '+' && first + 1 != last && first[1] != '-') ++first;
    return first;
}

/// Decimal integer with an optional sign; reading stops at the first other
/// character. False without a digit or outside 32 bits.
inline bool ParseInt32(const std::string& text, int64_t& out) {
    const char* last = text.c_str() + text.size();
    const char* first = SkipPlus(text.c_str(), last);
    long long value = 0;
    const auto [end, error] = std::from_chars(first, last, value, 10);
    if (error != std::errc() || end == first) return false;
    if (value < INT32_MIN || value > INT32_MAX) return false;
    out = value;
    return true;
}

/// Decimal floating-point number, read in double precision, rounded to single.
/// False without a number or when double precision over- or underflows, as the C
/// library reports it: a result below the smallest normal double (a denormal, or
/// zero from non-zero digits) is an underflow.
inline bool ParseFloat(const std::string& text, float& out) {
    const char* last = text.c_str() + text.size();
    const char* first = SkipPlus(text.c_str(), last);
    double value = 0.0;
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end == first) return false;
    if (std::fpclassify(value) == FP_SUBNORMAL) return false;
    if (value == 0.0) {
        const char* mantissaEnd =
            std::find_if(first, end, [](char c) { return c == 'e' || c == 'E'; });
        if (std::find_if(first, mantissaEnd, [](char c) { return c >= '1' && c <= '9'; }) !=
            mantissaEnd) {
            return false;
        }
    }
    out = static_cast<float>(value);
    return true;
}

inline bool ParseBool(const std::string& text) {
    if (text == "1") return true;
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower == "true";
}

/// The lower-case extension .cam, compared byte by byte from the end.
inline bool HasCamExtension(const std::string& path) {
    const std::size_t n = path.size();
    return n >= 4 && path.compare(n - 4, 4, ".cam") == 0;
}

}  // namespace qrv::camfile
