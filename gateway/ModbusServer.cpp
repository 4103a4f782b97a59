#include "ModbusServer.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "Log.h"

namespace {

constexpr int kHeaderLength = 7;  // MBAP header
// select() cannot watch descriptors beyond FD_SETSIZE; further clients are
// turned away.
constexpr int kMaxFd = FD_SETSIZE - 1;
constexpr int kMaxClients = 512;

std::string PeerText(const sockaddr_storage& peer) {
    char text[INET6_ADDRSTRLEN] = "?";
    if (peer.ss_family == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(peer).sin_addr, text, sizeof text);
    } else if (peer.ss_family == AF_INET6) {
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr, text, sizeof text);
    }
    return text;
}

// The peer's IPv4 address (also one mapped into IPv6), for --allow-from.
bool PeerIpv4(const sockaddr_storage& peer, uint32_t& address) {
    if (peer.ss_family == AF_INET) {
        address = ntohl(reinterpret_cast<const sockaddr_in&>(peer).sin_addr.s_addr);
        return true;
    }
    if (peer.ss_family == AF_INET6) {
        const in6_addr& a = reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr;
        if (!IN6_IS_ADDR_V4MAPPED(&a)) return false;
        std::memcpy(&address, a.s6_addr + 12, 4);
        address = ntohl(address);
        return true;
    }
    return false;
}

// Reads the rest of a frame that libmodbus did not know the length of (a
// function it does not serve), so the next frame starts where it should.
bool ReadRest(int fd, uint8_t* to, int count) {
    while (count > 0) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) return false;
        const ssize_t n = ::recv(fd, to, static_cast<std::size_t>(count), 0);
        if (n <= 0) return false;
        to += n;
        count -= static_cast<int>(n);
    }
    return true;
}

}  // namespace

TModbusServer::TModbusServer() {
    m_ctx = modbus_new_tcp_pi("127.0.0.1", "502");
    // A client that stops in the middle of a frame holds the loop this long.
    modbus_set_byte_timeout(m_ctx, 0, 100000);
    m_mapping = modbus_mapping_new(kMapBits, kMapBits, kMapRegisters, kMapInputRegisters);
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

TModbusServer::~TModbusServer() {
    while (!m_clients.empty()) Close(m_clients.begin()->first);
    if (m_listenFd >= 0) ::close(m_listenFd);
    if (m_wakeFd >= 0) ::close(m_wakeFd);
    modbus_mapping_free(m_mapping);
    modbus_free(m_ctx);
}

bool TModbusServer::Listen(const TListen& listen, std::string& error) {
    // Compared as asked for: port 0 stays the port it was given.
    if (m_listenFd >= 0 && listen == m_requested) return true;
    modbus_t* ctx = modbus_new_tcp_pi(listen.host.c_str(), std::to_string(listen.port).c_str());
    if (ctx == nullptr) {
        error = "bad Modbus address " + listen.host;
        return false;
    }
    const int fd = modbus_tcp_pi_listen(ctx, 64);
    // The context only bound the socket; the loop owns it from here.
    modbus_free(ctx);
    if (fd < 0) {
        error = "cannot listen on " + listen.host + ":" + std::to_string(listen.port) + ": " +
                modbus_strerror(errno);
        return false;
    }
    if (m_listenFd >= 0) ::close(m_listenFd);
    m_listenFd = fd;
    m_requested = listen;
    m_listen = listen;
    sockaddr_storage bound{};
    socklen_t size = sizeof bound;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &size) == 0) {
        m_listen.port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(bound).sin6_port
                                                          : reinterpret_cast<sockaddr_in&>(bound).sin_port);
    }
    Log(TPriority::Info, "modbus listening on " + m_listen.host + ":" + std::to_string(m_listen.port));
    return true;
}

void TModbusServer::Accept() {
    sockaddr_storage peer{};
    socklen_t size = sizeof peer;
    const int fd = ::accept4(m_listenFd, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
    if (fd < 0) return;
    uint32_t ipv4 = 0;
    const bool known = PeerIpv4(peer, ipv4);
    if ((!m_allowFrom.empty() && (!known || !CidrAllows(m_allowFrom, ipv4))) || fd > kMaxFd ||
        m_clients.size() >= kMaxClients) {
        Log(TPriority::Notice, "modbus client " + PeerText(peer) + " refused");
        ::close(fd);
        return;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // A client that does not read its replies must not stop the loop.
    const timeval sendLimit{0, 200000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
    m_clients[fd] = TClient{m_nextId++, false};
    m_clientCount = m_clients.size();
}

void TModbusServer::Close(int fd) {
    ::close(fd);
    m_clients.erase(fd);
    m_clientCount = m_clients.size();
}

void TModbusServer::Reply(int fd, const uint8_t* query, int length, const TDecision& decision) {
    modbus_set_socket(m_ctx, fd);
    int rc = 0;
    if (decision.action == TDecision::TAction::Exception) {
        ++m_exceptions;
        rc = modbus_reply_exception(m_ctx, query, decision.exception);
    } else {
        rc = modbus_reply(m_ctx, query, length, m_mapping);
    }
    if (rc < 0) Close(fd);
}

bool TModbusServer::ServeClient(int fd) {
    if (m_clients.find(fd) == m_clients.end()) m_clients[fd] = TClient{m_nextId++, false};
    uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
    modbus_set_socket(m_ctx, fd);
    int length = modbus_receive(m_ctx, query);
    if (length == 0) return true;
    if (length < kHeaderLength + 1) {
        Close(fd);
        return false;
    }
    // The header's length decides where the frame ends. A frame that
    // claims less than was read, more than Modbus allows, or another
    // protocol cannot be told from the next one: the connection ends.
    const int total = 6 + (query[4] << 8 | query[5]);
    if (query[2] != 0 || query[3] != 0 || total < length || total > MODBUS_TCP_MAX_ADU_LENGTH ||
        (total > length && !ReadRest(fd, query + length, total - length))) {
        Close(fd);
        return false;
    }
    length = total;
    ++m_requests;
    const uint8_t unit = query[6];
    TModuleView view;
    if (!m_source || !m_source->View(unit, view)) {
        Reply(fd, query, length, {TDecision::TAction::Exception, kExPathUnavailable, {}});
        return m_clients.count(fd) != 0;
    }
    const TMapTables tables{m_mapping->tab_bits, m_mapping->tab_input_bits, m_mapping->tab_input_registers,
                            m_mapping->tab_registers};
    TDecision decision = Decide(query + kHeaderLength, static_cast<std::size_t>(length - kHeaderLength), view,
                                m_allowed, tables);
    if (decision.action != TDecision::TAction::Write) {
        Reply(fd, query, length, decision);
        return m_clients.count(fd) != 0;
    }
    TClient& client = m_clients[fd];
    client.waiting = true;
    TDone done{fd, client.id, std::vector<uint8_t>(query, query + length), 0};
    m_source->Submit(unit, std::move(decision.write), [this, done](uint8_t exception) mutable {
        done.exception = exception;
        {
            std::lock_guard lock(m_doneMutex);
            m_done.push_back(std::move(done));
        }
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
    });
    return true;
}

void TModbusServer::Finish(const TDone& done) {
    const auto it = m_clients.find(done.fd);
    // The client may have gone, and its descriptor been given to another.
    if (it == m_clients.end() || it->second.id != done.id) return;
    it->second.waiting = false;
    Reply(done.fd, done.query.data(), static_cast<int>(done.query.size()),
          {done.exception == 0 ? TDecision::TAction::Reply : TDecision::TAction::Exception,
           done.exception,
           {}});
}

void TModbusServer::TakeDone() {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(m_wakeFd, &count, sizeof count);
    std::deque<TDone> done;
    {
        std::lock_guard lock(m_doneMutex);
        done.swap(m_done);
    }
    for (const TDone& d : done) Finish(d);
}

void TModbusServer::RunOnce(int timeoutMs, int extraFd, bool& extraReady) {
    extraReady = false;
    fd_set read;
    FD_ZERO(&read);
    int top = -1;
    const auto watch = [&](int fd) {
        if (fd < 0) return;
        FD_SET(fd, &read);
        top = std::max(top, fd);
    };
    watch(m_listenFd);
    watch(m_wakeFd);
    watch(extraFd);
    for (const auto& [fd, client] : m_clients) {
        if (!client.waiting) watch(fd);
    }
    timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int ready = ::select(top + 1, &read, nullptr, nullptr, &timeout);
    if (ready <= 0) return;
    if (extraFd >= 0 && FD_ISSET(extraFd, &read)) extraReady = true;
    if (FD_ISSET(m_wakeFd, &read)) TakeDone();
    std::vector<int> serve;
    for (const auto& [fd, client] : m_clients) {
        if (!client.waiting && FD_ISSET(fd, &read)) serve.push_back(fd);
    }
    // The round starts one client further each time, so that no client is
    // always answered last and always late for the next round.
    if (!serve.empty()) {
        std::rotate(serve.begin(), serve.begin() + static_cast<std::ptrdiff_t>(m_round++ % serve.size()),
                    serve.end());
    }
    for (const int fd : serve) ServeClient(fd);
    if (m_listenFd >= 0 && FD_ISSET(m_listenFd, &read)) Accept();
}
