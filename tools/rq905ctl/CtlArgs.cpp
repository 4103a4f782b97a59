#include "CtlArgs.h"

#include <algorithm>
#include <array>
#include <span>
#include <string_view>

#include "core/Cp1250.h"
#include "core/IntText.h"
#include "link/Txxx318.h"

namespace {

constexpr uint32_t Bit(TCommand c) { return 1u << static_cast<unsigned>(c); }
constexpr uint32_t kFileCommands =
    Bit(TCommand::ConfigSave) | Bit(TCommand::ConfigApply) | Bit(TCommand::ConfigDiff);
constexpr uint32_t kAllCommands =
    Bit(TCommand::Identify) | Bit(TCommand::ConfigRead) | Bit(TCommand::ConfigWrite) | Bit(TCommand::Dout) |
    Bit(TCommand::Pwm) | Bit(TCommand::Din) | Bit(TCommand::Status) | Bit(TCommand::Scan) | kFileCommands |
    Bit(TCommand::Ports) | Bit(TCommand::Send) | Bit(TCommand::Commission);

// What follows a command word: nothing, a number (dout, pwm), a file, or
// the bytes of a request (send).
enum class TOperand : uint8_t { None, Number, File, Request };

struct TCommandWord {
    const char* name;
    const char* word;
    const char* subWord;  // nullptr: none
    TCommand command;
    TOperand operand;
};
constexpr std::array kCommandWords{
    TCommandWord{"identify", "identify", nullptr, TCommand::Identify, TOperand::None},
    TCommandWord{"config read", "config", "read", TCommand::ConfigRead, TOperand::None},
    TCommandWord{"config write", "config", "write", TCommand::ConfigWrite, TOperand::None},
    TCommandWord{"config save", "config", "save", TCommand::ConfigSave, TOperand::File},
    TCommandWord{"config apply", "config", "apply", TCommand::ConfigApply, TOperand::File},
    TCommandWord{"config diff", "config", "diff", TCommand::ConfigDiff, TOperand::File},
    TCommandWord{"dout", "dout", nullptr, TCommand::Dout, TOperand::Number},
    TCommandWord{"pwm", "pwm", nullptr, TCommand::Pwm, TOperand::Number},
    TCommandWord{"din", "din", nullptr, TCommand::Din, TOperand::None},
    TCommandWord{"status", "status", nullptr, TCommand::Status, TOperand::None},
    TCommandWord{"scan", "scan", nullptr, TCommand::Scan, TOperand::None},
    TCommandWord{"ports", "ports", nullptr, TCommand::Ports, TOperand::None},
    TCommandWord{"send", "send", nullptr, TCommand::Send, TOperand::Request},
    TCommandWord{"commission", "commission", nullptr, TCommand::Commission, TOperand::None},
};

constexpr const char* kConfigWords = "read, write, save, apply nebo diff";

// Reads a number by the program's integer rule and checks its range.
bool InRange(std::string_view text, int64_t min, int64_t max, int64_t& value) {
    int32_t v = 0;
    if (!TryStrToInt(text, v) || v < min || v > max) return false;
    value = v;
    return true;
}

template <typename T>
bool Number(std::string_view text, int64_t min, int64_t max, std::optional<T>& target) {
    int64_t v = 0;
    if (!InRange(text, min, max, v)) return false;
    target = static_cast<T>(v);
    return true;
}

bool Byte(std::string_view text, std::optional<uint8_t>& target) { return Number(text, 0, 255, target); }

bool LowerEquals(std::string_view a, std::string_view b) { return Cp1250EqualNoCase(a, b); }

bool Kind(std::string_view text, std::optional<uint8_t>& target) {
    static constexpr std::array<const char*, kKindCount> kNames{"com", "isa", "pci", "usb", "lan"};
    for (uint8_t k = 0; k < kKindCount; ++k) {
        if (LowerEquals(text, kNames[k])) {
            target = k;
            return true;
        }
    }
    return Number(text, 0, kKindCount - 1, target);
}

// The tool shows the base as hexadecimal digits and "h" (300h); that form
// is taken besides the integer rule.
bool IsaBase(std::string_view text, std::optional<uint16_t>& target) {
    if (text.size() > 1 && (text.back() == 'h' || text.back() == 'H')) {
        return Number("$" + std::string(text.substr(0, text.size() - 1)), 1, 0xFFFF, target);
    }
    return Number(text, 1, 0xFFFF, target);
}

// A period code 0..6, or the period itself in ms.
bool PwmPeriod(std::string_view text, std::optional<uint8_t>& code) {
    int64_t v = 0;
    if (!InRange(text, 0, 65535, v)) return false;
    for (uint8_t c = 0; c < kPwmPeriodCount; ++c) {
        if (v == c || v == kPwmPeriodMs[c]) {
            code = c;
            return true;
        }
    }
    return false;
}

struct TOptionSpec {
    const char* name;
    bool takesValue;
    uint32_t commands;  // where the option belongs
    const char* range;  // shown with a bad value
    bool (*apply)(TCtlOptions& o, std::string_view value);
};

constexpr uint32_t kConnected = kAllCommands & ~Bit(TCommand::Ports);
// ports shows the device of the COM port and ISA card the connection names.
constexpr uint32_t kDevices = kConnected | Bit(TCommand::Ports);
constexpr uint32_t kWrite = Bit(TCommand::ConfigWrite);
constexpr uint32_t kCommission = Bit(TCommand::Commission);
// Commands whose results have a CSV form.
constexpr uint32_t kCsv = Bit(TCommand::Din) | Bit(TCommand::Status) | Bit(TCommand::Scan) |
                          Bit(TCommand::ConfigRead) | Bit(TCommand::ConfigDiff) | Bit(TCommand::Send);
// Commands that may run many transactions.
constexpr uint32_t kStats = Bit(TCommand::Din) | Bit(TCommand::Status) | Bit(TCommand::Scan) |
                            Bit(TCommand::ConfigApply) | Bit(TCommand::Send) | kCommission;

const std::array kOptions{
    TOptionSpec{"--json", false, kAllCommands, "",
                [](TCtlOptions& o, std::string_view) { return o.json = true; }},
    TOptionSpec{"--settings", true, kAllCommands, "soubor",
                [](TCtlOptions& o, std::string_view v) {
                    o.settingsPath = std::string(v);
                    return !v.empty();
                }},
    TOptionSpec{"--kind", true, kConnected, "com, isa, pci, usb, lan nebo 0-4",
                [](TCtlOptions& o, std::string_view v) { return Kind(v, o.connection.kind); }},
    TOptionSpec{"--com", true, kDevices, "1-255",
                [](TCtlOptions& o, std::string_view v) { return Number(v, 1, 255, o.connection.comPort); }},
    TOptionSpec{"--isa-base", true, kDevices, "1-FFFFh",
                [](TCtlOptions& o, std::string_view v) { return IsaBase(v, o.connection.isaBase); }},
    TOptionSpec{"--ip", true, kConnected, "neprázdná adresa",
                [](TCtlOptions& o, std::string_view v) {
                    o.connection.ipAddress = Utf8ToCp1250(v);
                    return !v.empty();
                }},
    TOptionSpec{"--udp-port", true, kConnected, "1-65535",
                [](TCtlOptions& o, std::string_view v) { return Number(v, 1, 65535, o.connection.udpPort); }},
    TOptionSpec{"--udp-timeout", true, kConnected, "0-60000 ms",
                [](TCtlOptions& o, std::string_view v) {
                    return Number(v, 0, kMaxUdpTimeoutMs, o.connection.udpTimeout);
                }},
    TOptionSpec{"--address", true,
                kConnected & ~Bit(TCommand::Scan) & ~Bit(TCommand::ConfigApply) & ~kCommission, "0-255",
                [](TCtlOptions& o, std::string_view v) { return Byte(v, o.connection.address); }},
    // config apply serves many modules: the same option takes a list there.
    TOptionSpec{"--address", true, Bit(TCommand::ConfigApply), "adresy a rozsahy 0-255, např. 1,3,7-12",
                [](TCtlOptions& o, std::string_view v) { return ParseAddressList(v, o.addresses); }},
    TOptionSpec{"--speed", true, kConnected & ~kCommission, "600-115200 Bd",
                [](TCtlOptions& o, std::string_view v) {
                    std::optional<uint8_t> index;
                    if (!ParseLineSpeed(v, index)) return false;
                    o.connection.speed = kLineSpeeds[*index].baud;
                    return true;
                }},
    TOptionSpec{"--bus-address", true, kWrite, "0-255",
                [](TCtlOptions& o, std::string_view v) { return Byte(v, o.changes.busAddress); }},
    TOptionSpec{"--line-speed", true, kWrite, "600-115200 Bd",
                [](TCtlOptions& o, std::string_view v) { return ParseLineSpeed(v, o.changes.speedIndex); }},
    TOptionSpec{"--din-negation", true, kWrite, "0-255",
                [](TCtlOptions& o, std::string_view v) { return Byte(v, o.changes.dinNegation); }},
    TOptionSpec{"--dout-negation", true, kWrite, "0-255",
                [](TCtlOptions& o, std::string_view v) { return Byte(v, o.changes.doutNegation); }},
    TOptionSpec{"--dout-initial", true, kWrite, "0-255",
                [](TCtlOptions& o, std::string_view v) { return Byte(v, o.changes.doutInitial); }},
    TOptionSpec{"--pwm-period", true, kWrite, "kód 0-6 nebo 1024, 2048, ... 65535 ms",
                [](TCtlOptions& o, std::string_view v) { return PwmPeriod(v, o.changes.pwmPeriod); }},
    TOptionSpec{"--pwm-initial", true, kWrite, "0-65535",
                [](TCtlOptions& o, std::string_view v) { return Number(v, 0, 65535, o.changes.pwmInitial); }},
    TOptionSpec{"--pwm-negation", true, kWrite, "on nebo off",
                [](TCtlOptions& o, std::string_view v) { return ParseOnOff(v, o.changes.pwmNegation); }},
    TOptionSpec{"--watch", false, Bit(TCommand::Din) | Bit(TCommand::Status), "",
                [](TCtlOptions& o, std::string_view) { return o.watch = true; }},
    TOptionSpec{"--count", true, Bit(TCommand::Din) | Bit(TCommand::Status), "1-2147483647",
                [](TCtlOptions& o, std::string_view v) { return Number(v, 1, INT32_MAX, o.count); }},
    TOptionSpec{"--clear", false, Bit(TCommand::Status), "",
                [](TCtlOptions& o, std::string_view) { return o.clear = true; }},
    TOptionSpec{"--from", true, Bit(TCommand::Scan), "0-255",
                [](TCtlOptions& o, std::string_view v) {
                    std::optional<uint8_t> a;
                    if (!Byte(v, a)) return false;
                    o.scanFrom = *a;
                    return true;
                }},
    TOptionSpec{"--to", true, Bit(TCommand::Scan), "0-255",
                [](TCtlOptions& o, std::string_view v) {
                    std::optional<uint8_t> a;
                    if (!Byte(v, a)) return false;
                    o.scanTo = *a;
                    return true;
                }},
    TOptionSpec{"--speeds", true, Bit(TCommand::Scan), "all nebo rychlosti v Bd, např. 9600,1200",
                [](TCtlOptions& o, std::string_view v) { return ParseSpeedList(v, o.scanSpeeds); }},
    TOptionSpec{"--first", false, Bit(TCommand::Scan), "",
                [](TCtlOptions& o, std::string_view) { return o.scanFirst = true; }},
    TOptionSpec{
        "--scan-wait-ms", true, Bit(TCommand::Scan), "1-100 ms",
        [](TCtlOptions& o, std::string_view v) { return Number(v, 1, kMaxScanWaitMs, o.scanWaitMs); }},
    TOptionSpec{"--trace", true, kConnected, "soubor nebo -",
                [](TCtlOptions& o, std::string_view v) {
                    o.trace = std::string(v);
                    return !v.empty();
                }},
    TOptionSpec{"--include-address", false, Bit(TCommand::ConfigApply) | Bit(TCommand::ConfigDiff), "",
                [](TCtlOptions& o, std::string_view) { return o.includeAddress = true; }},
    TOptionSpec{"--targets", true, Bit(TCommand::ConfigApply) | Bit(TCommand::ConfigDiff), "soubor nebo -",
                [](TCtlOptions& o, std::string_view v) {
                    o.targets = std::string(v);
                    return !v.empty();
                }},
    TOptionSpec{"--keep-going", false, Bit(TCommand::ConfigApply), "",
                [](TCtlOptions& o, std::string_view) { return o.keepGoing = true; }},
    // commission: where new modules are found and what they are given.
    TOptionSpec{"--first", true, kCommission, "0-255",
                [](TCtlOptions& o, std::string_view v) { return Byte(v, o.first); }},
    TOptionSpec{"--count", true, kCommission, "1-256",
                [](TCtlOptions& o, std::string_view v) {
                    std::optional<uint32_t> n;
                    if (!Number(v, 1, 256, n)) return false;
                    o.commissionCount = *n;
                    return true;
                }},
    TOptionSpec{"--speed", true, kCommission, "600-115200 Bd",
                [](TCtlOptions& o, std::string_view v) { return ParseLineSpeed(v, o.commissionSpeed); }},
    TOptionSpec{"--from-address", true, kCommission, "0-255",
                [](TCtlOptions& o, std::string_view v) {
                    std::optional<uint8_t> a;
                    if (!Byte(v, a)) return false;
                    o.fromAddress = *a;
                    return true;
                }},
    TOptionSpec{"--from-speed", true, kCommission, "600-115200 Bd",
                [](TCtlOptions& o, std::string_view v) {
                    std::optional<uint8_t> index;
                    if (!ParseLineSpeed(v, index)) return false;
                    o.fromSpeed = *index;
                    return true;
                }},
    TOptionSpec{"--yes", false, kCommission, "",
                [](TCtlOptions& o, std::string_view) { return o.yes = true; }},
    TOptionSpec{"--repeat", true, Bit(TCommand::Send), "1-2147483647",
                [](TCtlOptions& o, std::string_view v) { return Number(v, 1, INT32_MAX, o.repeat); }},
    TOptionSpec{"--stats", false, kStats, "",
                [](TCtlOptions& o, std::string_view) { return o.stats = true; }},
    TOptionSpec{"--csv", false, kCsv, "", [](TCtlOptions& o, std::string_view) { return o.csv = true; }},
    TOptionSpec{"--output", true, kCsv, "soubor",
                [](TCtlOptions& o, std::string_view v) {
                    o.output = std::string(v);
                    return !v.empty();
                }},
};

// The option's entry for the command, or else its first entry.
const TOptionSpec* FindOption(std::string_view name, TCommand command = TCommand::None) {
    const TOptionSpec* first = nullptr;
    for (const TOptionSpec& spec : kOptions) {
        if (name != spec.name) continue;
        if ((spec.commands & Bit(command)) != 0) return &spec;
        if (first == nullptr) first = &spec;
    }
    return first;
}

// The command the words typed so far name, if any.
TCommand CommandOf(const std::vector<std::string>& words) {
    for (const TCommandWord& w : kCommandWords) {
        if (!words.empty() && words[0] == w.word &&
            (w.subWord == nullptr || (words.size() > 1 && words[1] == w.subWord)))
            return w.command;
    }
    return TCommand::None;
}

struct TGivenOption {
    const TOptionSpec* spec;
    std::string value;
};

TParseResult Fail(std::string text) {
    TParseResult r;
    r.error = std::move(text);
    return r;
}

// The texts name what the user typed, which is UTF-8.
std::string Typed(std::string_view text) { return Utf8ToCp1250(text); }

}  // namespace

