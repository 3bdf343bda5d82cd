// Frame rate of the plug-in's GrabImage loop against Aravis's own pop/push loop
// with the same settings, on the fake GigE Vision camera, and the open time of a
// camera that was just listed against one that was not. Prints figures; not a test.
#include <arv.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "ArvPluginApi.h"
#include "FakeGvCamera.h"
#include "LoopbackOnly.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kSeconds = 3.0;
constexpr int kBuffers = 8;
// The fake camera keeps it across connections; AcquisitionFrameRate is not a
// feature of its tree, so it is set once through Aravis for both runs.
constexpr double kFrameRate = 1000.0;

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct SRun {
    long frames = 0;
    long failures = 0;
    double seconds = 0;
    double Rate() const { return seconds > 0 ? frames / seconds : 0; }
};

SRun PluginRun(const SArvPluginApi& api, const QRVString& serial, int width, int height) {
    SRun run;
    QRVCameraHandle handle = nullptr;
    if (api.Open(serial, &handle, QRVString(""), QRVString("")) != QRV_OK) return run;
    api.SetParamInt(handle, QRVString("Width"), width);
    api.SetParamInt(handle, QRVString("Height"), height);
    if (api.StartAcquire(handle, kBuffers, 0) == QRV_OK) {
        const auto start = Clock::now();
        while (Since(start) < kSeconds) {
            QRVImage image;
            if (api.GrabImage(handle, &image, 1000) == QRV_OK)
                ++run.frames;
            else if (++run.failures > 50)
                break;
        }
        run.seconds = Since(start);
        api.StopAcquire(handle);
    }
    api.Close(handle);
    return run;
}

SRun AravisRun(const std::string& deviceId, int width, int height) {
    SRun run;
    GError* error = nullptr;
    ArvCamera* camera = arv_camera_new(deviceId.c_str(), &error);
    if (!camera) {
        g_clear_error(&error);
        return run;
    }
    arv_camera_set_integer(camera, "Width", width, nullptr);
    arv_camera_set_integer(camera, "Height", height, nullptr);
    const guint payload = arv_camera_get_payload(camera, nullptr);
    ArvStream* stream = arv_camera_create_stream(camera, nullptr, nullptr, nullptr);
    if (stream) {
        for (int i = 0; i < kBuffers; ++i)
            arv_stream_push_buffer(stream, arv_buffer_new_allocate(payload));
        arv_camera_start_acquisition(camera, nullptr);
        const auto start = Clock::now();
        while (Since(start) < kSeconds) {
            ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream, 1000000);
            if (!buffer) {
                if (++run.failures > 50) break;
                continue;
            }
            if (arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS)
                ++run.frames;
            else
                ++run.failures;
            arv_stream_push_buffer(stream, buffer);
        }
        run.seconds = Since(start);
        arv_camera_stop_acquisition(camera, nullptr);
        g_object_unref(stream);
    }
    g_object_unref(camera);
    return run;
}

bool FindFake(std::string& id, std::string& serial) {
    arv_update_device_list();
    for (unsigned i = 0; i < arv_get_n_devices(); ++i) {
        if (std::string(arv_get_device_vendor(i) ? arv_get_device_vendor(i) : "") != "Aravis")
            continue;
        id = arv_get_device_id(i);
        serial = arv_get_device_serial_nbr(i);
        return true;
    }
    return false;
}

}  // namespace

int main(int, char** argv) {
    RunOnLoopbackOnly(argv);
    CFakeGvCamera fake;
    std::string why;
    if (!fake.Start(why)) {
        std::printf("aravis_bench: skipped: %s\n", why.c_str());
        return 0;
    }
    std::string error;
    const SArvPluginApi* api = ArvPlugin(error);
    if (!api) {
        std::printf("aravis_bench: plug-in not loaded: %s\n", error.c_str());
        return 1;
    }
    std::string id;
    std::string serial;
    const auto listStart = Clock::now();
    for (int attempt = 0; attempt < 5 && !FindFake(id, serial); ++attempt) {
    }
    if (id.empty()) {
        std::printf("aravis_bench: skipped: the fake camera did not appear\n");
        return 0;
    }
    std::printf("Aravis listing: %.0f ms\n", Since(listStart) * 1e3);

    if (ArvCamera* camera = arv_camera_new(id.c_str(), nullptr)) {
        arv_camera_set_float(camera, "AcquisitionFrameRate", kFrameRate, nullptr);
        g_object_unref(camera);
    }

    // Open times: before the plug-in ever listed (the transport must list first),
    // then right after a listing.
    QRVCameraHandle handle = nullptr;
    auto start = Clock::now();
    const int cold = api->Open(QRVString(serial.c_str()), &handle, QRVString(""), QRVString(""));
    const double coldMs = Since(start) * 1e3;
    if (cold == QRV_OK) api->Close(handle);
    QRVCameraInfoArray list;
    api->GetCameraList(&list);
    start = Clock::now();
    const int warm = api->Open(QRVString(serial.c_str()), &handle, QRVString(""), QRVString(""));
    const double warmMs = Since(start) * 1e3;
    if (warm == QRV_OK) api->Close(handle);
    std::printf("open, not listed before: %.1f ms (code %d)\n", coldMs, cold);
    std::printf("open, just listed:       %.1f ms (code %d)\n", warmMs, warm);

    const int sizes[][2] = {{512, 512}, {2048, 2048}};
    for (const auto& size : sizes) {
        const SRun plugin = PluginRun(*api, QRVString(serial.c_str()), size[0], size[1]);
        const SRun direct = AravisRun(id, size[0], size[1]);
        std::printf(
            "%dx%d Mono8: plug-in %.1f fps (%ld frames, %ld failed), Aravis %.1f fps (%ld frames, "
            "%ld failed), "
            "ratio %.3f\n",
            size[0], size[1], plugin.Rate(), plugin.frames, plugin.failures, direct.Rate(),
            direct.frames, direct.failures,
            direct.Rate() > 0 ? plugin.Rate() / direct.Rate() : 0.0);
    }
    return 0;
}
