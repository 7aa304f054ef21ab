#pragma once

#include <QtGlobal>

// Round steps for a chart's axes.

// A step of 1, 2 or 5 × 10^n that gives about `wanted` intervals over `span`.
double NiceStep(double span, int wanted);

// A clock step for a time axis of `spanMs`, in milliseconds: about ten or fewer
// intervals, on seconds, minutes, hours or days that a clock shows round.
qint64 TimeStep(qint64 spanMs);
