// POSIX desktops end a program with SIGTERM (a window manager's "End
// Process", a logout), SIGINT (Ctrl-C in the starting terminal) or SIGHUP
// (that terminal closed). A handler may do next to nothing, so it only
// writes the signal into a pipe that the event loop watches. The X11
// platform of Qt ends the program with exit() when the display goes away;
// the warning it prints just before is the last moment the drivers are
// still alive to end the link.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <array>
#include <cerrno>

#include "ui/ExternalClose.h"

namespace {

constexpr std::array<int, 3> kSignals{SIGTERM, SIGINT, SIGHUP};
constexpr const char* kDisplayLost = "The X11 connection broke";

int g_pipeWrite = -1;
std::function<void()> g_closeStep;
QtMessageHandler g_previousHandler = nullptr;

void OnSignal(int signal) {
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    // A full pipe already holds a close request.
    [[maybe_unused]] const ssize_t written = write(g_pipeWrite, &byte, 1);
    errno = saved;
}

void OnMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const QCoreApplication* app = QCoreApplication::instance();
    if (type == QtWarningMsg && g_closeStep && message.startsWith(QLatin1String(kDisplayLost)) &&
        app != nullptr && QThread::currentThread() == app->thread()) {
        g_closeStep();
    }
    if (g_previousHandler != nullptr) g_previousHandler(type, context, message);
}

}  // namespace

struct TExternalClose::TState {
    std::array<int, 2> pipe{-1, -1};
    std::array<struct sigaction, kSignals.size()> previous{};
    std::unique_ptr<QSocketNotifier> notifier;
};

TExternalClose::TExternalClose(std::function<void()> closeWindow, std::function<void()> closeStep)
    : m_state(std::make_unique<TState>()) {
    g_closeStep = std::move(closeStep);
    g_previousHandler = qInstallMessageHandler(OnMessage);

    if (pipe2(m_state->pipe.data(), O_CLOEXEC | O_NONBLOCK) != 0) return;
    g_pipeWrite = m_state->pipe[1];
    const int readEnd = m_state->pipe[0];
    m_state->notifier = std::make_unique<QSocketNotifier>(readEnd, QSocketNotifier::Read);
    QObject::connect(m_state->notifier.get(), &QSocketNotifier::activated,
                     [readEnd, closeWindow = std::move(closeWindow)] {
                         std::array<char, 16> drained{};
                         while (read(readEnd, drained.data(), drained.size()) > 0) {
                         }
                         closeWindow();
                     });

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // A driver call under way goes on rather than failing with EINTR.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        // A signal ignored by whoever started the program (nohup, a
        // background job of a script) stays ignored.
        if (sigaction(kSignals[i], nullptr, &m_state->previous[i]) != 0 ||
            m_state->previous[i].sa_handler == SIG_IGN)
            continue;
        sigaction(kSignals[i], &action, nullptr);
    }
}

TExternalClose::~TExternalClose() {
    if (m_state->notifier) {
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            if (m_state->previous[i].sa_handler != SIG_IGN)
                sigaction(kSignals[i], &m_state->previous[i], nullptr);
        m_state->notifier.reset();
        g_pipeWrite = -1;
        close(m_state->pipe[0]);
        close(m_state->pipe[1]);
    }
    qInstallMessageHandler(g_previousHandler);
    g_previousHandler = nullptr;
    g_closeStep = nullptr;
}
