// Late and forged replies to register reads, counted. Each figure stands
// next to what the former rule (a counted 8-bit tag, no register echo)
// makes of the same traffic, played on a bare socket:
//   late:   the simulator holds 2 % of its replies for 1.5 s; a value taken
//           from a reply about another register is wrong.
//   forged: ahead of every true reply, 256 replies with guessed tags and a
//           forged value arrive from the converter's own address.
// Prints figures; judges nothing.
// Usage: rq905_late_forged [late reads, 60000] [forged reads, 30000]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "DriverLib.h"
#include "Link.h"
#include "SimProcess.h"
#include "Wire.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint8_t kAddress = 1;
constexpr std::uint8_t kForgedValue = 0xEE;

// Registers 32-37 hold distinct values, never written during a run.
std::uint8_t ValueOf(std::uint8_t reg) { return static_cast<std::uint8_t>(reg * 3); }

struct Tally {
    int right = 0;
    int wrong = 0;
    int failed = 0;
    double seconds = 0;
    void Print(const char* name) const {
        std::printf("  %-36s %6d right %6d WRONG %6d failed  (%.1f s)\n", name, right, wrong, failed,
                    seconds);
    }
};

// Reads random registers; read() gives the value, or nothing on a failure.
Tally Reads(int count, std::uint32_t seed,
            const std::function<std::optional<std::uint8_t>(std::uint8_t)>& read) {
    std::mt19937 random(seed);
    Tally tally;
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        const auto reg = static_cast<std::uint8_t>(32 + random() % 6);
        const auto value = read(reg);
        if (!value) {
            ++tally.failed;
        } else if (*value == ValueOf(reg)) {
            ++tally.right;
        } else {
            ++tally.wrong;
        }
    }
    tally.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return tally;
}

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// The former rule on a socket connected to the converter: drain, send with
// the next 8-bit tag, take the first reply whose address, command, index
// and tag match.
class FormerRule {
  public:
    explicit FormerRule(std::uint16_t port) : m_fd(::socket(AF_INET, SOCK_DGRAM, 0)) {
        const sockaddr_in to = Loopback(port);
        ::connect(m_fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    ~FormerRule() { ::close(m_fd); }

    std::optional<std::uint8_t> Read(std::uint8_t reg, std::chrono::milliseconds wait) {
        std::array<std::uint8_t, 512> buffer{};
        while (::recv(m_fd, buffer.data(), buffer.size(), MSG_DONTWAIT) >= 0) {
        }
        const wire::Request request{kAddress, wire::kReadRegister, 0, ++m_tag, {0, reg, reg, 0, 0}};
        const auto frame = wire::Encode(request);
        [[maybe_unused]] const ssize_t sent = ::send(m_fd, frame.data(), frame.size(), 0);
        const auto deadline = Clock::now() + wait;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd p{m_fd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count()) + 1) <= 0) {
                return std::nullopt;
            }
            const ssize_t n = ::recv(m_fd, buffer.data(), buffer.size(), 0);
            const auto reply = n > 0
                                   ? wire::DecodeReply(std::span(buffer.data(), static_cast<std::size_t>(n)))
                                   : std::nullopt;
            if (reply && reply->address == request.address && reply->command == request.command &&
                reply->index == request.index && reply->tag == request.tag) {
                return reply->status == 0 ? std::optional(reply->data[3]) : std::nullopt;
            }
        }
    }

  private:
    int m_fd;
    std::uint8_t m_tag = 0;
};

