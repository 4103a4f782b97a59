// POSIX local time: localtime_r gives the zone's offset (tm_gmtoff), which
// the C++ library of GCC 12 has no portable way to tell.
#include <time.h>

#include <chrono>

#include "core/LocalTime.h"

TLocalTime LocalTimeNow() {
    const auto now = std::chrono::system_clock::now();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    const time_t seconds = static_cast<time_t>(ms / 1000);
    tm local{};
    localtime_r(&seconds, &local);
    return FormatLocalTime({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                            local.tm_min, local.tm_sec, static_cast<int>(ms % 1000),
                            static_cast<int>(local.tm_gmtoff / 60)});
}
