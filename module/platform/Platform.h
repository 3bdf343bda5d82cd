// The module's platform layer: the few operating-system calls the module makes,
// with a Windows and a POSIX implementation.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#if defined(QRV_FRAME_MUTEX_STD)
#include <mutex>
#else
#include <opencv2/core/utility.hpp>
#endif

namespace qrv::platform {

#if defined(QRV_FRAME_MUTEX_STD)
// Builds without OpenCV use the type that OpenCV 4 defines cv::Mutex to be.
using FrameMutex = std::recursive_mutex;
#else
using FrameMutex = cv::Mutex;
#endif

/// Milliseconds from a monotonic clock, wrapping at 32 bits like Windows'
/// GetTickCount.
std::uint32_t GetTickCount();

/// Replaces the tick source (tests use it to check the wrap-around); an empty
/// function restores the system clock. Not for use while grabs run.
void SetTickSourceForTesting(std::function<std::uint32_t()> source);

void Sleep(std::uint32_t milliseconds);

/// Registers an observer that sees the argument of every Sleep before it sleeps
/// (tests check the poll period with it); an empty function removes it.
void SetSleepObserverForTesting(std::function<void(std::uint32_t)> observer);

/// Debugger output. Without a debugger (or, on POSIX, without a registered
/// listener) the text goes nowhere.
void OutputDebugStringA(const char* text);

/// Registers the receiver of OutputDebugStringA on POSIX; an empty function
/// removes it.
void SetDebugOutputListener(std::function<void(const char*)> listener);

/// Local time of t, broken down.
std::tm LocalTime(std::time_t t);

/// UTF-8 text in the local 8-bit code page: the active code page on Windows, the
/// locale's code set elsewhere (UTF-8 when the locale is the plain C locale).
/// Characters the code page lacks become '?'. Null or empty input gives "".
std::string Utf8ToLocalCodePage(const char* utf8);

/// The error log's path under the current directory, with this platform's
/// separator.
const char* ErrorLogPath();

}  // namespace qrv::platform
