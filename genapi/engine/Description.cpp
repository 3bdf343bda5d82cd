// A description as a camera or a file holds it: plain XML, or a zip archive with
// one XML file in it. The archive is read from its end-of-central-directory record
// inwards; every offset and size is checked against the buffer and against the
// record that points to it before a byte is read through it, and inflation stops
// one byte past the cap whatever the archive claims.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include <zlib.h>

#include "EngineNodeMap.h"
#include "GCBase.h"

#if defined(_WIN32)
#include <filesystem>
#include <fstream>
#include <system_error>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace GenApi {

namespace {

constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr uint32_t kEndOfCentralDirSignature = 0x06054b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kEndOfCentralDirSize = 22;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDataDescriptor = 0x0008;
constexpr uint16_t kFlagStrongEncryption = 0x0040;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflate = 8;
// Deflate cannot do better than about 1032 to 1: a claimed size beyond that is
// a lie and must not size an allocation.
constexpr std::size_t kMaxDeflateRatio = 1032;

[[noreturn]] void ZipError(const std::string& reason) {
    const std::string message = "description zip: " + reason;
    GENICAM_THROW(RuntimeException, message.c_str());
}

class CBytes {
public:
    CBytes(const unsigned char* data, std::size_t size) : m_data(data), m_size(size) {}
    std::size_t Size() const { return m_size; }
    /// True when [offset, offset + length) lies inside the buffer, without overflow.
    bool Holds(std::size_t offset, std::size_t length) const {
        return offset <= m_size && length <= m_size - offset;
    }
    uint16_t U16(std::size_t offset) const {
        return static_cast<uint16_t>(m_data[offset] | (m_data[offset + 1] << 8));
    }
    uint32_t U32(std::size_t offset) const {
        return static_cast<uint32_t>(m_data[offset]) | (static_cast<uint32_t>(m_data[offset + 1]) << 8) |
               (static_cast<uint32_t>(m_data[offset + 2]) << 16) |
               (static_cast<uint32_t>(m_data[offset + 3]) << 24);
    }
    std::string_view Text(std::size_t offset, std::size_t length) const {
        return {reinterpret_cast<const char*>(m_data + offset), length};
    }
    const unsigned char* At(std::size_t offset) const { return m_data + offset; }

private:
    const unsigned char* m_data;
    std::size_t m_size;
};

struct SZipEntry {
    std::string_view name;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t crc = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint32_t localHeaderOffset = 0;
};

struct SCentralDirectory {
    std::size_t offset = 0;
    std::size_t size = 0;
    std::size_t entries = 0;
};

bool EndsWithXml(std::string_view name) {
    if (name.size() < 4) return false;
    const std::string_view ext = name.substr(name.size() - 4);
    return ext[0] == '.' && (ext[1] | 0x20) == 'x' && (ext[2] | 0x20) == 'm' && (ext[3] | 0x20) == 'l';
}

SCentralDirectory FindCentralDirectory(const CBytes& zip) {
    if (zip.Size() < kEndOfCentralDirSize) ZipError("too short for an end of central directory record");
    // The record sits at the end, followed only by its comment (at most 65535 bytes).
    const std::size_t lowest = zip.Size() > kEndOfCentralDirSize + 0xFFFF ? zip.Size() - kEndOfCentralDirSize - 0xFFFF : 0;
    std::size_t eocd = zip.Size() - kEndOfCentralDirSize;
    for (;; --eocd) {
        if (zip.U32(eocd) == kEndOfCentralDirSignature &&
            eocd + kEndOfCentralDirSize + zip.U16(eocd + 20) == zip.Size()) {
            break;
        }
        if (eocd == lowest) ZipError("no end of central directory record");
    }
    if (eocd >= kZip64LocatorSize && zip.U32(eocd - kZip64LocatorSize) == kZip64LocatorSignature) {
        ZipError("ZIP64 archives are not supported");
    }
    const uint16_t disk = zip.U16(eocd + 4);
    const uint16_t cdDisk = zip.U16(eocd + 6);
    const uint16_t entriesHere = zip.U16(eocd + 8);
    const uint16_t entries = zip.U16(eocd + 10);
    const uint32_t cdSize = zip.U32(eocd + 12);
    const uint32_t cdOffset = zip.U32(eocd + 16);
    if (entries == 0xFFFF || cdSize == 0xFFFFFFFF || cdOffset == 0xFFFFFFFF) {
        ZipError("ZIP64 archives are not supported");
    }
    if (disk != 0 || cdDisk != 0 || entriesHere != entries) ZipError("multi-part archives are not supported");
    if (entries == 0) ZipError("the archive is empty");
    if (cdOffset > eocd || cdSize > eocd - cdOffset) {
        ZipError("central directory (offset " + std::to_string(cdOffset) + ", " + std::to_string(cdSize) +
                 " bytes) lies outside the archive");
    }
    if (cdSize / kCentralHeaderSize < entries) ZipError("central directory too small for its entries");
    return {cdOffset, cdSize, entries};
}

SZipEntry FindXmlEntry(const CBytes& zip, const SCentralDirectory& cd) {
    SZipEntry found;
    std::size_t xmlFiles = 0;
    std::size_t pos = cd.offset;
    const std::size_t end = cd.offset + cd.size;
    for (std::size_t i = 0; i < cd.entries; ++i) {
        if (end - pos < kCentralHeaderSize || zip.U32(pos) != kCentralHeaderSignature) {
            ZipError("central directory entry " + std::to_string(i) + " is damaged");
        }
        const std::size_t nameLength = zip.U16(pos + 28);
        const std::size_t extraLength = zip.U16(pos + 30);
        const std::size_t commentLength = zip.U16(pos + 32);
        const std::size_t entrySize = kCentralHeaderSize + nameLength + extraLength + commentLength;
        if (entrySize > end - pos) ZipError("central directory entry " + std::to_string(i) + " overruns the directory");
        SZipEntry entry;
        entry.name = zip.Text(pos + kCentralHeaderSize, nameLength);
        entry.flags = zip.U16(pos + 8);
        entry.method = zip.U16(pos + 10);
        entry.crc = zip.U32(pos + 16);
        entry.compressedSize = zip.U32(pos + 20);
        entry.uncompressedSize = zip.U32(pos + 24);
        entry.localHeaderOffset = zip.U32(pos + 42);
        pos += entrySize;
        if (!EndsWithXml(entry.name)) continue;
        if (++xmlFiles > 1) {
            ZipError("more than one XML file (" + std::string(found.name) + ", " + std::string(entry.name) + ")");
        }
        found = entry;
    }
    if (xmlFiles == 0) ZipError("no XML file in the archive");
    const std::string name(found.name);
    if (found.flags & (kFlagEncrypted | kFlagStrongEncryption)) ZipError(name + " is encrypted");
    if (found.compressedSize == 0xFFFFFFFF || found.uncompressedSize == 0xFFFFFFFF ||
        found.localHeaderOffset == 0xFFFFFFFF) {
        ZipError(name + " is a ZIP64 entry, which is not supported");
    }
    if (found.method != kMethodStored && found.method != kMethodDeflate) {
        ZipError(name + " uses compression method " + std::to_string(found.method) +
                 "; only stored (0) and deflate (8) are supported");
    }
    return found;
}

/// Where the entry's data starts, after checking its local header against the
/// central directory's record of it.
std::size_t LocateData(const CBytes& zip, const SCentralDirectory& cd, const SZipEntry& entry) {
    const std::string name(entry.name);
    const std::size_t local = entry.localHeaderOffset;
    // Entries precede the central directory.
    if (local > cd.offset || cd.offset - local < kLocalHeaderSize) {
        ZipError("local header of " + name + " (offset " + std::to_string(local) + ") lies outside the archive");
    }
    if (zip.U32(local) != kLocalHeaderSignature) ZipError("local header of " + name + " is damaged");
    const uint16_t flags = zip.U16(local + 6);
    const uint16_t method = zip.U16(local + 8);
    const std::size_t nameLength = zip.U16(local + 26);
    const std::size_t extraLength = zip.U16(local + 28);
    if (method != entry.method || (flags & kFlagEncrypted) != (entry.flags & kFlagEncrypted)) {
        ZipError("local header of " + name + " disagrees with the central directory");
    }
    const std::size_t dataStart = local + kLocalHeaderSize + nameLength + extraLength;
    if (dataStart > cd.offset || entry.compressedSize > cd.offset - dataStart) {
        ZipError("data of " + name + " (" + std::to_string(entry.compressedSize) + " bytes) overruns the archive");
    }
    if (zip.Text(local + kLocalHeaderSize, nameLength) != entry.name) {
        ZipError("local header of " + name + " names another file");
    }
    if (!(flags & kFlagDataDescriptor) &&
        (zip.U32(local + 14) != entry.crc || zip.U32(local + 18) != entry.compressedSize ||
         zip.U32(local + 22) != entry.uncompressedSize)) {
        ZipError("local header of " + name + " disagrees with the central directory");
    }
    return dataStart;
}

std::string Inflate(const unsigned char* data, std::size_t size, const SZipEntry& entry, std::size_t cap) {
    const std::string name(entry.name);
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) ZipError("zlib could not start inflating " + name);
    struct SEnd {
        z_stream* s;
        ~SEnd() { inflateEnd(s); }
    } end{&stream};

