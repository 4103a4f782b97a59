// Round trip of one module transaction through libTRQ1318.so handing it to
// rq905-drvhost.exe under wine (which loads TRQ1318.DLL of the Windows
// build), next to the same transaction through libTRQ1318.so directly,
// interleaved in one run; and the time of a first Init with a new wine
// prefix and with a warm one. Prints figures; judges nothing.
// With a third argument, a directory holding a TRQ1318.DLL that answers
// without any line (the tests' recording driver), also the host's own
// share: the pipe round trip and the calls under wine, without the network.
//   rq905_drvhost_bench DIR_WITH_TRQ1318.DLL [rounds [DIR_WITH_ANSWERING_DLL]]
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "DriverLib.h"
#include "SimProcess.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Lan {
    simharness::DriverLib& lib;
    std::uint32_t handle = 0;

    std::uint32_t Open(std::uint16_t port) {
        static const char* const kHost = "127.0.0.1";
        std::array<std::uintptr_t, abi318::kInitParamCount> params{reinterpret_cast<std::uintptr_t>(kHost),
                                                                   port, 0};
        const std::uint32_t r = lib.initBlock(&handle, params.data());
        return r != 0 ? r : lib.setConfig(handle, 115200, 5, 2);
    }
    bool Identify() {
        std::uint32_t request[100] = {1, 200, 0}, reply[100] = {}, out = 0, status = 0;
        return lib.send(handle, request, reply, &out, &status) == 0;
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DIR_WITH_TRQ1318.DLL [rounds]\n", argv[0]);
        return 2;
    }
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 2000;
    const auto work =
        std::filesystem::temp_directory_path() / ("rq905-drvhost-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(work);
    ::setenv("WINEPREFIX", (work / "wine").c_str(), 1);
    simharness::SimProcess sim(RQ905_SIM_EXECUTABLE,
                               {"--fresh", "--state", (work / "state").string(), "--udp", "0", "--quiet"});
    simharness::DriverLib lib(RQ905_DRIVER_DIR, "TRQ1318");
    if (!sim.Ready() || !lib.Loaded()) {
        std::fprintf(stderr, "no simulator or library\n");
        return 1;
    }
    Lan direct{lib}, hosted{lib};
    if (direct.Open(sim.UdpPort()) != 0) {
        return 1;
    }
    ::setenv("RQ905_WINDRIVERS", argv[1], 1);
    auto t0 = Clock::now();
    std::uint32_t r = hosted.Open(sim.UdpPort());
    const double cold = Ms(t0, Clock::now());
    if (r != 0) {
        std::fprintf(stderr, "Init through the host: %u\n", r);
        return 1;
    }
    lib.done(&hosted.handle);
    t0 = Clock::now();
    r = hosted.Open(sim.UdpPort());
    const double warm = Ms(t0, Clock::now());
    if (r != 0) {
        return 1;
    }
    std::vector<double> viaHost, viaDirect;
    int failures = 0;
    for (int i = 0; i < 100; ++i) {  // warm-up
        direct.Identify();
        hosted.Identify();
    }
    for (int i = 0; i < rounds; ++i) {
        for (Lan* lan : {&direct, &hosted}) {
            const auto a = Clock::now();
            if (!lan->Identify()) {
                ++failures;
                continue;
            }
            (lan == &direct ? viaDirect : viaHost).push_back(Ms(a, Clock::now()));
        }
    }
    lib.done(&hosted.handle);
    std::vector<double> floor;
    if (argc > 3) {
        ::setenv("RQ905_WINDRIVERS", argv[3], 1);
        if (hosted.Open(sim.UdpPort()) == 0) {
            for (int i = 0; i < rounds; ++i) {
                const auto a = Clock::now();
                hosted.Identify();
                floor.push_back(Ms(a, Clock::now()));
            }
            lib.done(&hosted.handle);
        }
    }
    lib.done(&direct.handle);
    std::filesystem::remove_all(work);
    const double d = Median(viaDirect) * 1000, h = Median(viaHost) * 1000;
    std::printf(
        "round trip, median of %d (us): direct %.1f, through the host %.1f, ratio %.2f, failures %d\n",
        rounds, d, h, d > 0 ? h / d : 0, failures);
    if (!floor.empty()) {
        std::printf("the host's own share, a driver that answers at once (us): %.1f\n", Median(floor) * 1000);
    }
    std::printf("first Init through the host (ms): new wine prefix %.0f, warm prefix %.0f\n", cold, warm);
    return 0;
}
