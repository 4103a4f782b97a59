// Result codes of the driver libraries (0..99). Every entry point returns one
// of these, and Error gives its Czech text.
#pragma once

#include <cstdint>

namespace drv {

enum class Result : std::uint32_t {
    Ok = 0,
    BadHandle = 1,
    BadParameter = 2,
    OpenFailed = 3,
    DeviceBusy = 4,
    NoDevice = 5,
    BadSpeed = 6,
    PortSetupFailed = 7,
    WriteFailed = 8,
    ReadFailed = 9,
    // The program's own interface layer answers 10 when an entry point is
    // missing; its text comes from the bound library, so it has one here.
    NotAvailable = 10,
    Timeout = 11,
    CrcError = 12,
    ForeignAddress = 13,
    BadReply = 14,
    OutOfMemory = 15,
    TooManyLinks = 16,
    BadIpAddress = 17,
    BadUdpPort = 18,
    SocketError = 19,
    Unreachable = 20,
    ModuleUnknownCommand = 21,
    ModuleUnknownIndex = 22,
    ModuleBadData = 23,
    ModuleFailure = 24,
    InternalError = 25,
    BadMode = 26,
    BadTimeout = 27,
    HostNotFound = 28,
    // The maker's Windows library behind the driver host.
    HostNotStarted = 29,
    HostEnded = 30,
    // Two answers to one request: modules sharing an address.
    Collision = 31,
    // The program asked to give the wait up (RQ905_CANCEL_FD).
    Cancelled = 32,
};

constexpr std::uint32_t Code(Result r) { return static_cast<std::uint32_t>(r); }

// Czech text of a code, as a Windows-1250 narrow string (the build's
// execution character set); codes without a meaning get a generic text.
const char* ResultText(std::uint32_t code);

}  // namespace drv
