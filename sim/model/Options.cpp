#include "Options.h"

#include "core/IntText.h"

#include <cstdlib>
#include <functional>
#include <map>

namespace sim {

namespace {

std::optional<double> Probability(const std::string& text) {
    char* end = nullptr;
    const double p = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(p >= 0 && p <= 1)) {
        return std::nullopt;
    }
    return p;
}

// Without a pty, the text leaves out what only a pty does.
std::string Usage(bool pty) {
    std::string text = pty ? R"(Usage: rq905-sim [options]
Simulates RQ-905 modules on one bus, reachable over a pseudo-terminal (for
the serial drivers) and/or UDP (for the LAN converter driver). Without
--pty or --udp it serves both: a new pty and UDP 127.0.0.1:3180.
)"
                           : R"(Usage: rq905-sim [options]
Simulates RQ-905 modules on one bus, reachable over UDP (for the LAN
converter driver). Without --udp it serves UDP 127.0.0.1:3180.
)";
    text += "\nTransports\n";
    if (pty) {
        text += R"(  --pty                 serve on a new pseudo-terminal; its path is printed
                        as "pty PATH"
  --link PATH           also make PATH a symlink to the pty (implies --pty)
)";
    }
    text += R"(  --udp PORT            serve UDP on PORT (0 = any free port); printed as
                        "udp ADDR:PORT"
  --bind ADDR           UDP address to bind (default 127.0.0.1)

Modules and their stored state
  --state PATH          state file (default)";
    text += pty ? " ./rq905-sim.state);\n"
                : "\n                        %LOCALAPPDATA%\\RQ-905\\rq905-sim.state);\n";
    text += R"(                        register writes are saved there at once (atomic
                        rename), and a new bus address or speed takes
                        effect at the next start
  --fresh               start from factory settings, ignoring the file
  --modules N           modules on the bus when starting fresh (default 1)
  --address A           bus address of the first fresh module (default 1;
                        the next ones get A+1, ...)
  --speed BD            line speed of fresh modules (default 9600)
  --name TEXT           identification name, 8 characters ("RQ-905  ")
  --ident-version TEXT  identification version, 4 characters ("1.02")
  --stuck-register R    register R accepts writes but keeps its value, to
                        provoke read-back mismatches (repeatable)

Inputs
  --inputs VALUE        input pins, before the input negation (default 0)
  --pattern KIND        fixed (default), walk (one pin moving), count
                        (binary counter) or random
  --pattern-ms MS       step of the pattern (default 500)

Line and faults
)";
    if (pty) {
        text += R"(  --any-speed           answer on the pty whatever speed the driver set;
                        by default a request at another speed than the
                        module's is taken as garbage and ignored
  --line-time           emulate the line at the module's speed: let the
                        request's line time pass, then the turnaround, then
                        send the reply's bytes paced at the line speed (over
                        UDP the whole datagram after the reply's line time)
)";
    } else {
        text += R"(  --line-time           emulate the line at the module's speed: let the
                        request's line time pass, then the turnaround and the
                        reply's line time, then send the reply
)";
    }
    text += R"(  --turnaround-ms MS    the module's turnaround under --line-time (default 2)
  --drop P              probability that a reply is lost
  --corrupt P           probability that one bit of a reply flips
  --delay P             probability that a reply is held for --delay-ms
  --wrong-address P     probability that the reply names another address
  --noise P             probability of random bytes before a reply
  --faults P            total probability, split evenly among the five
  --delay-ms MS         hold time of a delayed reply (default 250)
  --seed N              seed of the fault and pattern generator (default 1)

Other
  --quiet               print only the startup lines and command answers
  --trace               print every frame received and sent, with the local
                        time, in the notation of the drivers' trace
  --help                this text
  --version             print the program's version and exit

