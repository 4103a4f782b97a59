// POSIX signals: SIGINT, SIGTERM and SIGHUP (a dropped SSH session) alike,
// without SA_RESTART, so that a sleep
// returns at once when the user presses Ctrl-C. The handler is reset after
// its first call: a transaction under way is let finish, but a second
// signal ends the tool at once, for when the wait is too long.
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "CtlInterrupt.h"

namespace {
volatile sig_atomic_t g_signal = 0;
// What a signal does to the transfers under way: nothing (none), cuts the
// wait short through the pipe the drivers watch, or is told to wait.
enum : sig_atomic_t { kNoTransfers, kWaitedFor, kCutShort };
volatile sig_atomic_t g_transfers = kNoTransfers;
int g_cancel[2] = {-1, -1};
// UTF-8, as the terminal shows it: the handler cannot convert.
constexpr char8_t kWaiting[] = u8"rq905ctl: čekám na dokončení přenosu…\n";

void OnSignal(int signal) {
    if (g_signal == 0) g_signal = signal;
    const int saved = errno;
    if (g_transfers == kCutShort) {
        [[maybe_unused]] const ssize_t n = ::write(g_cancel[1], "x", 1);
    } else if (g_transfers == kWaitedFor) {
        [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, kWaiting, sizeof kWaiting - 1);
    }
    errno = saved;
}
}  // namespace

namespace {
bool g_cutShortPossible = true;
}  // namespace

void SetCutShortPossible(bool possible) { g_cutShortPossible = possible; }

void BeginTransfers(bool cuttable) {
    cuttable = cuttable && g_cutShortPossible;
    if (cuttable && g_cancel[0] < 0 && ::pipe2(g_cancel, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_cancel[0] = g_cancel[1] = -1;
    }
    // The drivers read the variable at Init, as they read the trace's.
    if (cuttable && g_cancel[0] >= 0) {
        ::setenv(kCancelVariable, std::to_string(g_cancel[0]).c_str(), 1);
    } else {
        ::unsetenv(kCancelVariable);
    }
    g_transfers = cuttable && g_cancel[0] >= 0 ? kCutShort : kWaitedFor;
}

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
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
        case SIGHUP:
            return "SIGHUP";
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
