#include "axissteps.h"

#include <algorithm>
#include <cmath>

double NiceStep(double span, int wanted)
{
    const double raw = span / wanted;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
        if (factor * power >= raw)
            return factor * power;
    }
    return 10 * power;
}

qint64 TimeStep(qint64 spanMs)
{
    static constexpr qint64 kSteps[] = {1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 15000, 30000,
                                        60000, 120000, 300000, 600000, 900000, 1800000, 3600000, 7200000, 10800000,
                                        21600000, 43200000, 86400000};
    for (const qint64 step : kSteps) {
        if (spanMs / step <= 10)
            return step;
    }
    return 86400000 * std::max<qint64>(1, spanMs / 86400000 / 10);
}
