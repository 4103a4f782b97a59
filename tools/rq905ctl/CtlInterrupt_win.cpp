// Windows console control events: Ctrl-C counts as SIGINT, Ctrl-Break and
// the console's close or a log-off or shut-down as SIGTERM, so that the
// tool reports them in the same words as on POSIX. The handler runs on a
// thread of its own; it sets the flag and wakes a waiting sleep. As on
// POSIX a second event is left to the default handler, which ends the tool
// at once.
#include <windows.h>

#include <atomic>

#include "CtlConsole.h"
#include "CtlInterrupt.h"

namespace {

constexpr int kSigInt = 2;
constexpr int kSigTerm = 15;

std::atomic<int> g_signal{0};
std::atomic<bool> g_transfers{false};
HANDLE g_wake = nullptr;
// UTF-8, as the tool's other texts leave it.
constexpr char8_t kWaiting[] = u8"rq905ctl: čekám na dokončení přenosu…\n";

BOOL WINAPI OnConsoleEvent(DWORD event) {
    const int signal = event == CTRL_C_EVENT ? kSigInt : kSigTerm;
    int none = 0;
    if (!g_signal.compare_exchange_strong(none, signal)) return FALSE;
    if (g_wake != nullptr) SetEvent(g_wake);
    // The drivers here cannot be cut short: the transfer under way ends first.
    if (g_transfers.load()) {
        WriteStandardError({reinterpret_cast<const char*>(kWaiting), sizeof kWaiting - 1});
    }
    // Closing the console ends the process once the handler returns: let
    // the transaction under way finish first, within the system's grace.
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) Sleep(2000);
    return TRUE;
}

}  // namespace

void InstallInterruptHandler() {
    g_wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void BeginTransfers(bool) { g_transfers = true; }

void SetCutShortPossible(bool) {}

bool InterruptRequested() { return g_signal.load() != 0; }

int InterruptExitStatus() { return 128 + g_signal.load(); }

const char* InterruptName() {
    switch (g_signal.load()) {
        case kSigInt:
            return "SIGINT";
        case kSigTerm:
            return "SIGTERM";
        default:
            return "";
    }
}

bool SleepUntil(std::chrono::steady_clock::time_point until) {
    while (!InterruptRequested()) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0) return true;
        const DWORD wait = left.count() > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(left.count());
        if (g_wake != nullptr) {
            WaitForSingleObject(g_wake, wait);
        } else {
            Sleep(wait);
        }
    }
    return false;
}
