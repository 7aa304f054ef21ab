#pragma once

#include "localtime.h"

// One reading: the local time at which its frame's "#" arrived and the
// temperature in degrees Celsius.
struct TempSample
{
    SYSTEMTIME time;
    double temperature;
};
