// What the benchmarks of the program's windows share: the process's CPU
// and memory, a connection to the simulator's UDP port, and letting the
// event loop run for a while.
#pragma once

#include <sys/resource.h>

#include <QEventLoop>
#include <QTimer>
#include <cstdint>
#include <fstream>
#include <string>

#include "core/Dekl.h"
#include "link/Txxx318.h"
#include "tests/guisupport/UdpConnect.h"

namespace guibench {

// CPU seconds of the whole process, user and system.
inline double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Resident memory of this process now, MB.
inline double RssMb() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            double kb = 0;
            status >> kb;
            return kb / 1024.0;
        }
        status.ignore(1 << 12, '\n');
    }
    return 0;
}

// Connects rec to module 1 of the simulator's UDP port, as the connection
// dialog would.
inline bool ConnectTo(TData& rec, uint16_t port, uint8_t speedIndex = kDefaultSpeedIndex) {
    return ConnectOverUdp(rec, port, 1, speedIndex);
}

inline void RunFor(double seconds) {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace guibench
