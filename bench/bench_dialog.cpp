#include "messageseam.h"
#include "settingsstore.h"
#include "thermodlg.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

extern double g_applicationStartMs;

namespace {

// From nothing to the main dialog on screen: settings loaded, controls built,
// shown and painted once. The application object's own start is added as a
// counter (it happens once per process).
void BM_StartUpToMainDialogShown(benchmark::State &state)
{
    QTemporaryDir folder;
    const QString settingsFile = folder.filePath(QStringLiteral("Calorivista.conf"));
    MessageSeam messages;
    for (auto _ : state) {
        const SettingsStore store(settingsFile);
        CThermoDlg dialog(messages, store, folder.filePath(QStringLiteral("journal")));
        dialog.show();
        benchmark::DoNotOptimize(dialog.grab()); // paints it
        QApplication::processEvents();
    }
    state.counters["application_object_ms"] = g_applicationStartMs;
}
BENCHMARK(BM_StartUpToMainDialogShown)->Unit(benchmark::kMillisecond);

// A display tick with a full store: the newest temperature shown and the trim
// of the one reading that came since the last tick.
void BM_DisplayTickFullStore(benchmark::State &state)
{
    QTemporaryDir folder;
    QDir::setCurrent(folder.path());
    MessageSeam messages;
    const SettingsStore store(folder.filePath(QStringLiteral("Calorivista.conf")));
    CThermoDlg dialog(messages, store, folder.filePath(QStringLiteral("journal")));
    dialog.m_displayTimer.stop();
    SYSTEMTIME now {};
    GetLocalTime(&now);
    SampleList &samples = dialog.m_reader.Samples();
    for (int i = 0; i < SampleList::kMaxReadings; ++i)
        samples.Append(TempSample {now, 900.0});
    dialog.m_pSaveMark = samples.GetAt(0);
    for (auto _ : state) {
        state.PauseTiming();
        samples.Append(TempSample {now, 901.0});
        dialog.m_pSaveMark = samples.GetAt(0);
        state.ResumeTiming();
        dialog.OnDisplayTick();
    }
    if (samples.GetCount() != SampleList::kMaxReadings)
        state.SkipWithError("the tick did not trim the store back to 6000");
}
BENCHMARK(BM_DisplayTickFullStore)->Unit(benchmark::kMicrosecond);

} // namespace
