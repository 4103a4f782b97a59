// A scan of 64 addresses with modules and 64 silent ones over a
// pseudo-terminal, with the simulator's line-time emulation, against the
// physical floor: what each address must take on the line at least. The
// driver is driven directly through its ABI, in the scan mode and, for
// comparison, in the tight mode a scan used before; on a quiet machine or
// with every core kept busy. Each pass is a connection of its own, as each
// run of rq905ctl scan is, so the scan mode's allowance starts from the
// configured value every time. Prints figures; judges nothing.
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <fstream>

#include "DriverLib.h"
#include "SimProcess.h"
#include "Wire.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned kModules = 64;
constexpr unsigned kSilent = 64;
// The simulator's default turnaround, the module's worst.
constexpr double kTurnaroundUs = 2000;

struct Pass {
    // How much later than the line's floor each module's whole reply was
    // taken: what the simulator and the PC add, the margin a scan needs.
    std::vector<double> lateUs;
    // What each silent address took: its line time, the allowance in force
    // and the PC's own cost. Its median shows the allowance through a busy
    // machine's spikes.
    std::vector<double> silentEachUs;
    double liveUs = 0;
    double silentUs = 0;
    int missed = 0;     // a module that did not answer, even when asked again
    int phantom = 0;    // an empty address that did
    int recovered = 0;  // a module found by asking again after a late reply
};

Pass Scan(simharness::DriverLib& com, std::uint32_t handle, double liveFloorUs) {
    Pass pass;
    std::vector<bool> answered(kModules + kSilent + 1, false);
    const auto ask = [&](unsigned address) {
        std::array<std::uint32_t, abi318::kCellCount> request{address, 200, 0};
        std::array<std::uint32_t, abi318::kCellCount> reply{};
        std::uint32_t out = 0;
        std::uint32_t status = 0;
        const auto start = Clock::now();
        const bool ok = com.send(handle, request.data(), reply.data(), &out, &status) == 0;
        return std::pair{ok, std::chrono::duration<double, std::micro>(Clock::now() - start).count()};
    };
    // As the scanner does: a module whose reply came after its address had
    // been told silent is asked again, and that costs its time.
    const auto askLate = [&] {
        std::uint32_t late = 0;
        while (com.lateReply != nullptr && com.lateReply(handle, &late) == 0) {
            if (late == 0 || late > kModules + kSilent || answered[late]) continue;
            const auto [ok, us] = ask(late);
            (late <= kModules ? pass.liveUs : pass.silentUs) += us;
            answered[late] = ok;
            pass.recovered += ok;
        }
    };
    for (unsigned address = 1; address <= kModules + kSilent; ++address) {
        const auto [ok, us] = ask(address);
        const bool live = address <= kModules;
        (live ? pass.liveUs : pass.silentUs) += us;
        if (!live) pass.silentEachUs.push_back(us);
        answered[address] = ok;
        if (live && ok) {
            pass.lateUs.push_back(us - liveFloorUs);
        }
        askLate();
    }
    askLate();
    for (unsigned address = 1; address <= kModules + kSilent; ++address) {
        const bool live = address <= kModules;
        pass.missed += live && !answered[address];
        pass.phantom += !live && answered[address];
    }
    return pass;
}

// One spinning process per core, as a parallel build or two `yes` keep
// a machine busy; ended with the object.
class Load {
  public:
    explicit Load(unsigned processes) {
        for (unsigned i = 0; i < processes; ++i) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                // Holding the serial line open would keep the next
                // connection out.
                for (int fd = 3; fd < 1024; ++fd) ::close(fd);
                volatile unsigned long spins = 0;
                for (;;) {
                    spins = spins + 1;
                }
            }
            if (pid > 0) m_pids.push_back(pid);
        }
    }
    ~Load() {
        for (const pid_t pid : m_pids) ::kill(pid, SIGKILL);
        for (const pid_t pid : m_pids) ::waitpid(pid, nullptr, 0);
    }
    Load(const Load&) = delete;
    Load& operator=(const Load&) = delete;

  private:
    std::vector<pid_t> m_pids;
};

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one;
    in >> one;
    return one;
}

struct Mode {
    const char* name;
    std::uint32_t mode;
    std::uint32_t value;
};

}  // namespace

