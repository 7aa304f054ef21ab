// The run journal at the fastest real line (1280 readings a second): the time
// to make one second's readings durable, and its share of a core.
#include "comreader.h"
#include "cpuclock.h"
#include "messageseam.h"
#include "runjournal.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QTemporaryDir>

#include <chrono>

namespace {

constexpr int kReadingsPerSecond = 1280;

// One flush per iteration: the second's readings copied from the store under
// its lock by the run's feed, appended and made durable (fdatasync). The journal lives on this
// machine's disk, in a temporary folder under the home folder.
void BM_JournalOneSecondDurable(benchmark::State &state)
{
    QTemporaryDir folder(QDir::homePath() + QStringLiteral("/.calorivista-bench-XXXXXX"));
    MessageSeam messages;
    CComReader reader(messages);
    RunFeed feed(reader);
    RunJournal journal(reader, folder.path());
    QObject::connect(&feed, &RunFeed::Readings, &journal, &RunJournal::Take);
    if (!journal.Begin(JournalHeader {folder.path(), 0, {}})) {
        state.SkipWithError("the journal cannot be created");
        return;
    }
    SYSTEMTIME now {};
    GetLocalTime(&now);
    double cpuSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        reader.Lock();
        for (int i = 0; i < kReadingsPerSecond; ++i)
            reader.Samples().Append(TempSample {now, 900.0 + i * 0.1});
        reader.Unlock();
        const double cpuBefore = ThreadCpuSeconds();
        state.ResumeTiming();
        feed.Tick();
        if (!journal.Flush())
            state.SkipWithError("the flush failed");
        state.PauseTiming();
        cpuSeconds += ThreadCpuSeconds() - cpuBefore;
        // A save every 300 readings' seconds, as the default saving interval
        // would, keeps the journal and the store as short as a run's.
        if (reader.Samples().GetCount() >= 300 * kReadingsPerSecond) {
            reader.ClearSamples();
            feed.Begin();
            journal.Saved(JournalHeader {folder.path(), 1, {}});
        }
        state.ResumeTiming();
    }
    journal.End();
    // One flush a second: its CPU time per second is its share of a core.
    state.counters["journal_cpu_percent_of_core"] = 100.0 * cpuSeconds / static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations() * kReadingsPerSecond);
}
BENCHMARK(BM_JournalOneSecondDurable)->Unit(benchmark::kMillisecond)->MinTime(3.0);

} // namespace
