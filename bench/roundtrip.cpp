// Round trip of one module transaction through the driver ABI to the
// simulator, next to a raw 10-byte ping-pong over the same transport (the
// floor on this machine), and over UDP with the frame trace unset, set to
// nothing and naming a file. The measurements are interleaved so a noisy,
// shared machine disturbs all alike. Prints figures; judges nothing.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "DriverLib.h"
#include "SimProcess.h"
#include "Wire.h"

namespace {

using Clock = std::chrono::steady_clock;
using Samples = std::vector<double>;  // microseconds

double Percentile(Samples s, double p) {
    if (s.empty()) {
        return 0;
    }
    std::sort(s.begin(), s.end());
    const auto at = static_cast<std::size_t>(p * static_cast<double>(s.size() - 1));
    return s[at];
}

template <typename F>
double Time(F&& f) {
    const auto start = Clock::now();
    const bool ok = f();
    const auto end = Clock::now();
    return ok ? std::chrono::duration<double, std::micro>(end - start).count() : -1;
}

void Add(Samples& samples, double us, int& failures) {
    if (us < 0) {
        ++failures;
    } else {
        samples.push_back(us);
    }
}

// The floor's peer: a child process that echoes every chunk it reads from a
// pty master or a UDP socket, with the same poll loop shape as the simulator.
struct EchoPeer {
    pid_t pid = -1;
    std::string ptyPath;
    std::uint16_t udpPort = 0;

