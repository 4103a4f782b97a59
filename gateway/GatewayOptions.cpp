#include "GatewayOptions.h"

#include <arpa/inet.h>

#include <array>
#include <fstream>
#include <set>
#include <sstream>

#include "core/Dekl.h"
#include "core/IntText.h"
#include "link/Txxx318.h"

namespace {

bool Number(std::string_view text, int32_t low, int32_t high, int32_t& value) {
    return TryStrToInt(text, value) && value >= low && value <= high;
}

template <typename T>
bool NumberInto(std::string_view text, int32_t low, int32_t high, std::optional<T>& target) {
    int32_t value = 0;
    if (!Number(text, low, high, value)) return false;
    target = static_cast<T>(value);
    return true;
}

bool Kind(std::string_view text, std::optional<uint8_t>& kind) {
    static constexpr std::array<const char*, kKindCount> kNames{"com", "isa", "pci", "usb", "lan"};
    for (uint8_t k = 0; k < kKindCount; ++k) {
        if (text == kNames[k]) {
            kind = k;
            return true;
        }
    }
    return NumberInto(text, 0, kKindCount - 1, kind);
}

struct TOption {
    const char* name;
    bool takesValue;
    bool (*apply)(TGatewayOptions& o, std::string_view value);
};

const std::array kOptions{
    TOption{"--help", false, [](TGatewayOptions& o, std::string_view) { return o.help = true; }},
    TOption{"--version", false, [](TGatewayOptions& o, std::string_view) { return o.version = true; }},
    TOption{"--config", true,
            [](TGatewayOptions& o, std::string_view v) {
                o.configPath = std::string(v);
                return !v.empty();
            }},
    TOption{"--kind", true,
            [](TGatewayOptions& o, std::string_view v) { return Kind(v, o.connection.kind); }},
    TOption{
        "--com", true,
        [](TGatewayOptions& o, std::string_view v) { return NumberInto(v, 1, 255, o.connection.comPort); }},
    TOption{"--isa-base", true,
            [](TGatewayOptions& o, std::string_view v) {
                return NumberInto(v, 1, 0xFFFF, o.connection.isaBase);
            }},
    TOption{"--ip", true,
            [](TGatewayOptions& o, std::string_view v) {
                o.connection.ipAddress = std::string(v);
                return !v.empty();
            }},
    TOption{
        "--udp-port", true,
        [](TGatewayOptions& o, std::string_view v) { return NumberInto(v, 1, 65535, o.connection.udpPort); }},
    TOption{"--udp-timeout", true,
            [](TGatewayOptions& o, std::string_view v) {
                return NumberInto(v, 0, kMaxUdpTimeoutMs, o.connection.udpTimeout);
            }},
    TOption{"--speed", true,
            [](TGatewayOptions& o, std::string_view v) {
                std::optional<uint8_t> index;
                if (!ParseLineSpeed(v, index)) return false;
                o.connection.speed = kLineSpeeds[*index].baud;
                return true;
            }},
    TOption{"--address", true,
            [](TGatewayOptions& o, std::string_view v) {
                o.addresses.clear();
                return ParseAddressList(v, o.addresses);
            }},
    TOption{"--targets", true,
            [](TGatewayOptions& o, std::string_view v) {
                o.targets = std::string(v);
                return !v.empty();
            }},
    TOption{"--modbus", true,
            [](TGatewayOptions& o, std::string_view v) { return ParseListen(v, o.modbus); }},
    TOption{"--metrics", true,
            [](TGatewayOptions& o, std::string_view v) {
                TListen listen;
                if (!ParseListen(v, listen)) return false;
                o.metrics = listen;
                return true;
            }},
    TOption{"--allow-write", false, [](TGatewayOptions& o, std::string_view) { return o.allowWrite = true; }},
    TOption{"--allow-config", false,
            [](TGatewayOptions& o, std::string_view) { return o.allowConfig = true; }},
    TOption{"--allow-from", true,
            [](TGatewayOptions& o, std::string_view v) { return ParseCidrList(v, o.allowFrom); }},
    TOption{"--poll-ms", true,
            [](TGatewayOptions& o, std::string_view v) {
                int32_t ms = 0;
                if (!Number(v, 10, 60000, ms)) return false;
                o.pollMs = static_cast<uint32_t>(ms);
                return true;
            }},
};

const TOption* Find(std::string_view name) {
    for (const TOption& option : kOptions) {
        if (name == option.name) return &option;
    }
    return nullptr;
}

bool Apply(const TOption& option, std::string_view value, TGatewayOptions& options, std::string& error) {
    if (option.apply(options, value)) return true;
    error = std::string("bad value of ") + option.name + ": \"" + std::string(value) + "\"";
    return false;
}

std::string_view Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string ConverterName(const TTarget& target) {
    switch (target.kind) {
        case kKindCom:
            return "com:" + IntToStr(target.comPort.value_or(1));
        case kKindIsa:
            return "isa:" + IntToStr(target.isaBase.value_or(0));
        case kKindPci:
            return "pci";
        case kKindUsb:
            return "usb";
        default:
            return "lan:" + target.host.value_or("") + ":" + IntToStr(target.udpPort.value_or(0));
    }
}

}  // namespace

