#pragma once

#include <cstdint>
#include <ctime>

#ifdef _WIN32
#  ifndef NOMINMAX
#    define NOMINMAX
#  endif
#  include <windows.h>
#else
// A local calendar time in the layout of the Windows SYSTEMTIME record, so that
// readings, files and the chart work alike on every platform.
struct SYSTEMTIME
{
    std::uint16_t wYear;
    std::uint16_t wMonth;     // 1 to 12
    std::uint16_t wDayOfWeek; // 0 = Sunday
    std::uint16_t wDay;
    std::uint16_t wHour;
    std::uint16_t wMinute;
    std::uint16_t wSecond;
    std::uint16_t wMilliseconds;
};

// Fills *st with the local time now, as Windows' GetLocalTime does.
void GetLocalTime(SYSTEMTIME *st);
#endif

// Whole seconds of a local calendar time (milliseconds ignored) through mktime,
// with daylight saving decided by the library.
std::time_t LocalSeconds(const SYSTEMTIME &st);

// LocalSeconds for runs of readings. mktime is slow (it looks at the time zone
// file every call), so it is asked once per distinct hour of the calendar and
// the minutes and seconds are added to that: daylight saving changes on the
// hour, so the result is mktime's.
class LocalSecondsCache
{
public:
    std::time_t Of(const SYSTEMTIME &st);

private:
    bool m_bValid = false;
    SYSTEMTIME m_stHour {};
    std::time_t m_nHourSeconds = 0;
};

// Reads the local time quickly enough to stamp every frame of a fast line:
// the calendar conversion is done once per second and reused within it.
class LocalClock
{
public:
    // With `utcMs`, also the instant of the time given.
    SYSTEMTIME Now(std::int64_t *utcMs = nullptr);
    // The local time of an instant (ms since 1970), near the ones asked before.
    SYSTEMTIME At(std::int64_t utcMs);

private:
    std::int64_t m_nCachedSecond = INT64_MIN;
    SYSTEMTIME m_stCached {};
};
