// Where a driver's trace lines go, and the little a trace needs from the
// platform (a local clock, the process id). One file per platform
// implements it.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

namespace drv {

// Names the trace file; "-" is standard error. Read at each Init.
inline constexpr const char* kTraceVariable = "RQ905_TRACE";

class TraceSink {
  public:
    virtual ~TraceSink() = default;
    // Writes one whole line at once, so processes that share a file never
    // split each other's lines. A trace must never change what the driver
    // does: the first write that fails (a reader gone, a full disk) turns
    // the sink off, with one warning on standard error, and never raises a
    // signal.
    virtual void Append(std::string_view line) = 0;
};

// The sink a name stands for, or null when the name is null or empty or
// the file cannot be opened; that is told on standard error, in the name of
// library. Opening never waits (a FIFO with no reader fails at once).
std::shared_ptr<TraceSink> OpenTraceSink(const char* name, const char* library);

// One line (UTF-8, with its line end) on standard error, the one way a
// library tells the user something; it never raises SIGPIPE.
void WarnLine(std::string_view line);

// "2025-01-10 14:03:07.123456", the local time.
void AppendLocalTime(std::string& out, std::chrono::system_clock::time_point time);
// The platform's thread-safe conversion to local time.
void LocalTime(std::time_t seconds, std::tm& local);

std::uint32_t ProcessId();

}  // namespace drv
