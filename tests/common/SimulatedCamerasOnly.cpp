// Linked into every test program that works on simulated cameras: real cameras
// (and the second a GigE Vision discovery waits for them) stay out unless the
// environment asks for them explicitly.
#include <cstdlib>

namespace {
struct SSimulatedCamerasOnly {
    SSimulatedCamerasOnly() {
#if defined(_WIN32)
        if (!std::getenv("KZR_ARAVIS")) _putenv("KZR_ARAVIS=off");
#else
        setenv("KZR_ARAVIS", "off", 0);
#endif
    }
} g_simulatedCamerasOnly;
}  // namespace
