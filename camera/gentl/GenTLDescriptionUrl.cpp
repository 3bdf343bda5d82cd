#include "GenTLDescriptionUrl.h"

#ifdef _WIN32
#include <filesystem>
#include <fstream>
#include <system_error>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <new>

#include "GenTLProducer.h"

namespace KZRGENICAM::detail {

using namespace gentl;

namespace {

constexpr size_t kReadChunk = 64 * 1024;

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    const size_t n = std::strlen(prefix);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    const int lower = std::tolower(static_cast<unsigned char>(c));
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

/// 1 to 16 hexadecimal digits, maybe after "0x".
bool ParseHex(std::string text, uint64_t& out) {
    if (StartsWithNoCase(text, "0x")) text.erase(0, 2);
    if (text.empty() || text.size() > 16) return false;
    out = 0;
    for (char c : text) {
        const int v = HexDigit(c);
        if (v < 0) return false;
        out = out * 16 + static_cast<uint64_t>(v);
    }
    return true;
}

std::string WithoutQuery(const std::string& text) {
    return text.substr(0, text.find('?'));
}

/// %XX escapes decoded; false on a broken escape or an escaped NUL.
bool PercentDecode(const std::string& text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) return false;
        const int high = HexDigit(text[i + 1]);
        const int low = HexDigit(text[i + 2]);
        if (high < 0 || low < 0 || (high == 0 && low == 0)) return false;
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return true;
}

bool ParseLocal(const std::string& url, SDescriptionUrl& out, std::string& why) {
    std::string rest = url.substr(6);
    const size_t a = rest.find(';');
    const size_t b = a == std::string::npos ? a : rest.find(';', a + 1);
    if (b == std::string::npos || rest.find(';', b + 1) != std::string::npos) {
        why = "malformed description URL \"" + url + "\": not name;address;length";
        return false;
    }
    std::string name = WithoutQuery(rest.substr(0, a));
    name.erase(0, std::min(name.find_first_not_of('/'), name.size()));
    if (!ParseHex(WithoutQuery(rest.substr(a + 1, b - a - 1)), out.address) ||
        !ParseHex(WithoutQuery(rest.substr(b + 1)), out.length)) {
        why = "malformed description URL \"" + url + "\": address or length not hexadecimal";
        return false;
    }
    if (out.length == 0) {
        why = "description URL \"" + url + "\" names an empty description";
        return false;
    }
    if (out.length > kMaxDescriptionBytes) {
        why = "description URL \"" + url + "\" names " + std::to_string(out.length) +
              " bytes, more than the limit of " + std::to_string(kMaxDescriptionBytes);
        return false;
    }
    if (out.address > UINT64_MAX - out.length) {
        why = "malformed description URL \"" + url + "\": address and length overflow";
        return false;
    }
    out.kind = EDescriptionKind::Local;
    out.name = std::move(name);
    return true;
}

bool ParseFile(const std::string& url, SDescriptionUrl& out, std::string& why) {
    std::string rest = WithoutQuery(url.substr(5));
    if (rest.compare(0, 2, "//") == 0) {
        // file://host/path: only this machine.
        const size_t slash = rest.find('/', 2);
        const std::string host = rest.substr(2, slash == std::string::npos ? slash : slash - 2);
        if (!host.empty() && !(host.size() == 9 && StartsWithNoCase(host, "localhost"))) {
            why = "description URL \"" + url + "\" names another host";
            return false;
        }
        rest = slash == std::string::npos ? std::string() : rest.substr(slash);
    }
    if (rest.empty() || rest[0] != '/') {
        why = "description URL \"" + url + "\" names no absolute path";
        return false;
    }
    if (!PercentDecode(rest, out.path)) {
        why = "malformed description URL \"" + url + "\": broken percent escape";
        return false;
    }
    out.kind = EDescriptionKind::File;
    out.name = out.path.substr(out.path.find_last_of('/') + 1);
    return true;
}

}  // namespace

bool ParseDescriptionUrl(const std::string& url, SDescriptionUrl& out, std::string& why) {
    out = SDescriptionUrl();
    if (StartsWithNoCase(url, "Local:")) return ParseLocal(url, out, why);
    if (StartsWithNoCase(url, "File:")) return ParseFile(url, out, why);
    if (StartsWithNoCase(url, "Web:"))
        why = "description URL \"" + url + "\" is on the web: descriptions are not downloaded";
    else
        why = "unknown description URL \"" + url + "\"";
    return false;
}

std::string PortDescriptionUrl(const SGenTLApi& api, PORT_HANDLE port) {
    std::string url;
    uint32_t urls = 0;
    if (api.GCGetNumPortURLs && api.GCGetPortURLInfo &&
        api.GCGetNumPortURLs(port, &urls) == GC_ERR_SUCCESS && urls > 0)
        url = GenTLText([&](char* text, size_t* size) {
            INFO_DATATYPE type;
            return api.GCGetPortURLInfo(port, 0, URL_INFO_URL, &type, text, size);
        });
    if (url.empty())
        url =
            GenTLText([&](char* text, size_t* size) { return api.GCGetPortURL(port, text, size); });
    return url;
}

