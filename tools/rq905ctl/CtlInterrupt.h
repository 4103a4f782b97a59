// Ctrl-C ends a watch cleanly: the signal only sets a flag, and the poll
// loop looks at it between transactions and while it waits.
#pragma once

#include <chrono>

void InstallInterruptHandler();
bool InterruptRequested();
// Sleeps until the time point; false when interrupted first.
bool SleepUntil(std::chrono::steady_clock::time_point until);
