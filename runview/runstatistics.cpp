#include "runstatistics.h"

#include "folderseries.h"

#include <algorithm>

namespace {
constexpr qint64 kMinuteMs = 60000;
}

RunStatistics ComputeStatistics(const RunSeries &series, const QList<FolderEvent> &events, qint64 fromMs, qint64 toMs,
                                std::optional<double> threshold)
{
    RunStatistics stats;
    stats.threshold = threshold;
    for (const FolderEvent &event : events) {
        if (event.utcMs >= fromMs && event.utcMs <= toMs && event.event.startsWith(QLatin1String("alarm-"))
            && event.event != QLatin1String("alarm-clear") && event.event != QLatin1String("alarm-ack"))
            ++stats.alarms[event.event];
    }
    const qint64 first = series.LowerBound(fromMs);
    const qint64 end = series.LowerBound(toMs + 1);
    if (first >= end)
        return stats;
    stats.readings = end - first;
    stats.startMs = series.TimeAt(first);
    stats.endMs = series.TimeAt(end - 1);
    // From the start to the stop, as the run's line says it.
    for (const FolderEvent &event : events) {
        if (event.utcMs < fromMs || event.utcMs > toMs)
            continue;
        if (event.event == QLatin1String("run-start"))
            stats.startMs = std::min(stats.startMs, event.utcMs);
        else if (event.event == QLatin1String("run-stop"))
            stats.endMs = std::max(stats.endMs, event.utcMs);
    }

    const std::vector<qint64> &gaps = series.GapsBefore();
    auto gap = std::upper_bound(gaps.begin(), gaps.end(), first); // the first gap with both ends inside
    qint64 lastGap = first; // readings before this one lie across a gap from the current one

    double sum = 0;
    stats.lowest = stats.highest = series.CelsiusAt(first);
    stats.lowestMs = stats.highestMs = series.TimeAt(first);
    qint64 minuteBack = first; // the last reading at least a minute before the current one
    qint64 previousMs = series.TimeAt(first);
    double previous = series.CelsiusAt(first);
    for (qint64 i = first; i < end; ++i) {
        const qint64 ms = series.TimeAt(i);
        const double celsius = series.CelsiusAt(i);
        sum += celsius;
        if (celsius < stats.lowest) {
            stats.lowest = celsius;
            stats.lowestMs = ms;
        }
        if (celsius > stats.highest) {
            stats.highest = celsius;
            stats.highestMs = ms;
        }
        const bool afterGap = gap != gaps.end() && *gap == i;
        if (afterGap) {
            ++gap;
            ++stats.gaps;
            stats.longestGapMs = std::max(stats.longestGapMs, ms - previousMs);
            lastGap = i;
        } else if (i > first && threshold && previous > *threshold) {
            stats.aboveMs += ms - previousMs;
        }
        while (minuteBack + 1 < i && series.TimeAt(minuteBack + 1) <= ms - kMinuteMs)
            ++minuteBack;
        if (minuteBack >= lastGap && minuteBack < i && series.TimeAt(minuteBack) <= ms - kMinuteMs) {
            const double change = celsius - series.CelsiusAt(minuteBack);
            if (change > 0 && (!stats.largestRise || change > *stats.largestRise)) {
                stats.largestRise = change;
                stats.riseEndMs = ms;
            }
            if (change < 0 && (!stats.largestFall || -change > *stats.largestFall)) {
                stats.largestFall = -change;
                stats.fallEndMs = ms;
            }
        }
        previousMs = ms;
        previous = celsius;
    }
    stats.mean = sum / double(stats.readings);
    return stats;
}

RunStatistics FolderStatistics(const FolderSeries &run, qint64 fromMs, qint64 toMs, std::optional<double> threshold)
{
    RunStatistics stats = ComputeStatistics(run.Series(), run.Events(), fromMs, toMs, threshold);
    const auto [first, last] = run.WholeSpan();
    if (run.ClockSteppedBack() && fromMs <= first && toMs >= last)
        stats.elapsedMs = run.ElapsedMs();
    return stats;
}
