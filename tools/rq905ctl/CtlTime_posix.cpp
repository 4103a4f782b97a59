// POSIX local time: localtime_r gives the zone's offset (tm_gmtoff), which
// the C++ library of GCC 12 has no portable way to tell.
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "CtlTime.h"

TLocalTime LocalTimeNow() {
    const auto now = std::chrono::system_clock::now();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    const time_t seconds = static_cast<time_t>(ms / 1000);
    tm local{};
    localtime_r(&seconds, &local);
    // Zone offsets lie within a day; the cast keeps the format's bounds
    // visible to the compiler.
    const int offset = static_cast<int>(local.tm_gmtoff / 60 % (24 * 60));
    const int magnitude = std::abs(offset);
    char clock[24];
    std::snprintf(clock, sizeof clock, "%02d:%02d:%02d.%03d", local.tm_hour % 100, local.tm_min % 100,
                  local.tm_sec % 100, static_cast<int>(ms % 1000));
    char iso[64];
    std::snprintf(iso, sizeof iso, "%04d-%02d-%02dT%s%c%02d:%02d", (local.tm_year + 1900) % 10000,
                  (local.tm_mon + 1) % 100, local.tm_mday % 100, clock, offset < 0 ? '-' : '+',
                  magnitude / 60, magnitude % 60);
    return {clock, iso};
}