std::optional<std::uint8_t> DriverRead(simharness::DriverLib& lib, std::uint32_t handle, std::uint8_t reg) {
    std::array<std::uint32_t, abi318::kCellCount> request{kAddress, wire::kReadRegister, 0, 0, reg, reg};
    std::array<std::uint32_t, abi318::kCellCount> reply{};
    std::uint32_t out = 0;
    std::uint32_t status = 0;
    if (lib.send(handle, request.data(), reply.data(), &out, &status) != 0 || status != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(reply[2]);
}

void Late(int reads, const std::filesystem::path& dir) {
    const auto state = dir / "late.state";
    std::ofstream(state) << "module 32=96 33=99 34=102 35=105 36=108 37=111 62=8 63=1\n";
    simharness::SimProcess sim(RQ905_SIM_EXECUTABLE,
                               {"--state", state.string(), "--pty", "--udp", "0", "--delay", "0.02",
                                "--delay-ms", "1500", "--seed", "905", "--quiet"});
    simharness::DriverLib com(RQ905_DRIVER_DIR, "TCOM318");
    simharness::DriverLib lan(RQ905_DRIVER_DIR, "TRQ1318");
    ::setenv("RQ905_COM1", sim.PtyPath().c_str(), 1);
    static const char* const kHost = "127.0.0.1";
    std::array<std::uintptr_t, abi318::kInitParamCount> params{reinterpret_cast<std::uintptr_t>(kHost),
                                                               sim.UdpPort(), 10};
    std::uint32_t serial = 0;
    std::uint32_t udp = 0;
    if (!sim.Ready() || !com.Loaded() || !lan.Loaded() || com.initParam(&serial, 1) != 0 ||
        com.setConfig(serial, 115200, 2, 1) != 0 || lan.initBlock(&udp, params.data()) != 0) {
        std::fprintf(stderr, "cannot reach the simulator\n");
        return;
    }
    FormerRule former(sim.UdpPort());
    Tally formerUdp, driverUdp, driverPty;
    std::thread a([&] {
        formerUdp =
            Reads(reads, 1, [&](std::uint8_t r) { return former.Read(r, std::chrono::milliseconds(10)); });
    });
    std::thread b(
        [&] { driverUdp = Reads(reads, 2, [&](std::uint8_t r) { return DriverRead(lan, udp, r); }); });
    std::thread c(
        [&] { driverPty = Reads(reads, 3, [&](std::uint8_t r) { return DriverRead(com, serial, r); }); });
    a.join();
    b.join();
    c.join();
    com.done(&serial);
    lan.done(&udp);
    std::printf("Late replies: %d register reads each, 2 %% of replies held 1.5 s\n", reads);
    formerUdp.Print("former rule, UDP");
    driverUdp.Print("driver TRQ1318, UDP");
    driverPty.Print("driver TCOM318, pseudo-terminal");
}

// The converter and a forger in one socket, the converter's: for every
// request, first the forged replies, then the true one.
class ForgingConverter {
  public:
    // former: forge all 256 one-byte tags; otherwise 256 guessed 16-bit ones.
    explicit ForgingConverter(bool former) : m_fd(::socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in address = Loopback(0);
        socklen_t length = sizeof address;
        ::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this, former] { Serve(former); });
    }
    ~ForgingConverter() {
        m_stop = true;
        m_thread.join();
        ::close(m_fd);
    }
    std::uint16_t Port() const { return m_port; }

  private:
    void Serve(bool former) {
        std::mt19937 guess(318);
        std::array<std::uint8_t, 512> buffer{};
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) {
                continue;
            }
            sockaddr_in peer{};
            socklen_t length = sizeof peer;
            const ssize_t n = ::recvfrom(m_fd, buffer.data(), buffer.size(), 0,
                                         reinterpret_cast<sockaddr*>(&peer), &length);
            const auto request =
                n > 0 ? wire::DecodeRequest(std::span(buffer.data(), static_cast<std::size_t>(n)))
                      : std::nullopt;
            if (!request) {
                continue;
            }
            const std::uint8_t reg = request->data[1];
            wire::Reply reply{request->address, request->command, request->index, 0, 0, {0, reg, reg, 0, 0}};
            const auto send = [&](std::uint16_t tag, std::uint8_t value) {
                reply.tag = tag;
                reply.data[3] = reply.data[4] = value;
                const auto frame = wire::Encode(reply);
                ::sendto(m_fd, frame.data(), frame.size(), 0, reinterpret_cast<const sockaddr*>(&peer),
                         length);
            };
            for (unsigned i = 0; i < 256; ++i) {
                send(static_cast<std::uint16_t>(former ? i : guess()), kForgedValue);
            }
            send(request->tag, ValueOf(reg));
        }
    }

    int m_fd;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

void Forged(int reads) {
    std::printf("Forged replies: %d register reads each, 256 forged replies ahead of every true one\n",
                reads);
    int forgedTaken = 0;
    const auto countForged = [&](std::optional<std::uint8_t> value) {
        forgedTaken += value == kForgedValue;
        return value;
    };
    {
        ForgingConverter converter(true);
        FormerRule former(converter.Port());
        Reads(reads, 4, [&](std::uint8_t r) {
            return countForged(former.Read(r, std::chrono::milliseconds(50)));
        }).Print("former rule, all 256 one-byte tags");
        std::printf("  %-36s %6d forged values taken\n", "", forgedTaken);
    }
    forgedTaken = 0;
    ForgingConverter converter(false);
    auto opened = drv::OpenUdp("127.0.0.1", converter.Port(), std::chrono::milliseconds(1000));
    if (opened.result != drv::Result::Ok) {
        std::fprintf(stderr, "cannot open the UDP link\n");
        return;
    }
    drv::Link link(std::move(opened.transport), true, 50);
    Reads(reads, 5, [&](std::uint8_t r) {
        const drv::Answer answer = link.Transact({kAddress, wire::kReadRegister, 0, 0, r, r, 0, 0});
        return countForged(answer.result == drv::Result::Ok ? std::optional(answer.data[3]) : std::nullopt);
    }).Print("driver link, 256 guessed 16-bit tags");
    const drv::Refused refused = link.RefusedReplies();
    std::printf("  %-36s %6d forged values taken; refused: %llu echo, %llu damaged\n", "", forgedTaken,
                static_cast<unsigned long long>(refused.echo),
                static_cast<unsigned long long>(refused.damaged));
}

}  // namespace

int main(int argc, char** argv) {
    const int lateReads = argc > 1 ? std::atoi(argv[1]) : 60000;
    const int forgedReads = argc > 2 ? std::atoi(argv[2]) : 30000;
    const auto dir = std::filesystem::temp_directory_path() / ("rq905-late-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    if (lateReads > 0) {
        Late(lateReads, dir);
    }
    if (forgedReads > 0) {
        Forged(forgedReads);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return 0;
}
