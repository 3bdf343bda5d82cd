#include "PluginApi.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace qrvacq {

namespace {

constexpr const char* kPluginFile = "libQRVAcqGenIcam.so";

template <typename Fn>
bool Resolve(void* library, const char* name, Fn& slot, std::vector<std::string>& missing) {
    void* symbol = dlsym(library, name);
    if (!symbol) {
        missing.emplace_back(name);
        return false;
    }
    // POSIX guarantees that a data pointer from dlsym converts to a function pointer.
    static_assert(sizeof(symbol) == sizeof(slot), "function and data pointers differ in size");
    std::memcpy(&slot, &symbol, sizeof(slot));
    return true;
}

}  // namespace

bool Plugin::Load(const std::string& path, std::string& error) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* why = dlerror();
        error = "cannot load plug-in " + path + ": " + (why ? why : "unknown error");
        return false;
    }
    PluginApi api;
    std::vector<std::string> missing;
#define QRVACQ_RESOLVE_ENTRY(name) Resolve(library, #name, api.name, missing);
    QRVACQ_ENTRY_POINTS(QRVACQ_RESOLVE_ENTRY)
#undef QRVACQ_RESOLVE_ENTRY
    if (!missing.empty()) {
        error = "plug-in " + path + " lacks entry point" + (missing.size() > 1 ? "s " : " ");
        for (std::size_t i = 0; i < missing.size(); ++i) error += (i ? ", " : "") + missing[i];
        dlclose(library);
        return false;
    }
    m_api = api;
    return true;
}

std::string DefaultPluginPath() {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return kPluginFile;  // let the dynamic loader search
    const fs::path dir = exe.parent_path();
    const fs::path candidates[] = {dir / ".." / "lib" / kPluginFile, dir / kPluginFile};
    for (const fs::path& candidate : candidates) {
        if (fs::exists(candidate, ec)) return candidate.lexically_normal().string();
    }
    // Neither exists: name the preferred place in the error message.
    return candidates[0].lexically_normal().string();
}

}  // namespace qrvacq
