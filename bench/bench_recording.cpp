#include "datarecorder.h"
#include "localstamp.h"
#include "messageseam.h"
#include "samplelist.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>
#include <QTimer>

#include <ctime>

namespace {

// A save of N readings: formatted lines written in large blocks and the file
// made durable. 6000 is a full store; 384 000 is 300 s (the default interval)
// at the fastest line, 1280 frames/s. The folder is a temporary one on this
// machine's disk.
void BM_SaveData(benchmark::State &state)
{
    const int count = static_cast<int>(state.range(0));
    QTemporaryDir folder(QDir::homePath() + QStringLiteral("/.calorivista-bench-XXXXXX"));
    MessageSeam prompts;
    DataRecorder recorder(prompts);
    recorder.SetFolder(folder.path());
    QTimer timer;

    SampleList store;
    SYSTEMTIME start {};
    GetLocalTime(&start);
    const qint64 startMs = qint64(LocalSeconds(start)) * 1000;
    for (int i = 0; i < count; ++i) {
        // Readings 1/1280 s apart from now on.
        store.Append(TempSample {LocalStampAt(startMs + qint64(i) * 1000 / 1280), 900.0 + (i % 7000) * 0.1});
    }
    for (auto _ : state) {
        recorder.SetFileCounter(0);
        const TempSample *mark = nullptr;
        if (!recorder.SaveData(store, mark, timer, 300))
            state.SkipWithError("the save failed");
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_SaveData)->Arg(SampleList::kMaxReadings)->Arg(384000)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace
