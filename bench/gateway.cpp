// rq905-gateway under load, against the simulator over UDP loopback:
//  1. 64 Modbus clients reading at once: each read's time (median, 99 %),
//     and each client's rate (the slowest beside the fastest);
//  2. the gateway's own CPU while it polls 32 modules 10 times a second;
//  3. its poll cycle beside the line's floor, with the simulator's line
//     time at 115200 Bd: per module two transactions (inputs and status),
//     each at least a request and a reply on the line and the module's
//     2 ms turnaround.
// Prints figures beside their targets.
//
//   rq905_gateway_bench [seconds]      the three, each for that long (10)
//   rq905_gateway_bench --check S      1. only, for S seconds, as a test:
//                                      no error, no lost connection, the
//                                      slowest client at least half the
//                                      fastest; exit 1 otherwise
#include <httplib.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "SimProcess.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kClients = 64;

// The gateway as a child, its log on the harness' line reader.
simharness::SimProcess StartGateway(const std::vector<std::string>& args) {
    std::vector<std::string> all{"-c",
                                 "exec \"$0\" \"$@\" 2>&1",
                                 RQ905_GATEWAY_EXECUTABLE,
                                 "--modbus",
                                 "127.0.0.1:0",
                                 "--metrics",
                                 "127.0.0.1:0"};
    all.insert(all.end(), args.begin(), args.end());
    return simharness::SimProcess("/bin/sh", all);
}

int PortOf(const simharness::SimProcess& process, const std::string& what) {
    for (const auto& line : process.Lines()) {
        const auto at = line.find(what + " listening on ");
        if (at != std::string::npos) return std::stoi(line.substr(line.rfind(':') + 1));
    }
    return 0;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

struct TLoad {
    std::vector<double> latencyUs;
    std::vector<uint64_t> perClient;
    uint64_t errors = 0;
    uint64_t lost = 0;
};

// Independent clients, a thread each, each reading every paceUs.
TLoad Load(int port, int seconds, int paceUs) {
    TLoad load;
    load.perClient.assign(kClients, 0);
    std::vector<std::vector<double>> samples(kClients);
    std::atomic<uint64_t> errors{0};
    std::atomic<uint64_t> lost{0};
    std::atomic<int> connected{0};
    std::atomic<bool> go{false};
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int c = 0; c < kClients; ++c) {
        threads.emplace_back([&, c] {
            modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
            modbus_set_response_timeout(ctx, 2, 0);
            modbus_set_slave(ctx, 1 + c % 2);
            if (modbus_connect(ctx) != 0) {
                ++lost;
                modbus_free(ctx);
                ++connected;
                return;
            }
            ++connected;
            while (!go) std::this_thread::yield();
            uint8_t bits[8];
            // Clients start spread over one period, as independent pollers do.
            auto next = Clock::now() + std::chrono::microseconds(paceUs * c / kClients);
            while (!stop) {
                if (paceUs > 0) {
                    std::this_thread::sleep_until(next);
                    next += std::chrono::microseconds(paceUs);
                }
                const auto start = Clock::now();
                const int rc = modbus_read_input_bits(ctx, 0, 8, bits);
                const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
                if (rc != 8) {
                    ++errors;
                    if (errno == ECONNRESET || errno == EPIPE || errno == EBADF) {
                        ++lost;
                        break;
                    }
                    continue;
                }
                samples[static_cast<std::size_t>(c)].push_back(us);
            }
            modbus_close(ctx);
            modbus_free(ctx);
        });
    }
    while (connected < kClients) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    go = true;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop = true;
    for (auto& t : threads) t.join();
    for (int c = 0; c < kClients; ++c) {
        const auto& s = samples[static_cast<std::size_t>(c)];
        load.perClient[static_cast<std::size_t>(c)] = s.size();
        load.latencyUs.insert(load.latencyUs.end(), s.begin(), s.end());
    }
    load.errors = errors;
    load.lost = lost;
    return load;
}

