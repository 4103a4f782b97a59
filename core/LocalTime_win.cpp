// Windows local time: the system's own conversion of an instant to the
// local time in force then, standard or daylight; the offset is the
// difference between the two.
#include <windows.h>

#include "core/LocalTime.h"

namespace {

// FILETIME counts 100 ns from 1601-01-01 UTC.
constexpr int64_t kEpochDifferenceMs = 11644473600000LL;

int64_t FileTimeMs(const FILETIME& time) {
    ULARGE_INTEGER value{};
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<int64_t>(value.QuadPart / 10000) - kEpochDifferenceMs;
}

}  // namespace

int64_t UnixMsNow() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return FileTimeMs(now);
}

TLocalTime LocalTimeAt(int64_t unixMs) {
    ULARGE_INTEGER value{};
    value.QuadPart = static_cast<ULONGLONG>(unixMs + kEpochDifferenceMs) * 10000;
    FILETIME utcFile{};
    utcFile.dwLowDateTime = value.LowPart;
    utcFile.dwHighDateTime = value.HighPart;
    SYSTEMTIME utc{}, local{};
    FileTimeToSystemTime(&utcFile, &utc);
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) local = utc;
    FILETIME localFile{};
    SystemTimeToFileTime(&local, &localFile);
    const int64_t offsetMs = FileTimeMs(localFile) - FileTimeMs(utcFile);
    return FormatLocalTime({local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond,
                            local.wMilliseconds, static_cast<int>(offsetMs / 60000)});
}

TLocalTime LocalTimeNow() { return LocalTimeAt(UnixMsNow()); }
