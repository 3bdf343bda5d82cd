#include "Text.h"

#include <strings.h>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "QRVAcqGenIcam.h"

namespace qrvacq {

std::string DescribeResult(int code) {
    std::string text = std::to_string(code);
    const char* name = QRVAcqResultName(code);
    const char* meaning = QRVAcqResultMeaning(code);
    text += ' ';
    text += name ? name : "(unknown result code)";
    if (meaning) text += std::string(" (") + meaning + ")";
    return text;
}

std::string Quote(const std::string& text) {
    std::string quoted = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                quoted += "\\\"";
                break;
            case '\\':
                quoted += "\\\\";
                break;
            case '\n':
                quoted += "\\n";
                break;
            case '\t':
                quoted += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    char escape[8];
                    std::snprintf(escape, sizeof(escape), "\\x%02x", c);
                    quoted += escape;
                } else {
                    quoted += static_cast<char>(c);
                }
        }
    }
    return quoted + "\"";
}

std::string InterfaceName(int interfaceCode) {
    switch (interfaceCode) {
        case QRV_INTERFACE_GIGE:
            return "GigE";
        case QRV_INTERFACE_USB3:
            return "USB3";
        case QRV_INTERFACE_UNKNOWN:
            return "unknown";
        case QRV_INTERFACE_CAMERALINK:
            return "CameraLink";
        case QRV_INTERFACE_GENTL:
            return "GenTL";
        default:
            return "invalid(" + std::to_string(interfaceCode) + ")";
    }
}

const char* NodeTypeName(int type) {
    switch (type) {
        case 1:
            return "bool";
        case 2:
            return "int";
        case 3:
            return "float";
        case 4:
            return "string/enum";
        case 5:
            return "command";
        default:
            return nullptr;
    }
}

bool ParseInt(const std::string& text, int& value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || parsed < INT_MIN || parsed > INT_MAX) return false;
    value = static_cast<int>(parsed);
    return true;
}

bool ParseInt64(const std::string& text, long long& value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0') return false;
    value = parsed;
    return true;
}

bool ParseFloat(const std::string& text, float& value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const float parsed = std::strtof(text.c_str(), &end);
    if (errno == ERANGE || *end != '\0') return false;
    value = parsed;
    return true;
}

bool ParseBool(const std::string& text, bool& value) {
    if (text == "1" || strcasecmp(text.c_str(), "true") == 0) {
        value = true;
        return true;
    }
    if (text == "0" || strcasecmp(text.c_str(), "false") == 0) {
        value = false;
        return true;
    }
    return false;
}

bool ParseHex(const std::string& text, std::vector<unsigned char>& bytes) {
    std::size_t start = 0;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) start = 2;
    if ((text.size() - start) % 2 != 0) return false;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::vector<unsigned char> parsed;
    for (std::size_t i = start; i < text.size(); i += 2) {
        const int high = nibble(text[i]);
        const int low = nibble(text[i + 1]);
        if (high < 0 || low < 0) return false;
        parsed.push_back(static_cast<unsigned char>(high * 16 + low));
    }
    bytes = std::move(parsed);
    return true;
}

std::string ToHex(const unsigned char* data, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        hex += digits[data[i] >> 4];
        hex += digits[data[i] & 0x0f];
    }
    return hex;
}

std::string FormatFloat(float value) {
    char text[32];
    for (int precision = 6; precision <= 9; ++precision) {
        std::snprintf(text, sizeof(text), "%.*g", precision, static_cast<double>(value));
        if (std::isnan(value) || std::strtof(text, nullptr) == value) break;
    }
    return text;
}

}  // namespace qrvacq
