// Loading a producer's code and what the process allows at its end: dlopen on
// Linux, LoadLibraryW on Windows (UTF-8 paths, so folders with any letters work).
#pragma once

#include <string>

namespace KZRGENICAM::detail {

/// The loaded library, or null with why it failed in error.
void* OpenProducerLibrary(const std::string& path, std::string& error);
/// The exported function of that name, or null.
void* ProducerSymbol(void* library, const char* name);
void CloseProducerLibrary(void* library);

/// False while this thread holds the Windows loader lock (inside DllMain: at
/// process termination or while a DLL unloads). A producer must not be called
/// then: one that waits for its own threads deadlocks the process.
bool MayCallProducers();

/// Runs handler at exit() before the static destructors of everything loaded
/// before this call; false where no such hook exists (Windows: a DLL's exit
/// handlers run under the loader lock).
bool RunBeforeEarlierStatics(void (*handler)());

}  // namespace KZRGENICAM::detail
