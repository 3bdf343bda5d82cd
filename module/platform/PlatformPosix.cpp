#if !defined(_WIN32)

#include <iconv.h>
#include <langinfo.h>
#include <time.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Hooks.h"

namespace qrv::platform {
std::uint32_t GetTickCount() {
    std::uint32_t tick = 0;
    if (detail::TestTick(tick)) return tick;
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const std::uint64_t ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                             static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

void Sleep(std::uint32_t milliseconds) {
    detail::NotifySleep(milliseconds);
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void OutputDebugStringA(const char* text) {
    detail::NotifyDebugListener(text);
}

std::tm LocalTime(std::time_t t) {
    std::tm out{};
    localtime_r(&t, &out);
    return out;
}

std::string Utf8ToLocalCodePage(const char* utf8) {
    if (!utf8 || !*utf8) return {};
    const char* codeset = nl_langinfo(CODESET);
    // The plain C locale reports ASCII; file names on this platform are bytes and
    // a host that never chose a locale means UTF-8.
    if (!codeset || !*codeset || std::strcmp(codeset, "ANSI_X3.4-1968") == 0 ||
        std::strcmp(codeset, "UTF-8") == 0) {
        return utf8;
    }
    iconv_t cd = iconv_open(codeset, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return utf8;

    std::string out;
    std::size_t inLeft = std::strlen(utf8);
    char* in = const_cast<char*>(utf8);
    std::vector<char> buffer(4 * inLeft + 16);
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer.data(), buffer.size() - outLeft);
        if (rc != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) continue;
        // A character the code set lacks, or a malformed byte: one '?' and skip the
        // whole UTF-8 sequence.
        out.push_back('?');
        const unsigned char lead = static_cast<unsigned char>(*in);
        std::size_t skip = lead < 0x80    ? 1
                           : lead >= 0xF0 ? 4
                           : lead >= 0xE0 ? 3
                           : lead >= 0xC0 ? 2
                                          : 1;
        if (skip > inLeft) skip = inLeft;
        in += skip;
        inLeft -= skip;
    }
    iconv_close(cd);
    return out;
}

const char* ErrorLogPath() {
    return "./ErrorLog/QRVAcqGenicam2.0.txt";
}

}  // namespace qrv::platform

#endif
