#include <cstdio>
#include <cstdlib>

#include "core/LocalTime.h"

TLocalTime FormatLocalTime(const TCivilTime& t) {
    // Zone offsets lie within a day; the bounds keep the format's widths
    // visible to the compiler.
    const int offset = t.offsetMinutes % (24 * 60);
    const int magnitude = std::abs(offset);
    char clock[24];
    std::snprintf(clock, sizeof clock, "%02d:%02d:%02d.%03d", t.hour % 100, t.minute % 100, t.second % 100,
                  t.millisecond % 1000);
    char iso[64];
    std::snprintf(iso, sizeof iso, "%04d-%02d-%02dT%s%c%02d:%02d", t.year % 10000, t.month % 100, t.day % 100,
                  clock, offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
    return {clock, iso};
}
