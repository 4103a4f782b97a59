// The commands of rq905ctl. RunCtl is the whole program but for the
// process: main hands it the arguments and the standard streams.
#pragma once

#include <string>
#include <vector>

#include "CtlOutput.h"

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the module or the link failed
inline constexpr int kExitUsage = 2;
// config diff keeps 1 for "different", so its own failures need another.
inline constexpr int kExitDiffFailure = 3;

// args without the program name, UTF-8. defaultSettingsPath: the settings
// file when --settings is not given.
int RunCtl(const std::vector<std::string>& args, const std::string& defaultSettingsPath, TCtlIo& io);

// Names of what a set bit of the status register's first byte means.
struct TStatusBit {
    unsigned bit;
    const char* name;
};
inline constexpr TStatusBit kStatusBits[] = {{1, "FN"}, {2, "PRF"}, {4, "PWR"}, {5, "RST"}, {6, "ERR24"}};

// Windows-1250 name of a configuration register, for failure messages.
const char* RegisterName(unsigned reg);
