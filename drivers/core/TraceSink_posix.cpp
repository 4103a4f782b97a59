// Trace output on POSIX: write(2) on an O_APPEND descriptor puts each line
// at the end of the file in one piece, whoever else appends to it.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>

#include "TraceSink.h"

namespace drv {

namespace {

class FdSink final : public TraceSink {
  public:
    FdSink(int fd, bool owned) : m_fd(fd), m_owned(owned) {}
    ~FdSink() override {
        if (m_owned) {
            ::close(m_fd);
        }
    }
    FdSink(const FdSink&) = delete;
    FdSink& operator=(const FdSink&) = delete;

    void Append(std::string_view line) override {
        ssize_t n = 0;
        do {
            n = ::write(m_fd, line.data(), line.size());
        } while (n < 0 && errno == EINTR);
    }

  private:
    int m_fd;
    bool m_owned;
};

}  // namespace

std::shared_ptr<TraceSink> OpenTraceSink(const char* name) {
    if (name == nullptr || *name == '\0') {
        return nullptr;
    }
    if (std::string_view(name) == "-") {
        return std::make_shared<FdSink>(STDERR_FILENO, false);
    }
    const int fd = ::open(name, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        return nullptr;
    }
    return std::make_shared<FdSink>(fd, true);
}

void AppendLocalTime(std::string& out, std::chrono::system_clock::time_point time) {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(us / 1'000'000);
    // The date and time change once a second; a trace writes many lines a second.
    thread_local std::time_t cachedSecond = -1;
    thread_local char cached[32] = {};
    if (seconds != cachedSecond) {
        std::tm local{};
        ::localtime_r(&seconds, &local);
        std::strftime(cached, sizeof cached, "%Y-%m-%d %H:%M:%S", &local);
        cachedSecond = seconds;
    }
    char fraction[16];
    std::snprintf(fraction, sizeof fraction, ".%06d", static_cast<int>(us % 1'000'000));
    out += cached;
    out += fraction;
}

std::uint32_t ProcessId() { return static_cast<std::uint32_t>(::getpid()); }

}  // namespace drv
