// A scan of 64 addresses with modules and 64 silent ones over a
// pseudo-terminal, with the simulator's line-time emulation, against the
// physical floor: what each address must take on the line at least. The
// driver is driven directly through its ABI, in the scan mode and, for
// comparison, in the tight mode a scan used before. Prints figures; judges
// nothing.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

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
    double liveUs = 0;
    double silentUs = 0;
    int missed = 0;   // a module that did not answer
    int phantom = 0;  // an empty address that did
};

Pass Scan(simharness::DriverLib& com, std::uint32_t handle) {
    Pass pass;
    for (unsigned address = 1; address <= kModules + kSilent; ++address) {
        std::array<std::uint32_t, abi318::kCellCount> request{address, 200, 0};
        std::array<std::uint32_t, abi318::kCellCount> reply{};
        std::uint32_t out = 0;
        std::uint32_t status = 0;
        const auto start = Clock::now();
        const bool answered = com.send(handle, request.data(), reply.data(), &out, &status) == 0;
        const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        const bool live = address <= kModules;
        (live ? pass.liveUs : pass.silentUs) += us;
        pass.missed += live && !answered;
        pass.phantom += !live && answered;
    }
    return pass;
}

struct Mode {
    const char* name;
    std::uint32_t mode;
    std::uint32_t value;
};

}  // namespace

int main(int argc, char** argv) {
    const int passes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    // 0: the allowance rule of protocol.md, 2 ms and a quarter of what a
    // silent address takes on the line.
    const std::uint32_t scanValueGiven = argc > 2 ? static_cast<std::uint32_t>(std::atoi(argv[2])) : 0;
    ::unsetenv("RQ905_TRACE");
    const auto dir = std::filesystem::temp_directory_path() / ("rq905-scan-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    simharness::DriverLib com(RQ905_DRIVER_DIR, "TCOM318");
    if (!com.Loaded()) {
        std::fprintf(stderr, "cannot load the driver library from %s\n", RQ905_DRIVER_DIR);
        return 1;
    }

    int failures = 0;
    std::printf("Scan of %u addresses with modules and %u silent, pseudo-terminal, line-time emulation\n",
                kModules, kSilent);
    std::printf("median of %d passes\n", passes);
    for (const std::uint32_t speed : {9600U, 115200U}) {
        const auto index = *wire::SpeedIndex(speed);
        const std::uint32_t toolValue[] = {100, 100, 50, 25, 13, 7, 5, 5, 5};
        const std::uint32_t scanValue[] = {608, 317, 171, 98, 61, 43, 34, 31, 28};
        const Mode modes[] = {{"scan (mode 4)", 4, scanValueGiven != 0 ? scanValueGiven : scanValue[index]},
                              {"tight (mode 1)", 1, toolValue[index]}};
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
        const double floorLive = kModules * (request + kTurnaroundUs +
                                             static_cast<double>(wire::LineTimeUs(wire::kReplySize, speed)));
        const double floorSilent =
            kSilent * (request + kTurnaroundUs + static_cast<double>(wire::LineTimeUs(1, speed)));
        std::printf("%u Bd: floor %.1f ms with modules, %.1f ms silent, %.1f ms together\n", speed,
                    floorLive / 1000, floorSilent / 1000, (floorLive + floorSilent) / 1000);
        for (const Mode& mode : modes) {
            const std::uint32_t value = mode.value;
            if (com.setConfig(handle, speed, value, mode.mode) != 0) {
                std::fprintf(stderr, "SetConfig refused mode %u value %u\n", mode.mode, value);
                return 1;
            }
            Scan(com, handle);  // warm-up
            std::vector<Pass> results;
            for (int i = 0; i < passes; ++i) {
                results.push_back(Scan(com, handle));
            }
            std::sort(results.begin(), results.end(), [](const Pass& a, const Pass& b) {
                return a.liveUs + a.silentUs < b.liveUs + b.silentUs;
            });
            const Pass& median = results[results.size() / 2];
            int missed = 0;
            int phantom = 0;
            for (const Pass& p : results) {
                missed += p.missed;
                phantom += p.phantom;
            }
            failures += missed + phantom;
            std::printf(
                "  %-15s value %4u  with modules %8.1f ms %5.2fx   silent %8.1f ms %5.2fx   together "
                "%5.2fx   missed %d, phantom %d\n",
                mode.name, value, median.liveUs / 1000, median.liveUs / floorLive, median.silentUs / 1000,
                median.silentUs / floorSilent, (median.liveUs + median.silentUs) / (floorLive + floorSilent),
                missed, phantom);
        }
        com.done(&handle);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return failures == 0 ? 0 : 1;
}