Console commands (stdin), each answered by "ok" or "error: ..."; a line
longer than 4096 bytes is answered by one "error: line too long":
  inputs [ADDR] VALUE   set input pins (all modules without ADDR)
  status [ADDR] BITS    raise status register bits: 0x02 FN, 0x04 PRF,
                        0x10 PWR, 0x20 RST, 0x40 ERR24
  faults WORD...        e.g. "faults drop=0.1 noise=0.05", "faults all=0.2",
                        "faults off"
  silent on|off         stop/restart answering at all
  add [ADDR [BD]]       connect a new module with factory settings (default
                        the --address and --speed of a fresh start); several
                        modules at one address all answer)";
    text += pty ? R"(: overlapping on
                        the pty, one datagram each over UDP
)"
                : R"(, one datagram
                        each
)";
    text += R"(  remove ADDR           disconnect the module connected last at ADDR
  restart [ADDR]        power modules off and on: stored address and speed
                        take effect
  show                  print every module's state
  help                  this list
  quit                  save and exit )";
    text += pty ? "(also on SIGINT/SIGTERM)\n" : "(also on Ctrl+C)\n";
    return text;
}

}  // namespace

const char* UsageText(bool ptyAvailable) {
    static const std::string withPty = Usage(true);
    static const std::string withoutPty = Usage(false);
    return (ptyAvailable ? withPty : withoutPty).c_str();
}

std::optional<unsigned long> ParseNumber(const std::string& text, unsigned long max) {
    int32_t value = 0;
    // The rule takes hexadecimal as a signed 32-bit value; only a sign
    // makes a number negative here.
    if (!TryStrToInt(text, value) || text.find('-') != std::string::npos) {
        return std::nullopt;
    }
    const unsigned long number = static_cast<std::uint32_t>(value);
    if (number > max) {
        return std::nullopt;
    }
    return number;
}

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string* error,
                                    bool ptyAvailable) {
    Options o;
    bool transportChosen = false;
    auto fail = [&](const std::string& why) -> std::optional<Options> {
        if (error != nullptr) {
            *error = why;
        }
        return std::nullopt;
    };
    using Setter = std::function<bool(const std::string&)>;
    auto probability = [&](double FaultRates::*member) {
        return Setter([&o, member](const std::string& v) {
            const auto p = Probability(v);
            if (p) {
                o.faults.*member = *p;
            }
            return p.has_value();
        });
    };
    const std::map<std::string, Setter> withValue = {
        {"--link",
         [&](const std::string& v) {
             o.link = v;
             o.pty = true;
             transportChosen = true;
             return !v.empty();
         }},
        {"--udp",
         [&](const std::string& v) {
             const auto n = ParseNumber(v, 65535);
             if (n) {
                 o.udpPort = static_cast<std::uint16_t>(*n);
                 transportChosen = true;
             }
             return n.has_value();
         }},
        {"--bind",
         [&](const std::string& v) {
             o.bindAddress = v;
             return !v.empty();
         }},
        {"--state",
         [&](const std::string& v) {
             o.statePath = v;
             return !v.empty();
         }},
        {"--modules",
         [&](const std::string& v) {
             const auto n = ParseNumber(v, 256);
             if (n && *n > 0) {
                 o.modules = static_cast<unsigned>(*n);
                 return true;
             }
             return false;
         }},
        {"--address",
         [&](const std::string& v) {
             const auto n = ParseNumber(v, 255);
             if (n) {
                 o.firstAddress = static_cast<std::uint8_t>(*n);
             }
             return n.has_value();
         }},
        {"--speed",
         [&](const std::string& v) {
             const auto n = ParseNumber(v, 1'000'000);
             const auto index = n ? wire::SpeedIndex(static_cast<std::uint32_t>(*n)) : std::nullopt;
             if (index) {
                 o.speedIndex = *index;
             }
             return index.has_value();
         }},
        {"--name",
         [&](const std::string& v) {
             o.identity.name = v;
             return v.size() <= 8;
         }},
        {"--ident-version",
         [&](const std::string& v) {
             o.identity.version = v;
             return v.size() <= 4;
         }},
        {"--stuck-register",
         [&](const std::string& v) {
             const auto n = ParseNumber(v, 255);
             if (n && RegisterSlot(static_cast<std::uint8_t>(*n))) {
                 o.stuckRegisters.push_back(static_cast<std::uint8_t>(*n));
                 return true;
             }
             return false;
         }},
        {"--inputs",
         [&](const std::string& v) {
             const auto n = ParseNumber(v, 255);
             if (n) {
                 o.inputs = static_cast<std::uint8_t>(*n);
             }
             return n.has_value();
         }},
        {"--pattern",
         [&](const std::string& v) {
             const std::map<std::string, Pattern> kinds = {{"fixed", Pattern::Fixed},
                                                           {"walk", Pattern::Walk},
                                                           {"count", Pattern::Count},
                                                           {"random", Pattern::Random}};
             const auto it = kinds.find(v);
             if (it != kinds.end()) {
                 o.pattern = it->second;
             }
             return it != kinds.end();
         }},
        {"--pattern-ms",
         [&](const std::string& v) {
             const auto n = ParseNumber(v, 3'600'000);
             if (n && *n > 0) {
                 o.patternMs = static_cast<unsigned>(*n);
                 return true;
             }
             return false;
         }},
        {"--drop", probability(&FaultRates::drop)},
        {"--corrupt", probability(&FaultRates::corrupt)},
        {"--delay", probability(&FaultRates::delay)},
        {"--wrong-address", probability(&FaultRates::wrongAddress)},
        {"--noise", probability(&FaultRates::noise)},
        {"--faults",
         [&](const std::string& v) {
             const auto p = Probability(v);
             if (p) {
                 o.faults = FaultRates::Even(*p);
             }
             return p.has_value();
         }},
        {"--turnaround-ms",
         [&](const std::string& v) {
             const auto n = ParseNumber(v, 1000);
             if (n) {
                 o.turnaroundMs = static_cast<unsigned>(*n);
             }
             return n.has_value();
         }},
        {"--delay-ms",
         [&](const std::string& v) {
             const auto n = ParseNumber(v, 60'000);
             if (n) {
                 o.delayMs = static_cast<unsigned>(*n);
             }
             return n.has_value();
         }},
        {"--seed",
         [&](const std::string& v) {
             const auto n = ParseNumber(v, ~0UL);
             if (n) {
                 o.seed = *n;
             }
             return n.has_value();
         }},
    };
    const std::map<std::string, bool Options::*> flags = {
        {"--fresh", &Options::fresh},        {"--any-speed", &Options::anySpeed},
        {"--line-time", &Options::lineTime}, {"--quiet", &Options::quiet},
        {"--help", &Options::help},          {"--version", &Options::version},
        {"--trace", &Options::trace},
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!ptyAvailable && (arg == "--pty" || arg == "--link" || arg == "--any-speed")) {
            return fail(arg + " needs a pseudo-terminal, which Windows lacks: the simulator serves UDP only");
        }
        if (arg == "--pty") {
            o.pty = true;
            transportChosen = true;
        } else if (const auto flag = flags.find(arg); flag != flags.end()) {
            o.*(flag->second) = true;
        } else if (const auto setter = withValue.find(arg); setter != withValue.end()) {
            if (i + 1 >= args.size()) {
                return fail(arg + " needs a value");
            }
            if (!setter->second(args[++i])) {
                return fail("bad value for " + arg + ": '" + args[i] + "'");
            }
        } else {
            return fail("unknown option '" + arg + "' (try --help)");
        }
    }
    if (o.faults.Total() > 1.0 + 1e-9) {
        return fail("fault probabilities add up to more than 1");
    }
    if (o.firstAddress + o.modules - 1 > 255) {
        return fail("--address + --modules runs past address 255");
    }
    if (!transportChosen) {
        o.pty = ptyAvailable;
        o.udpPort = kDefaultUdpPort;
    }
    return o;
}

}  // namespace sim
