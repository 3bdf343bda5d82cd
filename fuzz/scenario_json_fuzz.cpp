// JSON scenarios: a document is either accepted or refused with the loader's
// std::runtime_error; nothing else may escape. An accepted scenario is activated
// and each of its first cameras is created, opened, started, asked for one frame
// and given back; the library must then have everything back, once.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "FuzzSupport.h"

namespace {

/// Keeps an accepted scenario cheap to run: short waits, small frames.
bool Tame(KZRSIM::Scenario& scenario) {
    if (scenario.cameras.size() > 4) scenario.cameras.resize(4);
    for (KZRSIM::CameraSpec& camera : scenario.cameras) {
        if (static_cast<int64_t>(camera.width) * camera.height > (int64_t{1} << 22)) return false;
        for (KZRSIM::FrameStep& step : camera.script) {
            step.delayMs = std::min(step.delayMs, 2);
            if (step.width > 4096 || step.height > 4096 || step.channels > 4) return false;
        }
    }
    return true;
}

void Exercise(const KZRSIM::CameraSpec& desc) {
    if (desc.serial.empty()) return;
    KZRGENICAM::ICamera* camera = KZRGENICAM::CreateCameraBySN(desc.serial.c_str());
    if (!camera) return;
    try {
        if (camera->open(1) == 0) {
            if (camera->startGrabbing(2, -1) == 0) {
                KZRGENICAM::IFrame* frame = nullptr;
                if (camera->getFrame(&frame, 0) == 0 && frame) {
                    for (KZRGENICAM::IChunk* chunk : frame->getChunkList()) {
                        if (chunk && chunk->getSize() > 0 && !chunk->getData()) std::abort();
                    }
                    frame->release();
                }
                camera->stopGrabbing();
            }
            camera->close();
        }
    } catch (...) {
        // Injected faults raise; the scenario asked for them.
    }
    camera->release();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    KZRSIM::Scenario scenario;
    try {
        scenario = KZRSIM::ParseScenarioJson(text, "fuzz.json");
    } catch (const std::runtime_error& e) {
        if (std::string(e.what()).rfind("fuzz.json:", 0) != 0) std::abort();  // unpositioned
        return 0;
    }
    if (!Tame(scenario)) return 0;
    KZRSIM::SetScenario(scenario);
    for (const KZRSIM::CameraSpec& camera : scenario.cameras) Exercise(camera);
    qrvfuzz::CheckNothingOut("scenario json");
    return 0;
}
