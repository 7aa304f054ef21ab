#pragma once

#include "localtime.h"

// One reading: the local time at which its frame's "#" arrived and the
// temperature in degrees Celsius, with the instant of that time (milliseconds
// since 1970, UTC), which the local time alone does not tell in the hour that
// repeats when daylight saving ends. An instant of 0 is not known (a reading
// from an older journal): it is then reckoned from the local time.
struct TempSample
{
    SYSTEMTIME time;
    double temperature;
    std::int64_t utcMs = 0;
};
