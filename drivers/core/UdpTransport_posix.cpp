// The UDP transport to the LAN converter, on BSD sockets. The socket is
// connected, so the kernel drops datagrams from any other sender.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "Deadline_posix.h"
#include "Transport.h"

namespace drv {

namespace {

class UdpTransport final : public Transport {
  public:
    explicit UdpTransport(int fd) : m_fd(fd) {}
    ~UdpTransport() override { ::close(m_fd); }
    UdpTransport(const UdpTransport&) = delete;
    UdpTransport& operator=(const UdpTransport&) = delete;

    Result SetSpeed(std::uint32_t) override { return Result::Ok; }

    Result Discard() override {
        std::array<std::uint8_t, 512> sink{};
        while (::recv(m_fd, sink.data(), sink.size(), MSG_DONTWAIT) >= 0 || errno == EINTR ||
               errno == ECONNREFUSED) {
        }
        return Result::Ok;
    }

    Result Write(std::span<const std::uint8_t> bytes, Clock::time_point) override {
        for (;;) {
            const ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), 0);
            if (n == static_cast<ssize_t>(bytes.size())) {
                return Result::Ok;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            return (n < 0 && (errno == ECONNREFUSED || errno == ENETUNREACH || errno == EHOSTUNREACH))
                       ? Result::Unreachable
                       : Result::WriteFailed;
        }
    }

    // Waits first and reads after, as the serial transport does.
    Result Read(std::vector<std::uint8_t>& chunk, Clock::time_point deadline) override {
        chunk.clear();
        for (;;) {
            pollfd p{m_fd, POLLIN, 0};
            const timespec left = Remaining(deadline);
            const int ready = ::ppoll(&p, 1, &left, nullptr);
            if (ready < 0 && errno != EINTR) {
                return Result::ReadFailed;
            }
            if (ready == 0) {
                return Result::Ok;
            }
            std::array<std::uint8_t, 512> buffer{};
            const ssize_t n = ::recv(m_fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (n > 0) {
                chunk.assign(buffer.begin(), buffer.begin() + n);
                return Result::Ok;
            }
            if (n < 0 && errno == ECONNREFUSED) {
                return Result::Unreachable;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return Result::ReadFailed;
            }
        }
    }

    bool Datagrams() const override { return true; }

  private:
    int m_fd;
};

}  // namespace

Opened OpenUdp(const std::string& host, std::uint16_t port) {
    if (port == 0) {
        return {Result::BadUdpPort, nullptr};
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (host.empty() || ::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return {Result::BadIpAddress, nullptr};
    }
    sockaddr_in target{};
    std::memcpy(&target, found->ai_addr, sizeof target);
    ::freeaddrinfo(found);
    target.sin_port = htons(port);

    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return {Result::SocketError, nullptr};
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
        ::close(fd);
        return {Result::Unreachable, nullptr};
    }
    return {Result::Ok, std::make_unique<UdpTransport>(fd)};
}

}  // namespace drv
