// Local wall-clock time for the lines of a watch.
#pragma once

#include <string>

struct TLocalTime {
    std::string clock;  // HH:MM:SS.mmm
    std::string iso;    // 2026-12-07T22:58:01.123+01:00
};

TLocalTime LocalTimeNow();
