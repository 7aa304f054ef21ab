#pragma once

// What the publishing and archive figures share: a local mosquitto with the
// real collector beside it, readings as a station's feed hands them on, and
// a hundred publishers into one collector.
#include "comreader.h"
#include "messageseam.h"
#include "mosquittobroker.h"
#include "publisher.h"
#include "runfeed.h"

#include <benchmark/benchmark.h>

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

namespace benchsite {

constexpr int kRate = 1280;
constexpr int kTickMs = RunFeed::kTickMs;
constexpr int kPerTick = kRate * kTickMs / 1000;

class NoMessages : public MessageSeam
{
public:
    QMessageBox::StandardButton Show(const Message &) override { return QMessageBox::Ok; }
};

// A reading's temperature tells its place in the run.
inline double TemperatureOf(qint64 seq) { return double(seq % 20000) * 0.1 + 500; }

// What a station's feed would hand on: a tick's readings, numbered from 0 in the run.
inline FeedReadings Tick(qint64 first, qint64 nowMs)
{
    FeedReadings readings;
    readings.first = first;
    for (int i = 0; i < kPerTick; ++i) {
        TempSample sample {};
        sample.utcMs = nowMs - kTickMs + i * kTickMs / kPerTick;
        sample.temperature = TemperatureOf(first + i);
        readings.readings.push_back(sample);
    }
    return readings;
}

inline void Wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Waits until `done` or `timeoutMs`; the time it took, in seconds.
template<typename Done>
double WaitFor(Done done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs)
        Wait(20);
    return double(timer.nsecsElapsed()) * 1e-9;
}

// Counts the rows of a collected run's CSV as it grows.
class RowCounter
{
public:
    explicit RowCounter(QString path) : m_file(std::make_unique<QFile>(std::move(path))) {}
    qint64 Rows()
    {
        if (!m_file->isOpen() && !m_file->open(QIODevice::ReadOnly))
            return 0;
        const QByteArray more = m_file->readAll();
        m_nLines += more.count('\n');
        return std::max<qint64>(0, m_nLines - 1);
    }

private:
    std::unique_ptr<QFile> m_file;
    qint64 m_nLines = 0;
};

struct Site
{
    QTemporaryDir dir;
    MosquittoBroker broker {dir.filePath(QStringLiteral("broker"))};
    QProcess collector;
    NoMessages messages;
    CComReader reader {messages};
    RunFeed feed {reader};

    // The collector writes into `archive` (its --out or --db); none: no collector.
    bool Start(benchmark::State &state, QStringList archive)
    {
        if (!broker.Start()) {
            state.SkipWithError("mosquitto does not start");
            return false;
        }
        if (archive.isEmpty())
            return true;
        collector.start(QStringLiteral(CALORIVISTA_COLLECT), QStringList {QStringLiteral("--broker"), QStringLiteral("127.0.0.1:%1").arg(broker.Port()),
                                                                          QStringLiteral("--id"), QStringLiteral("bench")} + archive);
        QByteArray said;
        WaitFor([&] { return (said += collector.readAllStandardOutput()).contains("connected"); }, 10000);
        if (!said.contains("connected")) {
            state.SkipWithError("the collector does not connect");
            return false;
        }
        return true;
    }
    PublishSettings Settings(const QString &station) const
    {
        PublishSettings settings;
        settings.host = QStringLiteral("127.0.0.1");
        settings.port = broker.Port();
        settings.station = station;
        return settings;
    }
    QString RunCsv(const QString &station, qint64 run) const
    {
        return dir.filePath(QStringLiteral("archive/%1/%2.csv").arg(station).arg(run));
    }
    ~Site()
    {
        collector.terminate();
        collector.waitForFinished(5000);
    }
};

inline RunEvent RunStart(qint64 run)
{
    return RunEvent {run, QStringLiteral("run-start"), std::nullopt, QStringLiteral("0000 bench"), {}};
}


// What a collector's archive holds of each station's run, for the figures:
// rows so far per station, then lost and twice (or out of place) at the end.
struct ArchiveCounts
{
    std::function<std::vector<qint64>()> rows;
    std::function<void(qint64 fed, qint64 *lost, qint64 *twice)> check;
};

// `stations` publishers at 1280 readings/s each for `seconds` into the
// collector of `site`: lost, twice, and how far behind it was (sampled each
// second against what the stations had been handed). Stations are s0, s1, …
void HundredStations(benchmark::State &state, Site &site, qint64 run, const ArchiveCounts &counts);

} // namespace benchsite
