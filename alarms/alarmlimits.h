#pragma once

#include <optional>

// What a run is watched for. A limit that is not set is off.
struct AlarmLimits
{
    std::optional<double> high;  // °C: above it
    std::optional<double> low;   // °C: below it, once the run has been above it
    std::optional<double> rate;  // °C/min: rising or falling faster
    int rateWindowSeconds = 60;  // the span the rate is measured over
    double hysteresis = 5;       // °C: a limit alarm clears this far back inside
    double delaySeconds = 2;     // a condition holds this long before it raises
    int silenceSeconds = 10;     // no whole frame (or no device) this long; 0: off
    bool sound = true;

    bool operator==(const AlarmLimits &) const = default;
};
