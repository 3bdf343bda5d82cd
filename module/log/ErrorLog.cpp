#include "ErrorLog.h"

#include <atomic>
#include <cstdio>
#include <map>
#include <sstream>

#include "platform/Platform.h"

namespace {
std::atomic<CErrorLog*> g_testLog{nullptr};

template <class T>
std::string Format(const T& value) {
    std::ostringstream out;
    out << value;
    return out.str();
}
}  // namespace

CErrorLog::CErrorLog(const char* path, bool enabled) : m_enabled(enabled) {
    if (m_enabled && path) m_file.open(path, std::ios::out | std::ios::trunc);
}

CErrorLog::~CErrorLog() {
    if (m_enabled && m_file.is_open()) m_file.close();
}

std::string& CErrorLog::Line() {
    // One pending line per thread and writer.
    thread_local std::map<const CErrorLog*, std::string> lines;
    return lines[this];
}

template <class T>
CErrorLog& CErrorLog::Append(const T& value) {
    if (m_enabled) Line() += Format(value);
    return *this;
}

CErrorLog& CErrorLog::operator<<(const char* text) {
    if (m_enabled && text) Line() += text;
    return *this;
}
CErrorLog& CErrorLog::operator<<(char c) {
    if (m_enabled) Line() += c;
    return *this;
}
CErrorLog& CErrorLog::operator<<(int value) {
    return Append(value);
}
CErrorLog& CErrorLog::operator<<(long value) {
    return Append(value);
}
CErrorLog& CErrorLog::operator<<(unsigned long long value) {
    return Append(value);
}
CErrorLog& CErrorLog::operator<<(unsigned long value) {
    return Append(value);
}
CErrorLog& CErrorLog::operator<<(float value) {
    return Append(value);
}

void CErrorLog::flush() {
    if (!m_enabled) return;
    std::lock_guard<std::mutex> lock(m_writeMutex);
    m_file.flush();
}

std::string CErrorLog::FormatTimeStamp(const std::tm& local) {
    char text[64];
    std::snprintf(text, sizeof text, "[%d-%02d-%02d %02d:%02d:%02d] ", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

CErrorLog& LogBegin(CErrorLog& log) {
    if (!log.m_enabled) return log;
    std::string& line = log.Line();
    line.clear();
    line += CErrorLog::FormatTimeStamp(qrv::platform::LocalTime(std::time(nullptr)));
    return log;
}

CErrorLog& LogEnd(CErrorLog& log) {
    if (!log.m_enabled) return log;
    std::string& line = log.Line();
    line += '\n';
    {
        std::lock_guard<std::mutex> lock(log.m_writeMutex);
        log.m_file.write(line.data(), static_cast<std::streamsize>(line.size()));
        log.m_file.flush();
    }
    line.clear();
    return log;
}

CErrorLog& ModuleLog() {
    CErrorLog* test = g_testLog.load();
    return test ? *test : g_errorLog;
}

void SetModuleLogForTesting(CErrorLog* log) {
    g_testLog.store(log);
}
