// The test hooks of the platform layer, shared by both implementations.
#include "platform/Hooks.h"

#include <mutex>

namespace qrv::platform {
namespace {

std::mutex g_hookMutex;
std::function<std::uint32_t()> g_tickSource;
std::function<void(const char*)> g_debugListener;
std::function<void(std::uint32_t)> g_sleepObserver;

}  // namespace

void SetTickSourceForTesting(std::function<std::uint32_t()> source) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_tickSource = std::move(source);
}

void SetSleepObserverForTesting(std::function<void(std::uint32_t)> observer) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_sleepObserver = std::move(observer);
}

void SetDebugOutputListener(std::function<void(const char*)> listener) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_debugListener = std::move(listener);
}

namespace detail {

bool TestTick(std::uint32_t& tick) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    if (!g_tickSource) return false;
    tick = g_tickSource();
    return true;
}

void NotifySleep(std::uint32_t milliseconds) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    if (g_sleepObserver) g_sleepObserver(milliseconds);
}

void NotifyDebugListener(const char* text) {
    std::function<void(const char*)> listener;
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        listener = g_debugListener;
    }
    if (listener && text) listener(text);
}

}  // namespace detail
}  // namespace qrv::platform
