// Trace output on POSIX: write(2) on an O_APPEND descriptor puts each line
// at the end of the file in one piece, whoever else appends to it.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "TraceSink.h"

namespace drv {

namespace {

// A reader that went away (a pipe, a FIFO) must cost the caller neither its
// process nor its transaction, and a library may not touch the program's
// signal handling: SIGPIPE is blocked on this thread for the write, and a
// SIGPIPE the write raised is taken back before the mask is restored.
bool WriteAll(int fd, std::string_view text, int& error) {
    sigset_t pipe;
    sigset_t old;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &old);
    sigset_t pending;
    sigpending(&pending);
    const bool wasPending = sigismember(&pending, SIGPIPE) == 1;
    bool ok = true;
    error = 0;
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            ok = false;
            break;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    if (error == EPIPE && !wasPending) {
        const timespec zero{};
        while (sigtimedwait(&pipe, nullptr, &zero) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return ok;
}

// The library cannot know the program's code page, so what it says on
// standard error is UTF-8, as a terminal takes it.
const char* U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

std::string ErrorText(int error) {
    char buffer[128];
    // The GNU strerror_r returns its text, which need not be in buffer.
    return ::strerror_r(error, buffer, sizeof buffer);
}

void Warn(const char* library, const std::string& what, int error) {
    const std::string line = std::string(library) + ": " + kTraceVariable + U8(u8": stopa rámců vypnuta, ") +
                             what + ": " + ErrorText(error) + "\n";
    int ignored = 0;
    WriteAll(STDERR_FILENO, line, ignored);
}

class FdSink final : public TraceSink {
  public:
    FdSink(int fd, bool owned, const char* library, std::string name)
        : m_fd(fd), m_owned(owned), m_library(library), m_name(std::move(name)) {}
    ~FdSink() override {
        if (m_owned) {
            ::close(m_fd);
        }
    }
    FdSink(const FdSink&) = delete;
    FdSink& operator=(const FdSink&) = delete;

    void Append(std::string_view line) override {
        if (m_off.load(std::memory_order_relaxed)) {
            return;
        }
        int error = 0;
        if (!WriteAll(m_fd, line, error) && !m_off.exchange(true)) {
            Warn(m_library, U8(u8"zápis do ") + m_name + U8(u8" selhal"), error);
        }
    }

  private:
    int m_fd;
    bool m_owned;
    const char* m_library;
    std::string m_name;
    std::atomic<bool> m_off{false};
};

}  // namespace

void WarnLine(std::string_view line) {
    int ignored = 0;
    WriteAll(STDERR_FILENO, line, ignored);
}

std::shared_ptr<TraceSink> OpenTraceSink(const char* name, const char* library) {
    if (name == nullptr || *name == '\0') {
        return nullptr;
    }
    if (std::string_view(name) == "-") {
        return std::make_shared<FdSink>(STDERR_FILENO, false, library,
                                        U8(u8"standardního chybového výstupu"));
    }
    // Without O_NONBLOCK a FIFO with no reader would hold Init until one
    // comes; so opened, it fails at once instead (ENXIO).
    const int fd = ::open(name, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (fd < 0) {
        const int error = errno;
        Warn(library, std::string(name) + U8(u8" nelze otevřít"), error);
        return nullptr;
    }
    // A reader that is slow holds the writer back, as any pipe does; only
    // one that is gone turns the trace off.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    return std::make_shared<FdSink>(fd, true, library, name);
}

void LocalTime(std::time_t seconds, std::tm& local) { ::localtime_r(&seconds, &local); }

std::uint32_t ProcessId() { return static_cast<std::uint32_t>(::getpid()); }

}  // namespace drv
