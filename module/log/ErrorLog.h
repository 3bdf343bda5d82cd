// CErrorLog: the module's time-stamped text log. A line is LogBegin, the message
// pieces, LogEnd. Each line is composed per thread and written whole at LogEnd
// under a lock, so lines from several threads never interleave.
#pragma once

#include <cstdint>
#include <ctime>
#include <fstream>
#include <mutex>
#include <string>

class CErrorLog {
public:
    using Manipulator = CErrorLog& (*)(CErrorLog&);

    /// enabled false: the file is never opened and every operation does nothing.
    /// enabled true: the file is created or truncated; the folder is not created,
    /// and a file that cannot be opened silently drops every line.
    CErrorLog(const char* path, bool enabled);
    ~CErrorLog();
    CErrorLog(const CErrorLog&) = delete;
    CErrorLog& operator=(const CErrorLog&) = delete;

    CErrorLog& operator<<(const char* text);
    CErrorLog& operator<<(char c);
    CErrorLog& operator<<(int value);
    CErrorLog& operator<<(long value);
    CErrorLog& operator<<(unsigned long long value);
    CErrorLog& operator<<(unsigned long value);
    CErrorLog& operator<<(float value);
    CErrorLog& operator<<(Manipulator manipulator) { return manipulator(*this); }

    void flush();
    bool IsEnabled() const { return m_enabled; }

    /// "[YYYY-MM-DD hh:mm:ss] " for a broken-down local time.
    static std::string FormatTimeStamp(const std::tm& local);

    friend CErrorLog& LogBegin(CErrorLog& log);
    friend CErrorLog& LogEnd(CErrorLog& log);

private:
    std::string& Line();
    template <class T>
    CErrorLog& Append(const T& value);

    const bool m_enabled;
    std::ofstream m_file;
    std::mutex m_writeMutex;
};

CErrorLog& LogBegin(CErrorLog& log);
CErrorLog& LogEnd(CErrorLog& log);

/// The module's process-wide log, constructed switched off.
extern CErrorLog g_errorLog;

/// The log the module's operations write to: g_errorLog, or the writer a test
/// put in its place.
CErrorLog& ModuleLog();
void SetModuleLogForTesting(CErrorLog* log);
