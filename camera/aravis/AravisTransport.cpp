// The Aravis transport: lists what Aravis finds and opens it by serial number.
#include <cstring>
#include <mutex>
#include <vector>

#include "AravisCamera.h"
#include "AravisSystem.h"
#include "BuiltinTransports.h"
#include "Transport.h"

namespace KZRGENICAM::detail {

std::mutex& AravisSystemMutex() {
    static std::mutex mutex;
    return mutex;
}

namespace {

std::string Copy(const char* text) {
    return text ? std::string(text) : std::string();
}

int TransportOf(const std::string& protocol) {
    if (protocol == "GigEVision") return TransportGigE;
    if (protocol == "USB3Vision") return TransportUSB3;
    return TransportGenTL;
}

class CAravisTransport final : public ITransport {
public:
    const char* name() const override { return "aravis"; }

    void start() override { CControlChannel::Install(); }

    void stop() override {
        std::lock_guard<std::mutex> system(AravisSystemMutex());
        m_cache.clear();
        CControlChannel::JoinRetired();
        // Shutting down under a live camera would pull its device away.
        if (CAravisCamera::Alive() == 0) arv_shutdown();
    }

    /// Only the unfiltered listing reaches Aravis: its cameras belong to no
    /// producer file, Camera Link's least of all.
    void discover(const char* filter, std::list<ICameraInfo*>& out) override {
        if (filter) return;
        for (SDeviceRecord& record : List())
            out.push_back(new CAravisCameraInfo(std::move(record), false));
    }

    ICamera* createCameraBySN(const char* serialNumber) override {
        if (!serialNumber || !*serialNumber) return nullptr;
        // A camera just listed opens without a second GigE discovery round (~1 s).
        SDeviceRecord record;
        if (!Find(serialNumber, record)) {
            List();
            if (!Find(serialNumber, record)) return nullptr;
        }
        return new CAravisCamera(std::move(record));
    }

    void clSerials(std::vector<std::string>& /*out*/) override {}
    void clProtocols(std::vector<std::string>& /*out*/) override {}

private:
    std::vector<SDeviceRecord> List() {
        std::lock_guard<std::mutex> system(AravisSystemMutex());
        arv_update_device_list();
        std::vector<SDeviceRecord> records;
        const unsigned count = arv_get_n_devices();
        for (unsigned i = 0; i < count; ++i) {
            SDeviceRecord r;
            r.id = Copy(arv_get_device_id(i));
            if (r.id.empty()) continue;
            r.serial = Copy(arv_get_device_serial_nbr(i));
            r.vendor = Copy(arv_get_device_vendor(i));
            r.model = Copy(arv_get_device_model(i));
            r.transport = TransportOf(Copy(arv_get_device_protocol(i)));
            const std::string physical = Copy(arv_get_device_physical_id(i));
            const std::string address = Copy(arv_get_device_address(i));
            r.link = physical;
            if (!address.empty() && address != physical)
                r.link += (r.link.empty() ? "" : " ") + address;
            records.push_back(std::move(r));
        }
        m_cache = records;
        return records;
    }

    bool Find(const char* serial, SDeviceRecord& out) {
        std::lock_guard<std::mutex> system(AravisSystemMutex());
        for (const SDeviceRecord& r : m_cache) {
            if (r.serial == serial) {
                out = r;
                return true;
            }
        }
        return false;
    }

    std::vector<SDeviceRecord> m_cache;  // the last listing; guarded by AravisSystemMutex
};

}  // namespace

std::unique_ptr<ITransport> MakeAravisTransport() {
    return std::make_unique<CAravisTransport>();
}

}  // namespace KZRGENICAM::detail
