#include "SimProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>

extern char** environ;

namespace simharness {

SimProcess::SimProcess(const std::string& executable, const std::vector<std::string>& args) {
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<std::string> argvStrings{executable};
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvStrings) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const int spawned = ::posix_spawn(&m_pid, executable.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    m_stdin = in[1];
    m_stdout = out[0];
    if (spawned != 0) {
        m_pid = -1;
        return;
    }
    m_reader = std::thread([this] { ReadOutput(); });
    std::string found;
    m_ready = WaitLine(0, "ready", std::chrono::seconds(10), &found);
    for (const auto& line : Lines()) {
        if (line.rfind("pty ", 0) == 0) {
            m_ptyPath = line.substr(4);
        } else if (line.rfind("udp ", 0) == 0) {
            m_udpPort = static_cast<std::uint16_t>(std::stoul(line.substr(line.rfind(':') + 1)));
        }
    }
}

SimProcess::~SimProcess() {
    Stop();
    if (m_reader.joinable()) {
        m_reader.join();
    }
    if (m_stdout >= 0) {
        ::close(m_stdout);
    }
}

void SimProcess::ReadOutput() {
    std::string partial;
    std::array<char, 4096> buffer{};
    for (;;) {
        const ssize_t n = ::read(m_stdout, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        partial.append(buffer.data(), static_cast<std::size_t>(n));
        std::lock_guard lock(m_mutex);
        for (auto end = partial.find('\n'); end != std::string::npos; end = partial.find('\n')) {
            m_lines.push_back(partial.substr(0, end));
            partial.erase(0, end + 1);
        }
        m_changed.notify_all();
    }
    std::lock_guard lock(m_mutex);
    m_ended = true;
    m_changed.notify_all();
}

bool SimProcess::WaitLine(std::size_t from, const std::string& text, std::chrono::milliseconds limit,
                          std::string* found) {
    std::unique_lock lock(m_mutex);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::size_t next = from;
    for (;;) {
        for (; next < m_lines.size(); ++next) {
            if (m_lines[next].find(text) != std::string::npos) {
                if (found != nullptr) {
                    *found = m_lines[next];
                }
                return true;
            }
        }
        if (m_ended || m_changed.wait_until(lock, deadline) == std::cv_status::timeout) {
            return false;
        }
    }
}

std::string SimProcess::Command(const std::string& line) {
    std::size_t from = 0;
    {
        std::lock_guard lock(m_mutex);
        from = m_lines.size();
    }
    const std::string text = line + "\n";
    if (m_stdin < 0 || ::write(m_stdin, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        return "";
    }
    // The answer is the first line after the command that is "ok" or an error.
    std::unique_lock lock(m_mutex);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        for (; from < m_lines.size(); ++from) {
            if (m_lines[from] == "ok" || m_lines[from].rfind("error", 0) == 0) {
                return m_lines[from];
            }
        }
        if (m_ended || m_changed.wait_until(lock, deadline) == std::cv_status::timeout) {
            return "";
        }
    }
}

bool SimProcess::WaitFor(const std::string& text, std::chrono::milliseconds limit, bool fromStart) {
    std::size_t from = 0;
    if (!fromStart) {
        std::lock_guard lock(m_mutex);
        from = m_lines.size();
    }
    return WaitLine(from, text, limit, nullptr);
}

std::vector<std::string> SimProcess::Lines() const {
    std::lock_guard lock(m_mutex);
    return m_lines;
}

int SimProcess::Stop() {
    if (m_pid <= 0) {
        return m_status;
    }
    if (m_stdin >= 0) {
        ::close(m_stdin);
        m_stdin = -1;
    }
    ::kill(m_pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 500; ++i) {
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return m_status;
        }
        ::usleep(10000);
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    m_status = -1;
    return m_status;
}

}  // namespace simharness
