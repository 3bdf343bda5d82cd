#include "ProducerLibrary.h"

#ifdef _WIN32
#include <windows.h>
#include <winternl.h>
#else
#include <dlfcn.h>
#endif

#include <cstdlib>

namespace KZRGENICAM::detail {

#ifdef _WIN32

namespace {

std::wstring Wide(const std::string& text) {
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                      static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                        &out[0], n);
    return out;
}

std::string SystemMessage(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out = "error " + std::to_string(code);
    if (length && text) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                          nullptr, nullptr);
        std::string message(static_cast<size_t>(n > 0 ? n : 0), '\0');
        if (n > 0)
            WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &message[0], n, nullptr,
                                nullptr);
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
            message.pop_back();
        out += ": " + message;
    }
    if (text) LocalFree(text);
    return out;
}

}  // namespace

void* OpenProducerLibrary(const std::string& path, std::string& error) {
    const std::wstring wide = Wide(path);
    if (wide.empty()) {
        error = "path is not UTF-8";
        return nullptr;
    }
    // The producer's own DLLs are looked up in its folder first.
    HMODULE module = LoadLibraryExW(wide.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) error = SystemMessage(GetLastError());
    return reinterpret_cast<void*>(module);
}

void* ProducerSymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseProducerLibrary(void* library) {
    FreeLibrary(static_cast<HMODULE>(library));
}

/// The process block, through NtQueryInformationProcess (documented in winternl.h).
const unsigned char* ProcessBlock() {
    using PQuery = LONG(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto query = ntdll ? reinterpret_cast<PQuery>(reinterpret_cast<void*>(
                             GetProcAddress(ntdll, "NtQueryInformationProcess")))
                       : nullptr;
    PROCESS_BASIC_INFORMATION info{};
    if (!query ||
        query(GetCurrentProcess(), ProcessBasicInformation, &info, sizeof info, nullptr) != 0)
        return nullptr;
    return reinterpret_cast<const unsigned char*>(info.PebBaseAddress);
}

bool MayCallProducers() {
    // The process block's LoaderLock (at the same place since NT 4, and set by
    // Wine as well) is the loader's critical section; its owner is a thread id.
    static const unsigned char* const peb = ProcessBlock();
    if (!peb) return true;
    const size_t offset = sizeof(void*) == 8 ? 0x110 : 0xA0;
    const auto* lock = *reinterpret_cast<RTL_CRITICAL_SECTION* const*>(peb + offset);
    if (!lock) return true;
    const auto owner = reinterpret_cast<uintptr_t>(lock->OwningThread);
    return owner != static_cast<uintptr_t>(GetCurrentThreadId());
}

bool RunBeforeEarlierStatics(void (*)()) {
    return false;
}

#else

void* OpenProducerLibrary(const std::string& path, std::string& error) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* why = dlerror();
        error = why ? why : "dlopen failed";
    }
    return library;
}

void* ProducerSymbol(void* library, const char* name) {
    return dlsym(library, name);
}

void CloseProducerLibrary(void* library) {
    dlclose(library);
}

bool MayCallProducers() {
    return true;
}

bool RunBeforeEarlierStatics(void (*handler)()) {
    // Exit handlers and static destructors share one last-in, first-out list,
    // also across libraries loaded with dlopen.
    return std::atexit(handler) == 0;
}

#endif

}  // namespace KZRGENICAM::detail