// 64 clients that read again as soon as they are answered, driven by one
// thread over raw sockets: every client then gets the same share of the
// client side's processor, and what differs between them is the server's
// doing.
TLoad Saturate(int port, int seconds) {
    TLoad load;
    load.perClient.assign(kClients, 0);
    std::vector<pollfd> fds(kClients);
    std::vector<Clock::time_point> sent(kClients);
    std::vector<std::string> got(kClients);
    std::vector<uint16_t> tid(kClients, 0);
    const auto ask = [&](int c) {
        const uint16_t t = ++tid[static_cast<std::size_t>(c)];
        const uint8_t frame[12] = {static_cast<uint8_t>(t >> 8),
                                   static_cast<uint8_t>(t),
                                   0,
                                   0,
                                   0,
                                   6,
                                   static_cast<uint8_t>(1 + c % 2),
                                   2,
                                   0,
                                   0,
                                   0,
                                   8};
        sent[static_cast<std::size_t>(c)] = Clock::now();
        return ::send(fds[static_cast<std::size_t>(c)].fd, frame, sizeof frame, MSG_NOSIGNAL) == sizeof frame;
    };
    for (int c = 0; c < kClients; ++c) {
        pollfd& p = fds[static_cast<std::size_t>(c)];
        p.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        p.events = POLLIN;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int one = 1;
        ::setsockopt(p.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (::connect(p.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ++load.lost;
    }
    for (int c = 0; c < kClients; ++c) ask(c);
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
        if (::poll(fds.data(), fds.size(), 100) <= 0) continue;
        for (int c = 0; c < kClients; ++c) {
            pollfd& p = fds[static_cast<std::size_t>(c)];
            if (p.fd < 0 || (p.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            char buffer[64];
            const ssize_t n = ::recv(p.fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                ++load.lost;
                ::close(p.fd);
                p.fd = -1;
                continue;
            }
            std::string& reply = got[static_cast<std::size_t>(c)];
            reply.append(buffer, static_cast<std::size_t>(n));
            // A discrete inputs reply: header, function 2, one byte count, one byte.
            if (reply.size() < 10) continue;
            const uint16_t t =
                static_cast<uint16_t>(static_cast<uint8_t>(reply[0]) << 8 | static_cast<uint8_t>(reply[1]));
            if (reply.size() != 10 || reply[7] != 2 || t != tid[static_cast<std::size_t>(c)]) {
                ++load.errors;
            } else {
                ++load.perClient[static_cast<std::size_t>(c)];
                load.latencyUs.push_back(std::chrono::duration<double, std::micro>(
                                             Clock::now() - sent[static_cast<std::size_t>(c)])
                                             .count());
            }
            reply.clear();
            if (!ask(c)) ++load.errors;
        }
    }
    for (const pollfd& p : fds) {
        if (p.fd >= 0) ::close(p.fd);
    }
    return load;
}

// utime + stime of a process, in seconds.
double CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14 || i == 15) ticks += std::stod(field);
    }
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// One figure of a scrape of /metrics.
double Metric(int port, const std::string& name) {
    httplib::Client client("127.0.0.1", port);
    const auto response = client.Get("/metrics");
    if (!response) return -1;
    std::istringstream lines(response->body);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(name + " ", 0) == 0 || line.rfind(name + "{", 0) == 0)
            return std::stod(line.substr(line.rfind(' ') + 1));
    }
    return -1;
}

bool Fair(const TLoad& load, double& ratio) {
    const auto [slowest, fastest] = std::minmax_element(load.perClient.begin(), load.perClient.end());
    ratio = *fastest == 0 ? 0 : static_cast<double>(*slowest) / static_cast<double>(*fastest);
    return ratio >= 0.5;
}

