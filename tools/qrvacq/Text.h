// Text conversions shared by the commands and the shell: result codes, strings,
// numbers and hex as the user types and reads them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "QRVData.h"

namespace qrvacq {

/// Process exit status; 130 is the shell's convention for an end by SIGINT.
enum ExitStatus { kExitOk = 0, kExitCallFailed = 1, kExitUsage = 2, kExitInterrupted = 130 };

inline std::string ToStd(const QRVString& text) {
    return text.toUtf8().str();
}

/// "101022 QRV_ERR_PARAMETER_ACCESS (no such node, ...)"; unknown codes keep the number.
std::string DescribeResult(int code);

/// Double-quoted, with backslash escapes for quotes, backslashes and control bytes.
std::string Quote(const std::string& text);

/// Host interface number as a word: GigE, USB3, unknown, CameraLink, GenTL.
std::string InterfaceName(int interfaceCode);

/// Node type code of GetNodeType as a word ("int", "string/enum"), or null.
const char* NodeTypeName(int type);

/// Whole-string conversions: no trailing text, no overflow.
bool ParseInt(const std::string& text, int& value);
bool ParseInt64(const std::string& text, long long& value);
bool ParseFloat(const std::string& text, float& value);
/// true/false/1/0, case-insensitive.
bool ParseBool(const std::string& text, bool& value);
/// Hex digits, even count, optional 0x prefix.
bool ParseHex(const std::string& text, std::vector<unsigned char>& bytes);
std::string ToHex(const unsigned char* data, std::size_t size);

/// "1 frame", "2 frames": the count and the word, plural unless the count is 1.
inline std::string Counted(long long count, const std::string& word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

/// Shortest text that reads back as the same float.
std::string FormatFloat(float value);

}  // namespace qrvacq
