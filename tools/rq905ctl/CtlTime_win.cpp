// Windows local time: GetLocalTime for the clock, and the zone's bias,
// standard or daylight as the system says is in force now, for the offset.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "CtlTime.h"

TLocalTime LocalTimeNow() {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    TIME_ZONE_INFORMATION zone{};
    const DWORD mode = GetTimeZoneInformation(&zone);
    long bias = zone.Bias;
    if (mode == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
    if (mode == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
    // Bias is UTC minus local time; the offset is the other way round.
    const int offset = static_cast<int>(-bias % (24 * 60));
    const int magnitude = std::abs(offset);
    char clock[24];
    std::snprintf(clock, sizeof clock, "%02d:%02d:%02d.%03d", local.wHour % 100, local.wMinute % 100,
                  local.wSecond % 100, local.wMilliseconds % 1000);
    char iso[64];
    std::snprintf(iso, sizeof iso, "%04d-%02d-%02dT%s%c%02d:%02d", local.wYear % 10000, local.wMonth % 100,
                  local.wDay % 100, clock, offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
    return {clock, iso};
}
