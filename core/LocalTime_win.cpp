// Windows local time: GetLocalTime for the clock, and the zone's bias,
// standard or daylight as the system says is in force now, for the offset.
#include <windows.h>

#include "core/LocalTime.h"

TLocalTime LocalTimeNow() {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    TIME_ZONE_INFORMATION zone{};
    const DWORD mode = GetTimeZoneInformation(&zone);
    long bias = zone.Bias;
    if (mode == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
    if (mode == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
    // Bias is UTC minus local time; the offset is the other way round.
    return FormatLocalTime({local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond,
                            local.wMilliseconds, static_cast<int>(-bias)});
}
