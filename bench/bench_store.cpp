#include "pendingreadings.h"
#include "samplelist.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

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

// The reader's waiting readings during a flood that the store's lock holds
// back: 64 M readings (1.5 GB) pushed one by one, and the longest single push
// (a chunk's allocation at worst, never a copy of what waits). Then the
// hand-over of one share (8192 readings) into the store, the longest of all.
void BM_PendingReadingsFlood(benchmark::State &state)
{
    using Clock = std::chrono::steady_clock;
    constexpr qsizetype kReadings = 64LL << 20;
    for (auto _ : state) {
        auto pending = std::make_unique<PendingReadings>();
        const TempSample sample {Noon(), 20.0};
        Clock::duration longestPush {};
        long long slowPushes = 0; // over 10 µs: the scheduler or the kernel, on this shared machine
        for (qsizetype i = 0; i < kReadings; ++i) {
            const Clock::time_point before = Clock::now();
            pending->Push(sample);
            const Clock::duration took = Clock::now() - before;
            longestPush = std::max(longestPush, took);
            slowPushes += took > std::chrono::microseconds(10);
        }
        // What a growing vector did before: its longest push copies all that waits.
        Clock::duration longestVectorPush {};
        {
            std::vector<TempSample> vector;
            for (qsizetype i = 0; i < kReadings; ++i) {
                const Clock::time_point before = Clock::now();
                vector.push_back(sample);
                longestVectorPush = std::max(longestVectorPush, Clock::now() - before);
            }
        }
        SampleList store;
        Clock::duration longestShare {};
        while (!pending->IsEmpty()) {
            const Clock::time_point before = Clock::now();
            pending->MoveInto(store, nullptr, 8192);
            longestShare = std::max(longestShare, Clock::now() - before);
            if (store.GetCount() > 1 << 20)
                store.Clear(); // the store is not what is measured here
        }
        state.counters["longest_push_us"] = std::chrono::duration<double, std::micro>(longestPush).count();
        state.counters["pushes_over_10us"] = static_cast<double>(slowPushes);
        state.counters["vector_longest_push_ms"] = std::chrono::duration<double, std::milli>(longestVectorPush).count();
        state.counters["longest_share_handover_us"] = std::chrono::duration<double, std::micro>(longestShare).count();
    }
}
BENCHMARK(BM_PendingReadingsFlood)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
