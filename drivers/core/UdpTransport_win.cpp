// The UDP transport to the LAN converter on Winsock. As on POSIX the
// socket is connected, so datagrams from any other sender are dropped.
// Winsock has no resolver that can be given up on, so a host name is
// looked up on a thread of its own that the caller stops waiting for.
// winsock2.h must come before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "Transport.h"

namespace drv {

namespace {

// Started once and never cleaned up: the library may be unloaded while
// another one in the process still uses Winsock.
bool WinsockReady() {
    static const bool ready = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ready;
}

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 0x7FFFFFFF));
}

class UdpTransport final : public Transport {
  public:
    explicit UdpTransport(SOCKET s) : m_socket(s) {}
    ~UdpTransport() override { closesocket(m_socket); }
    UdpTransport(const UdpTransport&) = delete;
    UdpTransport& operator=(const UdpTransport&) = delete;

    Result SetSpeed(std::uint32_t) override { return Result::Ok; }

    Result Discard() override {
        std::array<char, 512> sink{};
        for (;;) {
            WSAPOLLFD p{m_socket, POLLRDNORM, 0};
            if (WSAPoll(&p, 1, 0) <= 0) break;
            if (recv(m_socket, sink.data(), static_cast<int>(sink.size()), 0) < 0 &&
                WSAGetLastError() != WSAECONNRESET && WSAGetLastError() != WSAEMSGSIZE) {
                break;
            }
        }
        return Result::Ok;
    }

    Result Write(std::span<const std::uint8_t> bytes, Clock::time_point) override {
        const int n =
            send(m_socket, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0);
        if (n == static_cast<int>(bytes.size())) {
            return Result::Ok;
        }
        const int error = WSAGetLastError();
        return (error == WSAECONNRESET || error == WSAENETUNREACH || error == WSAEHOSTUNREACH)
                   ? Result::Unreachable
                   : Result::WriteFailed;
    }

    // Waits first and reads after, as the POSIX transport does. Winsock
    // reports an ICMP port-unreachable as WSAECONNRESET on the next recv.
    Result Read(std::vector<std::uint8_t>& chunk, Clock::time_point deadline) override {
        chunk.clear();
        for (;;) {
            WSAPOLLFD p{m_socket, POLLRDNORM, 0};
            const int ready = WSAPoll(&p, 1, MillisecondsLeft(deadline));
            if (ready < 0) {
                return Result::ReadFailed;
            }
            if (ready == 0) {
                if (Clock::now() >= deadline) return Result::Ok;
                continue;
            }
            std::array<char, 512> buffer{};
            const int n = recv(m_socket, buffer.data(), static_cast<int>(buffer.size()), 0);
            if (n > 0) {
                chunk.assign(buffer.begin(), buffer.begin() + n);
                return Result::Ok;
            }
            const int error = WSAGetLastError();
            if (n < 0 && error == WSAECONNRESET) {
                return Result::Unreachable;
            }
            if (n < 0 && error != WSAEWOULDBLOCK && error != WSAEMSGSIZE) {
                return Result::ReadFailed;
            }
        }
    }

    bool Datagrams() const override { return true; }

  private:
    SOCKET m_socket;
};

// Shared by the caller and the lookup thread; whichever leaves last frees it.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool found = false;
    in_addr address{};
};

// A lookup thread given up on still runs code of this library, so the
// library stays loaded after its last FreeLibrary, as on Linux.
void PinLibrary() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&PinLibrary), &self);
}

Result Resolve(const std::string& host, std::chrono::milliseconds wait, in_addr& address) {
    PinLibrary();
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host] {
            addrinfo hints{};
            hints.ai_family = AF_INET;
            hints.ai_socktype = SOCK_DGRAM;
            addrinfo* found = nullptr;
            const bool ok = getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0 && found != nullptr;
            std::lock_guard lock(lookup->mutex);
            if (ok) {
                sockaddr_in resolved{};
                std::memcpy(&resolved, found->ai_addr, sizeof resolved);
                lookup->address = resolved.sin_addr;
            }
            if (found != nullptr) freeaddrinfo(found);
            lookup->found = ok;
            lookup->finished = true;
            lookup->done.notify_all();
        }).detach();
    } catch (...) {
        return Result::HostNotFound;
    }
    std::unique_lock lock(lookup->mutex);
    if (!lookup->done.wait_for(lock, wait, [&] { return lookup->finished; }) || !lookup->found) {
        return Result::HostNotFound;
    }
    address = lookup->address;
    return Result::Ok;
}

}  // namespace

Opened OpenUdp(const std::string& host, std::uint16_t port, std::chrono::milliseconds resolveWait) {
    if (port == 0) {
        return {Result::BadUdpPort, nullptr};
    }
    if (!WinsockReady()) {
        return {Result::SocketError, nullptr};
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    if (inet_pton(AF_INET, host.c_str(), &target.sin_addr) != 1) {
        if (!IsHostName(host)) {
            return {Result::BadIpAddress, nullptr};
        }
        if (Result r = Resolve(host, resolveWait, target.sin_addr); r != Result::Ok) {
            return {r, nullptr};
        }
    }
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        return {Result::SocketError, nullptr};
    }
    // Never inherited by a program the host process starts.
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    if (connect(s, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
        closesocket(s);
        return {Result::Unreachable, nullptr};
    }
    return {Result::Ok, std::make_unique<UdpTransport>(s)};
}

}  // namespace drv
