#include "datarecorder.h"
#include "messageseam.h"
#include "samplelist.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>
#include <QTimer>

namespace {

// A save of a full store: 6000 formatted lines, each written through, and the
// file made durable. The folder is a temporary one on this machine's disk.
void BM_SaveData6000Readings(benchmark::State &state)
{
    QTemporaryDir folder(QDir::homePath() + QStringLiteral("/.calorivista-bench-XXXXXX"));
    MessageSeam prompts;
    DataRecorder recorder(prompts);
    recorder.SetFolder(folder.path());
    QTimer timer;

    SampleList store;
    SYSTEMTIME now {};
    GetLocalTime(&now);
    for (int i = 0; i < SampleList::kMaxReadings; ++i) {
        SYSTEMTIME t = now;
        t.wMilliseconds = static_cast<std::uint16_t>(i % 1000);
        store.Append(TempSample {t, 900.0 + (i % 700) * 0.1});
    }
    for (auto _ : state) {
        recorder.SetFileCounter(0);
        const TempSample *mark = nullptr;
        if (!recorder.SaveData(store, mark, timer, 300))
            state.SkipWithError("the save failed");
    }
    state.SetItemsProcessed(state.iterations() * SampleList::kMaxReadings);
}
BENCHMARK(BM_SaveData6000Readings)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace
