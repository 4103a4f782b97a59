// A module's stored configuration as a small INI file, for copying one
// module's settings to many, written and read alike by rq905ctl's config
// save/apply/diff and by the program's "Servis" menu: one section
// [RQ-905], one key per value, the keys named as config read --json names
// them. The file is UTF-8; texts
// handed in and out here are Windows-1250, as everywhere in the program.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Dekl.h"

inline constexpr const char* kConfigSection = "RQ-905";

// The seven PWM periods by code, in ms (1,024 s ... 65,535 s).
inline constexpr uint32_t kPwmPeriodMs[] = {1024, 2048, 4096, 8192, 16384, 32768, 65535};
inline constexpr uint8_t kPwmPeriodCount = 7;

// The forms of a line speed in Bd and of on/off, which rq905ctl's options
// take too.
bool ParseLineSpeed(std::string_view text, std::optional<uint8_t>& index);
bool ParseOnOff(std::string_view text, std::optional<bool>& value);

struct TConfigKey {
    const char* name;
    bool addressGroup;  // bus address and line speed: written only on request
    // The value's form in the file. A module value that has no such form
    // (a speed index past the table, a period code without a period)
    // gives a description in brackets, which no parse accepts.
    std::string (*text)(const TModuleConfig& config);
    // Sets the value in config; false when the text is not a valid value.
    bool (*parse)(std::string_view text, TModuleConfig& config);
};
extern const std::vector<TConfigKey> kConfigKeys;

// A key whose text differs between the module and a file, in table order.
struct TConfigDifference {
    const TConfigKey* key;
    std::string module;
    std::string file;
};
std::vector<TConfigDifference> ConfigDifferences(const TModuleConfig& module, const TModuleConfig& file,
                                                 bool includeAddress);

// The file: comment (one line, without the leading "; "), the section and
// every key in table order, LF line ends.
std::string ConfigFileText(const TModuleConfig& config, std::string_view comment);

// Reads a file's text. Every key must be given once and be valid, and
// nothing may stand outside the section; otherwise false with the reason,
// naming the line. Comments (';' or '#') and blank lines are allowed,
// names are matched without regard to case, CRLF and a UTF-8 mark are
// taken. The result has the elements past 0 of the arrays at 0, as the
// settings dialogs write them.
bool ParseConfigFile(std::string_view utf8, TModuleConfig& config, std::string& reason);

// A module value that the file can hold: every key's text parses back.
// Otherwise reason names the first that does not.
bool ConfigFileCanHold(const TModuleConfig& config, std::string& reason);
