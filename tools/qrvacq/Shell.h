// The call shell: one entry-point call per input line, with named handles, null
// and stale arguments, and expect lines for scripted checks. The line format is
// documented in docs/qrvacq.md.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "PluginApi.h"

namespace qrvacq {

/// One word of a shell line; quoted words are never keywords (null, out, ->).
struct ShellToken {
    std::string text;
    bool quoted = false;
};

/// Splits a line into words: blanks separate, "..." quotes with \" \\ \n \t \xHH
/// escapes. Returns false with a message for an unterminated quote or a bad escape.
bool TokenizeShellLine(const std::string& line, std::vector<ShellToken>& tokens,
                       std::string& error);

class Shell {
public:
    Shell(const PluginApi& api, std::ostream& out, std::ostream& err);
    Shell(const Shell&) = delete;
    Shell& operator=(const Shell&) = delete;

    /// Runs every line; returns the exit status: 1 on a failed expect (which ends
    /// the run) or on a failed call no expect checked, 2 on malformed lines
    /// (reported and skipped), else 0.
    int Run(std::istream& in);

private:
    struct Call;
    using Args = std::vector<ShellToken>;
    using Handler = bool (Shell::*)(const Args&, Call&);

    void Execute(const std::string& line);
    bool Expect(const Args& args);

    // Argument readers: false with m_error set when the word does not fit.
    bool Count(const Args& args, std::size_t min, std::size_t max);
    bool HandleArg(const ShellToken& token, QRVCameraHandle& handle, std::string& shown);
    bool IntArg(const ShellToken& token, int& value);
    /// Trailing out-pointer words from args[first]: none (all real), one (applies
    /// to all), or one per pointer; each "out" or "null".
    bool OutArgs(const Args& args, std::size_t first, std::size_t pointers,
                 std::vector<bool>& isNull);

    bool CmdClose(const Args& args, Call& call);
    bool CmdExecuteCmd(const Args& args, Call& call);
    bool CmdGetCameraList(const Args& args, Call& call);
    bool CmdGetCardList(const Args& args, Call& call);
    bool CmdGetNodeType(const Args& args, Call& call);
    bool CmdGetParamBool(const Args& args, Call& call);
    bool CmdGetParamFloat(const Args& args, Call& call);
    bool CmdGetParamInt(const Args& args, Call& call);
    bool CmdGetParamStr(const Args& args, Call& call);
    bool CmdGetRegisterData(const Args& args, Call& call);
    bool CmdGrabImage(const Args& args, Call& call);
    bool CmdGrabImageEx(const Args& args, Call& call);
    bool CmdIsOpen(const Args& args, Call& call);
    bool CmdOpen(const Args& args, Call& call);
    bool CmdSetCallBackFunc(const Args& args, Call& call);
    bool CmdSetParamBool(const Args& args, Call& call);
    bool CmdSetParamFloat(const Args& args, Call& call);
    bool CmdSetParamInt(const Args& args, Call& call);
    bool CmdSetParamStr(const Args& args, Call& call);
    bool CmdSetRegisterData(const Args& args, Call& call);
    bool CmdStartAcquire(const Args& args, Call& call);
    bool CmdStopAcquire(const Args& args, Call& call);
    bool CmdSleep(const Args& args, Call& call);

    const PluginApi& m_api;
    std::ostream& m_out;
    std::ostream& m_err;
    std::map<std::string, Handler> m_commands;
    std::map<std::string, QRVCameraHandle> m_handles;  ///< kept after close: stale on purpose
    QRVImage m_image;                                  ///< reused across grabs, as a host does
    ZelChunkData m_chunks;

    int m_lineNumber = 0;
    std::string m_error;
    std::optional<int> m_lastResult;  ///< result of the previous line's call
    std::string m_lastCall;
    bool m_pendingFailure = false;  ///< previous call failed and no expect checked it yet
    bool m_anyFailure = false;
    bool m_malformed = false;
    bool m_expectFailed = false;
};

}  // namespace qrvacq
