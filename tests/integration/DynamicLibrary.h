// Run-time loading as a host does it: dlopen/dlsym on Linux,
// LoadLibrary/GetProcAddress on Windows.
#pragma once

#include <set>
#include <string>

namespace qrvtest {

/// Null when the file did not load; error then says why.
void* OpenLibrary(const std::string& path, std::string& error);

/// The exported symbol, or null.
void* FindSymbol(void* library, const char* name);

/// Drops the handle; true on success.
bool CloseLibrary(void* library);

/// Whether a file is still mapped into this process (after its last close it
/// must not be).
bool IsLibraryLoaded(const std::string& path);

#if defined(_WIN32)
/// The names in a loaded module's export table, read from its image in memory.
std::set<std::string> ExportedNames(void* library);
#endif

}  // namespace qrvtest
