// The bus table's scan ("Moduly na sběrnici" → "Hledat") against
// rq905ctl scan over the same range, in one run against the simulator:
// over UDP (the LAN converter), or over its pty with line-time emulation at
// the given speed; modules at every eighth address. The table is the real widget, shown offscreen; its time
// runs from the press of "Hledat" to the end of the scan, rq905ctl's from the start of the process to its
// end. Also: the longest wait of the window's event loop during the scan (a 10 ms timer's worst gap), the
// modules each found. Passes alternate, medians are compared. Prints figures; judges nothing.
//
//     bin/rq905_bus_table [passes] [udp|pty] [speed Bd] [last address]
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "SimProcess.h"
#include "core/Dekl.h"
#include "ui/ModulyNaSbernici.h"

namespace {

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int passes = argc > 1 ? std::atoi(argv[1]) : 3;
    const bool udp = argc <= 2 || std::string(argv[2]) != "pty";
    const uint32_t speed = argc > 3 ? static_cast<uint32_t>(std::atoi(argv[3])) : 115200;
    const int last = argc > 4 ? std::atoi(argv[4]) : 255;
    const int modules = (last + 8) / 8;

    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("rq905-bus-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string link = (dir / "pty").string();
    std::vector<std::string> args{
        "--fresh",   "--quiet", "--state", (dir / "sim.state").string(), "--modules", "1",
        "--address", "0",       "--speed", std::to_string(speed)};
    for (const std::string& a : udp ? std::vector<std::string>{"--udp", "0"}
                                    : std::vector<std::string>{"--link", link, "--line-time"}) {
        args.push_back(a);
    }
    simharness::SimProcess sim(RQ905_SIM_EXECUTABLE, args);
    if (!sim.Ready()) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    for (int a = 8; a <= last; a += 8) sim.Command("add " + std::to_string(a) + " " + std::to_string(speed));
    qputenv("RQ905_COM1", QByteArray::fromStdString(link));
    const std::string ini = (dir / "W_rq905.ini").string();
    {
        TData data;
        SetDefaults(&data);
        data.Kind = udp ? kKindLan : kKindCom;
        data.ComPort = 1;
        data.IpAddress = "127.0.0.1";
        data.UdpPort = sim.UdpPort();
        data.UdpTimeout = 200;
        data.Speed = speed;
        SaveSettings(&data, ini);
    }

    TData rec;
    SetDefaults(&rec);
    LoadSettings(&rec, ini);
    TModulyNaSbernici table;
    table.SetData(&rec);
    table.findChild<QSpinBox*>("ScanTo")->setValue(last);
    table.show();

    std::vector<double> tableMs, ctlMs, stallMs;
    int tableMissed = 0, ctlMissed = 0;
    for (int pass = 0; pass < passes; ++pass) {
        // rq905ctl scan, a process of its own.
        QProcess ctl;
        QElapsedTimer clock;
        clock.start();
        ctl.start(RQ905_CTL_EXECUTABLE,
                  {"--settings", QString::fromStdString(ini), "scan", "--to", QString::number(last)});
        ctl.waitForFinished(600000);
        ctlMs.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        const QString out = QString::fromUtf8(ctl.readAllStandardOutput());
        const int ctlFound = static_cast<int>(out.count("Adresa "));
        ctlMissed += modules - ctlFound;

        // The table: the worst gap of a 10 ms timer while it scans.
        QTimer tick;
        QElapsedTimer since;
        double worst = 0;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            worst = std::max(worst, static_cast<double>(since.nsecsElapsed()) / 1e6);
            since.restart();
        });
        bool ended = false;
        const auto connection =
            QObject::connect(&table, &TModulyNaSbernici::ScanEnded, [&] { ended = true; });
        tick.start(10);
        since.start();
        clock.restart();
        table.findChild<QPushButton*>("SearchButton")->click();
        while (!ended) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        tableMs.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        QObject::disconnect(connection);
        tick.stop();
        stallMs.push_back(worst);
        int found = 0;
        for (const TBusRow& r : table.Rows()) found += r.state == kAnswersText ? 1 : 0;
        tableMissed += modules - found;
        std::printf(
            "pass %d: rq905ctl scan %.0f ms (%d found), table %.0f ms (%d found), the window's longest "
            "wait %.1f ms\n",
            pass + 1, ctlMs.back(), ctlFound, tableMs.back(), found, worst);
        std::fflush(stdout);
    }
    const double ratio = Median(tableMs) / Median(ctlMs);
    std::printf("%s, addresses 0-%d at %u Bd, %d modules, %d passes\n", udp ? "UDP" : "pty with line time",
                last, speed, modules, passes);
    std::printf("median: rq905ctl scan %.0f ms, table %.0f ms, ratio %.3f (target <= 1.05)\n", Median(ctlMs),
                Median(tableMs), ratio);
    std::printf("modules missed: rq905ctl %d, table %d (target 0)\n", ctlMissed, tableMissed);
    std::printf("the window's longest wait during a scan: %.1f ms (target <= 100)\n",
                *std::max_element(stallMs.begin(), stallMs.end()));
    sim.Stop();
    fs::remove_all(dir);
    return 0;
}
