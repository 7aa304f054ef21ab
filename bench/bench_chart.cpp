#include "chartwnd.h"
#include "localstamp.h"
#include "messageseam.h"
#include "settingsstore.h"
#include "thermodlg.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>

#include <cmath>

namespace {

// A reading `ms` milliseconds before `now`, with a temperature that wanders.
TempSample ReadingBefore(const SYSTEMTIME &now, std::time_t nowSeconds, qint64 ms)
{
    const SYSTEMTIME st = LocalStampAt(qint64(nowSeconds) * 1000 + now.wMilliseconds - ms);
    return TempSample {st, 900.0 + 80.0 * std::sin(double(ms) * 1e-5) + ((ms / 7) % 5) * 0.4};
}

// One paint of the chart window at 1920 × 1080, the copy to the window
// included, with the last ten minutes at a line rate: 10 frames/s fills the
// store (6000 readings), which is drawn as it is; at 1280 frames/s the store
// holds 4.7 s and the curve comes from the history (768 000 readings in it).
void BM_ChartPaint1920x1080(benchmark::State &state)
{
    const int framesPerSecond = static_cast<int>(state.range(0));
    QTemporaryDir folder;
    MessageSeam messages;
    const SettingsStore store(folder.filePath(QStringLiteral("Calorivista.conf")));
    CThermoDlg dialog(messages, store, folder.filePath(QStringLiteral("journal")));
    dialog.m_nMinT = 800;
    dialog.m_nMaxT = 1000;
    SYSTEMTIME now {};
    GetLocalTime(&now);
    const std::time_t nowSeconds = LocalSeconds(now);
    SampleList &samples = dialog.m_reader.Samples();
    ChartHistory &history = dialog.m_reader.History();
    const qint64 readings = qint64(framesPerSecond) * 600;
    for (qint64 i = readings - 1; i >= 0; --i) {
        const TempSample reading = ReadingBefore(now, nowSeconds, i * 1000 / framesPerSecond);
        history.Add(reading);
        if (i < SampleList::kMaxReadings)
            samples.Append(reading);
    }
    CChartWnd &chart = dialog.m_wndChart;
    chart.resize(1920, 1080);
    chart.show();
    QApplication::processEvents();
    for (auto _ : state)
        chart.repaint();
    state.counters["history_bytes"] = static_cast<double>(sizeof(ChartHistory));
}
BENCHMARK(BM_ChartPaint1920x1080)->Arg(10)->Arg(1280)->Unit(benchmark::kMillisecond);

} // namespace
