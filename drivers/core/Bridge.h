// Hands a library's calls to the driver host, a 32-bit Windows process that
// has loaded the maker's library of the same name: under wine on Linux,
// directly on Windows. Used only when the user names a directory of such
// libraries; otherwise nothing here runs.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "Frame.h"
#include "Result.h"

namespace drv::bridge {

inline constexpr const char* kDirVariable = "RQ905_WINDRIVERS";
inline constexpr const char* kCallVariable = "RQ905_WINDRIVERS_CALL";
inline constexpr const char* kHostName = "rq905-drvhost.exe";

// The directory named by the user, empty when none.
std::string DriverDirectory();

// The forwarded entry points. Init starts the host for library when none
// runs; the others act on handles that Init handed out.
std::uint32_t Init(const char* library, drvhost::Op form, std::uint32_t* handle, std::uint32_t param,
                   const std::uintptr_t* params) noexcept;
bool Owns(std::uint32_t handle) noexcept;
std::uint32_t SetConfig(std::uint32_t handle, std::uint32_t speed, std::uint32_t value,
                        std::uint32_t mode) noexcept;
std::uint32_t GetConfig(std::uint32_t handle, std::uint32_t* speed, std::uint32_t* value,
                        std::uint32_t* mode) noexcept;
std::uint32_t Send(std::uint32_t handle, const std::uint32_t* request, std::uint32_t* reply,
                   std::uint32_t* out, std::uint32_t* status) noexcept;
std::uint32_t Done(std::uint32_t* handle) noexcept;
// The text of code from the running host's library; false when no host
// runs or the code is the bridge's own.
bool Error(std::uint32_t code, std::uint32_t* text, std::uint32_t& result) noexcept;

// Starts the host for file and reads its first message: the outcome of
// loading, in missing the entry points absent (bit n for the n-th of
// Version ... Error), in error the system's code of a library that did not
// load. -1 when the host cannot be started at all.
int Probe(const std::string& file, bool cdeclCall, std::uint32_t& missing, std::uint32_t& error);

// ---- The host process, one file per platform -------------------------------

// A started host with its two pipes. It runs in a process group of its
// own, so that a Ctrl-C in the terminal reaches only its caller, which then
// decides; ending the host is the bridge's business alone.
class Child {
  public:
    using Clock = std::chrono::steady_clock;
    // Closes the host's input, which ends it; one that has not ended within
    // a second is killed.
    virtual ~Child() = default;
    // false once the host has ended or the pipe broke.
    virtual bool Write(const std::uint8_t* data, std::size_t n) = 0;
    // false also when the deadline passed first.
    virtual bool Read(std::uint8_t* data, std::size_t n, Clock::time_point deadline) = 0;
    // Ends the host at once, with any process it started.
    virtual void Kill() = 0;
};

// The host program beside this library (or program).
std::string HostPath();
// dir's file named name, letters of either case; empty when there is none.
std::string FindFile(const std::string& dir, const std::string& name);
// Starts host with its arguments; nullptr when it cannot be started.
std::unique_ptr<Child> Spawn(const std::string& host, const std::string& library, bool cdeclCall);

}  // namespace drv::bridge