int main(int argc, char** argv) {
    const int passes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    // None: the allowance table of protocol.md. A number: that value at
    // both speeds; "P%": the module's 2 ms and P % of what a silent address
    // takes on the line, at each speed.
    const std::string scanValueGiven = argc > 2 ? argv[2] : "";
    const bool percent = !scanValueGiven.empty() && scanValueGiven.back() == '%';
    // "scan": the scan mode alone, without the tight mode beside it;
    // "loaded": with a spinning process per core.
    bool scanOnly = false;
    bool loaded = false;
    for (int i = 3; i < argc; ++i) {
        scanOnly = scanOnly || std::string(argv[i]) == "scan";
        loaded = loaded || std::string(argv[i]) == "loaded";
    }
    ::unsetenv("RQ905_TRACE");
    const auto dir = std::filesystem::temp_directory_path() / ("rq905-scan-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    // Another build's drivers, to set one beside the other.
    const char* driverDir = std::getenv("RQ905_BENCH_DRIVER_DIR");
    const std::string drivers = driverDir != nullptr ? driverDir : RQ905_DRIVER_DIR;
    simharness::DriverLib com(drivers, "TCOM318");
    if (!com.Loaded()) {
        std::fprintf(stderr, "cannot load the driver library from %s\n", drivers.c_str());
        return 1;
    }

    int failures = 0;
    const unsigned cores = std::max(1U, std::thread::hardware_concurrency());
    std::printf("Scan of %u addresses with modules and %u silent, pseudo-terminal, line-time emulation%s\n",
                kModules, kSilent, loaded ? ", every core kept busy" : "");
    std::printf("median of %d passes; drivers from %s\n", passes, drivers.c_str());
    for (const std::uint32_t speed : {9600U, 115200U}) {
        const auto index = *wire::SpeedIndex(speed);
        const std::uint32_t toolValue[] = {100, 100, 50, 25, 13, 7, 5, 5, 5};
        const std::uint32_t scanValue[] = {608, 317, 171, 98, 61, 43, 34, 31, 28};
        const double silentUs =
            static_cast<double>(wire::LineTimeUs(wire::kRequestSize + 1, speed)) + kTurnaroundUs;
        const std::uint32_t scanValueUsed =
            scanValueGiven.empty() ? scanValue[index]
            : percent              ? static_cast<std::uint32_t>(std::ceil(
                                         (kTurnaroundUs + std::atof(scanValueGiven.c_str()) / 100 * silentUs) / 100))
                                   : static_cast<std::uint32_t>(std::atoi(scanValueGiven.c_str()));
        const Mode modes[] = {{"scan (mode 4)", 4, scanValueUsed}, {"tight (mode 1)", 1, toolValue[index]}};
        simharness::SimProcess sim(
            RQ905_SIM_EXECUTABLE,
            {"--fresh", "--state", (dir / std::to_string(speed)).string(), "--pty", "--modules",
             std::to_string(kModules), "--speed", std::to_string(speed), "--line-time", "--quiet"});
        ::setenv("RQ905_COM1", sim.PtyPath().c_str(), 1);
        std::uint32_t handle = 0;
        if (!sim.Ready() || com.initParam(&handle, 1) != 0) {
            std::fprintf(stderr, "cannot reach the simulator\n");
            return 1;
        }
        const double request = static_cast<double>(wire::LineTimeUs(wire::kRequestSize, speed));
        const double liveFloor =
            request + kTurnaroundUs + static_cast<double>(wire::LineTimeUs(wire::kReplySize, speed));
        const double floorLive = kModules * liveFloor;
        const double floorSilent =
            kSilent * (request + kTurnaroundUs + static_cast<double>(wire::LineTimeUs(1, speed)));
        std::printf("%u Bd: floor %.1f ms with modules, %.1f ms silent, %.1f ms together\n", speed,
                    floorLive / 1000, floorSilent / 1000, (floorLive + floorSilent) / 1000);
        for (const Mode& mode : modes) {
            if (scanOnly && mode.mode != 4) {
                continue;
            }
            const std::uint32_t value = mode.value;
            // A connection of its own for each pass, as a run of rq905ctl
            // has; outside the time measured.
            const auto connect = [&] {
                com.done(&handle);
                return com.initParam(&handle, 1) == 0 && com.setConfig(handle, speed, value, mode.mode) == 0;
            };
            if (!connect()) {
                std::fprintf(stderr, "SetConfig refused mode %u value %u\n", mode.mode, value);
                return 1;
            }
            const std::string loadBefore = LoadAverage();
            const Load load(loaded ? cores : 0);
            Scan(com, handle, liveFloor);  // warm-up
            std::vector<Pass> results;
            for (int i = 0; i < passes; ++i) {
                if (!connect()) {
                    std::fprintf(stderr, "cannot reach the simulator again\n");
                    return 1;
                }
                results.push_back(Scan(com, handle, liveFloor));
            }
            const std::string loadAfter = LoadAverage();
            std::sort(results.begin(), results.end(), [](const Pass& a, const Pass& b) {
                return a.liveUs + a.silentUs < b.liveUs + b.silentUs;
            });
            const Pass& median = results[results.size() / 2];
            int missed = 0;
            int phantom = 0;
            int recovered = 0;
            std::vector<double> late;
            std::vector<double> silentEach;
            for (const Pass& p : results) {
                missed += p.missed;
                phantom += p.phantom;
                recovered += p.recovered;
                late.insert(late.end(), p.lateUs.begin(), p.lateUs.end());
                silentEach.insert(silentEach.end(), p.silentEachUs.begin(), p.silentEachUs.end());
            }
            std::sort(late.begin(), late.end());
            failures += missed + phantom;
            std::printf(
                "  %-15s value %4u  with modules %8.1f ms %5.2fx   silent %8.1f ms %5.2fx   together "
                "%5.2fx   missed %d, phantom %d, asked again %d   load %s to %s\n",
                mode.name, value, median.liveUs / 1000, median.liveUs / floorLive, median.silentUs / 1000,
                median.silentUs / floorSilent, (median.liveUs + median.silentUs) / (floorLive + floorSilent),
                missed, phantom, recovered, loadBefore.c_str(), loadAfter.c_str());
            std::sort(silentEach.begin(), silentEach.end());
            if (!silentEach.empty()) {
                const double lineUs = static_cast<double>(wire::LineTimeUs(wire::kRequestSize + 1, speed));
                std::printf(
                    "  %-15s a silent address: median %.0f us, the line's %.0f us + %.0f us (%.2fx its "
                    "floor)\n",
                    "", silentEach[silentEach.size() / 2], lineUs, silentEach[silentEach.size() / 2] - lineUs,
                    silentEach[silentEach.size() / 2] / (lineUs + kTurnaroundUs));
            }
            if (!late.empty()) {
                std::printf(
                    "  %-15s reply taken after the floor: median %.0f us, 99%% %.0f us, max %.0f us\n", "",
                    late[late.size() / 2], late[late.size() * 99 / 100], late.back());
            }
        }
        com.done(&handle);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return failures == 0 ? 0 : 1;
}
