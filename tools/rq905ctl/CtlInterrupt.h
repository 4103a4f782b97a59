// Ctrl-C and SIGTERM stop the tool between two transactions: the signal
// only sets a flag, and the tool looks at it before each transaction and
// while a watch waits.
#pragma once

#include <chrono>

void InstallInterruptHandler();
bool InterruptRequested();
// The exit status of a run the signal stopped: 128 + its number.
int InterruptExitStatus();
// "SIGINT" or "SIGTERM"; "" before any signal.
const char* InterruptName();
// Sleeps until the time point; false when interrupted first.
bool SleepUntil(std::chrono::steady_clock::time_point until);
