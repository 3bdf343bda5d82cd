// The simulated transport as the library's core sees it.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "BuiltinTransports.h"
#include "SimCamera.h"
#include "SimRecord.h"
#include "SimState.h"

namespace KZRSIM::detail {
namespace {

/// Producer file name of the Camera Link transport layer that the simulator
/// stands in for.
constexpr const char* kClProducer = "CLTLKZR.cti";

bool InClFilter(const CameraSpec& desc) {
    if (desc.inClFilter >= 0) return desc.inClFilter == 1;
    return desc.transport == KZRGENICAM::TransportCameraLink;
}

class CSimTransport final : public KZRGENICAM::ITransport {
public:
    const char* name() const override { return "sim"; }

    void start() override {
        const char* source = std::getenv("KZR_SIM");
        if (!source || !*source) return;
        try {
            if (std::strcmp(source, "demo") == 0)
                SetScenario(DemoScenario());
            else
                LoadScenarioFile(source);
        } catch (const std::exception& ex) {
            std::fprintf(stderr, "KZRGeniCam: no simulated cameras from KZR_SIM: %s\n", ex.what());
            SetScenario(Scenario{});
        }
    }

    void stop() override {}

    void discover(const char* filter, std::list<KZRGENICAM::ICameraInfo*>& out) override {
        State& g = Global();
        std::lock_guard<std::mutex> lock(g.mutex);
        ++g.library.discovery;
        LogCall(g.library.discoveryFilters, filter ? filter : "(null)");
        const bool clOnly = filter && std::strcmp(filter, kClProducer) == 0;
        if (filter && !clOnly) return;
        for (const auto& e : g.cameras) {
            const CameraSpec& desc = e->desc;
            if (!desc.listed || (clOnly && !InClFilter(desc))) continue;
            if (desc.nullRecord) {
                out.push_back(nullptr);
                continue;
            }
            out.push_back(new CSimCameraInfo(desc, false, g.epoch));
            ++g.library.recordsOut;
        }
    }

    KZRGENICAM::ICamera* createCameraBySN(const char* serialNumber) override {
        if (!serialNumber) return nullptr;
        std::shared_ptr<Entry> entry = FindEntry(serialNumber, true);
        if (!entry) return nullptr;
        State& g = Global();
        std::lock_guard<std::mutex> lock(g.mutex);
        auto* camera = new CSimCamera(entry, g.epoch);
        ++g.counters[entry->desc.serial].create;
        ++g.library.camerasOut;
        return camera;
    }

    void clSerials(std::vector<std::string>& out) override {
        State& g = Global();
        std::lock_guard<std::mutex> lock(g.mutex);
        out.insert(out.end(), g.clSerials.begin(), g.clSerials.end());
    }

    void clProtocols(std::vector<std::string>& out) override {
        State& g = Global();
        std::lock_guard<std::mutex> lock(g.mutex);
        out.insert(out.end(), g.clProtocols.begin(), g.clProtocols.end());
    }
};

}  // namespace
}  // namespace KZRSIM::detail

namespace KZRGENICAM::detail {

std::unique_ptr<ITransport> MakeSimTransport() {
    return std::make_unique<KZRSIM::detail::CSimTransport>();
}

void SimNoteInit() {
    auto& g = KZRSIM::detail::Global();
    std::lock_guard<std::mutex> lock(g.mutex);
    ++g.library.init;
}

void SimNoteUnInit() {
    auto& g = KZRSIM::detail::Global();
    std::lock_guard<std::mutex> lock(g.mutex);
    ++g.library.uninit;
}

}  // namespace KZRGENICAM::detail
