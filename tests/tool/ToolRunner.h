// Runs the built qrvacq as a child process with the built plug-in.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
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

/// Runs qrvacq with args (no plug-in or scenario options added). stdinPath: a
/// file for standard input, empty for /dev/null. The child is killed after
/// timeoutMs.
ToolResult RunTool(const std::vector<std::string>& args, const std::string& stdinPath = "",
                   const OutputWatcher& watch = {}, int timeoutMs = 120000);

/// Runs any program (argv[0] a path) the same way.
ToolResult RunProgram(const std::vector<std::string>& argv, int timeoutMs = 120000);

/// qrvacq --plugin <built plug-in> --sim <scenario> args...
ToolResult RunSim(const std::vector<std::string>& args, const std::string& scenario = "demo");

/// Runs script through the shell command on the demo set, from a file.
ToolResult RunShellScript(const std::string& script);

/// A fresh directory, removed with its content at the end of the scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return m_path; }
    /// Writes text to a file in the directory and returns its path.
    std::string Write(const std::string& name, const std::string& text) const;

private:
    std::filesystem::path m_path;
};

/// The lines of text that start with prefix.
std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& prefix);

/// The node called name in a features --json tree, or null.
const nlohmann::json* FindNode(const nlohmann::json& tree, const std::string& name);

/// One JSON object per line of text (grab --json).
std::vector<nlohmann::json> JsonLines(const std::string& text);

}  // namespace tooltest
