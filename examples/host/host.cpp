// A minimal host: loads the plug-in, lists the cameras, opens one, grabs one
// frame and writes it as a PGM (one channel) or PPM (three channels) file.
//
//   example_host [SERIAL [FILE]]     (default: the first camera, frame.pgm/.ppm)
// The plug-in is QRV_PLUGIN_PATH, or $QRV_PLUGIN when set.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "QRVAcqGenIcam.h"

namespace {

template <typename Fn>
Fn Resolve(void* library, const char* name) {
    Fn function = reinterpret_cast<Fn>(dlsym(library, name));
    if (!function) {
        std::cerr << "the plug-in lacks " << name << "\n";
        std::exit(2);
    }
    return function;
}

bool WriteNetpbm(const QRVImage& image, const std::string& path) {
    const int channels = image.Channels();
    if ((channels != 1 && channels != 3) || image.IsEmpty()) return false;
    std::ofstream out(path, std::ios::binary);
    const int maxValue = image.BitsPerChannel() == 16 ? 65535 : 255;
    out << (channels == 1 ? "P5" : "P6") << "\n"
        << image.Width() << " " << image.Height() << "\n"
        << maxValue << "\n";
    if (maxValue == 255) {
        out.write(reinterpret_cast<const char*>(image.Data()),
                  static_cast<std::streamsize>(image.DataSize()));
    } else {
        // Netpbm's 16-bit samples are big-endian; the image holds the machine's order.
        for (std::size_t i = 0; i + 1 < image.DataSize(); i += 2) {
            const char sample[2] = {static_cast<char>(image.Data()[i + 1]),
                                    static_cast<char>(image.Data()[i])};
            out.write(sample, 2);
        }
    }
    return static_cast<bool>(out.flush());
}

}  // namespace

int main(int argc, char** argv) {
    const char* pluginPath =
        std::getenv("QRV_PLUGIN") ? std::getenv("QRV_PLUGIN") : QRV_PLUGIN_PATH;
    void* library = dlopen(pluginPath, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::cerr << "cannot load " << pluginPath << ": " << dlerror() << "\n";
        return 2;
    }
    auto getCameraList = Resolve<PFN_GetCameraList>(library, "GetCameraList");
    auto open = Resolve<PFN_Open>(library, "Open");
    auto startAcquire = Resolve<PFN_StartAcquire>(library, "StartAcquire");
    auto grabImage = Resolve<PFN_GrabImage>(library, "GrabImage");
    auto stopAcquire = Resolve<PFN_StopAcquire>(library, "StopAcquire");
    auto close = Resolve<PFN_Close>(library, "Close");

    QRVCameraInfoArray cameras;
    const int count = getCameraList(&cameras);
    std::cout << count << " cameras\n";
    for (long i = 0; i < cameras.Length(); ++i) {
        const QRVCameraInfo& info = cameras.At(i);
        std::cout << "  " << info.GetSerialNumber().toUtf8().str() << "  "
                  << info.GetModelName().toUtf8().str() << "\n";
    }
    if (count <= 0 && argc < 2) {
        std::cerr << "no camera to open\n";
        return 1;
    }
    const QRVString serial = argc > 1 ? QRVString(argv[1]) : cameras.At(0).GetSerialNumber();

    QRVCameraHandle handle = nullptr;
    int result = open(serial, &handle, QRVString(""), QRVString(""));
    if (result != QRV_OK) {
        std::cerr << "Open: " << result << "\n";
        return 1;
    }
    QRVImage image;
    result = startAcquire(handle, 0, 0);
    if (result == QRV_OK) {
        result = grabImage(handle, &image, 1000);
        stopAcquire(handle);
    }
    close(handle);
    if (result != QRV_OK) {
        std::cerr << "grab: " << result << "\n";
        return 1;
    }
    std::string path = argc > 2 ? argv[2] : (image.Channels() == 1 ? "frame.pgm" : "frame.ppm");
    if (!WriteNetpbm(image, path)) {
        std::cerr << "cannot write " << path << "\n";
        return 1;
    }
    std::cout << "grabbed " << image.Width() << "x" << image.Height() << " from "
              << serial.toUtf8().str() << " into " << path << "\n";
    return 0;
}
