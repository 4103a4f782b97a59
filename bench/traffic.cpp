// What "Provoz linky" costs the program on a busy line: the real LAN
// converter driver traces 500 transactions a second (1000 frames, more than
// a 115200 Bd line carries: 27 bytes a transaction take 2.3 ms there) to
// the program's traffic log, from a thread of their own, while the window
// is shown (offscreen) and refreshes. Figures: frames recorded per second,
// CPU of the user-interface thread (the window: reading the trace, the
// table, the statistics, painting) as percent of one core, CPU of the
// whole process beside the same run without the window, and how many
// frames the list was behind at the end. Prints figures; judges nothing.
//
//   rq905_traffic [seconds, default 10] [transactions per second, default 500]
#include <sys/resource.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "GuiBench.h"
#include "SimProcess.h"
#include "core/Dekl.h"
#include "linkstats/FrameLog.h"
#include "ui/ProvozLinky.h"

namespace {

using namespace guibench;

using Clock = std::chrono::steady_clock;

double ThreadCpu() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct TRun {
    double wall = 0;
    double uiCpu = 0;
    double processCpu = 0;
    uint64_t frames = 0;
    long behind = -1;
};

// Transactions at the given rate on a thread of their own for the given
// time, the event loop running meanwhile.
TRun Run(TData& rec, TTrafficLog& log, double seconds, double rate, TProvozLinky* window) {
    std::atomic<bool> stop{false};
    uint64_t framesBefore = 0;
    {
        const std::lock_guard lock(log.Mutex());
        framesBefore = log.Frames().End();
    }
    TRun run;
    const double ui0 = ThreadCpu();
    const double cpu0 = CpuSeconds();
    const auto wall0 = Clock::now();
    std::thread line([&] {
        const auto period =
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
        auto next = Clock::now();
        while (!stop) {
            uint8_t d0 = 0, d1 = 0, d2 = 0, d3 = 0, d4 = 0, status = 0;
            TCellBlock reply{};
            ModuleTransaction(rec.Kind, rec.Handle, 1, 0, 64, d0, d1, d2, d3, d4, status, reply);
            next += period;
            std::this_thread::sleep_until(next);
        }
    });
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    stop = true;
    line.join();
    run.wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    run.uiCpu = ThreadCpu() - ui0;
    run.processCpu = CpuSeconds() - cpu0;
    log.Poll();
    {
        const std::lock_guard lock(log.Mutex());
        run.frames = log.Frames().End() - framesBefore;
        if (window != nullptr)
            run.behind =
                static_cast<long>(log.Frames().End() - log.Frames().First()) - window->Model().rowCount();
    }
    return run;
}

void Print(const char* name, const TRun& run) {
    std::printf("%-22s %5.1f s  %7.0f frames/s  UI thread %5.2f %% of one core  process %6.2f %%", name,
                run.wall, static_cast<double>(run.frames) / run.wall, 100.0 * run.uiCpu / run.wall,
                100.0 * run.processCpu / run.wall);
    if (run.behind >= 0) std::printf("  list behind by %ld frames", run.behind);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const double rate = argc > 2 ? std::atof(argv[2]) : 500.0;
    if (seconds <= 0 || rate <= 0) {
        std::fprintf(stderr, "usage: rq905_traffic [seconds] [transactions per second]\n");
        return 2;
    }
    // What the log adds to the program's start-up: a private trace
    // file made and the trace variable set.
    std::vector<double> made;
    for (int i = 0; i < 200; ++i) {
        const auto t0 = Clock::now();
        { const TTrafficLog probe; }
        made.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    std::sort(made.begin(), made.end());
    std::printf(
        "traffic log made and gone: median %.0f us, 90 %% %.0f us (start-up, bench/startup: ~100 ms)\n",
        made[made.size() / 2], made[made.size() * 9 / 10]);
    char dir[] = "/tmp/rq905-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr) return 1;
    int rc = 0;
    {
        simharness::SimProcess sim(RQ905_SIM_EXECUTABLE,
                                   {"--udp", "0", "--fresh", "--quiet", "--state",
                                    std::string(dir) + "/sim.state", "--speed", "115200"});
        TTrafficLog log;  // before the connection, as in the program
        TData rec;
        SetDefaults(&rec);
        if (!sim.Ready() || !ConnectTo(rec, sim.UdpPort(), 8)) {
            std::fprintf(stderr, "rq905_traffic: simulator or driver not available\n");
            rc = 1;
        } else {
            std::printf(
                "platform %s, %g s a run, %g transactions/s (%g frames/s) traced from a thread of their "
                "own\n(goal: the window keeps up at 1000 frames/s under 5 %% of one core)\n",
                qPrintable(QApplication::platformName()), seconds, rate, 2 * rate);
            const TRun without = Run(rec, log, seconds, rate, nullptr);
            Print("without the window", without);
            TProvozLinky window(log, nullptr);
            window.resize(1100, 560);
            window.show();
            const TRun with = Run(rec, log, seconds, rate, &window);
            Print("window shown", with);
            std::printf(
                "the window's cost: UI thread %.2f %% of one core; process %+.2f %% of one core beside "
                "the run without it\n",
                100.0 * with.uiCpu / with.wall,
                100.0 * (with.processCpu / with.wall - without.processCpu / without.wall));
            CloseInterface(rec.Kind, rec.Handle);
        }
        sim.Stop();
    }
    std::filesystem::remove_all(dir);
    return rc;
}
