// Host data library: the string, string array and image types that cross the
// plug-in interface.
//
// Ownership: every type here is a value type. Whoever holds an object owns it;
// copies are deep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "QRVHostExport.h"

/// One UTF-16 code unit of a QRVString.
class QRV_DATA_API QRVChar {
public:
    QRVChar() = default;
    explicit QRVChar(char16_t unit) : m_unit(unit) {}
    ~QRVChar() = default;

    /// The character as one byte: the code unit when it is below 256, '?' otherwise.
    char toLatin1() const { return m_unit < 256 ? static_cast<char>(m_unit) : '?'; }
    char16_t unicode() const { return m_unit; }
    bool operator==(const QRVChar& other) const { return m_unit == other.m_unit; }

private:
    char16_t m_unit = 0;
};

/// A NUL-terminated byte string handed out by QRVString's conversions. The text
/// stays valid while the buffer lives.
class QRV_DATA_API QRVBuffer {
public:
    QRVBuffer() = default;
    explicit QRVBuffer(std::string bytes) : m_bytes(std::move(bytes)) {}
    ~QRVBuffer() = default;

    const char* constData() const { return m_bytes.c_str(); }
    /// Number of bytes, without the terminating NUL.
    int size() const { return static_cast<int>(m_bytes.size()); }
    const std::string& str() const { return m_bytes; }

private:
    std::string m_bytes;
};

/// Unicode text held as UTF-16 code units, like the host's own string type.
/// length(), at() and mid() count code units.
class QRV_DATA_API QRVString {
public:
    enum QRVCaseSensitivity { CaseInsensitive = 0, CaseSensitive = 1 };

    QRVString() = default;
    /// Reads UTF-8. A null pointer gives the empty string; every byte that is not
    /// part of a well-formed UTF-8 sequence becomes U+FFFD, so nothing is dropped.
    QRVString(const char* utf8);  // NOLINT: implicit on purpose, as in the host
    QRVString(const QRVString& other) = default;
    QRVString(QRVString&& other) noexcept = default;
    ~QRVString() = default;

    QRVString& operator=(const QRVString& other) = default;
    QRVString& operator=(QRVString&& other) noexcept = default;
    /// Same reading rules as the const char* constructor.
    QRVString& operator=(const char* utf8);

    bool operator==(const QRVString& other) const { return m_units == other.m_units; }
    bool operator!=(const QRVString& other) const { return m_units != other.m_units; }

    bool isEmpty() const { return m_units.empty(); }
    int length() const { return static_cast<int>(m_units.size()); }
    /// The code unit at position; a position outside the text gives QRVChar(0).
    QRVChar at(int position) const;
    /// count code units from position; count -1 (or any negative) runs to the end.
    /// A position outside the text gives the empty string; a count past the end
    /// gives fewer units.
    QRVString mid(int position, int count = -1) const;
    /// Substring test; cs CaseSensitive (1) compares code units exactly,
    /// CaseInsensitive (0) folds case first. The empty needle is always found.
    bool contains(const QRVString& needle, QRVCaseSensitivity cs = CaseSensitive) const;

    /// The text in the locale's 8-bit code set (UTF-8 in a UTF-8 locale, and in the
    /// plain C locale); characters the code set lacks become '?'.
    QRVBuffer toLocal8Bit() const;
    /// The text as UTF-8.
    QRVBuffer toUtf8() const;

    static QRVString fromUtf16(const std::u16string& units);
    const std::u16string& utf16() const { return m_units; }

private:
    std::u16string m_units;
};

/// An ordered list of strings that the host owns and the module appends to.
class QRV_DATA_API QRVStringArray {
public:
    QRVStringArray() = default;
    ~QRVStringArray() = default;

    void push_back(const QRVString& text) { m_items.push_back(text); }
    int size() const { return static_cast<int>(m_items.size()); }
    /// The string at index; throws std::out_of_range outside 0..size()-1.
    const QRVString& at(int index) const { return m_items.at(static_cast<std::size_t>(index)); }
    void clear() { m_items.clear(); }

private:
    std::vector<QRVString> m_items;
};

/// A host image that owns its pixels.
///
/// Layout values, shared with the camera library's frames (IFrame):
///   v1 width in pixels, v2 height in rows, v3 channels per pixel (1 to 4),
///   v4 bits per channel (8 or 16).
/// Rows are packed without padding; a row holds width * channels * bits/8 bytes;
/// channels of a pixel are interleaved (RGB8: R, G, B); 16-bit samples are in the
/// machine's byte order. Mono8 and the 8-bit Bayer formats are (w, h, 1, 8), Mono16
/// is (w, h, 1, 16), RGB8 is (w, h, 3, 8).
class QRV_DATA_API QRVImage {
public:
    /// How the host should read the pixels; Default (0) derives it from the layout.
    enum DataType { Default = 0, Mono = 1, Color = 2, Raw = 3 };

    QRVImage();
    QRVImage(const QRVImage& other);
    QRVImage& operator=(const QRVImage& other);
    ~QRVImage();

    /// Copies the pixels at data with the layout above. Returns false, leaving the
    /// image unchanged, for a null pointer, a width or height of 0 or less, channels
    /// outside 1..4, bits per channel other than 8 or 16, or an image too large to
    /// hold. Reuses its own storage when the size does not grow.
    bool GenImageExt(void* data, int width, int height, int channels, int bitsPerChannel,
                     DataType type);

    bool IsEmpty() const { return m_size == 0; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    int Channels() const { return m_channels; }
    int BitsPerChannel() const { return m_bits; }
    DataType GetDataType() const { return m_type; }
    /// Bytes of one row (no padding).
    std::size_t BytesPerLine() const;
    /// The pixels, BytesPerLine() * Height() bytes; null while empty.
    const unsigned char* Data() const { return m_data; }
    std::size_t DataSize() const { return m_size; }

private:
    unsigned char* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
    int m_width = 0;
    int m_height = 0;
    int m_channels = 0;
    int m_bits = 0;
    DataType m_type = Default;
};
