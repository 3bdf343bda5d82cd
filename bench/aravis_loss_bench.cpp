// Camera loss on the fake GigE Vision camera, through the plug-in: the time from
// the camera's end to the first failing call, what each later call takes, the
// durations of StopAcquire and Close on the lost camera, and the time to open it
// again once it is back. Each figure is printed with its ratio to the bound it
// must keep (1.0 = at the bound), and the first failing feature read, stop and
// release against Aravis alone, measured the same way in the same run. Prints
// figures; not a test.
#include <arv.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "ArvPluginApi.h"
#include "FakeGvCamera.h"
#include "LoopbackOnly.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kGrabTimeoutMs = 1000;
constexpr int kRuns = 3;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int EnvInt(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::atoi(text) : fallback;
}

bool FindSerial(const SArvPluginApi& api, QRVString& serial) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        QRVCameraInfoArray list;
        const int count = api.GetCameraList(&list);
        for (long i = 0; i < count && i < list.Length(); ++i) {
            if (list.At(i).GetManufacturerInfo() == QRVString("Aravis")) {
                serial = list.At(i).GetSerialNumber();
                return true;
            }
        }
    }
    return false;
}

void Row(const char* what, double ms, double boundMs, int code) {
    std::printf("  %-44s %8.1f ms  (code %6d)  ratio to bound %.3f\n", what, ms, code,
                boundMs > 0 ? ms / boundMs : 0.0);
}

/// Aravis alone on the same loss: a feature read, then dropping the camera.
void AravisReference(double pluginReadMs, double pluginCloseMs) {
    CFakeGvCamera fake;
    std::string why;
    if (!fake.Start(why)) return;
    std::string id;
    for (int attempt = 0; attempt < 10 && id.empty(); ++attempt) {
        arv_update_device_list();
        for (unsigned i = 0; i < arv_get_n_devices(); ++i)
            if (std::string(arv_get_device_vendor(i) ? arv_get_device_vendor(i) : "") == "Aravis")
                id = arv_get_device_id(i);
    }
    ArvCamera* camera = id.empty() ? nullptr : arv_camera_new(id.c_str(), nullptr);
    if (!camera) return;
    fake.Stop();
    auto start = Clock::now();
    GError* error = nullptr;
    arv_camera_get_integer(camera, "Width", &error);
    const double readMs = MsSince(start);
    g_clear_error(&error);
    start = Clock::now();
    g_object_unref(camera);
    const double dropMs = MsSince(start);
    std::printf(
        "Aravis alone: first feature read after the loss %.1f ms, dropping the camera "
        "%.1f ms\n",
        readMs, dropMs);
    std::printf("plug-in / Aravis: first failing call %.3f, Close %.3f\n",
                readMs > 0 ? pluginReadMs / readMs : 0.0,
                dropMs > 0 ? pluginCloseMs / dropMs : 0.0);
}

}  // namespace

int main(int, char** argv) {
    RunOnLoopbackOnly(argv);
    std::string error;
    const SArvPluginApi* api = ArvPlugin(error);
    if (!api) {
        std::printf("aravis_loss_bench: plug-in not loaded: %s\n", error.c_str());
        return 1;
    }
    const int control = EnvInt("KZR_ARAVIS_CONTROL_TIMEOUT_MS", 500) *
                        (EnvInt("KZR_ARAVIS_CONTROL_RETRIES", 1) + 1);
    std::printf("control channel bound %d ms, grab time-out %d ms\n", control, kGrabTimeoutMs);
    double lastFirstFailure = 0;
    double lastClose = 0;
    for (int run = 0; run < kRuns; ++run) {
        CFakeGvCamera fake;
        std::string why;
        if (!fake.Start(why)) {
            std::printf("aravis_loss_bench: skipped: %s\n", why.c_str());
            return 0;
        }
        QRVString serial;
        if (!FindSerial(*api, serial)) {
            std::printf("aravis_loss_bench: skipped: the fake camera did not appear\n");
            return 0;
        }
        QRVCameraHandle handle = nullptr;
        if (api->Open(serial, &handle, QRVString(""), QRVString("")) != QRV_OK) return 1;
        api->StartAcquire(handle, 4, 0);
        QRVImage first;
        const int firstCode = api->GrabImage(handle, &first, 3000);
        std::printf("run %d: grab before the loss: code %d\n", run + 1, firstCode);

        fake.Stop();
        const auto lostAt = Clock::now();
        int code = QRV_OK;
        double firstFailure = -1;
        double firstFailureCall = 0;
        for (int i = 0; i < 20 && firstFailure < 0; ++i) {
            QRVImage image;
            const auto start = Clock::now();
            code = api->GrabImage(handle, &image, kGrabTimeoutMs);
            if (code != QRV_OK) {
                firstFailureCall = MsSince(start);
                firstFailure = MsSince(lostAt);
            }
        }
        Row("loss to first failing GrabImage", firstFailure, kGrabTimeoutMs + control, code);
        Row("  that GrabImage itself", firstFailureCall, kGrabTimeoutMs + 100, code);
        lastFirstFailure = firstFailureCall;
        QRVImage later;
        auto start = Clock::now();
        code = api->GrabImage(handle, &later, kGrabTimeoutMs);
        Row("next GrabImage", MsSince(start), kGrabTimeoutMs + 100, code);
        int value = 0, min = 0, max = 0, inc = 0;
        start = Clock::now();
        code = api->GetParamInt(handle, QRVString("Width"), &value, &min, &max, &inc);
        Row("GetParamInt", MsSince(start), control, code);
        start = Clock::now();
        const bool open = api->IsOpen(handle);
        Row(open ? "IsOpen (true!)" : "IsOpen (false)", MsSince(start), 200, 0);
        start = Clock::now();
        code = api->StopAcquire(handle);
        Row("StopAcquire", MsSince(start), 200, code);
        start = Clock::now();
        code = api->Close(handle);
        lastClose = MsSince(start);
        Row("Close", lastClose, 200, code);
        handle = nullptr;

        if (!fake.Start(why)) return 1;
        const auto backAt = Clock::now();
        code = -1;
        for (int attempt = 0; attempt < 50 && code != QRV_OK; ++attempt) {
            code = api->Open(serial, &handle, QRVString(""), QRVString(""));
            if (code != QRV_OK) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        const double reopen = MsSince(backAt);
        QRVImage again;
        int grab = -1;
        if (code == QRV_OK && api->StartAcquire(handle, 4, 0) == QRV_OK)
            grab = api->GrabImage(handle, &again, 3000);
        std::printf("  %-44s %8.1f ms  (code %6d, then grab code %d)\n",
                    "re-open after the camera returned", reopen, code, grab);
        if (handle) api->Close(handle);
        fake.Stop();
    }
    AravisReference(lastFirstFailure, lastClose);
    return 0;
}
