// The GenTL transport: every producer (.cti) in the folders of GENICAM_GENTL64_PATH,
// their systems, interfaces and devices.
#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
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

/// Every .cti file in the path's folders, in path order, each folder sorted by name.
std::vector<std::string> ProducerFiles() {
    std::vector<std::string> out;
    const char* value = std::getenv("GENICAM_GENTL64_PATH");
    if (!value) return out;
    const std::string path = value;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(':', start);
        if (end == std::string::npos) end = path.size();
        const std::string folder = path.substr(start, end - start);
        start = end + 1;
        if (folder.empty()) continue;
        DIR* dir = opendir(folder.c_str());
        if (!dir) continue;
        std::vector<std::string> names;
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.size() > 4 && EqualNoCase(name.substr(name.size() - 4), ".cti"))
                names.push_back(name);
        }
        closedir(dir);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            const std::string file = folder + (folder.back() == '/' ? "" : "/") + name;
            if (std::find(out.begin(), out.end(), file) == out.end()) out.push_back(file);
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
        std::map<std::string, std::shared_ptr<CGenTLProducer>> current;
        for (const std::string& file : ProducerFiles()) {
            auto found = m_producers.find(file);
            if (found != m_producers.end()) {
                current.insert(*found);
                continue;
            }
            if (m_refused.count(file)) continue;  // said once why
            if (auto producer = CGenTLProducer::Load(file))
                current.emplace(file, std::move(producer));
            else
                m_refused.insert(file);
        }
        m_producers = std::move(current);
        m_listed.clear();
        for (const std::string& file : ProducerFiles()) {
            auto found = m_producers.find(file);
            if (found == m_producers.end()) continue;
            for (SGenTLDeviceRecord& r : found->second->List())
                m_listed.push_back({found->second, std::move(r)});
        }
        return m_listed;
    }

    std::mutex m_mutex;
    std::map<std::string, std::shared_ptr<CGenTLProducer>> m_producers;  // by path
    std::set<std::string> m_refused;
    std::vector<SListed> m_listed;  // the last listing
};

}  // namespace

std::unique_ptr<ITransport> MakeGenTLTransport() {
    return std::make_unique<CGenTLTransport>();
}

}  // namespace KZRGENICAM::detail
