#if defined(_WIN32)

#include <windows.h>

#include <mutex>
#include <vector>

#include "platform/Hooks.h"

namespace qrv::platform {
std::uint32_t GetTickCount() {
    std::uint32_t tick = 0;
    if (detail::TestTick(tick)) return tick;
    return ::GetTickCount();
}

void Sleep(std::uint32_t milliseconds) {
    detail::NotifySleep(milliseconds);
    ::Sleep(milliseconds);
}

void OutputDebugStringA(const char* text) {
    if (!text) return;
    detail::NotifyDebugListener(text);
    ::OutputDebugStringA(text);
}

std::tm LocalTime(std::time_t t) {
    std::tm out{};
    localtime_s(&out, &t);
    return out;
}

std::string Utf8ToLocalCodePage(const char* utf8) {
    if (!utf8 || !*utf8) return {};
    const int wideLen = ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    if (wideLen <= 0) return {};
    std::vector<wchar_t> wide(static_cast<std::size_t>(wideLen) + 1);
    ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide.data(), wideLen);
    const int narrowLen =
        ::WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr);
    if (narrowLen <= 0) return {};
    std::vector<char> narrow(static_cast<std::size_t>(narrowLen) + 1);
    ::WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, narrow.data(), narrowLen, nullptr, nullptr);
    return std::string(narrow.data());
}

const char* ErrorLogPath() {
    return ".\\ErrorLog\\QRVAcqGenicam2.0.txt";
}

}  // namespace qrv::platform

#endif
