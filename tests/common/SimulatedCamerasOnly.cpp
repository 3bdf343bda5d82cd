// Linked into every test program that works on simulated cameras: real cameras
// (Aravis's, and those of GenTL producers a developer's GENICAM_GENTL64_PATH names;
// and the second a GigE Vision discovery waits for them) stay out unless the
// environment asks for them explicitly.
#include <cstdlib>

namespace {
struct SSimulatedCamerasOnly {
    SSimulatedCamerasOnly() {
#if defined(_WIN32)
        if (!std::getenv("KZR_ARAVIS")) _putenv("KZR_ARAVIS=off");
        if (!std::getenv("KZR_GENTL")) _putenv("KZR_GENTL=off");
#else
        setenv("KZR_ARAVIS", "off", 0);
        setenv("KZR_GENTL", "off", 0);
#endif
    }
} g_simulatedCamerasOnly;
}  // namespace
