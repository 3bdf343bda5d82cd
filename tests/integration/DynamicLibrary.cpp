#include "DynamicLibrary.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace qrvtest {

#if defined(_WIN32)

namespace {

std::string LastErrorText() {
    const DWORD code = ::GetLastError();
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = "error " + std::to_string(code);
    if (length && text) message += ": " + std::string(text, length);
    if (text) ::LocalFree(text);
    return message;
}

}  // namespace

void* OpenLibrary(const std::string& path, std::string& error) {
    HMODULE module = ::LoadLibraryA(path.c_str());
    if (!module) error = path + ": " + LastErrorText();
    return reinterpret_cast<void*>(module);
}

void* FindSymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

bool CloseLibrary(void* library) {
    return ::FreeLibrary(static_cast<HMODULE>(library)) != 0;
}

bool IsLibraryLoaded(const std::string& path) {
    return ::GetModuleHandleA(path.c_str()) != nullptr;
}

std::set<std::string> ExportedNames(void* library) {
    std::set<std::string> names;
    const auto* base = static_cast<const unsigned char*>(library);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (!base || dos->e_magic != IMAGE_DOS_SIGNATURE) return names;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (entry.VirtualAddress == 0) return names;
    const auto* exports =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    const auto* nameRvas = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        names.insert(reinterpret_cast<const char*>(base + nameRvas[i]));
    return names;
}

#else

void* OpenLibrary(const std::string& path, std::string& error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) error = dlerror();
    return handle;
}

void* FindSymbol(void* library, const char* name) {
    return dlsym(library, name);
}

bool CloseLibrary(void* library) {
    return dlclose(library) == 0;
}

bool IsLibraryLoaded(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
}

#endif

}  // namespace qrvtest
