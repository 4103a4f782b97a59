// The modules on one line: each address of a range asked for its
// identification, at one line speed or several, in the drivers' scan mode
// (mode 4, which waits only for a reply's first byte). rq905ctl's scan and
// the desktop program's module table share it. No Qt.
//
// Threads. Run() makes its transactions through the interface library layer
// (link/Txxx318.h), whose bound library is one set of globals: while Run()
// goes on, nothing else may use the layer, from any thread. Run() may be
// called from a worker thread; the observer is called on that thread, so a
// view hands what it is told over to its own thread. Cancel() may be called
// from any thread at any time.
//
// Texts (name, version, failure texts) are Windows-1250, as everywhere
// inside the system.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/Txxx318.h"

namespace busscan {

// The drivers' scan mode, and its turnaround allowance by speed index in
// tenths of a ms: the module's 2 ms and a quarter of what a silent address
// takes on the line. The drivers start from this allowance and follow the
// replies they see below it (drivers.md).
inline constexpr uint32_t kScanMode = 4;
inline constexpr std::array<uint32_t, kSpeedCount> kScanAllowance{608, 317, 171, 98, 61, 43, 34, 31, 28};
// The table's allowance at a speed, raised to atLeastMs (0: none) for a
// converter that holds received bytes back.
uint32_t ScanAllowance(uint8_t speedIndex, uint32_t atLeastMs);

// Modules that share an address answer together: over UDP twice (the
// drivers' code 31), on a serial line as one garbled reply (12) time after
// time, where a single module's damaged reply is a chance that a second
// try clears. An address that garbles this many tries running is taken for
// two modules.
inline constexpr unsigned kProbeAttempts = 3;
inline constexpr uint32_t kCodeTimeout = 11;
inline constexpr uint32_t kCodeDamaged = 12;
inline constexpr uint32_t kCodeCollision = 31;

// Asked before every transaction and after one that failed (a signal may
// have cut its wait short): true stops at once.
using TCancelled = std::function<bool()>;

struct TIdent {
    std::string name;     // 8 characters
    std::string version;  // 4 characters
    std::string Text() const { return name + " v." + version; }
};

// The three identification requests to one address. 0 and ident set on
// success; else the first failing status, its text in text and, in
// firstStatus, the status of the first request (to a scan, 11 there means
// nobody at the address). interrupted: cancelled before it ended.
struct TIdentOutcome {
    uint32_t code = 0;
    std::string text;
    uint8_t firstStatus = 0;
    bool interrupted = false;
};
TIdentOutcome Identify(uint8_t kind, uint32_t handle, uint8_t address, TIdent& ident,
                       const TCancelled& cancelled = {});

enum class TProbeResult : uint8_t { Module, Silent, Collision, Failed, Interrupted };
struct TProbe {
    TProbeResult result = TProbeResult::Silent;
    TIdent ident;           // of a Module
    TIdentOutcome failure;  // of Failed (code and text), or the last damaged reply of a Collision
};
// What identification in the scan mode finds at one address; the line must
// already be in the scan mode.
TProbe Probe(uint8_t kind, uint32_t handle, uint8_t address, const TCancelled& cancelled = {});

// "kolize adres: více modulů na adrese N?"
std::string CollisionText(uint8_t address);

// How many silent addresses back a late reply is still matched to its
// address by our drivers.
inline constexpr std::size_t kLateReach = 4;

struct TScanSettings {
    uint8_t from = 0;
    uint8_t to = 255;
    // Speed indexes (0-8), in the order to scan them; empty: the one given
    // to Run().
    std::vector<uint8_t> speeds;
    // The least turnaround allowance per address in ms (1-100; 0: the
    // table's), for a converter that holds received bytes back.
    uint32_t atLeastMs = 0;
    // Ends the scan at the first module found.
    bool stopAtFirst = false;
};

// One address asked, whatever it gave; silent ones too, so that a view can
// mark a module that no longer answers.
struct TScanAddress {
    uint8_t address = 0;
    uint8_t speedIndex = 0;
    uint32_t speed = 0;  // Bd
    // Module, Silent, Collision or Failed; never Interrupted (an address
    // cut short by Cancel() is not reported).
    TProbeResult result = TProbeResult::Silent;
    TIdent ident;       // Module: name and version
    uint32_t code = 0;  // Failed: the result code; Collision: 31 or 12
    std::string text;   // Failed: its text; Collision: CollisionText
};

struct TScanProgress {
    uint32_t done = 0;   // addresses asked so far, over all speeds
    uint32_t total = 0;  // addresses x speeds
    std::chrono::milliseconds elapsed{0};
    // Estimated time left: what the addresses left take on their lines,
    // scaled by what the addresses done took against their own lines.
    std::chrono::milliseconds left{0};
};

struct TScanObserver {
    // Before the addresses of each speed, once the line is set to it.
    std::function<void(uint8_t speedIndex)> speedStarted;
    // After each address. Returning false ends the scan (e.g. the output
    // failed); the scan then ends as Stopped.
    std::function<bool(const TScanAddress&, const TScanProgress&)> address;
};

enum class TScanEnd : uint8_t {
    Finished,    // every address at every speed asked
    Stopped,     // stopAtFirst found its module, or the observer said stop
    Cancelled,   // Cancel() or the cancel predicate
    LineFailed,  // the line could not be set to a speed: code and text
};
struct TScanOutcome {
    TScanEnd end = TScanEnd::Finished;
    uint32_t code = 0;
    std::string text;        // ResultMessage of code
    uint8_t speedIndex = 0;  // of LineFailed: the speed the line refused
};

class TBusScanner {
  public:
    // cancelled: an outside reason to stop besides Cancel() (rq905ctl:
    // a signal); may be empty.
    explicit TBusScanner(TCancelled cancelled = {});

    // Scans on an open connection (kind, handle). Each speed is set with
    // the scan mode and its allowance before its addresses; afterwards the
    // line stays in the scan mode at the last speed set, so a caller that
    // goes on talking to a module sets its own mode again. currentSpeed:
    // the speed index when settings.speeds is empty. A scan stops within one
    // transaction of Cancel().
    TScanOutcome Run(uint8_t kind, uint32_t handle, const TScanSettings& settings, uint8_t currentSpeed,
                     const TScanObserver& observer);

    // Thread-safe; also before Run(), which then asks nothing.
    void Cancel() { m_cancel.store(true); }
    bool Cancelled() const;

  private:
    std::atomic<bool> m_cancel{false};
    TCancelled m_cancelled;
};

// The estimate of time left: the line's own time per silent address at a
// speed (request, the allowance, one byte), scaled by what the addresses
// done really took against the same model. Kept apart for its tests.
class TScanClock {
  public:
    void Add(uint8_t speedIndex, uint32_t allowance, std::chrono::microseconds took);
    // Addresses still to ask, per speed index.
    std::chrono::milliseconds Left(const std::vector<std::pair<uint8_t, uint32_t>>& remaining,
                                   uint32_t atLeastMs) const;
    static double ModelUs(uint8_t speedIndex, uint32_t allowance);

  private:
    double m_modelUs = 0;
    double m_tookUs = 0;
};

}  // namespace busscan
