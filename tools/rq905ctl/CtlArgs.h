// Command line of rq905ctl: commands, options and their values. Arguments
// arrive in UTF-8; texts that become program texts (the IP address, error
// messages) are Windows-1250 from here on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ConfigFile.h"

enum class TCommand : uint8_t {
    None,
    Identify,
    ConfigRead,
    ConfigWrite,
    Dout,
    Pwm,
    Din,
    Status,
    Scan,
    ConfigSave,
    ConfigApply,
    ConfigDiff,
    Ports,
    Send,
    Commission,
};

// Each part of the connection that the settings file gives, when the
// command line replaces it.
struct TConnectionOverrides {
    std::optional<uint8_t> kind;
    std::optional<uint8_t> comPort;
    std::optional<uint16_t> isaBase;
    std::optional<std::string> ipAddress;
    std::optional<uint32_t> udpPort;
    std::optional<uint32_t> udpTimeout;
    std::optional<uint8_t> address;
    std::optional<uint32_t> speed;  // Bd, one of the nine
};

// Values of config write; only those given are written.
struct TConfigChanges {
    std::optional<uint8_t> busAddress;
    std::optional<uint8_t> speedIndex;
    std::optional<uint8_t> dinNegation;
    std::optional<uint8_t> doutNegation;
    std::optional<uint8_t> doutInitial;
    std::optional<uint8_t> pwmPeriod;  // code 0..6
    std::optional<uint16_t> pwmInitial;
    std::optional<bool> pwmNegation;

    bool Empty() const {
        return !busAddress && !speedIndex && !dinNegation && !doutNegation && !doutInitial && !pwmPeriod &&
               !pwmInitial && !pwmNegation;
    }
};

struct TCtlOptions {
    TCommand command = TCommand::None;
    bool help = false;
    bool version = false;
    bool json = false;
    std::optional<std::string> settingsPath;  // as given, for the file system
    TConnectionOverrides connection;
    TConfigChanges changes;
    uint16_t value = 0;  // of dout and pwm
    bool watch = false;
    std::optional<uint32_t> count;  // polls of --watch
    bool clear = false;
    uint8_t scanFrom = 0;
    uint8_t scanTo = 255;
    std::vector<uint8_t> scanSpeeds;     // speed indices, fastest first; empty: the connection's speed
    bool scanFirst = false;              // stop at the first module found
    std::optional<uint32_t> scanWaitMs;  // the least turnaround allowance per address
    std::optional<std::string> trace;    // RQ905_TRACE for this command; as given, for the file system
    std::string file;                    // of config save, apply and diff; as given, for the file system
    std::vector<uint8_t> addresses;      // of config apply, in the order given
    // config apply and diff: a list of converters and addresses ("-": stdin)
    std::optional<std::string> targets;
    bool includeAddress = false;  // the file's bus address and line speed too
    bool keepGoing = false;
    // send: the request; D0-D4 not given are 0.
    uint8_t sendCommand = 0;
    uint8_t sendIndex = 0;
    uint8_t sendData[5]{};
    std::optional<uint32_t> repeat;     // transactions of send
    bool stats = false;                 // a link statistics summary at the end
    bool csv = false;                   // output as CSV
    std::optional<std::string> output;  // results appended to this file; as given, for the file system
    // commission: new modules from fromAddress at fromSpeed to first, first+1, ...
    std::optional<uint8_t> first;
    uint32_t commissionCount = 1;
    std::optional<uint8_t> commissionSpeed;  // speed index; none: the connection's speed
    uint8_t fromAddress = 1;
    uint8_t fromSpeed = 4;  // speed index
    bool yes = false;       // no questions: wait for each step instead
};

struct TParseResult {
    bool ok = false;
    TCtlOptions options;
    std::string error;  // Windows-1250, when !ok
};

// args without the program name. A --help with a known command is never a
// usage error, so that help can be asked for in the middle of typing;
// --version anywhere wins over everything else.
TParseResult ParseArgs(const std::vector<std::string>& args);

// A list of bus addresses and ranges ("1,3,7-12"), each 0-255. Repeats are
// dropped, the first place kept; an empty item or a backward range fails.
bool ParseAddressList(std::string_view text, std::vector<uint8_t>& addresses);

// The forms the options take, ParseLineSpeed and ParseOnOff, are the
// configuration file's (core/ConfigFile.h).

// Windows-1250 texts.
std::string HelpText(TCommand command);
const char* CommandName(TCommand command);

// A list of line speeds in Bd ("9600,1200") or "all", as speed indices,
// fastest first, each once.
bool ParseSpeedList(std::string_view text, std::vector<uint8_t>& indices);

// The longest turnaround allowance the drivers take in scan mode.
inline constexpr uint32_t kMaxScanWaitMs = 100;

// The LAN converter's driver refuses a longer wait for a reply.
inline constexpr uint32_t kMaxUdpTimeoutMs = 60000;