    // Sized for what the entry claims, within what deflate can produce from its
    // data and the cap; grown (up to the cap plus one byte) only if it lied.
    std::string out(std::min<std::size_t>({entry.uncompressedSize, size * kMaxDeflateRatio + 64, cap}) + 1, '\0');
    stream.next_in = const_cast<Bytef*>(data);  // zlib's API is not const-correct
    stream.avail_in = static_cast<uInt>(size);
    std::size_t written = 0;
    for (;;) {
        if (written == out.size()) {
            if (written > cap) ZipError(name + " inflates to more than maxXmlBytes (" + std::to_string(cap) + ")");
            out.resize(std::min(cap + 1, written + std::max<std::size_t>(written, 1 << 16)));
        }
        stream.next_out = reinterpret_cast<Bytef*>(&out[written]);
        stream.avail_out = static_cast<uInt>(out.size() - written);
        const int rc = inflate(&stream, Z_NO_FLUSH);
        written = out.size() - stream.avail_out;
        if (rc == Z_STREAM_END) break;
        if (rc == Z_OK) continue;
        if (rc == Z_BUF_ERROR && stream.avail_out != 0) ZipError("deflate data of " + name + " is truncated");
        if (rc == Z_BUF_ERROR) continue;  // output full: grown above, or refused at the cap
        ZipError("deflate data of " + name + " is corrupt" + (stream.msg ? std::string(": ") + stream.msg : ""));
    }
    if (written > cap) ZipError(name + " inflates to more than maxXmlBytes (" + std::to_string(cap) + ")");
    out.resize(written);
    return out;
}

