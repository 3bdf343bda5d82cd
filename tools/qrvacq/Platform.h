// What the tool needs from the system: loading the plug-in, its own place,
// environment variables, the console's Ctrl-C and whether stderr is a terminal.
#pragma once

#include <string>

namespace qrvacq::platform {

/// The loaded library, or null with the loader's reason in error.
void* OpenLibrary(const std::string& path, std::string& error);
/// The exported symbol, or null.
void* LibrarySymbol(void* library, const char* name);
void CloseLibrary(void* library);

/// The plug-in's file name on this system.
const char* PluginFileName();
/// The running program's own file; empty when unknown.
std::string ExecutablePath();

void SetEnv(const char* name, const char* value);
void UnsetEnv(const char* name);

bool StderrIsTerminal();

/// From CatchInterrupt until ReleaseInterrupt, Ctrl-C sets a flag instead of
/// ending the process. False when the handler could not be installed.
bool CatchInterrupt();
void ReleaseInterrupt();
bool Interrupted();

}  // namespace qrvacq::platform
