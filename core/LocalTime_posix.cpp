// POSIX local time: localtime_r gives the zone's offset (tm_gmtoff), which
// the C++ library of GCC 12 has no portable way to tell.
#include <time.h>

#include <chrono>

#include "core/LocalTime.h"

int64_t UnixMsNow() {
    const auto now = std::chrono::system_clock::now();
    return std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
}

TLocalTime LocalTimeAt(int64_t unixMs) {
    // Floor division, so that an instant before 1970 keeps its milliseconds
    // positive.
    int64_t seconds = unixMs / 1000;
    int millisecond = static_cast<int>(unixMs % 1000);
    if (millisecond < 0) {
        millisecond += 1000;
        --seconds;
    }
    const time_t t = static_cast<time_t>(seconds);
    tm local{};
    localtime_r(&t, &local);
    return FormatLocalTime({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                            local.tm_min, local.tm_sec, millisecond, static_cast<int>(local.tm_gmtoff / 60)});
}

TLocalTime LocalTimeNow() { return LocalTimeAt(UnixMsNow()); }
