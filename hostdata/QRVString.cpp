#include <algorithm>
#include <cerrno>
#include <cstring>

#include "QRVData.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <iconv.h>
#include <langinfo.h>
#endif

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

/// Decodes one well-formed UTF-8 sequence at text[0..available). Returns its length
/// and stores the code point, or returns 0 when the bytes there are not a complete,
/// shortest-form, non-surrogate sequence up to U+10FFFF.
std::size_t decodeSequence(const unsigned char* text, std::size_t available, char32_t& codePoint) {
    const unsigned char lead = text[0];
    std::size_t length = 0;
    // Bounds of the second byte; they exclude overlong forms, surrogates and
    // values above U+10FFFF in one check.
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (available < length) return 0;
    if (text[1] < low || text[1] > high) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if (!isContinuation(text[i])) return 0;
        codePoint = (codePoint << 6) | (text[i] & 0x3F);
    }
    return length;
}

std::u16string decodeUtf8(const char* utf8) {
    std::u16string units;
    if (utf8 == nullptr) return units;
    const auto* text = reinterpret_cast<const unsigned char*>(utf8);
    const std::size_t size = std::strlen(utf8);
    units.reserve(size);
    std::size_t pos = 0;
    while (pos < size) {
        char32_t cp = 0;
        const std::size_t length = decodeSequence(text + pos, size - pos, cp);
        if (length == 0) {
            // Only the offending byte is replaced; the following bytes get their
            // own chance, so each bad byte yields exactly one U+FFFD.
            units.push_back(kReplacement);
            ++pos;
            continue;
        }
        if (cp > 0xFFFF) {
            cp -= 0x10000;
            units.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(cp));
        }
        pos += length;
    }
    return units;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string encodeUtf8(const std::u16string& units) {
    std::string out;
    out.reserve(units.size());
    const std::size_t size = units.size();
    for (std::size_t i = 0; i < size; ++i) {
        const char16_t unit = units[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < size && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            const char32_t cp =
                0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            appendUtf8(out, cp);
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            appendUtf8(out, kReplacement);  // lone surrogate: not encodable
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

/// Simple one-to-one lower-case folding for the scripts a camera name or a file
/// path is likely to use: ASCII, Latin-1, Latin Extended-A, basic Greek and
/// Cyrillic, and fullwidth ASCII. Deliberately locale-independent (towlower
/// depends on setlocale) and without multi-unit folds (ß stays ß); surrogates are
/// compared as they are, so characters outside the BMP match only exactly.
char16_t foldCase(char16_t c) {
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? static_cast<char16_t>(c + 0x20) : c;
    if (c < 0x100) {
        if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 0x20);
        if (c == 0xB5) return 0x03BC;  // micro sign folds to Greek mu
        return c;
    }
    if (c < 0x180) {
        if (c == 0x0130 || c == 0x0131 || c == 0x0138 || c == 0x0149) return c;
        if (c == 0x0178) return 0x00FF;
        if (c == 0x017F) return 's';
        // Upper case sits on even positions in 0100..0137 and 014A..0177, on odd
        // positions in 0139..0148 and 0179..017E.
        const bool oddUpper = (c >= 0x0139 && c <= 0x0148) || (c >= 0x0179 && c <= 0x017E);
        const bool isUpper = oddUpper ? (c & 1) != 0 : (c & 1) == 0;
        return isUpper ? static_cast<char16_t>(c + 1) : c;
    }
    if (c >= 0x0386 && c <= 0x03AB) {
        if (c == 0x0386) return 0x03AC;
        if (c >= 0x0388 && c <= 0x038A) return static_cast<char16_t>(c + 0x25);
        if (c == 0x038C) return 0x03CC;
        if (c == 0x038E || c == 0x038F) return static_cast<char16_t>(c + 0x3F);
        if (c >= 0x0391 && c != 0x03A2) return static_cast<char16_t>(c + 0x20);
        return c;
    }
    if (c == 0x03C2) return 0x03C3;  // final sigma
    if (c >= 0x0400 && c <= 0x040F) return static_cast<char16_t>(c + 0x50);
    if (c >= 0x0410 && c <= 0x042F) return static_cast<char16_t>(c + 0x20);
    if (c >= 0xFF21 && c <= 0xFF3A) return static_cast<char16_t>(c + 0x20);
    return c;
}

#ifndef _WIN32

/// Length of the UTF-8 sequence that starts with lead; the text comes from
/// encodeUtf8, so it is well formed.
std::size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    return 4;
}

/// Converts well-formed UTF-8 to codeset; characters the code set cannot take
/// become '?'. Returns false when iconv does not know the code set.
bool convertFromUtf8(const std::string& utf8, const char* codeset, std::string& out) {
    iconv_t cd = iconv_open(codeset, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;

    out.clear();
    std::string chunk(utf8.size() + 16, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    while (inLeft > 0) {
        char* outPtr = &chunk[0];
        std::size_t outLeft = chunk.size();
        const std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        const int error = errno;
        out.append(chunk.data(), chunk.size() - outLeft);
        if (rc != static_cast<std::size_t>(-1) || error == E2BIG) continue;
        if (error != EILSEQ) break;  // EINVAL cannot occur on well-formed input
        const std::size_t skip = std::min(inLeft, sequenceLength(static_cast<unsigned char>(*in)));
        in += skip;
        inLeft -= skip;
        // Through iconv, so that a stateful code set gets its shift back to ASCII.
        char question[] = "?";
        char* qPtr = question;
        std::size_t qLeft = 1;
        outPtr = &chunk[0];
        outLeft = chunk.size();
        if (iconv(cd, &qPtr, &qLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1))
            out.push_back('?');
        else
            out.append(chunk.data(), chunk.size() - outLeft);
    }
    // Ends a stateful code set in its initial shift state.
    char* outPtr = &chunk[0];
    std::size_t outLeft = chunk.size();
    if (iconv(cd, nullptr, nullptr, &outPtr, &outLeft) != static_cast<std::size_t>(-1))
        out.append(chunk.data(), chunk.size() - outLeft);
    iconv_close(cd);
    return true;
}

#endif

}  // namespace

QRVString::QRVString(const char* utf8) : m_units(decodeUtf8(utf8)) {}

QRVString& QRVString::operator=(const char* utf8) {
    m_units = decodeUtf8(utf8);
    return *this;
}

QRVChar QRVString::at(int position) const {
    if (position < 0 || position >= length()) return QRVChar(0);
    return QRVChar(m_units[static_cast<std::size_t>(position)]);
}

QRVString QRVString::mid(int position, int count) const {
    QRVString result;
    if (position < 0 || position >= length() || count == 0) return result;
    const auto start = static_cast<std::size_t>(position);
    const std::size_t n = count < 0 ? std::u16string::npos : static_cast<std::size_t>(count);
    result.m_units = m_units.substr(start, n);
    return result;
}

bool QRVString::contains(const QRVString& needle, QRVCaseSensitivity cs) const {
    if (needle.m_units.empty()) return true;
    if (cs != CaseInsensitive) return m_units.find(needle.m_units) != std::u16string::npos;
    const auto equalFolded = [](char16_t a, char16_t b) { return foldCase(a) == foldCase(b); };
    return std::search(m_units.begin(), m_units.end(), needle.m_units.begin(), needle.m_units.end(),
                       equalFolded) != m_units.end();
}

QRVBuffer QRVString::toUtf8() const {
    return QRVBuffer(encodeUtf8(m_units));
}

QRVBuffer QRVString::toLocal8Bit() const {
    if (m_units.empty()) return QRVBuffer();
#ifdef _WIN32
    // Windows' wchar_t is UTF-16, so the units go to the ANSI code page as they are.
    const auto* wide = reinterpret_cast<const wchar_t*>(m_units.data());
    const int wideLength = length();
    const char fallback[] = "?";
    const int bytes =
        WideCharToMultiByte(CP_ACP, 0, wide, wideLength, nullptr, 0, fallback, nullptr);
    if (bytes <= 0) return QRVBuffer();
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, wideLength, &out[0], bytes, fallback, nullptr);
    return QRVBuffer(std::move(out));
#else
    std::string utf8 = encodeUtf8(m_units);
    const char* codeset = nl_langinfo(CODESET);
    // A process that never called setlocale reports ASCII; Linux file names are
    // bytes and such a host expects UTF-8, so plain ASCII means UTF-8 here.
    if (codeset == nullptr || *codeset == '\0' || std::strcmp(codeset, "ANSI_X3.4-1968") == 0 ||
        std::strcmp(codeset, "UTF-8") == 0) {
        return QRVBuffer(std::move(utf8));
    }
    std::string out;
    if (!convertFromUtf8(utf8, codeset, out)) return QRVBuffer(std::move(utf8));
    return QRVBuffer(std::move(out));
#endif
}

QRVString QRVString::fromUtf16(const std::u16string& units) {
    QRVString result;
    result.m_units = units;
    return result;
}
