// CPU the program spends while a monitor dialog polls the simulator over
// UDP loopback through the real LAN converter driver: user + system time of
// this process (the simulator runs apart), as percent of one core, with the
// poll rate achieved. Prints figures; judges nothing.
//
//   rq905_monitor_cpu [seconds per monitor, default 10]
#include <sys/resource.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "GuiBench.h"
#include "SimProcess.h"
#include "core/Dekl.h"
#include "ui/OkamDIN.h"
#include "ui/QtText.h"
#include "ui/StatReg.h"
#include "ui/StatusLine.h"

namespace {

using namespace guibench;

using Clock = std::chrono::steady_clock;

template <class TForm>
void Measure(const char* name, TData& rec, double seconds) {
    TForm form;
    form.SetData(&rec);
    long polls = 0;
    QObject::connect(form.template findChild<QTimer*>("Timer1"), &QTimer::timeout, [&polls] { ++polls; });
    form.show();
    RunFor(0.5);  // settle: first paint, first polls

    polls = 0;
    const double cpu0 = CpuSeconds();
    const auto wall0 = Clock::now();
    RunFor(seconds);
    const double cpu = CpuSeconds() - cpu0;
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    const std::string status =
        ToQt(form.template findChild<TStatusLine*>("StatusBar1")->Text()).toStdString();

    std::printf(
        "%-25s %6.1f s  %5ld polls  %6.2f polls/s  cpu %7.1f ms  %5.2f %% of one core  %6.0f us/poll  "
        "last status \"%s\"\n",
        name, wall, polls, static_cast<double>(polls) / wall, cpu * 1e3, 100.0 * cpu / wall,
        polls > 0 ? cpu * 1e6 / static_cast<double>(polls) : 0.0, status.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: rq905_monitor_cpu [seconds]\n");
        return 2;
    }

    char dir[] = "/tmp/rq905-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr) return 1;
    int rc = 0;
    {
        simharness::SimProcess sim(RQ905_SIM_EXECUTABLE,
                                   {"--udp", "0", "--fresh", "--quiet", "--state",
                                    std::string(dir) + "/sim.state", "--inputs", "0x5A"});
        TData rec;
        SetDefaults(&rec);
        if (!sim.Ready() || !ConnectTo(rec, sim.UdpPort())) {
            std::fprintf(stderr, "rq905_monitor_cpu: simulator or driver not available\n");
            rc = 1;
        } else {
            std::printf(
                "platform %s, %g s per monitor, CPU of this process only (goal: < 2 %% at 10 polls/s)\n",
                qPrintable(QApplication::platformName()), seconds);
            // What the event loop costs with no dialog, for comparison.
            const double cpu0 = CpuSeconds();
            const auto wall0 = Clock::now();
            RunFor(seconds / 5);
            const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
            std::printf("%-25s %6.1f s  %5d polls  %6.2f polls/s  cpu %7.1f ms  %5.2f %% of one core\n",
                        "idle event loop", wall, 0, 0.0, (CpuSeconds() - cpu0) * 1e3,
                        100.0 * (CpuSeconds() - cpu0) / wall);
            Measure<TForm11>("inputs (100 ms)", rec, seconds);
            Measure<TForm15>("status register (500 ms)", rec, seconds);
            CloseInterface(rec.Kind, rec.Handle);
        }
        sim.Stop();
    }
    std::filesystem::remove_all(dir);
    return rc;
}