bool ParseGatewayArgs(const std::vector<std::string>& args, TGatewayOptions& options, std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        std::optional<std::string_view> inlineValue;
        if (const std::size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            inlineValue = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
        }
        const TOption* option = Find(arg);
        if (option == nullptr) {
            error = "unknown option \"" + std::string(arg) + "\"";
            return false;
        }
        if (!option->takesValue) {
            if (inlineValue) {
                error = std::string(option->name) + " takes no value";
                return false;
            }
            if (!Apply(*option, {}, options, error)) return false;
            continue;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                error = std::string(option->name) + " needs a value";
                return false;
            }
            inlineValue = args[++i];
        }
        if (!Apply(*option, *inlineValue, options, error)) return false;
    }
    return true;
}

bool ParseGatewayConfig(std::string_view text, TGatewayOptions& options, std::string& error) {
    unsigned number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++number;
        line = Trim(line.substr(0, line.find('#')));
        if (line.empty()) continue;
        const std::size_t blank = line.find_first_of(" \t");
        const std::string name = "--" + std::string(line.substr(0, blank));
        const std::string_view value =
            blank == std::string_view::npos ? std::string_view() : Trim(line.substr(blank));
        const TOption* option = Find(name);
        if (option == nullptr || name == "--config" || name == "--help" || name == "--version") {
            error = "line " + IntToStr(number) + ": unknown option \"" + name.substr(2) + "\"";
            return false;
        }
        if (option->takesValue == value.empty()) {
            error = "line " + IntToStr(number) + ": " + name.substr(2) +
                    (option->takesValue ? " needs a value" : " takes no value");
            return false;
        }
        if (!Apply(*option, value, options, error)) {
            error = "line " + IntToStr(number) + ": " + error;
            return false;
        }
    }
    return true;
}

bool ParseListen(std::string_view text, TListen& listen) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    int32_t port = 0;
    if (!Number(text.substr(colon + 1), 0, 65535, port)) return false;
    listen.host = std::string(text.substr(0, colon));
    listen.port = static_cast<uint16_t>(port);
    return true;
}

bool ResolveLines(const TGatewayOptions& options, std::vector<TGatewayLine>& lines, std::string& error) {
    lines.clear();
    TData defaults;
    SetDefaults(&defaults);
    std::vector<TTarget> targets;
    if (options.targets) {
        if (!options.addresses.empty()) {
            error = "--targets and --address exclude each other";
            return false;
        }
        std::ifstream in(*options.targets, std::ios::binary);
        if (!in) {
            error = "cannot read " + *options.targets;
            return false;
        }
        std::ostringstream text;
        text << in.rdbuf();
        std::string reason;
        if (!ParseTargets(text.str(), targets, reason)) {
            error = *options.targets + ": " + reason;
            return false;
        }
    } else {
        if (options.addresses.empty()) {
            error = "no modules: give --address LIST or --targets FILE";
            return false;
        }
        TTarget target;
        target.kind = options.connection.kind.value_or(defaults.Kind);
        target.comPort = options.connection.comPort;
        target.isaBase = options.connection.isaBase;
        target.host = options.connection.ipAddress;
        target.udpPort = options.connection.udpPort;
        target.addresses = options.addresses;
        targets.push_back(target);
    }
    // The unit identifier is the bus address, so an address names one
    // module across all lines.
    std::set<uint8_t> seen;
    for (TTarget& target : targets) {
        if (target.kind != targets.front().kind) {
            error = "all lines of one gateway must be of one interface kind (one driver is loaded at a time)";
            return false;
        }
        for (const uint8_t address : target.addresses) {
            if (!seen.insert(address).second) {
                error =
                    "address " + IntToStr(address) + " is on two lines; the unit identifier must be unique";
                return false;
            }
        }
        if (target.kind == kKindLan) {
            if (!target.host) target.host = options.connection.ipAddress.value_or(defaults.IpAddress);
            if (!target.udpPort) target.udpPort = options.connection.udpPort.value_or(defaults.UdpPort);
        }
        if (target.kind == kKindCom && !target.comPort)
            target.comPort = options.connection.comPort.value_or(defaults.ComPort);
        if (target.kind == kKindIsa && !target.isaBase)
            target.isaBase = options.connection.isaBase.value_or(defaults.IsaBase);
        lines.push_back({ConverterName(target), target});
    }
    return true;
}
