// The trend window "Průběh": CPU of the program while the window, shown
// (offscreen), polls the simulator over UDP loopback through the real LAN
// converter driver at 10 readings a second, without and with a recording;
// then the memory that 24 hours of readings at 10 a second take, fed fast,
// above the same program idle, and how long one paint of them takes.
// Prints figures; judges nothing.
//
//   rq905_trend [seconds, default 20]
#include <sys/resource.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "GuiBench.h"
#include "SimProcess.h"
#include "core/Dekl.h"
#include "core/LocalTime.h"
#include "ui/Hlavni.h"
#include "ui/Prubeh.h"

namespace {

using namespace guibench;

using Clock = std::chrono::steady_clock;

// Resident memory of this process now, MB.
void MeasureCpu(const char* name, TPrubeh& window, double seconds) {
    const std::size_t before = window.Ring().Size();
    const double cpu0 = CpuSeconds();
    const auto wall0 = Clock::now();
    RunFor(seconds);
    const double cpu = CpuSeconds() - cpu0;
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    const auto readings = static_cast<double>(window.Ring().Size() - before);
    std::printf(
        "%-28s %5.1f s  %5.0f readings  %5.2f/s  cpu %7.1f ms  %5.2f %% of one core (goal <= 3 %%)  %5.0f "
        "us/reading\n",
        name, wall, readings, readings / wall, cpu * 1e3, 100.0 * cpu / wall,
        readings > 0 ? cpu * 1e6 / readings : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 20.0;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: rq905_trend [seconds]\n");
        return 2;
    }
    char dir[] = "/tmp/rq905-trend-XXXXXX";
    if (mkdtemp(dir) == nullptr) return 1;
    int rc = 0;
    {
        // The program as a technician has it: the main window and, from its
        // menu, the trend window.
        TForm1 main(std::string(dir) + "/W_rq905.ini");
        main.show();
        RunFor(0.5);
        const double idleMb = RssMb();
        simharness::SimProcess sim(RQ905_SIM_EXECUTABLE,
                                   {"--udp", "0", "--fresh", "--quiet", "--state",
                                    std::string(dir) + "/sim.state", "--inputs", "0x5A"});
        TData& rec = *main.Data();
        if (!sim.Ready() || !ConnectTo(rec, sim.UdpPort())) {
            std::fprintf(stderr, "rq905_trend: simulator or driver not available\n");
            rc = 1;
        } else {
            std::printf("platform %s, %g s per run, CPU of this process only\n",
                        qPrintable(QApplication::platformName()), seconds);
            const double cpu0 = CpuSeconds();
            const auto wall0 = Clock::now();
            RunFor(seconds / 4);
            const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
            std::printf("%-28s %5.1f s  cpu %7.1f ms  %5.2f %% of one core\n", "main window alone", wall,
                        (CpuSeconds() - cpu0) * 1e3, 100.0 * (CpuSeconds() - cpu0) / wall);

            TPrubeh* window = TPrubeh::Open(&rec, &main);
            RunFor(1.0);  // settle: first paints, first readings
            MeasureCpu("trend shown, 100 ms", *window, seconds);
            // The recording opens its file by name for every line.
            const std::string csv = std::string(dir) + "/trend.csv";
            window->StartRecording(QString::fromStdString(csv));
            MeasureCpu("trend shown, recording", *window, seconds);
            window->close();
            CloseInterface(rec.Kind, rec.Handle);
            rec.Connected = 0;
            rec.Handle = 0;

            // 24 hours at 10 readings a second, fed fast into the window
            // (shown, so the chart follows them).
            window->show();
            RunFor(0.2);
            const auto feed0 = Clock::now();
            TTrendReading r;
            r.unixMs = UnixMsNow();
            r.inputsRead = r.statusRead = r.doutKnown = r.pwmKnown = true;
            for (std::size_t n = 0; n < TTrendRing::kCapacity + 1000; ++n) {
                r.unixMs += 100;
                r.inputs = static_cast<uint8_t>(n / 7);
                r.dout = static_cast<uint8_t>(n / 600);
                r.pwm = static_cast<uint16_t>(n * 13);
                r.status = (n / 50) % 2 ? 0x12u : 0x30u;
                window->AddReading(r);
            }
            const double feed = std::chrono::duration<double>(Clock::now() - feed0).count();
            RunFor(0.2);
            const double fullMb = RssMb();
            std::printf("%-28s %zu readings in %.2f s (%.2f us each); ring %zu of %zu, %.1f MB of samples\n",
                        "24 h fed", TTrendRing::kCapacity + 1000, feed,
                        feed * 1e6 / (TTrendRing::kCapacity + 1000.0), window->Ring().Size(),
                        window->Ring().Capacity(),
                        static_cast<double>(window->Ring().Capacity() * sizeof(TTrendSample)) / 1e6);
            std::printf("%-28s idle %.1f MB, with 24 h %.1f MB: %.1f MB more (goal < 64 MB)\n",
                        "resident memory", idleMb, fullMb, fullMb - idleMb);
            // One paint of the last minute and of the whole day.
            for (const int64_t span : {int64_t{60'000}, int64_t{24 * 3'600'000}}) {
                window->Chart()->SetSpanMs(span);
                const auto paint0 = Clock::now();
                constexpr int kPaints = 10;
                for (int n = 0; n < kPaints; ++n) window->Chart()->repaint();
                const double paint = std::chrono::duration<double>(Clock::now() - paint0).count() / kPaints;
                const auto [first, last] = window->Chart()->VisibleSamples();
                std::printf("%-28s span %8.0f s, %6zu readings in view: %.2f ms\n", "one paint of the chart",
                            static_cast<double>(span) / 1000.0, last - first, paint * 1e3);
            }
        }
        sim.Stop();
    }
    std::filesystem::remove_all(dir);
    return rc;
}
