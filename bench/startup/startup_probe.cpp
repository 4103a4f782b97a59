// Start-up probe: shows one window and quits as soon as its first frame is
// drawn, so the process's lifetime is its start-up to the first shown
// window. Built twice: with the tool's main window, and with a bare window
// of the same size as the floor.
#include <QApplication>
#include <QEvent>
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

// The time from the parent's spawn (PROBE_T0, CLOCK_MONOTONIC ns) to now.
void PrintStartup() {
    const char* t0 = std::getenv("PROBE_T0");
    if (t0 == nullptr) return;
    const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                         std::chrono::steady_clock::now().time_since_epoch())
                         .count();
    std::printf("%lld\n", static_cast<long long>(now) - std::atoll(t0));
    std::fflush(stdout);
}

// Ends the run once the window's first frame is drawn. The widgets paint
// when the window is exposed, which the event loop handles after what
// show() posted: a zero-timer started at show() ran before anything was
// drawn. What comes after the frame (closing, saving) is no start-up.
class TFirstPaint final : public QObject {
  public:
    TFirstPaint(QWidget& window, QApplication& app) : m_window(window), m_app(app) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &m_window && event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            // The window paints first; the timer runs once its children
            // have painted too.
            QTimer::singleShot(0, &m_app, [this] {
                PrintStartup();
                m_app.quit();
            });
        }
        return false;
    }

  private:
    QWidget& m_window;
    QApplication& m_app;
    bool m_seen = false;
};

template <class TWindow>
int Run(TWindow& window, QApplication& app) {
    TFirstPaint firstPaint(window, app);
    window.installEventFilter(&firstPaint);
    window.show();
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