#ifdef _WIN32

bool ReadRegularFile(const std::string& path, uint64_t cap, std::string& data, std::string& why) {
    namespace fs = std::filesystem;
    data.clear();
    // "/C:/dir/file.xml" from File:///C:/dir/file.xml names a drive.
    std::string local = path;
    if (local.size() > 2 && local[0] == '/' && std::isalpha(static_cast<unsigned char>(local[1])) &&
        local[2] == ':')
        local.erase(0, 1);
    std::error_code ec;
    fs::path file;
    try {
        file = fs::u8path(local);
    } catch (const std::exception&) {
        why = "description file \"" + path + "\" is no UTF-8 path";
        return false;
    }
    if (!fs::is_regular_file(file, ec)) {
        why = "description file \"" + path + "\" is not a regular file";
        return false;
    }
    const uintmax_t size = fs::file_size(file, ec);
    if (ec || size > cap) {
        why = "description file \"" + path + "\" is larger than the limit of " +
              std::to_string(cap) + " bytes";
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        why = "description file \"" + path + "\" not readable";
        return false;
    }
    try {
        // The file may grow while it is read: never more than cap + 1 bytes.
        data.resize(static_cast<size_t>(std::min<uint64_t>(cap + 1, size + 1)));
        in.read(&data[0], static_cast<std::streamsize>(data.size()));
        data.resize(static_cast<size_t>(in.gcount()));
    } catch (const std::bad_alloc&) {
        why = "no memory to read description file \"" + path + "\"";
        data.clear();
        return false;
    }
    if (in.bad() || data.size() > cap) {
        why = data.size() > cap ? "description file \"" + path + "\" is larger than the limit of " +
                                      std::to_string(cap) + " bytes"
                                : "reading description file \"" + path + "\" failed";
        data.clear();
        return false;
    }
    return true;
}

#else

bool ReadRegularFile(const std::string& path, uint64_t cap, std::string& data, std::string& why) {
    data.clear();
    // Non-blocking, so that opening a FIFO without a writer returns at once.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        why = "description file \"" + path + "\" not readable (" + std::strerror(errno) + ")";
        return false;
    }
    struct stat facts {};
    bool ok = false;
    if (fstat(fd, &facts) != 0 || !S_ISREG(facts.st_mode)) {
        why = "description file \"" + path + "\" is not a regular file";
    } else if (static_cast<uint64_t>(facts.st_size) > cap) {
        why = "description file \"" + path + "\" is larger than the limit of " +
              std::to_string(cap) + " bytes";
    } else {
        try {
            // The file may grow while it is read: never more than cap + 1 bytes.
            data.reserve(static_cast<size_t>(facts.st_size) + 1);
            ok = true;
            while (data.size() <= cap) {
                const size_t have = data.size();
                const size_t want = static_cast<size_t>(
                    std::min<uint64_t>(kReadChunk, cap + 1 - static_cast<uint64_t>(have)));
                data.resize(have + want);
                const ssize_t got = ::read(fd, &data[have], want);
                const int error = errno;
                data.resize(have + static_cast<size_t>(got > 0 ? got : 0));
                if (got < 0 && error == EINTR) continue;
                if (got < 0) {
                    why = "reading description file \"" + path + "\" failed (" +
                          std::strerror(error) + ")";
                    ok = false;
                    break;
                }
                if (got == 0) break;
            }
            if (ok && data.size() > cap) {
                why = "description file \"" + path + "\" is larger than the limit of " +
                      std::to_string(cap) + " bytes";
                ok = false;
            }
        } catch (const std::bad_alloc&) {
            why = "no memory to read description file \"" + path + "\"";
            ok = false;
        }
    }
    ::close(fd);
    if (!ok) data.clear();
    return ok;
}

#endif

std::string FetchDescription(const SGenTLApi& api, PORT_HANDLE port, const SDescriptionUrl& url,
                             std::string& why) {
    std::string data;
    try {
        if (url.kind == EDescriptionKind::File) {
            if (ReadRegularFile(url.path, kMaxDescriptionBytes, data, why) && data.empty())
                why = "description file \"" + url.path + "\" is empty";
            return data;
        }
        data.resize(static_cast<size_t>(url.length));
        for (uint64_t done = 0; done < url.length;) {
            size_t step = static_cast<size_t>(std::min<uint64_t>(kReadChunk, url.length - done));
            const size_t asked = step;
            const GC_ERROR rc = api.GCReadPort(port, url.address + done, &data[done], &step);
            if (rc != GC_ERR_SUCCESS || step != asked) {
                why = "reading the description failed (" + std::to_string(rc) + ")";
                return std::string();
            }
            done += step;
        }
    } catch (const std::bad_alloc&) {
        why = "no memory for a description of " + std::to_string(url.length) + " bytes";
        return std::string();
    }
    return data;
}

}  // namespace KZRGENICAM::detail
