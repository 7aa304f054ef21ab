#include "datafileformat.h"
#include "foldercheck.h"
#include "recordchain.h"
#include "stationkey.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

// A data file of 300 s at 1280 frames/s (384 000 readings), as a save writes it.
QByteArray SaveOf384000()
{
    QByteArray bytes = DataFileHeader(SYSTEMTIME {2026, 12, 5, 11, 10, 0, 0, 0});
    for (int i = 0; i < 384000; ++i)
        bytes += DataFileLine(i / 1280.0, 1500.0 + (i % 7000) * 0.1);
    return bytes;
}

bool Write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// What the chain adds to a save: the new file read back and hashed, the line
// signed and made durable, and events.csv and dirinfo looked at again.
void BM_ChainEntryOfASave(benchmark::State &state)
{
    QTemporaryDir folder(QDir::homePath() + QStringLiteral("/.calorivista-bench-XXXXXX"));
    const std::optional<StationKey> key = StationKey::LoadOrMake(folder.filePath(QStringLiteral("key")), nullptr);
    const QByteArray save = SaveOf384000();
    if (!key || !Write(folder.filePath(QStringLiteral("0000")), save)
        || !Write(folder.filePath(QStringLiteral("events.csv")), QByteArray(4000, 'e'))) {
        state.SkipWithError("no folder to write");
        return;
    }
    RecordChain chain;
    chain.Open(folder.path());
    for (auto _ : state) {
        chain.Enter(QStringLiteral("0000"), *key, false);
        chain.Enter(QStringLiteral("events.csv"), *key, true);
    }
    state.counters["file_MB"] = double(save.size()) / 1e6;
}
BENCHMARK(BM_ChainEntryOfASave)->Unit(benchmark::kMillisecond)->UseRealTime();

// The check of 8 h at 1280 frames/s: 96 such files and their chain.
void BM_VerifyEightHours(benchmark::State &state)
{
    QTemporaryDir folder(QDir::homePath() + QStringLiteral("/.calorivista-bench-XXXXXX"));
    const std::optional<StationKey> key = StationKey::LoadOrMake(folder.filePath(QStringLiteral("key")), nullptr);
    const QString records = folder.filePath(QStringLiteral("records"));
    QDir().mkpath(records);
    const QByteArray save = SaveOf384000();
    RecordChain chain;
    chain.Open(records);
    for (int file = 0; key && file < 96; ++file) {
        const QString name = QStringLiteral("%1").arg(file, 4, 10, QLatin1Char('0'));
        if (!Write(QDir(records).filePath(name), save) || !chain.Enter(name, *key, false)) {
            state.SkipWithError("no folder to write");
            return;
        }
    }
    for (auto _ : state) {
        if (CheckFolder(records).outcome != FolderCheck::Outcome::Untouched)
            state.SkipWithError("the folder does not check");
    }
    state.counters["files"] = 96;
}
BENCHMARK(BM_VerifyEightHours)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace
