// POSIX side of the simulator: pseudo-terminal, UDP socket, stdin and
// signals, multiplexed with ppoll so that one thread serves them all and
// no reply waits on another's I/O.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "Server.h"
#include "ServerCommon.h"

namespace sim {

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnStopSignal(int) { g_stop = 1; }

constexpr std::pair<speed_t, std::uint32_t> kBaudConstants[] = {
    {B600, 600},     {B1200, 1200},   {B2400, 2400},   {B4800, 4800},     {B9600, 9600},
    {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200},
};

std::uint32_t BaudOf(speed_t constant) {
    for (const auto& [c, bd] : kBaudConstants) {
        if (c == constant) {
            return bd;
        }
    }
    return 0;
}

Peer PeerOf(const sockaddr_in& address) { return {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)}; }

sockaddr_in AddressOf(const Peer& peer) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(peer.address);
    address.sin_port = htons(peer.port);
    return address;
}

class Server final : public ServerCore {
  public:
    Server(const Options& options, Bus& bus) : ServerCore(options, bus) {
        m_ptyDecoder.LogDropsTo(options.trace ? &m_drops : nullptr);
    }

    ~Server() override {
        for (int fd : {m_master, m_slave, m_udp}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
        if (!m_options.link.empty() && m_linkMade) {
            ::unlink(m_options.link.c_str());
        }
    }

    int Run() {
        if ((m_options.pty && !OpenPty()) || (m_options.udpPort && !OpenUdp())) {
            return 1;
        }
#ifdef __linux__
        // An emulated line keeps its byte times: the kernel's default 50 us
        // of timer slack would make every paced byte that much late.
        if (m_options.lineTime) {
            ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        }
#endif
        std::printf("ready\n");
        std::fflush(stdout);
        return Loop();
    }

  private:
    bool OpenPty() {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
            std::fprintf(stderr, "rq905-sim: cannot create a pseudo-terminal: %s\n", std::strerror(errno));
            return false;
        }
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        const char* name = ::ptsname(m_master);
        if (name == nullptr) {
            return false;
        }
        m_ptyPath = name;
        // Holding the far end open keeps the master from reporting hang-ups
        // between two drivers' sessions, and lets us read the line speed the
        // driver set.
        m_slave = ::open(m_ptyPath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_slave < 0) {
            std::fprintf(stderr, "rq905-sim: cannot open %s: %s\n", m_ptyPath.c_str(), std::strerror(errno));
            return false;
        }
        termios tio{};
        ::tcgetattr(m_slave, &tio);
        ::cfmakeraw(&tio);
        const speed_t constant = kBaudConstants[m_bus.Modules().front().SpeedIndex()].first;
        ::cfsetispeed(&tio, constant);
        ::cfsetospeed(&tio, constant);
        ::tcsetattr(m_slave, TCSANOW, &tio);
        std::printf("pty %s\n", m_ptyPath.c_str());
        if (!m_options.link.empty()) {
            struct stat st {};
            if (::lstat(m_options.link.c_str(), &st) == 0) {
                if (!S_ISLNK(st.st_mode)) {
                    std::fprintf(stderr, "rq905-sim: %s exists and is not a symlink\n",
                                 m_options.link.c_str());
                    return false;
                }
                ::unlink(m_options.link.c_str());
            }
            if (::symlink(m_ptyPath.c_str(), m_options.link.c_str()) != 0) {
                std::fprintf(stderr, "rq905-sim: cannot create %s: %s\n", m_options.link.c_str(),
                             std::strerror(errno));
                return false;
            }
            m_linkMade = true;
            std::printf("link %s -> %s\n", m_options.link.c_str(), m_ptyPath.c_str());
        }
        return true;
    }

    bool OpenUdp() {
        m_udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(*m_options.udpPort);
        if (m_udp < 0 || ::inet_pton(AF_INET, m_options.bindAddress.c_str(), &address.sin_addr) != 1 ||
            ::bind(m_udp, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            std::fprintf(stderr, "rq905-sim: cannot serve UDP on %s:%u: %s\n", m_options.bindAddress.c_str(),
                         unsigned{*m_options.udpPort}, std::strerror(errno));
            return false;
        }
        socklen_t length = sizeof address;
        ::getsockname(m_udp, reinterpret_cast<sockaddr*>(&address), &length);
        std::printf("udp %s:%u\n", m_options.bindAddress.c_str(), unsigned{ntohs(address.sin_port)});
        return true;
    }

    int Loop() {
        sigset_t blocked{};
        sigset_t waiting{};
        sigemptyset(&blocked);
        sigprocmask(SIG_BLOCK, nullptr, &waiting);
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        for (const int signal : {SIGINT, SIGTERM}) {
            // A signal ignored by whoever started the simulator (nohup, a
            // background job of a script) stays ignored.
            struct sigaction inherited {};
            if (sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) continue;
            sigaddset(&blocked, signal);
            sigdelset(&waiting, signal);
            sigaction(signal, &action, nullptr);
        }
        sigprocmask(SIG_BLOCK, &blocked, nullptr);
        std::signal(SIGPIPE, SIG_IGN);

        bool stdinOpen = true;
        while (!g_stop && !m_quit) {
            std::vector<pollfd> fds;
            if (m_master >= 0) {
                fds.push_back({m_master, POLLIN, 0});
            }
            if (m_udp >= 0) {
                fds.push_back({m_udp, POLLIN, 0});
            }
            if (stdinOpen) {
                fds.push_back({STDIN_FILENO, POLLIN, 0});
            }
            std::optional<Clock::time_point> wake = NextWake();
            if (const auto pattern = PatternWake()) {
                wake = wake ? std::min(*wake, *pattern) : *pattern;
            }
            timespec timeout{};
            timespec* timeoutPointer = nullptr;
            if (wake) {
                const auto ns = std::max<std::int64_t>(
                    0, std::chrono::duration_cast<std::chrono::nanoseconds>(*wake - Clock::now()).count());
                timeout = {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
                timeoutPointer = &timeout;
            }
            const int ready = ::ppoll(fds.data(), fds.size(), timeoutPointer, &waiting);
            if (ready < 0 && errno != EINTR) {
                std::perror("rq905-sim: ppoll");
                return 1;
            }
            for (const auto& p : fds) {
                if (p.revents == 0) {
                    continue;
                }
                if (p.fd == m_master) {
                    ReadPty();
                } else if (p.fd == m_udp) {
                    ReadUdp();
                } else if (!ReadConsole()) {
                    stdinOpen = false;
                }
            }
            SendDue();
            StepPatternIfDue(Clock::now());
        }
        if (!m_options.quiet) {
            std::printf("stopped\n");
        }
        return 0;
    }

    // One read per wake-up: poll reports what is left, and a read that
    // finds nothing would cost every transaction a system call.
    void ReadPty() {
        std::array<std::uint8_t, 4096> buffer{};
        const ssize_t n = ::read(m_master, buffer.data(), buffer.size());
        if (n <= 0) {
            return;
        }
        m_ptyDecoder.Feed(std::span(buffer.data(), static_cast<std::size_t>(n)));
        while (auto request = m_ptyDecoder.Next()) {
            TraceDrops();
            Process(*request, wire::Encode(*request), false, {});
        }
        TraceDrops();
    }

    void TraceDrops() {
        for (const auto& d : m_drops) {
            Trace("rx", false, {}, d.bytes, d.damaged ? "ignored crc" : "ignored noise");
        }
        m_drops.clear();
    }

    void ReadUdp() {
        std::array<std::uint8_t, 2048> buffer{};
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const ssize_t n =
            ::recvfrom(m_udp, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&peer), &length);
        if (n < 0) {
            return;
        }
        const auto datagram = std::span(buffer.data(), static_cast<std::size_t>(n));
        if (auto request = wire::DecodeRequest(datagram)) {
            Process(*request, datagram, true, PeerOf(peer));
        } else {
            Trace("rx", true, PeerOf(peer), datagram,
                  datagram.size() == wire::kRequestSize ? "ignored crc" : "ignored noise");
        }
    }

    // False at end of input: the simulator keeps running without a console.
    bool ReadConsole() {
        std::array<char, 1024> buffer{};
        const ssize_t n = ::read(STDIN_FILENO, buffer.data(), buffer.size());
        if (n <= 0) {
            return n < 0 && (errno == EINTR || errno == EAGAIN);
        }
        Console(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
        return true;
    }

    std::uint32_t PtyLineSpeed() const override {
        termios tio{};
        return ::tcgetattr(m_slave, &tio) == 0 ? BaudOf(::cfgetospeed(&tio)) : 0;
    }

    // Bytes on the pty this long after the entry began.
    static std::size_t BytesDue(const Outgoing& entry, Clock::time_point now) {
        if (entry.pace == Clock::duration::zero()) {
            return entry.bytes.size();
        }
        if (now < entry.start) {
            return 0;
        }
        return std::min<std::size_t>(entry.bytes.size(),
                                     static_cast<std::size_t>((now - entry.start) / entry.pace));
    }

    // Datagrams go whole when due. The pty is one line: one entry at a time,
    // in order of due time, each byte written once its whole line time has
    // passed, so that a held reply never overtakes the noise meant to
    // precede it and two replies never mix.
    void SendDue() override {
        const auto now = Clock::now();
        std::stable_sort(m_waiting.begin(), m_waiting.end(),
                         [](const Outgoing& a, const Outgoing& b) { return a.due < b.due; });
        for (;;) {
            if (m_onLine) {
                const std::size_t due = BytesDue(*m_onLine, now);
                if (due > m_onLine->sent) {
                    // A full pty buffer means nobody reads: the bytes are
                    // lost, as they would be on a real line.
                    [[maybe_unused]] const ssize_t n =
                        ::write(m_master, m_onLine->bytes.data() + m_onLine->sent, due - m_onLine->sent);
                    m_onLine->sent = due;
                }
                if (m_onLine->sent < m_onLine->bytes.size()) {
                    break;
                }
                Trace("tx", false, {}, m_onLine->bytes, m_onLine->note);
                m_lineFree = m_onLine->start + m_onLine->pace * static_cast<int>(m_onLine->bytes.size());
                m_onLine.reset();
            }
            auto next = std::find_if(m_waiting.begin(), m_waiting.end(),
                                     [&](const Outgoing& o) { return o.due <= now; });
            if (next == m_waiting.end()) {
                break;
            }
            if (next->udp) {
                const sockaddr_in peer = AddressOf(next->peer);
                ::sendto(m_udp, next->bytes.data(), next->bytes.size(), 0,
                         reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
                Trace("tx", true, next->peer, next->bytes, next->note);
            } else {
                next->start = std::max(next->due, m_lineFree);
                m_onLine = std::move(*next);
            }
            m_waiting.erase(next);
        }
    }

    std::optional<Clock::time_point> NextWake() const {
        std::optional<Clock::time_point> wake;
        const auto consider = [&](Clock::time_point t) { wake = wake ? std::min(*wake, t) : t; };
        if (m_onLine) {
            consider(m_onLine->start + m_onLine->pace * static_cast<int>(m_onLine->sent + 1));
        }
        for (const auto& o : m_waiting) {
            // A pty entry waits for the line; the entry on it wakes us.
            if (o.udp || !m_onLine) {
                consider(o.udp ? o.due : std::max(o.due, m_lineFree));
            }
        }
        return wake;
    }

    int m_master = -1;
    int m_slave = -1;
    int m_udp = -1;
    std::string m_ptyPath;
    bool m_linkMade = false;
    wire::RequestDecoder m_ptyDecoder;
    std::vector<wire::RequestDecoder::Dropped> m_drops;
    std::optional<Outgoing> m_onLine;
    Clock::time_point m_lineFree{};
};

}  // namespace

void LocalTime(std::time_t seconds, std::tm& local) { ::localtime_r(&seconds, &local); }

int Serve(const Options& options, Bus& bus) {
    Server server(options, bus);
    return server.Run();
}

}  // namespace sim
