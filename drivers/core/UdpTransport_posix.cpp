// The UDP transport to the LAN converter, on BSD sockets. The socket is
// connected, so the kernel drops datagrams from any other sender. Host
// names go through glibc's asynchronous resolver, which can be given up on.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "Cancel_posix.h"
#include "Deadline_posix.h"
#include "Transport.h"

namespace drv {

namespace {

class UdpTransport final : public Transport {
  public:
    explicit UdpTransport(int fd) : m_fd(fd), m_cancel(CancelFdFromEnvironment()) {}
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
            pollfd p[2] = {{m_fd, POLLIN, 0}, {m_cancel, POLLIN, 0}};
            const timespec left = Remaining(deadline);
            const int ready = ::ppoll(p, m_cancel >= 0 ? 2 : 1, &left, nullptr);
            if (ready < 0 && errno != EINTR) {
                return Result::ReadFailed;
            }
            if (ready > 0 && (p[1].revents & POLLIN) != 0) {
                return Result::Cancelled;
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
    int m_cancel;  // -1: nobody can cancel
};

// A lookup outlives its caller when the resolver cannot be stopped in
// time; the resolver's threads still write into it.
struct Lookup {
    std::string name;
    addrinfo hints{};
    gaicb request{};
};

// Never destroyed, so that unloading the library cannot free a lookup
// under a resolver thread.
std::mutex& AbandonedMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}
std::vector<std::unique_ptr<Lookup>>& Abandoned() {
    static auto* lookups = new std::vector<std::unique_ptr<Lookup>>;
    return *lookups;
}

void Release(Lookup& lookup) {
    if (lookup.request.ar_result != nullptr) {
        ::freeaddrinfo(lookup.request.ar_result);
        lookup.request.ar_result = nullptr;
    }
}

void ReapAbandoned() {
    std::lock_guard lock(AbandonedMutex());
    std::erase_if(Abandoned(), [](const std::unique_ptr<Lookup>& lookup) {
        if (::gai_error(&lookup->request) == EAI_INPROGRESS) {
            return false;
        }
        Release(*lookup);
        return true;
    });
}

// getaddrinfo alone waits as long as the resolver configuration says (ten
// seconds and more against a dead server); the connection's own wait bounds
// it here.
Result Resolve(const std::string& host, std::chrono::milliseconds wait, in_addr& address) {
    ReapAbandoned();
    auto lookup = std::make_unique<Lookup>();
    lookup->name = host;
    lookup->hints.ai_family = AF_INET;
    lookup->hints.ai_socktype = SOCK_DGRAM;
    lookup->request.ar_name = lookup->name.c_str();
    lookup->request.ar_request = &lookup->hints;
    gaicb* list[] = {&lookup->request};
    if (::getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr) != 0) {
        return Result::HostNotFound;
    }
    const auto deadline = Clock::now() + wait;
    while (::gai_error(&lookup->request) == EAI_INPROGRESS && Clock::now() < deadline) {
        const timespec left = Remaining(deadline);
        ::gai_suspend(list, 1, &left);
    }
    if (::gai_error(&lookup->request) == EAI_INPROGRESS &&
        ::gai_cancel(&lookup->request) == EAI_NOTCANCELED) {
        std::lock_guard lock(AbandonedMutex());
        Abandoned().push_back(std::move(lookup));
        return Result::HostNotFound;
    }
    const addrinfo* found = lookup->request.ar_result;
    const bool ok = ::gai_error(&lookup->request) == 0 && found != nullptr;
    if (ok) {
        sockaddr_in resolved{};
        std::memcpy(&resolved, found->ai_addr, sizeof resolved);
        address = resolved.sin_addr;
    }
    Release(*lookup);
    return ok ? Result::Ok : Result::HostNotFound;
}

}  // namespace

Opened OpenUdp(const std::string& host, std::uint16_t port, std::chrono::milliseconds resolveWait) {
    if (port == 0) {
        return {Result::BadUdpPort, nullptr};
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    // An address never waits for the resolver; only a name does.
    if (::inet_pton(AF_INET, host.c_str(), &target.sin_addr) != 1) {
        if (!IsHostName(host)) {
            return {Result::BadIpAddress, nullptr};
        }
        if (Result r = Resolve(host, resolveWait, target.sin_addr); r != Result::Ok) {
            return {r, nullptr};
        }
    }

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
