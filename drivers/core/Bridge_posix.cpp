// The driver host under wine.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "Bridge.h"
#include "Cancel_posix.h"

extern char** environ;

namespace drv::bridge {

namespace {

class WineChild final : public Child {
  public:
    WineChild(pid_t pid, int input, int output) : m_pid(pid), m_input(input), m_output(output) {}

    ~WineChild() override {
        ::close(m_input);
        ::close(m_output);
        // The host ends when its input closes, even in the middle of a call;
        // one that does not within a second is killed.
        for (int i = 0; i < 200; ++i) {
            if (Reaped()) {
                return;
            }
            ::usleep(5000);
        }
        Kill();
    }

    // The host leads a process group of its own: whatever wine started for
    // it goes too.
    void Kill() override {
        if (Reaped()) {
            return;
        }
        ::kill(-m_pid, SIGKILL);
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_reaped = true;
    }

    // SIGPIPE is blocked in this thread for the write and a SIGPIPE that
    // the write raised is taken back before the mask is restored, so a
    // host that ended gives EPIPE here and the program's own handling of
    // the signal stays as it was.
    bool Write(const std::uint8_t* data, std::size_t n) override {
        sigset_t pipe;
        sigset_t old;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, &old);
        sigset_t pending;
        sigpending(&pending);
        const bool wasPending = sigismember(&pending, SIGPIPE) == 1;
        bool ok = true;
        while (n > 0) {
            const ssize_t put = ::write(m_input, data, n);
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put <= 0) {
                ok = false;
                break;
            }
            data += put;
            n -= static_cast<std::size_t>(put);
        }
        if (!ok && errno == EPIPE && !wasPending) {
            const timespec zero{};
            while (sigtimedwait(&pipe, nullptr, &zero) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        return ok;
    }

    // The host's output may stay open in a wine process that outlives it,
    // so its end is also watched for by its exit.
    bool Read(std::uint8_t* data, std::size_t n, Clock::time_point deadline) override {
        while (n > 0) {
            if (Clock::now() >= deadline) {
                return false;
            }
            pollfd p{m_output, POLLIN, 0};
            const int ready = ::poll(&p, 1, 20);
            if (ready < 0 && errno != EINTR) {
                return false;
            }
            if (ready <= 0) {
                if (Reaped()) {
                    return false;
                }
                continue;
            }
            const ssize_t got = ::read(m_output, data, n);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                return false;
            }
            data += got;
            n -= static_cast<std::size_t>(got);
        }
        return true;
    }

  private:
    bool Reaped() {
        if (m_reaped) {
            return true;
        }
        m_reaped = ::waitpid(m_pid, nullptr, WNOHANG) == m_pid;
        return m_reaped;
    }

    pid_t m_pid;
    int m_input;
    int m_output;
    bool m_reaped = false;
};

// wine takes a path relative to its own start-up, so paths go absolute.
std::string Absolute(const std::string& path) {
    char* full = ::realpath(path.c_str(), nullptr);
    if (full == nullptr) {
        return path;
    }
    std::string result = full;
    std::free(full);
    return result;
}

}  // namespace

std::string HostPath() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&HostPath), &info) == 0 || info.dli_fname == nullptr) {
        return kHostName;
    }
    std::string path = Absolute(info.dli_fname);
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    // The host sits beside the drivers. Installed, a program that carries
    // this code itself (rq905ctl) lives in bin/, the drivers in their own
    // directory.
    const std::string beside = dir + kHostName;
    const std::string installed = dir + RQ905_DRIVER_DIR_FROM_BIN + "/" + kHostName;
    return ::access(beside.c_str(), F_OK) != 0 && ::access(installed.c_str(), F_OK) == 0 ? installed : beside;
}

std::string FindFile(const std::string& dir, const std::string& name) {
    DIR* d = dir.empty() ? nullptr : ::opendir(dir.c_str());
    if (d == nullptr) {
        return {};
    }
    std::string found;
    while (const dirent* e = ::readdir(d)) {
        if (::strcasecmp(e->d_name, name.c_str()) == 0) {
            found = Absolute(dir + "/" + e->d_name);
            break;
        }
    }
    ::closedir(d);
    return found;
}

std::unique_ptr<Child> Spawn(const std::string& host, const std::string& library, bool cdeclCall) {
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) {
        return nullptr;
    }
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        return nullptr;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    // The host starts with no signal blocked and every signal at its
    // default, whatever the calling program blocks or ignores: wine relies
    // on its signals.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    // A process group of its own: a Ctrl-C in the terminal must not end the
    // host in the middle of a transaction; the caller decides.
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    // Wine's own diagnostics stay quiet unless the user asked for them.
    std::vector<char*> env;
    // The host's library must not hand its calls on again (our own
    // libraries, built for Windows, read the same variable).
    // Nor is a descriptor of this process anything to the host.
    const std::string own = std::string(kDirVariable) + "=";
    const std::string cancel = std::string(kCancelVariable) + "=";
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, own.c_str(), own.size()) != 0 &&
            std::strncmp(*e, cancel.c_str(), cancel.size()) != 0) {
            env.push_back(*e);
        }
    }
    std::string quiet = "WINEDEBUG=-all";
    if (std::getenv("WINEDEBUG") == nullptr) {
        env.push_back(quiet.data());
    }
    env.push_back(nullptr);
    std::string wine = "wine";
    std::string hostArg = host;
    std::string libraryArg = library;
    std::string call = cdeclCall ? "cdecl" : "stdcall";
    char* argv[] = {wine.data(), hostArg.data(), libraryArg.data(), call.data(), nullptr};
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, "wine", &actions, &attributes, argv, env.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(in[0]);
    ::close(out[1]);
    if (rc != 0) {
        ::close(in[1]);
        ::close(out[0]);
        return nullptr;
    }
    return std::make_unique<WineChild>(pid, in[1], out[0]);
}

}  // namespace drv::bridge
