// Ctrl-C, SIGTERM and SIGHUP stop the tool between two transactions: the signal
// sets a flag, and the tool looks at it before each transaction and while
// a watch waits. A transaction under way is cut short where that loses
// nothing, and otherwise let finish, which the tool says at the signal.
#pragma once

#include <chrono>

void InstallInterruptHandler();
bool InterruptRequested();
// The exit status of a run the signal stopped: 128 + its number.
int InterruptExitStatus();
// "SIGINT", "SIGTERM" or "SIGHUP"; "" before any signal.
const char* InterruptName();
// From now on the tool talks to the module. cuttable: a signal ends the
// wait of the transaction under way at once (only reads; the drivers watch
// a pipe named in kCancelVariable, from their next Init). Otherwise a
// signal says on standard error that the transfer is let finish.
inline constexpr const char* kCancelVariable = "RQ905_CANCEL_FD";
void BeginTransfers(bool cuttable);
// false when the drivers hand their calls to the driver host, whose calls
// cannot be cut short: every transfer is then let finish.
void SetCutShortPossible(bool possible);
// Sleeps until the time point; false when interrupted first.
bool SleepUntil(std::chrono::steady_clock::time_point until);