bool ParseAddressList(std::string_view text, std::vector<uint8_t>& addresses) {
    std::vector<uint8_t> list;
    std::array<bool, 256> seen{};
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        // The dash of a range is the first one past the start, so that a
        // leading sign still reaches the integer rule and fails there.
        const std::size_t dash = item.find('-', 1);
        int64_t from = 0;
        int64_t to = 0;
        if (!InRange(item.substr(0, dash), 0, 255, from)) return false;
        to = from;
        if (dash != std::string_view::npos && !InRange(item.substr(dash + 1), from, 255, to)) return false;
        for (int64_t a = from; a <= to; ++a) {
            if (!seen[static_cast<std::size_t>(a)]) list.push_back(static_cast<uint8_t>(a));
            seen[static_cast<std::size_t>(a)] = true;
        }
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    addresses = std::move(list);
    return true;
}

// Line speeds in Bd only: an index would be easy to mistake for a speed.
bool ParseSpeedList(std::string_view text, std::vector<uint8_t>& indices) {
    std::array<bool, kSpeedCount> chosen{};
    if (LowerEquals(text, "all")) {
        chosen.fill(true);
    } else {
        while (true) {
            const std::size_t comma = text.find(',');
            std::optional<uint8_t> index;
            if (!ParseLineSpeed(text.substr(0, comma), index)) return false;
            chosen[*index] = true;
            if (comma == std::string_view::npos) break;
            text.remove_prefix(comma + 1);
        }
    }
    // A fast speed costs least per address, so it goes first.
    indices.clear();
    for (uint8_t i = kSpeedCount; i-- > 0;) {
        if (chosen[i]) indices.push_back(i);
    }
    return true;
}

