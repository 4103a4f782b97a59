// The interface library layer: binds the driver library of the chosen
// interface kind, runs module transactions through it, turns result codes
// into texts and converts line speeds. One library is bound at a time; the
// layer's state is a single set of globals used from the UI thread only.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "link/Driver318Abi.h"

// Request, reply and text blocks of the driver boundary.
using TCellBlock = std::array<uint32_t, abi318::kCellCount>;
// Parameter block of Init (pointer-sized cells, see Driver318Abi.h).
using TInitParams = std::array<uintptr_t, abi318::kInitParamCount>;

// Result codes of the layer itself; 1..99 belong to the driver library.
inline constexpr uint32_t kResultOk = 0;
inline constexpr uint32_t kResultNotBound = 10;
inline constexpr uint32_t kResultLoadFailed = 100;  // + kind
inline constexpr uint32_t kResultBadLibrary = 110;  // + kind
// A library's transaction status whose low byte is 0 but not its other
// bits: it would read as success in the 8-bit Status.
inline constexpr uint32_t kResultWideStatus = 120;

inline constexpr uint8_t kKindCount = 5;
inline constexpr uint8_t kKindCom = 0;
inline constexpr uint8_t kKindIsa = 1;
inline constexpr uint8_t kKindPci = 2;
inline constexpr uint8_t kKindUsb = 3;
inline constexpr uint8_t kKindLan = 4;

// One row per interface kind; the row index is the kind.
struct TInterfaceKind {
    const char* libraryBase;   // entry-point prefix and library base name
    const char* libraryText;   // the library as the user knows it
    const char* settingsName;  // interface name in the settings file
    const char* listText;      // item of the connection dialog's list
};
extern const std::array<TInterfaceKind, kKindCount> kInterfaceKinds;

uint32_t OpenInterface(uint8_t kind, uint32_t& handle, const TInitParams& params);
uint32_t CloseInterface(uint8_t kind, uint32_t& handle);
uint32_t InterfaceSetConfig(uint8_t kind, uint32_t handle, uint32_t speed, uint32_t value, uint32_t mode);
uint32_t InterfaceSend(uint8_t kind, uint32_t handle, const TCellBlock& request, TCellBlock& reply,
                       uint32_t& out, uint32_t& status);
// Our own libraries tell a scan of a module whose reply came after its
// request had been told silent: 0 and its address, each once. Any other
// result (no such module, or a library without that entry, as the
// maker's are) means there is nothing to ask again.
uint32_t InterfaceLateReply(uint8_t kind, uint32_t handle, uint8_t& address);

// The one way to talk to the module: D0..D4 go out and come back replaced
// by the reply's bytes; Status receives the result code's low byte, or
// kResultWideStatus for a code whose low byte alone would mean success.
void ModuleTransaction(uint8_t kind, uint32_t handle, uint8_t address, uint8_t command, uint8_t index,
                       uint8_t& d0, uint8_t& d1, uint8_t& d2, uint8_t& d3, uint8_t& d4, uint8_t& status,
                       TCellBlock& reply);

// Told of every module transaction once it has ended: the bus address, the
// full result (the driver's code, or the module's status as the driver
// reports it) and the driver call's duration in microseconds. For link
// statistics; with no observer a transaction takes no time reading.
using TTransactionObserver = void (*)(void* context, uint8_t address, uint32_t result, uint32_t micros);
void SetTransactionObserver(TTransactionObserver observer, void* context);

// Texts of result codes: 0..99 from the bound library, 100 and up the
// layer's own.
uint32_t ResultText(uint8_t kind, uint32_t code, TCellBlock& text);
uint32_t TextToCells(const std::string& text, TCellBlock& block);
std::string CellsToText(const TCellBlock& block);
// ResultText into a fresh all-zero block, then CellsToText: the text every
// dialog shows for a code (empty when no library could give one).
std::string ResultMessage(uint8_t kind, uint32_t code);

// Line speeds: index 0..8 <-> Bd <-> the speed-dependent value of SetConfig.
inline constexpr uint8_t kSpeedCount = 9;
inline constexpr uint8_t kDefaultSpeedIndex = 4;
struct TLineSpeed {
    uint32_t baud;
    const char* listText;
    uint32_t configValue;
};
extern const std::array<TLineSpeed, kSpeedCount> kLineSpeeds;

uint32_t SpeedFromIndex(uint8_t index);
uint8_t IndexFromSpeed(uint32_t speed);
uint32_t SpeedConfigValue(uint32_t index);
