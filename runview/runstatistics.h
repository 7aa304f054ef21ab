#pragma once

#include "eventsfile.h"
#include "runseries.h"

class FolderSeries;

#include <QString>

#include <map>
#include <optional>

// Figures of a run or a span of it.
struct RunStatistics
{
    qint64 readings = 0;
    qint64 startMs = 0;
    qint64 endMs = 0;
    int gaps = 0;             // pauses longer than the series' gap length, both ends inside
    qint64 longestGapMs = 0;
    double lowest = 0;
    qint64 lowestMs = 0;      // its first time
    double highest = 0;
    qint64 highestMs = 0;
    double mean = 0;          // of the readings, each counted once
    // Time above the threshold: each interval between two readings that is no
    // gap counts when its first reading is above.
    std::optional<double> threshold;
    qint64 aboveMs = 0;
    // The largest change over one minute: a reading against the last one at
    // least a minute before it, with no gap between them; none for a span
    // shorter than a minute.
    std::optional<double> largestRise; // °C, positive
    qint64 riseEndMs = 0;
    std::optional<double> largestFall; // °C, positive
    qint64 fallEndMs = 0;
    std::map<QString, int> alarms; // raised, by event kind ("alarm-high", …)
    // The run's length as the readings measured it, where the clock was set
    // back during it (its start and stop then say nothing of its length).
    std::optional<qint64> elapsedMs;

    // From the start to the stop: a run's start and stop events where the
    // span holds them, else its first and last reading.
    qint64 DurationMs() const { return elapsedMs ? *elapsedMs : endMs - startMs; }
};

// The figures of the readings from `fromMs` to `toMs` (both included) and of
// the alarms raised then; the span starts at a run's start and ends at its
// stop where those are in it.
RunStatistics ComputeStatistics(const RunSeries &series, const QList<FolderEvent> &events, qint64 fromMs, qint64 toMs,
                                std::optional<double> threshold);

// The same for a record folder's span; for the whole of a folder whose clock
// was set back during a run, its length as its readings measured it.
RunStatistics FolderStatistics(const FolderSeries &run, qint64 fromMs, qint64 toMs, std::optional<double> threshold);
