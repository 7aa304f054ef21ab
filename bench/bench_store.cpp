#include "samplelist.h"

#include <benchmark/benchmark.h>

#include <chrono>

namespace {

SYSTEMTIME Noon(int minute = 0)
{
    SYSTEMTIME st {};
    st.wYear = 2027;
    st.wMonth = 1;
    st.wDay = 1;
    st.wHour = 12;
    st.wMinute = static_cast<std::uint16_t>(minute);
    return st;
}

// One reading in, the oldest out: the store's steady state during a run.
void BM_AppendAndRemoveOldest(benchmark::State &state)
{
    SampleList store;
    for (int i = 0; i < SampleList::kMaxReadings; ++i)
        store.Append(TempSample {Noon(), 20.0});
    const TempSample sample {Noon(), 21.0};
    for (auto _ : state) {
        store.Append(sample);
        store.RemoveOldest();
    }
    benchmark::DoNotOptimize(store.GetCount());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AppendAndRemoveOldest);

// A full store within its limits: the check a display tick makes every second.
void BM_TrimFullStoreNothingToRemove(benchmark::State &state)
{
    SampleList store;
    for (int i = 0; i < SampleList::kMaxReadings; ++i)
        store.Append(TempSample {Noon(), 20.0});
    const TempSample *mark = store.GetAt(0);
    for (auto _ : state)
        store.Trim(Noon(5), mark);
    benchmark::DoNotOptimize(store.GetCount());
}
BENCHMARK(BM_TrimFullStoreNothingToRemove)->Unit(benchmark::kMicrosecond);

// A full store of readings all past 600 s: everything but the mark goes.
void BM_TrimFullStoreAllTooOld(benchmark::State &state)
{
    for (auto _ : state) {
        SampleList store;
        for (int i = 0; i < SampleList::kMaxReadings; ++i)
            store.Append(TempSample {Noon(i * 10 / SampleList::kMaxReadings), 20.0});
        const TempSample *mark = store.GetAt(0);
        const auto start = std::chrono::steady_clock::now();
        store.Trim(Noon(59), mark);
        const auto stop = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
        if (store.GetCount() != 1)
            state.SkipWithError("the trim left more than the mark");
    }
}
BENCHMARK(BM_TrimFullStoreAllTooOld)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace
