// POSIX side of the simulator: pseudo-terminal, UDP socket, stdin and
// signals, multiplexed with ppoll so that one thread serves them all and
// no reply waits on another's I/O.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
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
#include <ctime>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "ConsoleLines.h"
#include "Server.h"

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

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

// Line time of some bytes, to the nanosecond, so that pacing a reply byte by
// byte does not add up rounding.
Clock::duration LineTime(std::size_t bytes, std::uint32_t baud) {
    return std::chrono::nanoseconds(std::uint64_t{bytes} * wire::kBitsPerByte * 1'000'000'000U / baud);
}

struct Outgoing {
    Clock::time_point due;
    bool udp;
    sockaddr_in peer;
    std::vector<std::uint8_t> bytes;
    // Time of one byte on the pty, zero for all at once.
    Clock::duration pace{};
    // What the trace says beside the bytes: a fault done to them.
    std::string note;
    // On the pty: when the first byte began and how many are out.
    Clock::time_point start{};
    std::size_t sent = 0;
};

// "2025-01-10 14:03:07.123456 ", the local time, as the drivers' trace has it.
std::string TraceTime() {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    const std::time_t seconds = static_cast<std::time_t>(us / 1'000'000);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char text[48];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%06d ", static_cast<int>(us % 1'000'000));
    return text;
}

class Server {
  public:
    Server(const Options& options, Bus& bus)
        : m_options(options),
          m_bus(bus),
          m_faults(options.faults, options.seed),
          m_patternRandom(options.seed + 1) {
        m_ptyDecoder.LogDropsTo(options.trace ? &m_drops : nullptr);
    }

    ~Server() {
        for (int fd : {m_master, m_slave, m_udp}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
        if (!m_options.link.empty() && m_linkMade) {
            ::unlink(m_options.link.c_str());
        }
    }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    int Run() {
        if ((m_options.pty && !OpenPty()) || (m_options.udpPort && !OpenUdp())) {
            return 1;
        }
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
        sigaddset(&blocked, SIGINT);
        sigaddset(&blocked, SIGTERM);
        sigprocmask(SIG_BLOCK, &blocked, &waiting);
        sigdelset(&waiting, SIGINT);
        sigdelset(&waiting, SIGTERM);
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
        std::signal(SIGPIPE, SIG_IGN);

        bool stdinOpen = true;
        auto nextPattern = Clock::now() + std::chrono::milliseconds(m_options.patternMs);
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
            if (m_options.pattern != Pattern::Fixed) {
                wake = wake ? std::min(*wake, nextPattern) : nextPattern;
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
            if (m_options.pattern != Pattern::Fixed && Clock::now() >= nextPattern) {
                StepPattern();
                nextPattern += std::chrono::milliseconds(m_options.patternMs);
            }
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

    void Trace(const char* direction, bool udp, const sockaddr_in& peer, std::span<const std::uint8_t> bytes,
               const std::string& note) {
        if (!m_options.trace) {
            return;
        }
        std::string line = TraceTime() + "rq905-sim ";
        if (udp) {
            char address[INET_ADDRSTRLEN] = "";
            ::inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
            line += "udp " + std::string(address) + ":" + std::to_string(ntohs(peer.sin_port));
        } else {
            line += "pty";
        }
        line += ' ';
        line += direction;
        line += ' ';
        wire::AppendHex(line, bytes);
        if (!note.empty()) {
            line += ' ' + note;
        }
        std::printf("%s\n", line.c_str());
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
            Process(*request, datagram, true, peer);
        } else {
            Trace("rx", true, peer, datagram,
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
        for (const auto& line :
             m_console.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)))) {
            const std::string answer =
                line.tooLong ? "error: line too long"
                             : RunConsoleCommand(line.text, {m_bus, m_faults, m_silent, m_quit});
            if (!answer.empty()) {
                std::printf("%s\n", answer.c_str());
            }
        }
        std::fflush(stdout);
        return true;
    }

    void Process(const wire::Request& request, std::span<const std::uint8_t> received, bool udp,
                 const sockaddr_in& peer) {
        if (m_silent) {
            Trace("rx", udp, peer, received, "ignored silent");
            return;
        }
        Module* module = m_bus.Find(request.address);
        if (module == nullptr) {
            Trace("rx", udp, peer, received, "ignored address");
            return;
        }
        const std::uint32_t moduleSpeed = wire::kSpeeds[module->SpeedIndex()];
        if (!udp && !m_options.anySpeed) {
            termios tio{};
            const std::uint32_t lineSpeed = ::tcgetattr(m_slave, &tio) == 0 ? BaudOf(::cfgetospeed(&tio)) : 0;
            if (lineSpeed != moduleSpeed) {
                Trace("rx", udp, peer, received, "ignored speed");
                if (lineSpeed != m_reportedSpeed && !m_options.quiet) {
                    std::printf("line set to %u Bd but module %u runs at %u Bd: requests ignored\n",
                                lineSpeed, unsigned{module->Address()}, moduleSpeed);
                    std::fflush(stdout);
                }
                m_reportedSpeed = lineSpeed;
                return;
            }
        }
        Trace("rx", udp, peer, received, "taken");
        Changes changes;
        wire::Reply reply = module->Handle(request, &changes);
        Report(*module, changes);

        // The request's own line time passes before the module has it, then
        // its turnaround; the reply then takes its own line time, byte by
        // byte on the pty, whole at its end over UDP.
        auto due = Clock::now();
        Clock::duration pace{};
        if (m_options.lineTime) {
            due +=
                LineTime(wire::kRequestSize, moduleSpeed) + std::chrono::milliseconds(m_options.turnaroundMs);
            if (udp) {
                due += LineTime(wire::kReplySize, moduleSpeed);
            } else {
                pace = LineTime(1, moduleSpeed);
            }
        }
        std::vector<std::uint8_t> noise;
        std::string note;
        const Fault fault = m_faults.Pick();
        switch (fault) {
            case Fault::Drop:
                Trace("tx", udp, peer, wire::Encode(reply), "dropped");
                return;
            case Fault::Delay:
                due += std::chrono::milliseconds(m_options.delayMs);
                note = "delayed " + std::to_string(m_options.delayMs) + " ms";
                break;
            case Fault::WrongAddress:
                reply.address = static_cast<std::uint8_t>(reply.address + 1);
                note = "wrong address";
                break;
            case Fault::Noise:
                noise = m_faults.Noise();
                note = "after noise";
                break;
            default:
                break;
        }
        auto frame = wire::Encode(reply);
        if (fault == Fault::Corrupt) {
            m_faults.Corrupt(frame);
            note = "corrupted";
        }
        if (udp && !noise.empty()) {
            // A stray datagram of a reply's exact size would be taken for
            // the reply, damaged; noise on a LAN is never that polite.
            if (noise.size() == wire::kReplySize) {
                noise.push_back(0);
            }
            m_waiting.push_back({due, udp, peer, std::move(noise), pace, "noise"});
            noise.clear();
        }
        noise.insert(noise.end(), frame.begin(), frame.end());
        m_waiting.push_back({due, udp, peer, std::move(noise), pace, note});
        SendDue();
    }

    void Report(const Module& module, const Changes& changes) {
        // Stored registers persist whether or not anything is printed.
        if (changes.registerWritten) {
            std::string why;
            if (!SaveState(m_options.statePath, m_bus.StoredState(), &why)) {
                std::fprintf(stderr, "rq905-sim: %s\n", why.c_str());
            }
        }
        if (m_options.quiet) {
            return;
        }
        const unsigned address = module.Address();
        if (changes.outputs) {
            std::printf("module %u: outputs 0x%02X (pins 0x%02X)\n", address, unsigned{module.Outputs()},
                        unsigned{module.OutputPins()});
        }
        if (changes.pwm) {
            std::printf("module %u: pwm %u\n", address, unsigned{module.Pwm()});
        }
        if (changes.statusCleared) {
            std::printf("module %u: status cleared\n", address);
        }
        if (changes.registerWritten) {
            const std::uint8_t number = *changes.registerWritten;
            std::printf("module %u: register %u = %u%s\n", address, unsigned{number},
                        unsigned{module.Stored().Get(number)},
                        number == reg::kBusAddress || number == reg::kSpeedIndex
                            ? ", takes effect at next start"
                            : "");
        }
        std::fflush(stdout);
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
    void SendDue() {
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
                ::sendto(m_udp, next->bytes.data(), next->bytes.size(), 0,
                         reinterpret_cast<const sockaddr*>(&next->peer), sizeof next->peer);
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

    void StepPattern() {
        ++m_patternStep;
        std::uint8_t pins = 0;
        switch (m_options.pattern) {
            case Pattern::Walk:
                pins = static_cast<std::uint8_t>(1U << (m_patternStep % 8));
                break;
            case Pattern::Count:
                pins = static_cast<std::uint8_t>(m_patternStep);
                break;
            case Pattern::Random:
                pins = static_cast<std::uint8_t>(m_patternRandom());
                break;
            case Pattern::Fixed:
                return;
        }
        for (auto& module : m_bus.Modules()) {
            module.SetInputs(pins);
        }
    }

    const Options& m_options;
    Bus& m_bus;
    FaultInjector m_faults;
    std::mt19937 m_patternRandom;
    unsigned m_patternStep = 0;
    int m_master = -1;
    int m_slave = -1;
    int m_udp = -1;
    std::string m_ptyPath;
    bool m_linkMade = false;
    wire::RequestDecoder m_ptyDecoder;
    std::vector<wire::RequestDecoder::Dropped> m_drops;
    std::vector<Outgoing> m_waiting;
    std::optional<Outgoing> m_onLine;
    Clock::time_point m_lineFree{};
    ConsoleLines m_console;
    bool m_silent = false;
    bool m_quit = false;
    std::uint32_t m_reportedSpeed = 0;
};

}  // namespace

int Serve(const Options& options, Bus& bus) {
    Server server(options, bus);
    return server.Run();
}

}  // namespace sim
