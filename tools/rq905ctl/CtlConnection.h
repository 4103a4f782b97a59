// The connection of rq905ctl: the settings file with the command line laid
// over it, and the connection set-up of the tool's connection dialog
// (library, line, identification), without a window.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "BusScan.h"
#include "CtlArgs.h"
#include "core/Dekl.h"
#include "core/SmallFile.h"
#include "link/Txxx318.h"

// A settings file named on the command line must be a readable regular
// file: SettingsFileReadable (core/SmallFile.h).

// Defaults, then the settings file (read only, never written), then the
// overrides.
void PrepareData(TData& data, const std::string& settingsPath, const TConnectionOverrides& overrides);

struct TLinkOutcome {
    uint32_t code = 0;         // 0 success, else the result code
    std::string text;          // Windows-1250, as the tool shows it
    bool interrupted = false;  // a signal stopped it before it began
};

// One module transaction with the connection of data, to address. After a
// signal nothing is sent: the reply is marked interrupted instead.
struct TReply {
    uint8_t status = 0;
    uint8_t d[5]{};
    bool interrupted = false;
};
TReply Transact(const TData& data, uint8_t address, uint8_t command, uint8_t index, uint8_t d1 = 0,
                uint8_t d2 = 0);
// The same with all five data bytes D0-D4, as send gives them.
TReply TransactBytes(const TData& data, uint8_t address, uint8_t command, uint8_t index,
                     const uint8_t (&d)[5]);

// How long the driver waits for a reply: the tool's standard mode, the
// tight one, or the scan mode (busscan), which waits for a reply's first
// byte only.
inline constexpr uint32_t kStandardMode = 2;
inline constexpr uint32_t kTightMode = 1;
using busscan::kScanMode;
using busscan::ScanAllowance;

// Fills InitParams by kind, binds the library and configures the line; on
// success data is connected (Connected, Handle). value 0 is the tool's own
// value for the speed. On a failure nothing is left open. After a signal
// it opens nothing.
TLinkOutcome OpenLink(TData& data, uint32_t mode, uint32_t value = 0);

// Sets an open link to another speed without a new Init.
TLinkOutcome ConfigureLine(TData& data, uint8_t speedIndex, uint32_t mode, uint32_t value);

using busscan::TIdent;
// The three identification requests to one address. firstStatus tells
// whether the first one failed (to a scan: nobody there).
TLinkOutcome Identify(const TData& data, uint8_t address, TIdent& ident, uint8_t* firstStatus = nullptr);

// What identification in the scan mode found at one address (busscan's
// probe, stopped by a signal).
using busscan::CollisionText;
using busscan::TProbe;
using busscan::TProbeResult;
TProbe Probe(const TData& data, uint8_t address);

// The failure of a line that could not be set up, as the tool tells it.
TLinkOutcome LineFailure(const TData& data, uint32_t code);

// The whole set-up: OpenLink and Identify of data.ModuleAddress. On success
// ModuleIdent is set; on failure the link is closed again.
TLinkOutcome Connect(TData& data, TIdent& ident);

void CloseLink(TData& data);
