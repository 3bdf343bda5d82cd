#include "PluginApi.h"

#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "Platform.h"

namespace qrvacq {

namespace {

template <typename Fn>
bool Resolve(void* library, const char* name, Fn& slot, std::vector<std::string>& missing) {
    void* symbol = platform::LibrarySymbol(library, name);
    if (!symbol) {
        missing.emplace_back(name);
        return false;
    }
    // POSIX and Windows both hand out functions as data pointers of the same size.
    static_assert(sizeof(symbol) == sizeof(slot), "function and data pointers differ in size");
    std::memcpy(&slot, &symbol, sizeof(slot));
    return true;
}

}  // namespace

bool Plugin::Load(const std::string& path, std::string& error) {
    std::string why;
    void* library = platform::OpenLibrary(path, why);
    if (!library) {
        error = "cannot load plug-in " + path + ": " + why;
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
        platform::CloseLibrary(library);
        return false;
    }
    m_api = api;
    return true;
}

std::string DefaultPluginPath() {
    namespace fs = std::filesystem;
    const char* kPluginFile = platform::PluginFileName();
    const std::string exe = platform::ExecutablePath();
    if (exe.empty()) return kPluginFile;  // let the dynamic loader search
    const fs::path dir = fs::path(exe).parent_path();
    std::error_code ec;
    const fs::path candidates[] = {dir / ".." / "lib" / kPluginFile, dir / kPluginFile};
    for (const fs::path& candidate : candidates) {
        if (fs::exists(candidate, ec)) return candidate.lexically_normal().string();
    }
    // Neither exists: name the preferred place in the error message.
    return candidates[0].lexically_normal().string();
}

}  // namespace qrvacq
