// The run window's figures: opening a long run, and a repaint at any zoom.
#include "folderseries.h"
#include "runplot.h"
#include "testsupport.h"

#include <benchmark/benchmark.h>

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <cmath>
#include <memory>

namespace {

// A record folder of `files` data files of `seconds` each at `rate` readings a
// second, as the program writes them, with a slow heat and a ripple.
std::unique_ptr<QTemporaryDir> WriteRun(int files, int seconds, int rate)
{
    auto folder = std::make_unique<QTemporaryDir>(QDir::homePath() + QStringLiteral("/.calorivista-bench-XXXXXX"));
    const QDateTime start(QDate(2026, 12, 9), QTime(6, 0));
    const qint64 lines = qint64(seconds) * rate;
    for (int f = 0; f < files; ++f) {
        const QDateTime header = start.addSecs(qint64(f) * seconds);
        QByteArray text = QByteArray::number(header.date().day()) + '.' + QByteArray::number(header.date().month()) + '.'
            + QByteArray::number(header.date().year()) + ' ' + QByteArray::number(header.time().hour()) + ':'
            + QByteArray::number(header.time().minute()) + ':' + QByteArray::number(header.time().second()) + "\r\n";
        text.reserve(lines * 16);
        for (qint64 i = 0; i < lines; ++i) {
            const double t = double(f) * seconds + double(i) / rate;
            const double celsius = std::round((500 + t / 10 + 20 * std::sin(t / 7)) * 10) / 10;
            text += QByteArray::number(double(i) / rate, 'g', 6) + ' ' + QByteArray::number(celsius, 'g', 6) + "\r\n";
        }
        QFile file(folder->filePath(QStringLiteral("%1").arg(f, 4, 10, QLatin1Char('0'))));
        file.open(QIODevice::WriteOnly);
        file.write(text);
    }
    return folder;
}

void Open(benchmark::State &state, int files, int seconds, int rate)
{
    const std::unique_ptr<QTemporaryDir> folder = WriteRun(files, seconds, rate);
    for (auto _ : state) {
        const qint64 before = ResidentBytes();
        FolderSeries run(folder->path());
        QString error;
        int progressCalls = 0;
        run.ReadNew(&error, [&](int, int) { return ++progressCalls > 0; });
        if (run.Series().Size() != qint64(files) * seconds * rate)
            state.SkipWithError("readings lost");
        state.counters["readings"] = double(run.Series().Size());
        state.counters["held_MB"] = double(run.Series().MemoryBytes()) / 1e6;
        state.counters["resident_added_MB"] = double(ResidentBytes() - before) / 1e6;
        state.counters["progress_calls"] = progressCalls;
    }
}

// 8 hours at 1280 readings a second in 96 files of 5 minutes.
void BM_OpenEightHoursAt1280(benchmark::State &state)
{
    Open(state, 96, 300, 1280);
}
BENCHMARK(BM_OpenEightHoursAt1280)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// 24 hours at 10 readings a second in 288 files of 5 minutes.
void BM_OpenDayAt10(benchmark::State &state)
{
    Open(state, 288, 300, 10);
}
BENCHMARK(BM_OpenDayAt10)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// A repaint at 1920 × 1080 of 36.9 M readings, at a zoom of state.range(0)
// milliseconds in view (0: the whole run).
void BM_RepaintAtZoom(benchmark::State &state)
{
    static const std::unique_ptr<QTemporaryDir> folder = WriteRun(96, 300, 1280);
    static FolderSeries run(folder->path());
    static const bool read = [] {
        QString error;
        return run.ReadNew(&error);
    }();
    if (!read)
        state.SkipWithError("not read");
    run.ReadEvents();
    RunPlot plot;
    plot.SetRun(&run.Series(), &run.Events());
    plot.SetLimits({1500, 600});
    const qint64 first = run.Series().FirstMs(), last = run.Series().LastMs();
    const qint64 span = state.range(0) == 0 ? last - first : state.range(0);
    QImage image(1920, 1080, QImage::Format_RGB32);
    qint64 frame = 0;
    for (auto _ : state) {
        // A pan each frame, over the whole run.
        const double from = double(first) + double((last - first - span) / 97 * (frame++ % 97));
        plot.ShowSpan(from, from + double(span));
        QPainter painter(&image);
        plot.Render(painter, image.rect());
    }
}
BENCHMARK(BM_RepaintAtZoom)->Arg(0)->Arg(3600000)->Arg(60000)->Arg(1000)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
