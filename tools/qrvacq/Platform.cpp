#include "Platform.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace qrvacq::platform {

namespace {

std::atomic<bool> g_interrupted{false};

}  // namespace

bool Interrupted() {
    return g_interrupted.load();
}

#ifdef _WIN32

namespace {

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    g_interrupted = true;
    return TRUE;
}

}  // namespace

void* OpenLibrary(const std::string& path, std::string& error) {
    // The plug-in's DLLs (QRVData, KZRGeniCam, GenApi) are found beside it.
    HMODULE module =
        LoadLibraryExW(std::filesystem::path(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) error = "error " + std::to_string(GetLastError());
    return reinterpret_cast<void*>(module);
}

void* LibrarySymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(void* library) {
    FreeLibrary(static_cast<HMODULE>(library));
}

const char* PluginFileName() {
    return "QRVAcqGenIcam.dll";
}

std::string ExecutablePath() {
    wchar_t buffer[32768];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, sizeof buffer / sizeof buffer[0]);
    if (n == 0 || n >= sizeof buffer / sizeof buffer[0]) return std::string();
    return std::filesystem::path(std::wstring(buffer, n)).string();
}

void SetEnv(const char* name, const char* value) {
    _putenv_s(name, value);
}

void UnsetEnv(const char* name) {
    _putenv_s(name, "");
}

bool StderrIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

bool CatchInterrupt() {
    g_interrupted = false;
    return SetConsoleCtrlHandler(OnConsoleControl, TRUE) != 0;
}

void ReleaseInterrupt() {
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
}

#else

namespace {

struct sigaction g_previous {};

extern "C" void OnInterrupt(int) {
    g_interrupted = true;
}

}  // namespace

void* OpenLibrary(const std::string& path, std::string& error) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* why = dlerror();
        error = why ? why : "unknown error";
    }
    return library;
}

void* LibrarySymbol(void* library, const char* name) {
    return dlsym(library, name);
}

void CloseLibrary(void* library) {
    dlclose(library);
}

const char* PluginFileName() {
    return "libQRVAcqGenIcam.so";
}

std::string ExecutablePath() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.string();
}

void SetEnv(const char* name, const char* value) {
    setenv(name, value, 1);
}

void UnsetEnv(const char* name) {
    unsetenv(name);
}

bool StderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

// No SA_RESTART: nothing here waits in a system call that should resume.
bool CatchInterrupt() {
    g_interrupted = false;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGINT, &action, &g_previous) == 0;
}

void ReleaseInterrupt() {
    sigaction(SIGINT, &g_previous, nullptr);
}

#endif

}  // namespace qrvacq::platform
