// calorivista-export's speed: readings a second from a record folder into a CSV.
#include "exportjob.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

// A folder of 200 full data files (6000 readings each, 1280 a second), as the
// program writes them, exported into a CSV file on the same disk.
void BM_ExportRecordFolder(benchmark::State &state)
{
    constexpr int kFiles = 200;
    constexpr int kLines = 6000;
    QTemporaryDir folder(QDir::homePath() + QStringLiteral("/.calorivista-bench-XXXXXX"));
    for (int f = 0; f < kFiles; ++f) {
        QFile file(folder.filePath(QStringLiteral("%1").arg(f, 4, 10, QLatin1Char('0'))));
        file.open(QIODevice::WriteOnly);
        QByteArray text = QByteArray("9.12.2026 14:") + QByteArray::number(10 + f / 60) + ':'
            + QByteArray::number(f % 60) + "\r\n";
        for (int i = 0; i < kLines; ++i)
            text += QByteArray::number(i / 1280.0, 'g', 6) + ' ' + QByteArray::number(900 + (i % 977) * 0.1, 'g', 6)
                + "\r\n";
        file.write(text);
    }
    qint64 rows = 0;
    for (auto _ : state) {
        QFile csv(folder.filePath(QStringLiteral("run.csv")));
        csv.open(QIODevice::WriteOnly | QIODevice::Truncate);
        ExportRequest request;
        request.folder = folder.path();
        request.csv = &csv;
        const ExportResult result = ExportRecordFolder(request);
        if (result.rows != qint64(kFiles) * kLines || result.Skipped())
            state.SkipWithError("the export lost readings");
        rows += result.rows;
    }
    state.SetItemsProcessed(rows);
}
BENCHMARK(BM_ExportRecordFolder)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

} // namespace
