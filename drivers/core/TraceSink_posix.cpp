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

void LocalTime(std::time_t seconds, std::tm& local) { ::localtime_r(&seconds, &local); }

std::uint32_t ProcessId() { return static_cast<std::uint32_t>(::getpid()); }

}  // namespace drv
