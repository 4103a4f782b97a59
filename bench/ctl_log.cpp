// What --stats and --csv --output cost rq905ctl: the built program as a
// child process against rq905-sim over UDP loopback, each variant beside
// the same run without them, interleaved, median of the rounds.
//
//   * the same watch (din --watch, one read every 100 ms): wall time and
//     CPU time of the child (user + system) per poll, counted as the
//     difference between a run of N polls and one of 10, so that the
//     start (libraries, the connection, the trace file) does not hide the
//     cost of each poll;
//   * the same transaction back to back (send 0 64 --repeat M): wall time
//     and CPU time per transaction, where any cost of the tool's own shows
//     most.
//
// Without --output the results go to a file through standard output, as a
// log made by redirection would.
//
// Prints figures and ratios; judges nothing.
//
//   rq905_ctl_log [rounds, default 5] [polls, default 50] [repeats, default 5000]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "SimProcess.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct TCost {
    double wallS = 0;
    double cpuS = 0;
    int exit = -1;
};

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// Runs rq905ctl with its standard output appended to the file out and
// measures it.
TCost Run(const std::vector<std::string>& args, const std::string& out) {
    std::vector<char*> argv;
    std::string program = RQ905_CTL_EXECUTABLE;
    argv.push_back(program.data());
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    TCost cost;
    const auto start = Clock::now();
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) return cost;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    cost.wallS = std::chrono::duration<double>(Clock::now() - start).count();
    cost.cpuS = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    cost.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    posix_spawn_file_actions_destroy(&actions);
    return cost;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct TVariant {
    const char* name;
    std::vector<std::string> extra;
};

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const int polls = argc > 2 ? std::atoi(argv[2]) : 50;
    const int repeats = argc > 3 ? std::atoi(argv[3]) : 5000;

    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "rq905-ctl-log-bench";
    std::filesystem::create_directories(dir);
    const std::string settings = (dir / "W_rq905.ini").string();
    std::fclose(std::fopen(settings.c_str(), "w"));
    simharness::SimProcess sim(RQ905_SIM_EXECUTABLE, {"--state", (dir / "state").string(), "--fresh", "--udp",
                                                      "0", "--quiet", "--inputs", "5"});
    if (!sim.Ready()) {
        std::fprintf(stderr, "rq905-sim did not start\n");
        return 1;
    }
    const std::vector<std::string> link{
        "--settings", settings,    "--kind",     "lan",
        "--ip",       "127.0.0.1", "--udp-port", std::to_string(sim.UdpPort()),
        "--address",  "1"};
    const std::string csv = (dir / "log.csv").string();
    const std::vector<TVariant> variants{
        {"plain", {}},
        {"--stats", {"--stats"}},
        {"--csv --output", {"--csv", "--output", csv}},
        {"--stats --csv --output", {"--stats", "--csv", "--output", csv}},
    };

    const std::string redirected = (dir / "stdout.log").string();
    struct TSeries {
        const char* title;
        std::vector<std::string> command;  // the count follows
        int count;
        int baseline;  // a run of this many is taken off, 0: none
        const char* unit;
    };
    const TSeries series[] = {
        {"din --watch --count", {"din", "--watch", "--count"}, polls, 10, "poll"},
        {"send 0 64 --repeat", {"send", "0", "64", "--repeat"}, repeats, 0, "transaction"},
    };
    std::printf("rq905ctl against rq905-sim over UDP loopback, median of %d interleaved rounds\n", rounds);
    for (const TSeries& s : series) {
        std::vector<std::vector<double>> wall(variants.size()), cpu(variants.size());
        bool failed = false;
        for (int r = 0; r < rounds; ++r) {
            for (std::size_t v = 0; v < variants.size(); ++v) {
                auto run = [&](int count) {
                    std::filesystem::remove(csv);
                    std::filesystem::remove(redirected);
                    std::vector<std::string> args = s.command;
                    args.push_back(std::to_string(count));
                    args.insert(args.end(), link.begin(), link.end());
                    args.insert(args.end(), variants[v].extra.begin(), variants[v].extra.end());
                    const TCost c = Run(args, redirected);
                    failed = failed || c.exit != 0;
                    return c;
                };
                TCost c = run(s.count);
                if (s.baseline > 0) {
                    const TCost base = run(s.baseline);
                    c.wallS -= base.wallS;
                    c.cpuS -= base.cpuS;
                }
                const int n = s.count - s.baseline;
                wall[v].push_back(c.wallS * 1e6 / n);
                cpu[v].push_back(c.cpuS * 1e6 / n);
            }
        }
        std::printf("\n%s %d%s%s\n", s.title, s.count,
                    s.baseline > 0 ? (" less " + std::to_string(s.baseline)).c_str() : "",
                    failed ? "  (a run failed: figures suspect)" : "");
        std::printf("  %-24s %12s %7s %12s %7s\n", "variant", "wall us/", "ratio", "CPU us/", "ratio");
        std::printf("  %-24s %12s %7s %12s %7s\n", "", s.unit, "", s.unit, "");
        const double wall0 = Median(wall[0]);
        const double cpu0 = Median(cpu[0]);
        for (std::size_t v = 0; v < variants.size(); ++v) {
            const double w = Median(wall[v]);
            const double c = Median(cpu[v]);
            std::printf("  %-24s %12.1f %7.3f %12.2f %7.3f\n", variants[v].name, w, w / wall0, c, c / cpu0);
        }
    }
    std::filesystem::remove_all(dir);
    return 0;
}
