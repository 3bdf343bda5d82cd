// The GenTL transport: every producer (.cti) in the folders of GENICAM_GENTL64_PATH,
// their systems, interfaces and devices.
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>

#include "BuiltinTransports.h"
#include "GenTLCamera.h"
#include "Transport.h"

namespace KZRGENICAM::detail {

namespace {

constexpr const char* kCameraLinkLayer = "CLTLKZR.cti";

bool EqualNoCase(const std::string& a, const char* b) {
    const size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

/// What makes two paths the same file: links, "." and doubled slashes reach one
/// file, which must be loaded once (a second load would share the first's library
/// and fail its GCInitLib).
struct SFileId {
    uint64_t volume = 0;
    uint64_t index = 0;
    bool operator<(const SFileId& o) const {
        return volume != o.volume ? volume < o.volume : index < o.index;
    }
    bool operator==(const SFileId& o) const { return volume == o.volume && index == o.index; }
};

/// False when path is no regular file (or not there).
bool FileIdentity(const std::string& path, SFileId& out) {
#ifdef _WIN32
    const HANDLE file = CreateFileW(std::filesystem::u8path(path).c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(file, &info) != 0 &&
                    !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(file);
    out.volume = info.dwVolumeSerialNumber;
    out.index = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return ok;
#else
    struct stat facts {};
    if (stat(path.c_str(), &facts) != 0 || !S_ISREG(facts.st_mode)) return false;
    out.volume = static_cast<uint64_t>(facts.st_dev);
    out.index = static_cast<uint64_t>(facts.st_ino);
    return true;
#endif
}

struct SProducerFile {
    std::string path;
    SFileId id;
};

#ifdef _WIN32
constexpr char kPathSeparator = ';';
#else
constexpr char kPathSeparator = ':';
#endif

/// Every .cti file in the path's folders, in path order, each folder sorted by
/// name, each file once however many paths reach it. Relative folders are
/// skipped: where code is loaded from must not depend on the current folder.
/// Paths are UTF-8 (on Windows converted from the wide environment).
std::vector<SProducerFile> ProducerFiles() {
    namespace fs = std::filesystem;
    std::vector<SProducerFile> out;
#ifdef _WIN32
    const wchar_t* wide = _wgetenv(L"GENICAM_GENTL64_PATH");
    if (!wide) return out;
    const std::string path = fs::path(wide).u8string();
#else
    const char* value = std::getenv("GENICAM_GENTL64_PATH");
    if (!value) return out;
    const std::string path = value;
#endif
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(kPathSeparator, start);
        if (end == std::string::npos) end = path.size();
        const std::string folder = path.substr(start, end - start);
        start = end + 1;
        if (folder.empty()) continue;
        const fs::path dir = fs::u8path(folder);
        if (!dir.is_absolute()) continue;
        std::error_code ec;
        std::vector<std::string> names;
        for (fs::directory_iterator it(dir, ec), last; !ec && it != last; it.increment(ec)) {
            const std::string name = it->path().filename().u8string();
            if (name.size() > 4 && EqualNoCase(name.substr(name.size() - 4), ".cti"))
                names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        const char last = folder.back();
        const bool separated = last == '/' || (kPathSeparator == ';' && last == '\\');
        for (const std::string& name : names) {
            SProducerFile file{folder + (separated ? "" : "/") + name, {}};
            if (!FileIdentity(file.path, file.id)) continue;
            if (std::none_of(out.begin(), out.end(),
                             [&](const SProducerFile& f) { return f.id == file.id; }))
                out.push_back(std::move(file));
        }
    }
    return out;
}

struct SListed {
    std::shared_ptr<CGenTLProducer> producer;
    SGenTLDeviceRecord record;
};

class CGenTLTransport final : public ITransport {
public:
    const char* name() const override { return "gentl"; }

    void start() override {}

    /// Producers close once no camera or frame holds them any more.
    void stop() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_listed.clear();
        m_producers.clear();
        m_refused.clear();
    }

    /// "CLTLKZR.cti": Camera Link devices of every producer; another filter: the
    /// devices of the producers with that file name (case-insensitive).
    void discover(const char* filter, std::list<ICameraInfo*>& out) override {
        const bool cameraLink = filter && EqualNoCase(kCameraLinkLayer, filter);
        for (const SListed& l : List()) {
            if (cameraLink && l.record.transport != TransportCameraLink) continue;
            if (filter && !cameraLink && !EqualNoCase(l.producer->FileName(), filter)) continue;
            out.push_back(new CGenTLCameraInfo(l.record, false));
        }
    }

    ICamera* createCameraBySN(const char* serialNumber) override {
        if (!serialNumber || !*serialNumber) return nullptr;
        for (int attempt = 0; attempt < 2; ++attempt) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                for (const SListed& l : m_listed)
                    if (l.record.serial == serialNumber)
                        return new CGenTLCamera(l.producer, l.record);
            }
            if (attempt == 0) List();
        }
        return nullptr;
    }

    void clSerials(std::vector<std::string>& /*out*/) override {}
    void clProtocols(std::vector<std::string>& /*out*/) override {}

private:
    std::vector<SListed> List() {
        std::lock_guard<std::mutex> lock(m_mutex);
        const std::vector<SProducerFile> files = ProducerFiles();
        std::map<SFileId, std::shared_ptr<CGenTLProducer>> current;
        for (const SProducerFile& file : files) {
            auto found = m_producers.find(file.id);
            if (found != m_producers.end()) {
                current.insert(*found);
                continue;
            }
            if (m_refused.count(file.id)) continue;  // said once why
            if (auto producer = CGenTLProducer::Load(file.path))
                current.emplace(file.id, std::move(producer));
            else
                m_refused.insert(file.id);
        }
        m_producers = std::move(current);
        m_listed.clear();
        for (const SProducerFile& file : files) {
            auto found = m_producers.find(file.id);
            if (found == m_producers.end()) continue;
            for (SGenTLDeviceRecord& r : found->second->List())
                m_listed.push_back({found->second, std::move(r)});
        }
        return m_listed;
    }

    std::mutex m_mutex;
    std::map<SFileId, std::shared_ptr<CGenTLProducer>> m_producers;
    std::set<SFileId> m_refused;
    std::vector<SListed> m_listed;  // the last listing
};

}  // namespace

std::unique_ptr<ITransport> MakeGenTLTransport() {
    return std::make_unique<CGenTLTransport>();
}

}  // namespace KZRGENICAM::detail
