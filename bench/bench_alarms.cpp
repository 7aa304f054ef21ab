#include "alarmmonitor.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>

namespace {

// Every limit set, 1280 readings a second of a furnace that wanders inside
// them: what each reading costs the alarms, and the share of a core at that rate.
void BM_AlarmEvaluationPerReading(benchmark::State &state)
{
    AlarmLimits limits;
    limits.high = 1500;
    limits.low = 100;
    limits.rate = 50;
    AlarmMonitor monitor;
    monitor.Start(limits);
    qint64 ms = 1796822070000;
    int tick = 0;
    const auto started = std::chrono::steady_clock::now();
    for (auto _ : state) {
        ++tick;
        ms += (tick % 32 == 0) ? 2 : 1; // 1280 a second: 0.78 ms apart on average
        const double celsius = 1000 + 20 * std::sin(static_cast<double>(tick) * 1e-4) + (tick % 7) * 0.1;
        benchmark::DoNotOptimize(monitor.Reading(ms, celsius));
    }
    const double ns = static_cast<double>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - started).count());
    state.SetItemsProcessed(state.iterations());
    // Time per reading × 1280 readings a second, as a share of one core.
    state.counters["percent_of_core_at_1280_per_s"] = ns / static_cast<double>(state.iterations()) * 1280 / 1e9 * 100;
}
BENCHMARK(BM_AlarmEvaluationPerReading);

} // namespace
