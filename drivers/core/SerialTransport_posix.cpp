// The serial transport on POSIX termios: pseudo-terminals, on-board UARTs,
// PCI cards and USB converters all look the same from here.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <thread>
#include <utility>

#include "Cancel_posix.h"
#include "Deadline_posix.h"
#include "Transport.h"

namespace drv {

namespace {

constexpr std::pair<std::uint32_t, speed_t> kBaudConstants[] = {
    {600, B600},     {1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},
    {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
};

class SerialTransport final : public Transport {
  public:
    explicit SerialTransport(int fd) : m_fd(fd), m_cancel(CancelFdFromEnvironment()) {}
    ~SerialTransport() override { ::close(m_fd); }
    SerialTransport(const SerialTransport&) = delete;
    SerialTransport& operator=(const SerialTransport&) = delete;

    Result SetSpeed(std::uint32_t baud) override {
        speed_t constant = 0;
        bool found = false;
        for (const auto& [bd, c] : kBaudConstants) {
            if (bd == baud) {
                constant = c;
                found = true;
            }
        }
        if (!found) {
            return Result::BadSpeed;
        }
        termios tio{};
        if (::tcgetattr(m_fd, &tio) != 0) {
            return Result::PortSetupFailed;
        }
        ::cfmakeraw(&tio);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS | CSIZE);
        tio.c_cflag |= CS8 | CLOCAL | CREAD;
        tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        if (::cfsetispeed(&tio, constant) != 0 || ::cfsetospeed(&tio, constant) != 0 ||
            ::tcsetattr(m_fd, TCSANOW, &tio) != 0) {
            return Result::PortSetupFailed;
        }
        return Result::Ok;
    }

    // Bytes still inside a converter are not reached by the flush; the tag
    // check in the transaction keeps them from being taken for the answer.
    // Flushing a tty waits on its buffer work even when the queue is
    // empty, so only a non-empty queue is flushed.
    Result Discard() override {
        int pending = 0;
        const bool known = ::ioctl(m_fd, FIONREAD, &pending) == 0;
        m_discardedInput = known && pending > 0;
        if (!known || pending > 0) {
            ::tcflush(m_fd, TCIFLUSH);
        }
        return Result::Ok;
    }

    Result Write(std::span<const std::uint8_t> bytes, Clock::time_point deadline) override {
        while (!bytes.empty()) {
            const ssize_t n = ::write(m_fd, bytes.data(), bytes.size());
            if (n > 0) {
                bytes = bytes.subspan(static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno != EAGAIN) {
                return Result::WriteFailed;
            }
            pollfd p{m_fd, POLLOUT, 0};
            const timespec left = Remaining(deadline);
            if (left.tv_sec == 0 && left.tv_nsec == 0) {
                return Result::WriteFailed;
            }
            if (::ppoll(&p, 1, &left, nullptr) < 0 && errno != EINTR) {
                return Result::WriteFailed;
            }
        }
        return Result::Ok;
    }

    // Waits first and reads after: right after a request nothing is there
    // yet, and a read that would fail costs a system call per transaction.
    Result Read(std::vector<std::uint8_t>& chunk, Clock::time_point deadline) override {
        chunk.clear();
        for (;;) {
            pollfd both[2] = {{m_fd, POLLIN, 0}, {m_cancel, POLLIN, 0}};
            const pollfd& p = both[0];
            const timespec left = Remaining(deadline);
            const int ready = ::ppoll(both, m_cancel >= 0 ? 2 : 1, &left, nullptr);
            if (ready < 0 && errno != EINTR) {
                return Result::ReadFailed;
            }
            if (ready > 0 && (both[1].revents & POLLIN) != 0) {
                return Result::Cancelled;
            }
            if (ready == 0) {
                return Result::Ok;
            }
            if (ready > 0 && (p.revents & (POLLERR | POLLNVAL)) != 0) {
                return Result::ReadFailed;
            }
            if (ready > 0 && (p.revents & POLLIN) == 0 && (p.revents & POLLHUP) != 0) {
                // The far end of a pseudo-terminal is gone: nothing will come.
                std::this_thread::sleep_until(deadline);
                return Result::Ok;
            }
            std::array<std::uint8_t, 256> buffer{};
            const ssize_t n = ::read(m_fd, buffer.data(), buffer.size());
            if (n > 0) {
                chunk.assign(buffer.begin(), buffer.begin() + n);
                return Result::Ok;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return Result::ReadFailed;
            }
        }
    }

    bool Datagrams() const override { return false; }

  private:
    int m_fd;
    int m_cancel;  // -1: nobody can cancel
};

}  // namespace

Opened OpenSerial(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        switch (errno) {
            case ENOENT:
            case ENODEV:
            case ENXIO:
                return {Result::NoDevice, nullptr};
            case EBUSY:
                return {Result::DeviceBusy, nullptr};
            default:
                return {Result::OpenFailed, nullptr};
        }
    }
    if (::isatty(fd) == 0) {
        ::close(fd);
        return {Result::OpenFailed, nullptr};
    }
    // Two programs writing to one bus garble each other's frames: the lock
    // keeps out other cooperating programs, TIOCEXCL everyone else.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return {Result::DeviceBusy, nullptr};
    }
    ::ioctl(fd, TIOCEXCL);
    auto transport = std::make_unique<SerialTransport>(fd);
    const Result r = transport->SetSpeed(9600);
    if (r != Result::Ok) {
        return {r, nullptr};
    }
    return {Result::Ok, std::move(transport)};
}

}  // namespace drv