const char* CommandName(TCommand command) {
    for (const TCommandWord& w : kCommandWords) {
        if (w.command == command) return w.name;
    }
    return "";
}

TParseResult ParseArgs(const std::vector<std::string>& args) {
    TParseResult result;
    TCtlOptions& o = result.options;
    if (std::find(args.begin(), args.end(), "--version") != args.end()) {
        o.version = true;
        result.ok = true;
        return result;
    }
    std::vector<TGivenOption> given;
    std::vector<std::string> words;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            o.help = true;
            continue;
        }

        if (arg.rfind("--", 0) != 0) {
            words.push_back(arg);
            continue;
        }
        const std::size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        // An option may take a value with one command and none with another
        // (--first): the command, usually typed first, decides.
        const TOptionSpec* spec = FindOption(name, CommandOf(words));
        if (spec == nullptr) return Fail("neznámá volba " + Typed(name));
        if (!spec->takesValue) {
            if (eq != std::string::npos) return Fail("volba " + name + " nemá hodnotu");
            given.push_back({spec, {}});
        } else if (eq != std::string::npos) {
            given.push_back({spec, arg.substr(eq + 1)});
        } else if (i + 1 < args.size()) {
            given.push_back({spec, args[++i]});
        } else {
            return Fail("chybí hodnota volby " + name);
        }
    }

    std::size_t used = 0;
    if (!words.empty()) {
        const TCommandWord* match = nullptr;
        for (const TCommandWord& w : kCommandWords) {
            if (words[0] != w.word) continue;
            if (w.subWord == nullptr || (words.size() > 1 && words[1] == w.subWord)) {
                match = &w;
                break;
            }
        }
        if (match == nullptr) {
            if (words[0] == "config") {
                if (o.help) {
                    o.command = TCommand::ConfigRead;  // both halves share one help text
                    result.ok = true;
                    return result;
                }
                return Fail(words.size() > 1
                                ? "neznámý příkaz config " + Typed(words[1]) + " (" + kConfigWords + ")"
                                : std::string("chybí ") + kConfigWords + " za příkazem config");
            }
            return Fail("neznámý příkaz " + Typed(words[0]));
        }
        o.command = match->command;
        used = match->subWord == nullptr ? 1 : 2;
        if (match->operand == TOperand::File) {
            if (words.size() <= used || words[used].empty()) {
                if (!o.help) return Fail("chybí soubor příkazu " + std::string(match->name));
            } else {
                o.file = words[used++];
            }
        } else if (match->operand == TOperand::Number) {
            if (words.size() <= used) {
                if (!o.help) return Fail("chybí hodnota příkazu " + std::string(match->word));
            } else {
                std::optional<uint16_t> v;
                const bool isDout = match->command == TCommand::Dout;
                if (!Number(words[used], 0, isDout ? 255 : 65535, v)) {
                    return Fail("neplatná hodnota příkazu " + std::string(match->word) + ": " +
                                Typed(words[used]) + (isDout ? " (0-255)" : " (0-65535)"));
                }
                o.value = *v;
                ++used;
            }
        } else if (match->operand == TOperand::Request) {
            // COMMAND INDEX [D0 D1 D2 D3 D4], each a byte.
            static constexpr const char* kNames[] = {"COMMAND", "INDEX", "D0", "D1", "D2", "D3", "D4"};
            if (words.size() < used + 2 && !o.help) return Fail("send: chybí COMMAND a INDEX");
            for (std::size_t n = 0; n < 7 && used < words.size(); ++n, ++used) {
                std::optional<uint8_t> v;
                if (!Byte(words[used], v)) {
                    return Fail("send: neplatná hodnota " + std::string(kNames[n]) + ": " +
                                Typed(words[used]) + " (0-255)");
                }
                if (n == 0) {
                    o.sendCommand = *v;
                } else if (n == 1) {
                    o.sendIndex = *v;
                } else {
                    o.sendData[n - 2] = *v;
                }
            }
        }
    }
    if (o.help) {
        result.ok = true;
        return result;
    }
    if (o.command == TCommand::None) return Fail("chybí příkaz");
    if (used < words.size()) return Fail("nadbytečný argument " + Typed(words[used]));

    for (const TGivenOption& g : given) {
        const TOptionSpec* spec = FindOption(g.spec->name, o.command);
        if ((spec->commands & Bit(o.command)) == 0) {
            return Fail("volba " + std::string(spec->name) + " nepatří k příkazu " + CommandName(o.command));
        }
        if (!spec->apply(o, g.value)) {
            return Fail("neplatná hodnota volby " + std::string(spec->name) + ": " + Typed(g.value) + " (" +
                        spec->range + ")");
        }
    }
    if (o.command == TCommand::ConfigWrite && o.changes.Empty())
        return Fail("config write: chybí hodnota k zápisu");
    if (o.count && !o.watch) return Fail("volba --count patří k --watch");
    if (o.stats && (o.command == TCommand::Din || o.command == TCommand::Status) && !o.watch)
        return Fail("volba --stats patří k --watch");
    if (o.stats && o.command == TCommand::Send && !o.repeat) return Fail("volba --stats patří k --repeat");
    if (o.csv && o.json) return Fail("volby --csv a --json nelze spojit");
    if (o.csv && o.clear) return Fail("volby --csv a --clear nelze spojit");
    if (o.clear && o.watch) return Fail("volby --clear a --watch nelze spojit");
    if (o.scanFrom > o.scanTo) return Fail("rozsah adres: --from je větší než --to");
    if (o.command == TCommand::Commission) {
        if (!o.first) return Fail("commission: chybí --first ADRESA");
        if (*o.first + o.commissionCount - 1 > 255) return Fail("commission: adresy by přesáhly 255");
        // A module left at the address new ones come to would answer with
        // each of them; only the last may keep it.
        if (o.fromAddress >= *o.first && o.fromAddress < *o.first + o.commissionCount - 1)
            return Fail("commission: --from-address smí mezi přidělenými adresami být jen jako poslední");
    }
    if (o.targets && (o.addresses.size() + o.connection.address.has_value() > 0 || o.includeAddress))
        return Fail("--targets nelze spojit s --address ani s --include-address");
    if (o.targets && o.csv) return Fail("--targets nelze spojit s --csv");
    if (o.command == TCommand::ConfigApply) {
        if (o.addresses.empty() && !o.targets)
            return Fail("config apply: chybí --address SEZNAM nebo --targets");
        // A second module taking the same address would share it on the bus.
        if (o.includeAddress && o.addresses.size() > 1)
            return Fail("config apply: --include-address jen pro jednu adresu");
    }
    result.ok = true;
    return result;
}