    bool Start() {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
            return false;
        }
        ptyPath = ::ptsname(master);
        const int udp = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(udp, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::getsockname(udp, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return false;
        }
        udpPort = ntohs(address.sin_port);
        // Keeping the slave open here too spares the master hang-ups.
        const int slave = ::open(ptyPath.c_str(), O_RDWR | O_NOCTTY);
        termios tio{};
        ::tcgetattr(slave, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(slave, TCSANOW, &tio);
        pid = ::fork();
        if (pid == 0) {
            std::array<pollfd, 2> fds{{{master, POLLIN, 0}, {udp, POLLIN, 0}}};
            std::array<std::uint8_t, 512> buffer{};
            for (;;) {
                if (::poll(fds.data(), fds.size(), -1) < 0) {
                    continue;
                }
                if (fds[0].revents & POLLIN) {
                    const ssize_t n = ::read(master, buffer.data(), buffer.size());
                    if (n > 0) {
                        [[maybe_unused]] ssize_t w =
                            ::write(master, buffer.data(), static_cast<std::size_t>(n));
                    }
                }
                if (fds[1].revents & POLLIN) {
                    sockaddr_in peer{};
                    socklen_t peerLength = sizeof peer;
                    const ssize_t n = ::recvfrom(udp, buffer.data(), buffer.size(), 0,
                                                 reinterpret_cast<sockaddr*>(&peer), &peerLength);
                    if (n > 0) {
                        ::sendto(udp, buffer.data(), static_cast<std::size_t>(n), 0,
                                 reinterpret_cast<sockaddr*>(&peer), peerLength);
                    }
                }
            }
        }
        ::close(master);
        ::close(udp);
        ::close(slave);
        return pid > 0;
    }
    ~EchoPeer() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

// Sends ten bytes and waits until ten bytes are back.
bool PingPong(int fd) {
    std::array<std::uint8_t, 10> ping{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    if (::write(fd, ping.data(), ping.size()) != static_cast<ssize_t>(ping.size())) {
        return false;
    }
    std::size_t got = 0;
    std::array<std::uint8_t, 64> buffer{};
    while (got < ping.size()) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 1000) <= 0) {
            return false;
        }
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0) {
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

int OpenRawSerial(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B115200);
    ::tcsetattr(fd, TCSANOW, &tio);
    return fd;
}

int OpenUdpClient(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    return fd;
}

struct Link {
    simharness::DriverLib* lib = nullptr;
    std::uint32_t handle = 0;
    bool Transact() const {
        std::array<std::uint32_t, abi318::kCellCount> request{1, 200, 0};
        std::array<std::uint32_t, abi318::kCellCount> reply{};
        std::uint32_t out = 0;
        std::uint32_t status = 0;
        return lib->send(handle, request.data(), reply.data(), &out, &status) == 0 && status == 0 &&
               reply[0] == 'R';
    }
};

// The trace variable is read at Init, so each link keeps what it saw then.
bool OpenUdp(simharness::SimProcess& sim, simharness::DriverLib& lan, const char* trace, Link& udp) {
    if (trace == nullptr) {
        ::unsetenv("RQ905_TRACE");
    } else {
        ::setenv("RQ905_TRACE", trace, 1);
    }
    udp.lib = &lan;
    static const char* const kHost = "127.0.0.1";
    std::array<std::uintptr_t, abi318::kInitParamCount> params{reinterpret_cast<std::uintptr_t>(kHost),
                                                               sim.UdpPort(), 0};
    const bool ok =
        lan.initBlock(&udp.handle, params.data()) == 0 && lan.setConfig(udp.handle, 115200, 5, 2) == 0;
    ::unsetenv("RQ905_TRACE");
    return ok;
}

bool OpenLinks(simharness::SimProcess& sim, simharness::DriverLib& com, simharness::DriverLib& lan,
               std::uint32_t speed, Link& serial, Link& udp) {
    ::setenv("RQ905_COM1", sim.PtyPath().c_str(), 1);
    serial.lib = &com;
    udp.lib = &lan;
    static const char* const kHost = "127.0.0.1";
    std::array<std::uintptr_t, abi318::kInitParamCount> params{reinterpret_cast<std::uintptr_t>(kHost),
                                                               sim.UdpPort(), 0};
    const auto index = wire::SpeedIndex(speed);
    const std::uint32_t allowance[] = {100, 100, 50, 25, 13, 7, 5, 5, 5};
    return com.initParam(&serial.handle, 1) == 0 &&
           com.setConfig(serial.handle, speed, allowance[index.value_or(4)], 2) == 0 &&
           lan.initBlock(&udp.handle, params.data()) == 0 &&
           lan.setConfig(udp.handle, speed, allowance[index.value_or(4)], 2) == 0;
}

void CloseLinks(Link& serial, Link& udp) {
    serial.lib->done(&serial.handle);
    udp.lib->done(&udp.handle);
}

void Row(const char* name, const Samples& s, double reference, const char* referenceName) {
    const double median = Percentile(s, 0.5);
    std::printf("  %-34s median %8.1f us   p99 %8.1f us", name, median, Percentile(s, 0.99));
    if (reference > 0) {
        std::printf("   %.2fx %s", median / reference, referenceName);
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int lineRounds = argc > 2 ? std::atoi(argv[2]) : 200;
    const auto dir = std::filesystem::temp_directory_path() / ("rq905-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);

    ::unsetenv("RQ905_TRACE");
    simharness::DriverLib com(RQ905_DRIVER_DIR, "TCOM318");
    simharness::DriverLib lan(RQ905_DRIVER_DIR, "TRQ1318");
    if (!com.Loaded() || !lan.Loaded()) {
        std::fprintf(stderr, "cannot load the driver libraries from %s\n", RQ905_DRIVER_DIR);
        return 1;
    }

    EchoPeer echo;
    if (!echo.Start()) {
        std::fprintf(stderr, "cannot start the echo peer\n");
        return 1;
    }
    const int rawSerial = OpenRawSerial(echo.ptyPath);
    const int rawUdp = OpenUdpClient(echo.udpPort);

    int failures = 0;
    Samples driverUdp, floorUdp, driverPty, floorPty, emptyUdp, tracedUdp;
    const std::string traceFile = (dir / "trace").string();
    {
        simharness::SimProcess sim(RQ905_SIM_EXECUTABLE,
                                   {"--fresh", "--state", (dir / "fast").string(), "--pty", "--udp", "0",
                                    "--speed", "115200", "--quiet"});
        Link serial, udp, udpEmpty, udpTraced;
        if (!sim.Ready() || !OpenLinks(sim, com, lan, 115200, serial, udp) ||
            !OpenUdp(sim, lan, "", udpEmpty) || !OpenUdp(sim, lan, traceFile.c_str(), udpTraced)) {
            std::fprintf(stderr, "cannot reach the simulator\n");
            return 1;
        }
        for (int i = 0; i < 200; ++i) {  // warm-up
            serial.Transact();
            udp.Transact();
            udpEmpty.Transact();
            udpTraced.Transact();
            PingPong(rawSerial);
            PingPong(rawUdp);
        }
        for (int i = 0; i < rounds; ++i) {
            Add(driverUdp, Time([&] { return udp.Transact(); }), failures);
            Add(emptyUdp, Time([&] { return udpEmpty.Transact(); }), failures);
            Add(tracedUdp, Time([&] { return udpTraced.Transact(); }), failures);
            Add(floorUdp, Time([&] { return PingPong(rawUdp); }), failures);
            Add(driverPty, Time([&] { return serial.Transact(); }), failures);
            Add(floorPty, Time([&] { return PingPong(rawSerial); }), failures);
        }
        CloseLinks(serial, udp);
        lan.done(&udpEmpty.handle);
        lan.done(&udpTraced.handle);
    }

    std::printf("Round trip, %d interleaved rounds (failures: %d)\n", rounds, failures);
    std::printf("UDP loopback\n");
    Row("raw 10-byte ping-pong (floor)", floorUdp, 0, "");
    Row("driver transaction (TRQ1318_Send)", driverUdp, Percentile(floorUdp, 0.5), "floor");
    std::printf("UDP loopback, frame trace (RQ905_TRACE)\n");
    Row("unset", driverUdp, 0, "");
    Row("set to nothing (off)", emptyUdp, Percentile(driverUdp, 0.5), "unset");
    Row("naming a file (on)", tracedUdp, Percentile(driverUdp, 0.5), "unset");
    std::printf("pseudo-terminal\n");
    Row("raw 10-byte ping-pong (floor)", floorPty, 0, "");
    Row("driver transaction (TCOM318_Send)", driverPty, Percentile(floorPty, 0.5), "floor");

    std::printf("With line-time emulation (%d rounds per speed)\n", lineRounds);
    for (const std::uint32_t speed : {115200U, 38400U, 9600U}) {
        simharness::SimProcess sim(
            RQ905_SIM_EXECUTABLE,
            {"--fresh", "--state", (dir / ("line" + std::to_string(speed))).string(), "--pty", "--udp", "0",
             "--speed", std::to_string(speed), "--line-time", "--quiet"});
        Link serial, udp;
        if (!sim.Ready() || !OpenLinks(sim, com, lan, speed, serial, udp)) {
            std::fprintf(stderr, "cannot reach the simulator\n");
            return 1;
        }
        Samples s, u;
        const int n = speed >= 38400 ? lineRounds : lineRounds / 4;
        for (int i = 0; i < n; ++i) {
            Add(s, Time([&] { return serial.Transact(); }), failures);
            Add(u, Time([&] { return udp.Transact(); }), failures);
        }
        CloseLinks(serial, udp);
        // The emulation's own floor: both frames' line time and the
        // simulator's default turnaround of 2 ms.
        const double lineUs = static_cast<double>(wire::TransactionLineTimeUs(speed)) + 2000;
        std::printf("%u Bd, line time + turnaround %.1f us (failures so far: %d)\n", speed, lineUs, failures);
        Row("pseudo-terminal", s, lineUs, "line time");
        Row("UDP loopback", u, lineUs, "line time");
    }
    ::close(rawSerial);
    ::close(rawUdp);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return failures == 0 ? 0 : 1;
}
