// POSIX signals: SIGINT and SIGTERM without SA_RESTART, so that a sleep
// returns at once when the user presses Ctrl-C. The handler is reset after
// its first call: a transaction under way is let finish, but a second
// signal ends the tool at once, for when the wait is too long.
#include <signal.h>
#include <time.h>

#include <cerrno>

#include "CtlInterrupt.h"

namespace {
volatile sig_atomic_t g_signal = 0;
void OnSignal(int signal) {
    if (g_signal == 0) g_signal = signal;
}
}  // namespace

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    for (const int signal : {SIGINT, SIGTERM}) {
        // A signal ignored by whoever started the tool (nohup, a background
        // job of a script) stays ignored.
        struct sigaction inherited {};
        if (sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) continue;
        sigaction(signal, &action, nullptr);
    }
}

bool InterruptRequested() { return g_signal != 0; }

int InterruptExitStatus() { return 128 + g_signal; }

const char* InterruptName() {
    switch (g_signal) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        default:
            return "";
    }
}

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
