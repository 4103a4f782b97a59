#include "CtlProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

extern char** environ;

namespace ctltest {

namespace {
// Only a guard against a hung child; no test depends on it.
constexpr int kStallLimitMs = 60000;
}  // namespace

TCtlChild::TCtlChild(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);

    std::vector<std::string> argvText{RQ905_CTL_EXECUTABLE};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvText) argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> envText = env;
    for (char** e = environ; *e != nullptr; ++e) envText.emplace_back(*e);  // earlier entries win
    std::vector<char*> envp;
    for (auto& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);

    if (::posix_spawn(&m_pid, RQ905_CTL_EXECUTABLE, &actions, nullptr, argv.data(), envp.data()) != 0)
        m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    m_out = out[0];
    m_err = err[0];
}

TCtlChild::~TCtlChild() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_out >= 0) ::close(m_out);
    if (m_err >= 0) ::close(m_err);
}

bool TCtlChild::Pump() {
    pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
    if (m_out < 0 && m_err < 0) return false;
    const int ready = ::poll(fds, 2, kStallLimitMs);
    if (ready < 0 && errno == EINTR) return true;
    if (ready <= 0) return false;
    int* fd[2] = {&m_out, &m_err};
    std::string* text[2] = {&m_run.out, &m_run.err};
    for (int i = 0; i < 2; ++i) {
        if (*fd[i] < 0 || fds[i].revents == 0) continue;
        char buffer[4096];
        const ssize_t n = ::read(*fd[i], buffer, sizeof buffer);
        if (n > 0) {
            text[i]->append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            ::close(*fd[i]);
            *fd[i] = -1;
        }
    }
    return true;
}

bool TCtlChild::WaitForLines(std::size_t n) {
    while (static_cast<std::size_t>(std::count(m_run.out.begin(), m_run.out.end(), '\n')) < n) {
        if (m_out < 0 || !Pump()) return false;
    }
    return true;
}

bool TCtlChild::WaitForText(const std::string& text) {
    for (;;) {
        const std::size_t at = m_run.out.find(text, m_found);
        if (at != std::string::npos) {
            m_found = at + text.size();
            return true;
        }
        if (m_out < 0 || !Pump()) return false;
    }
}

void TCtlChild::Signal(int signal) {
    if (m_pid > 0) ::kill(m_pid, signal);
}

TRun TCtlChild::Finish() {
    while (Pump()) {
    }
    if (m_pid > 0) {
        if (m_out >= 0 || m_err >= 0) ::kill(m_pid, SIGKILL);  // stalled
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_run.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        m_pid = -1;
    }
    return m_run;
}

}  // namespace ctltest
