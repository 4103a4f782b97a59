// Start-up probe: shows one window and quits as soon as it is exposed, so
// the process's lifetime is its start-up to the first shown window. Built
// twice: with the tool's main window, and with a bare window of the same
// size as the floor.
#include <QApplication>
#include <QMainWindow>
#include <QTimer>
#include <QWindow>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef PROBE_TOOL
#include "linkstats/FrameLog.h"
#include "ui/Hlavni.h"
#endif

namespace {

template <class TWindow>
int Run(TWindow& window, QApplication& app) {
    window.show();
    // The first frame is on screen once the event loop has handled the
    // expose. The time from the parent's spawn (PROBE_T0, CLOCK_MONOTONIC
    // ns) to here is the start-up; what comes after (closing, saving) is not.
    QTimer::singleShot(0, &app, [&app] {
        const char* t0 = std::getenv("PROBE_T0");
        if (t0 != nullptr) {
            const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
            std::printf("%lld\n", static_cast<long long>(now) - std::atoll(t0));
            std::fflush(stdout);
        }
        app.quit();
    });
    return app.exec();
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
#ifdef PROBE_TOOL
    // Settings go to a scratch file so the probe never touches a user's.
    const char* scratch = std::getenv("PROBE_SETTINGS");
    // As the program starts: its traffic log first.
    TTrafficLog traffic;
    TForm1 window(scratch != nullptr ? scratch : "/tmp/rq905-startup-probe.ini");
#else
    QMainWindow window;
    window.resize(600, 400);
#endif
    return Run(window, app);
}
