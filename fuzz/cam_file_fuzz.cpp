// .cam files: each input is written to a file and opened, as a host does it,
// through Open on the demo Camera Link cameras, whose grabber node maps it writes.
// Afterwards the session is closed and the simulated library must have every
// camera back, once.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "FuzzSupport.h"
#include "QRVAcqGenIcam.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir && *dir ? dir : "/tmp") + "/qrv_fuzz_" + std::to_string(::getpid()) +
               ".cam";
    }();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return 0;
    const bool written = std::fwrite(data, 1, size, file) == size;
    std::fclose(file);
    if (!written) return 0;

    KZRSIM::SetScenario(qrvfuzz::FastDemoScenario());
    // The first byte picks the camera: the two differ in how the port is chosen.
    const char* serial = size > 0 && data[0] % 2 ? "SIM-CL-005" : "SIM-KZRCL-P01";
    QRVCameraHandle handle = nullptr;
    if (Open(serial, &handle, "", path.c_str()) == 0) {
        QRVString value;
        GetParamStr(handle, "FrameTriggerCtrl", &value, nullptr);
        Close(handle);
    }
    std::remove(path.c_str());
    qrvfuzz::CheckNothingOut("cam file");
    return 0;
}