std::string Unzip(const CBytes& zip, const SDescriptionLimits& limits) {
    const SCentralDirectory cd = FindCentralDirectory(zip);
    const SZipEntry entry = FindXmlEntry(zip, cd);
    const std::string name(entry.name);
    if (entry.uncompressedSize > limits.maxXmlBytes) {
        ZipError(name + " claims " + std::to_string(entry.uncompressedSize) + " bytes, more than maxXmlBytes (" +
                 std::to_string(limits.maxXmlBytes) + ")");
    }
    const std::size_t dataStart = LocateData(zip, cd, entry);
    std::string xml;
    if (entry.method == kMethodStored) {
        if (entry.compressedSize != entry.uncompressedSize) ZipError("stored entry " + name + " has two sizes");
        xml.assign(zip.Text(dataStart, entry.compressedSize));
    } else {
        xml = Inflate(zip.At(dataStart), entry.compressedSize, entry, limits.maxXmlBytes);
    }
    if (xml.size() != entry.uncompressedSize) {
        ZipError(name + " inflates to " + std::to_string(xml.size()) + " bytes, not the " +
                 std::to_string(entry.uncompressedSize) + " it claims");
    }
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(xml.data()),
                            static_cast<uInt>(xml.size()));
    if (crc != entry.crc) ZipError("CRC-32 of " + name + " does not match");
    return xml;
}

