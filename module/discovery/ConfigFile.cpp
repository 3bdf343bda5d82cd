// Camera configuration files (.cam): name=value; entries written into the frame
// grabber's node map when a Camera Link camera opens.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <system_error>

#include "parameters/NodeAccess.h"
#include "session/GenICamCamera.h"

namespace {

/// One optional sign: from_chars takes a '-' itself but no '+', and a '+' must
/// not let a second sign through ("+-5").
const char* SkipPlus(const char* first, const char* last) {
    if (first != last && *first == '+' && first + 1 != last && first[1] != '-') ++first;
    return first;
}

/// Decimal integer with an optional sign; reading stops at the first other
/// character. False without a digit or outside 32 bits.
bool ParseInt32(const std::string& text, int64_t& out) {
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
bool ParseFloat(const std::string& text, float& out) {
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

bool ParseBool(const std::string& text) {
    if (text == "1") return true;
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower == "true";
}

bool HasCamExtension(const QRVString& path) {
    const int n = path.length();
    if (n < 4) return false;
    return path.at(n - 1).toLatin1() == 'm' && path.at(n - 2).toLatin1() == 'a' &&
           path.at(n - 3).toLatin1() == 'c' && path.at(n - 4).toLatin1() == '.';
}

}  // namespace

bool CGenICamCamera::LoadCameraConfigFile(QRVString path) {
    if (path.isEmpty() || !HasCamExtension(path)) return false;

    const std::string localPath = qrv::platform::Utf8ToLocalCodePage(path.toUtf8().constData());
    std::ifstream file(localPath);
    if (!file.is_open()) return false;

    std::string line;
    bool firstLine = true;
    while (std::getline(file, line)) {
        try {
            if (firstLine) {
                firstLine = false;
                // Editors on Windows like to start UTF-8 files with a byte-order mark.
                if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
            }
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty() || line.front() == ';') continue;
            const std::size_t terminator = line.find(';');
            if (terminator == std::string::npos) continue;
            std::string entry = line.substr(0, terminator);
            entry.erase(std::remove_if(entry.begin(), entry.end(),
                                       [](char c) { return c == ' ' || c == '\t'; }),
                        entry.end());
            const std::size_t assign = entry.find('=');
            if (assign == std::string::npos) continue;
            ApplyConfigEntry(entry.substr(0, assign).c_str(), entry.substr(assign + 1).c_str());
        } catch (...) {
            // One bad entry never stops the file.
        }
    }
    // Only a file read to its end counts: a read error (a folder named *.cam, an
    // I/O error part-way) also ends the loop, and is a failed read.
    return file.eof() && !file.bad();
}

int CGenICamCamera::ApplyConfigEntry(const char* name, const char* value) {
    if (!m_camera || !name || !value) return -1;
    GenApi::INodeMap* map = qrv::NodeMapOf(m_camera->getGrabberModule());
    if (!map) return -1;
    GenApi::INode* node = map->GetNode(name);
    if (!node) return 0;

    try {
        const GenApi::EInterfaceType type = node->GetPrincipalInterfaceType();
        if (!GenApi::IsWritable(static_cast<GenApi::IBase*>(node))) return 0;
        const std::string text(value);
        switch (type) {
            case GenApi::intfIInteger: {
                int64_t number = 0;
                if (!ParseInt32(text, number)) break;
                GenApi::CIntegerPtr integer = node;
                integer->SetValue(number, true);
                integer->GetValue(true, true);
                break;
            }
            case GenApi::intfIBoolean: {
                GenApi::CBooleanPtr boolean = node;
                boolean->SetValue(ParseBool(text), true);
                boolean->GetValue(true, true);
                break;
            }
            case GenApi::intfIFloat: {
                float number = 0.0f;
                if (!ParseFloat(text, number)) break;
                GenApi::CFloatPtr real = node;
                real->SetValue(static_cast<double>(number), true);
                real->GetValue(true, true);
                break;
            }
            case GenApi::intfIEnumeration: {
                GenApi::CEnumerationPtr enumeration = node;
                enumeration->FromString(GenICam::gcstring(text), true);
                enumeration->GetIntValue(true, true);
                break;
            }
            default:
                break;
        }
    } catch (...) {
        // A refused value leaves the node as it was; the next entry goes on.
    }
    return 0;
}
