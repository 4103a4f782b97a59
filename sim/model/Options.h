// Command line of rq905-sim.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Faults.h"
#include "Module.h"

namespace sim {

enum class Pattern { Fixed, Walk, Count, Random };

struct Options {
    bool pty = false;
    std::string link;                      // symlink to the pty, if wanted
    std::optional<std::uint16_t> udpPort;  // 0 picks a free port
    std::string bindAddress = "127.0.0.1";
    std::string statePath = "rq905-sim.state";
    bool fresh = false;
    unsigned modules = 1;
    std::uint8_t firstAddress = 1;
    std::uint8_t speedIndex = 4;
    Identity identity;
    std::uint8_t inputs = 0;
    Pattern pattern = Pattern::Fixed;
    unsigned patternMs = 500;
    std::vector<std::uint8_t> stuckRegisters;
    bool anySpeed = false;
    bool lineTime = false;
    unsigned turnaroundMs = 2;  // of the line-time emulation
    bool trace = false;
    FaultRates faults;
    unsigned delayMs = 250;
    std::uint64_t seed = 1;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

// With no transport chosen, the simulator serves both a pty and UDP port
// kDefaultUdpPort.
inline constexpr std::uint16_t kDefaultUdpPort = 3180;

// Windows has no pseudo-terminals: there the simulator serves UDP only and
// refuses the options that need one.
#ifdef _WIN32
inline constexpr bool kPtyAvailable = false;
#else
inline constexpr bool kPtyAvailable = true;
#endif

// A number of the command line or the console by the integer rule of the
// program and rq905ctl (core/IntText.h: "010" is ten, hexadecimal takes
// "$" or "0x"), from 0 to max; hexadecimal may use all 32 bits.
std::optional<unsigned long> ParseNumber(const std::string& text, unsigned long max);

// nullopt with a reason on a bad command line.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string* error,
                                    bool ptyAvailable = kPtyAvailable);
const char* UsageText(bool ptyAvailable = kPtyAvailable);

}  // namespace sim
