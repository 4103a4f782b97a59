// Local wall-clock time for the lines of a watch and of a recording.
#pragma once

#include <cstdint>
#include <string>

struct TLocalTime {
    std::string clock;  // HH:MM:SS.mmm
    std::string iso;    // 2026-12-07T22:58:01.123+01:00
};

TLocalTime LocalTimeNow();
// The local time of an instant given in milliseconds since 1970-01-01 UTC,
// with the zone's offset in force then (a recording exported later keeps
// each sample's own offset across a change to summer time).
TLocalTime LocalTimeAt(int64_t unixMs);
// Milliseconds since 1970-01-01 UTC now.
int64_t UnixMsNow();

// A local date and time as the platform gives it, and the zone's offset
// from UTC then, in minutes (east positive).
struct TCivilTime {
    int year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    int offsetMinutes = 0;
};

TLocalTime FormatLocalTime(const TCivilTime& t);