[[noreturn]] void FileError(const std::string& path, const std::string& reason) {
    const std::string message = "description file '" + path + "': " + reason;
    GENICAM_THROW(RuntimeException, message.c_str());
}

}  // namespace

std::string UnpackDescription(const void* data, std::size_t size, const SDescriptionLimits& limits) {
    if (!data && size > 0) GENICAM_THROW(InvalidArgumentException, "description: null data");
    const auto* bytes = static_cast<const unsigned char*>(data);
    const bool zipped = size >= 4 && std::memcmp(bytes, "PK\3\4", 4) == 0;
    if (!zipped) {
        if (size > limits.maxXmlBytes) {
            GENICAM_THROW(RuntimeException, ("description of " + std::to_string(size) +
                                             " bytes exceeds maxXmlBytes (" + std::to_string(limits.maxXmlBytes) + ")")
                                                .c_str());
        }
        return std::string(reinterpret_cast<const char*>(bytes), size);
    }
    if (size > limits.maxZipBytes) {
        ZipError("archive of " + std::to_string(size) + " bytes exceeds maxZipBytes (" +
                 std::to_string(limits.maxZipBytes) + ")");
    }
    if (size > 0xFFFFFFFFu) ZipError("archive larger than 4 GiB");
    return Unzip(CBytes(bytes, size), limits);
}

std::string ReadDescriptionFile(const std::string& path, const SDescriptionLimits& limits) {
    // Large enough for either form; UnpackDescription applies the cap of the form found.
    const std::size_t cap = std::max(limits.maxXmlBytes, limits.maxZipBytes);
    std::string content;
#if defined(_WIN32)
    std::filesystem::path fsPath;
    try {
        fsPath = std::filesystem::u8path(path);
    } catch (const std::exception&) {
        FileError(path, "not a valid UTF-8 path");
    }
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(fsPath, ec);
    if (ec) FileError(path, ec.message());
    if (!std::filesystem::is_regular_file(status)) FileError(path, "not a regular file");
    std::ifstream in(fsPath, std::ios::binary);
    if (!in) FileError(path, "cannot be opened");
    const uintmax_t fileSize = std::filesystem::file_size(fsPath, ec);
    if (!ec && fileSize > cap) FileError(path, std::to_string(fileSize) + " bytes, more than the cap (" + std::to_string(cap) + ")");
    content.resize(static_cast<std::size_t>(ec ? 0 : fileSize) + 1);
    std::size_t got = 0;
    for (;;) {
        if (got == content.size()) {
            if (got > cap) break;
            content.resize(std::min(cap + 1, got * 2 + 4096));
        }
        in.read(&content[got], static_cast<std::streamsize>(content.size() - got));
        const std::streamsize n = in.gcount();
        got += static_cast<std::size_t>(n > 0 ? n : 0);
        if (!in) break;
    }
    if (in.bad()) FileError(path, "read failed");
    content.resize(got);
#else
    // O_NONBLOCK: opening a FIFO must not wait for a writer; fstat then refuses it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) FileError(path, std::strerror(errno));
    struct SCloser {
        int fd;
        ~SCloser() { ::close(fd); }
    } closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0) FileError(path, std::strerror(errno));
    if (!S_ISREG(info.st_mode)) FileError(path, "not a regular file");
    if (static_cast<uintmax_t>(info.st_size) > cap) {
        FileError(path, std::to_string(info.st_size) + " bytes, more than the cap (" + std::to_string(cap) + ")");
    }
    // The size is a hint only (the file may change while it is read); never past cap + 1.
    content.resize(static_cast<std::size_t>(info.st_size) + 1);
    std::size_t got = 0;
    for (;;) {
        if (got == content.size()) {
            if (got > cap) break;
            content.resize(std::min(cap + 1, got * 2 + 4096));
        }
        const ssize_t n = ::read(fd, &content[got], content.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) FileError(path, std::strerror(errno));
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    content.resize(got);
#endif
    if (content.size() > cap) FileError(path, "more than the cap (" + std::to_string(cap) + " bytes)");
    try {
        return UnpackDescription(content.data(), content.size(), limits);
    } catch (const GenICam::GenericException& e) {
        FileError(path, e.GetDescription());
    }
}

}  // namespace GenApi
