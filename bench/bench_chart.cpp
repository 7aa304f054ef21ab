#include "chartwnd.h"
#include "messageseam.h"
#include "settingsstore.h"
#include "thermodlg.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>

namespace {

// One paint of the chart window at 1920 × 1080 with a full store (6000
// readings over the last ten minutes), the copy to the window included.
void BM_ChartPaintFullStore1920x1080(benchmark::State &state)
{
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
    for (int i = SampleList::kMaxReadings - 1; i >= 0; --i) {
        // 0.1 s apart: the newest now, the oldest 600 s ago.
        const std::time_t t = nowSeconds - i / 10;
        std::tm local {};
        localtime_r(&t, &local);
        SYSTEMTIME st = now;
        st.wHour = static_cast<std::uint16_t>(local.tm_hour);
        st.wMinute = static_cast<std::uint16_t>(local.tm_min);
        st.wSecond = static_cast<std::uint16_t>(local.tm_sec);
        st.wDay = static_cast<std::uint16_t>(local.tm_mday);
        st.wMilliseconds = static_cast<std::uint16_t>((9 - i % 10) * 100);
        samples.Append(TempSample {st, 900.0 + 80.0 * std::sin(i * 0.01)});
    }
    CChartWnd &chart = dialog.m_wndChart;
    chart.resize(1920, 1080);
    chart.show();
    QApplication::processEvents();
    for (auto _ : state)
        chart.repaint();
}
BENCHMARK(BM_ChartPaintFullStore1920x1080)->Unit(benchmark::kMillisecond);

} // namespace
