// Helpers shared by the fuzz targets: a reader that turns the fuzzer's bytes into
// choices, and the check that the simulated camera library got every object back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "KZRSim.h"

namespace qrvfuzz {

/// Consumes the input front to back; past the end every read gives 0 or "".
class CInput {
public:
    CInput(const uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    bool Empty() const { return m_pos >= m_size; }

    uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }

    /// A value in [min, max].
    int Int(int min, int max) {
        uint32_t raw = 0;
        for (int i = 0; i < 4; ++i) raw = (raw << 8) | Byte();
        const uint64_t span = static_cast<uint64_t>(static_cast<int64_t>(max) - min) + 1;
        return static_cast<int>(min + static_cast<int64_t>(raw % span));
    }

    /// Any 32-bit value.
    int32_t Raw32() {
        uint32_t raw = 0;
        for (int i = 0; i < 4; ++i) raw = (raw << 8) | Byte();
        return static_cast<int32_t>(raw);
    }

    /// Up to maxLength bytes, any values (NUL included).
    std::string Bytes(std::size_t maxLength) {
        const std::size_t length = Byte() % (maxLength + 1);
        std::string out;
        while (out.size() < length && !Empty()) out += static_cast<char>(Byte());
        return out;
    }

    template <std::size_t N>
    const char* Pick(const char* const (&choices)[N]) {
        return choices[Byte() % N];
    }

private:
    const uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

/// Aborts (a finding) when the library still has a record, camera or frame out,
/// or saw an object given back twice.
inline void CheckNothingOut(const char* where) {
    const KZRSIM::LibraryCounters lib = KZRSIM::Library();
    if (lib.recordsOut != 0 || lib.camerasOut != 0 || lib.framesOut != 0 ||
        lib.doubleReleases != 0) {
        std::fprintf(stderr,
                     "%s: records out %d, cameras out %d, frames out %d, double releases %d\n",
                     where, lib.recordsOut, lib.camerasOut, lib.framesOut, lib.doubleReleases);
        std::abort();
    }
}

/// The demo cameras with frames always ready, so that grabs never wait for the
/// frame clock.
inline KZRSIM::Scenario FastDemoScenario() {
    KZRSIM::Scenario scenario = KZRSIM::DemoScenario();
    for (KZRSIM::CameraSpec& camera : scenario.cameras) camera.frameRate = 0;
    return scenario;
}

}  // namespace qrvfuzz