int LoadPhase(int seconds, bool check) {
    const std::string dir = "/tmp/rq905-gwbench-" + std::to_string(::getpid());
    simharness::SimProcess sim(RQ905_SIM_EXECUTABLE, {"--fresh", "--state", dir + ".state", "--udp", "0",
                                                      "--modules", "2", "--quiet"});
    auto gateway = StartGateway({"--kind", "lan", "--ip", "127.0.0.1", "--udp-port",
                                 std::to_string(sim.UdpPort()), "--address", "1,2"});
    const int port = PortOf(gateway, "modbus");
    if (!sim.Ready() || !gateway.Ready() || port == 0) {
        std::printf("simulator or gateway did not start\n");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    if (!check) {
        // What a plant's pollers see: 64 clients, each reading every 10 ms.
        const TLoad paced = Load(port, seconds, 10000);
        std::printf("64 clients each reading every 10 ms, %d s: errors %llu, lost connections %llu\n",
                    seconds, static_cast<unsigned long long>(paced.errors),
                    static_cast<unsigned long long>(paced.lost));
        std::printf("  read: median %.0f us (target < 200 us), 99 %% %.0f us (target < 1000 us)\n",
                    Percentile(paced.latencyUs, 0.5), Percentile(paced.latencyUs, 0.99));
    }
    const TLoad load = Saturate(port, seconds);
    uint64_t total = 0;
    for (const uint64_t n : load.perClient) total += n;
    double ratio = 0;
    const bool fair = Fair(load, ratio);
    const auto [slowest, fastest] = std::minmax_element(load.perClient.begin(), load.perClient.end());
    std::printf("64 clients reading as fast as served, %d s: %llu reads (%.0f/s), errors %llu, lost %llu\n",
                seconds, static_cast<unsigned long long>(total), static_cast<double>(total) / seconds,
                static_cast<unsigned long long>(load.errors), static_cast<unsigned long long>(load.lost));
    std::printf("  read: median %.0f us, 99 %% %.0f us (saturated: the queue of 64)\n",
                Percentile(load.latencyUs, 0.5), Percentile(load.latencyUs, 0.99));
    std::printf("  per client: slowest %llu, fastest %llu reads, ratio %.2f (target >= 0.5)\n",
                static_cast<unsigned long long>(*slowest), static_cast<unsigned long long>(*fastest), ratio);
    gateway.Stop();
    sim.Stop();
    ::unlink((dir + ".state").c_str());
    if (!check) return 0;
    return load.errors == 0 && load.lost == 0 && fair && total > 0 ? 0 : 1;
}

void CpuPhase(int seconds) {
    const std::string state = "/tmp/rq905-gwbench-cpu-" + std::to_string(::getpid());
    simharness::SimProcess sim(RQ905_SIM_EXECUTABLE,
                               {"--fresh", "--state", state, "--udp", "0", "--modules", "32", "--quiet"});
    auto gateway = StartGateway({"--kind", "lan", "--ip", "127.0.0.1", "--udp-port",
                                 std::to_string(sim.UdpPort()), "--address", "1-32", "--poll-ms", "100"});
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const int metrics = PortOf(gateway, "metrics");
    const double polls0 = Metric(metrics, "rq905_line_polls_total");
    const double cpu0 = CpuSeconds(gateway.Pid());
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu = CpuSeconds(gateway.Pid()) - cpu0;
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double polls = Metric(metrics, "rq905_line_polls_total") - polls0;
    std::printf(
        "32 modules, poll period 100 ms: %.1f polls/s, gateway CPU %.2f %% of one core (target < 5 %%)\n",
        polls / wall, 100 * cpu / wall);
    gateway.Stop();
    sim.Stop();
    ::unlink(state.c_str());
}

void CyclePhase(int seconds) {
    const std::string state = "/tmp/rq905-gwbench-line-" + std::to_string(::getpid());
    constexpr int kModules = 8;
    constexpr double kBaud = 115200;
    simharness::SimProcess sim(RQ905_SIM_EXECUTABLE,
                               {"--fresh", "--state", state, "--udp", "0", "--modules",
                                std::to_string(kModules), "--speed", "115200", "--line-time", "--quiet"});
    // A poll period shorter than a cycle: cycles follow each other at once.
    auto gateway =
        StartGateway({"--kind", "lan", "--ip", "127.0.0.1", "--udp-port", std::to_string(sim.UdpPort()),
                      "--address", "1-" + std::to_string(kModules), "--speed", "115200", "--poll-ms", "10"});
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const int metrics = PortOf(gateway, "metrics");
    // The round trips the gateway measured, summed over the modules: what
    // the driver and the line took, beside which the cycle shows the
    // gateway's own share.
    const auto roundTrips = [&](double& sum, double& count) {
        sum = count = 0;
        for (int m = 1; m <= kModules; ++m) {
            const std::string labels = "{line=\"lan:127.0.0.1:" + std::to_string(sim.UdpPort()) +
                                       "\",address=\"" + std::to_string(m) + "\"}";
            sum += Metric(metrics, "rq905_module_round_trip_seconds_sum" + labels);
            count += Metric(metrics, "rq905_module_round_trip_seconds_count" + labels);
        }
    };
    double sum0 = 0, count0 = 0, sum1 = 0, count1 = 0;
    roundTrips(sum0, count0);
    std::vector<double> cycles;
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
        cycles.push_back(Metric(metrics, "rq905_line_poll_cycle_seconds"));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    roundTrips(sum1, count1);
    const double meanTrip = count1 > count0 ? (sum1 - sum0) / (count1 - count0) : 0;
    const double floor = 2 * kModules * (270 / kBaud + 0.002);
    const double median = Percentile(cycles, 0.5);
    double mean = 0;
    for (const double c : cycles) mean += c / static_cast<double>(cycles.size());
    std::printf(
        "%d modules at 115200 Bd: poll cycle median %.1f ms, floor %.1f ms (%d transactions), "
        "%.3fx (target <= 1.1x)\n",
        kModules, median * 1000, floor * 1000, 2 * kModules, median / floor);
    std::printf(
        "  a transaction took %.2f ms on average (floor %.2f ms); the cycle is %.3fx the transactions "
        "it made\n",
        meanTrip * 1000, floor / (2 * kModules) * 1000,
        meanTrip > 0 ? median / (2 * kModules * meanTrip) : 0);
    gateway.Stop();
    sim.Stop();
    ::unlink(state.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "--check")
        return LoadPhase(args.size() > 1 ? std::stoi(args[1]) : 60, true);
    const int seconds = args.empty() ? 10 : std::stoi(args[0]);
    LoadPhase(seconds, false);
    CpuPhase(seconds);
    CyclePhase(seconds);
    return 0;
}
