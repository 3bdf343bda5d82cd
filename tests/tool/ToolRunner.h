// Runs the built qrvacq as a child process with the built plug-in.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tooltest {

struct ToolResult {
    int exitCode = -1;   ///< -1 when the child did not exit normally
    int termSignal = 0;  ///< the signal that ended it, if any
    bool timedOut = false;
    std::string out;
    std::string err;
};

/// Called whenever stdout grew; may signal the child.
using OutputWatcher = std::function<void(pid_t pid, const std::string& out)>;

/// Runs qrvacq --plugin <built plug-in> --sim scenario args..., standard input
/// /dev/null; watch sees stdout as it grows. The child is killed after timeoutMs.
ToolResult RunSim(const std::vector<std::string>& args, const OutputWatcher& watch = {},
                  int timeoutMs = 120000, const std::string& scenario = "demo");

/// A fresh directory, removed with its content at the end of the scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

/// The lines of text that start with prefix.
std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& prefix);

}  // namespace tooltest
