// POSIX signals: SIGINT and SIGTERM without SA_RESTART, so that a sleep
// returns at once when the user presses Ctrl-C.
#include <signal.h>
#include <time.h>

#include <cerrno>

#include "CtlInterrupt.h"

namespace {
volatile sig_atomic_t g_interrupted = 0;
void OnSignal(int) { g_interrupted = 1; }
}  // namespace

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool InterruptRequested() { return g_interrupted != 0; }

bool SleepUntil(std::chrono::steady_clock::time_point until) {
    while (!InterruptRequested()) {
        const auto left = until - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) return true;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timespec wait{};
        wait.tv_sec = static_cast<time_t>(ns / 1000000000);
        wait.tv_nsec = static_cast<long>(ns % 1000000000);
        if (nanosleep(&wait, nullptr) != 0 && errno != EINTR) return !InterruptRequested();
    }
    return false;
}
