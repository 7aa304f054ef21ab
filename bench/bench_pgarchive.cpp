// The archive in PostgreSQL (a durable server on this machine, as a lab runs
// it): how fast one collector's archive writes, 100 stations through
// mosquitto and the real collector into it, the dashboard's queries over a
// day, and a run of 8 h opened from it as calorivista-view opens one.
#include "archivedrunfolder.h"
#include "benchsite.h"
#include "folderseries.h"
#include "grafanamacros.h"
#include "pgarchive.h"
#include "pgruncatalog.h"
#include "pgschema.h"
#include "postgresserver.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <map>
#include <string>

namespace {

using namespace benchsite;

// A durable server with the archive's tables; false (the bench skipped) if not.
bool StartDatabase(benchmark::State &state, PostgresServer &server, PgConnection &db)
{
    QString error;
    if (!server.Start() || !db.Open(&error) || !pgschema::Prepare(db, &error)) {
        state.SkipWithError(qPrintable(QStringLiteral("PostgreSQL: %1").arg(error)));
        return false;
    }
    return true;
}

qint64 Number(PgConnection &db, const char *sql, const PgConnection::Params &params = {})
{
    QString error;
    const auto result = db.Exec(sql, params, &error);
    return result && PgConnection::Rows(*result) > 0 ? PgConnection::Value(*result, 0, 0).value_or("0").toLongLong() : -1;
}

// As fast as the archive takes them: 10 stations' readings in groups of
// 64 000 (what 100 stations at 1280 a second send in half a second), each
// group one transaction, synced.
void BM_PgIngestCeiling(benchmark::State &state)
{
    PostgresServer server(true);
    PgConnection db(server.Conninfo(), {}, QStringLiteral("bench"));
    if (!StartDatabase(state, server, db))
        return;
    constexpr int kStations = 10;
    constexpr qint64 kPerStation = 512000; // 80 groups
    constexpr qint64 kPerGroup = 6400; // per station
    PgArchive archive({server.Conninfo(), {}, QStringLiteral("bench"), 0});
    QString error;
    if (!archive.Take(&error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    const qint64 run = QDateTime::currentMSecsSinceEpoch() - kPerStation;
    std::vector<Archive::RunRecord> runs;
    for (int s = 0; s < kStations; ++s)
        runs.push_back(*archive.Run(QStringLiteral("s%1").arg(s), run, &error));
    std::vector<std::string> texts(kPerGroup);
    std::vector<PayloadReader::Reading> readings(kPerGroup);
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        double worstFlushMs = 0;
        for (qint64 seq = 0; seq < kPerStation; seq += kPerGroup) {
            for (qint64 i = 0; i < kPerGroup; ++i) {
                texts[i] = std::to_string(TemperatureOf(seq + i)).substr(0, 6);
                readings[i] = {run + (seq + i) * 1000 / kRate, TemperatureOf(seq + i), texts[i]};
            }
            for (Archive::RunRecord &record : runs) {
                record.ledger.Take(seq, seq + kPerGroup);
                archive.AddReadings(record.station, run, seq, readings, record.ledger);
            }
            QElapsedTimer flush;
            flush.start();
            if (!archive.Flush(&error)) {
                state.SkipWithError(qPrintable(error));
                return;
            }
            worstFlushMs = std::max(worstFlushMs, double(flush.nsecsElapsed()) * 1e-6);
        }
        const double seconds = double(timer.nsecsElapsed()) * 1e-9;
        state.SetIterationTime(seconds);
        const qint64 stored = Number(db, "SELECT count(*) FROM readings");
        if (stored != kStations * kPerStation)
            state.SkipWithError(qPrintable(QStringLiteral("%1 readings of %2 stored").arg(stored).arg(kStations * kPerStation)));
        state.counters["readings"] = double(stored);
        state.counters["readings_per_s"] = double(stored) / seconds;
        state.counters["worst_group_ms"] = worstFlushMs;
    }
}
BENCHMARK(BM_PgIngestCeiling)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// 100 stations at 1280 readings/s each through one local mosquitto into the
// real collector writing the database, for a minute.
void BM_HundredStationsIntoPg(benchmark::State &state)
{
    PostgresServer server(true);
    PgConnection db(server.Conninfo(), {}, QStringLiteral("bench"));
    if (!StartDatabase(state, server, db))
        return;
    Site site;
    if (!site.Start(state, {QStringLiteral("--db"), server.Conninfo()}))
        return;
    const int stations = int(state.range(0));
    const qint64 run = QDateTime::currentMSecsSinceEpoch();
    const QByteArray runText = QByteArray::number(run);
    ArchiveCounts counts;
    // The seconds' summary counts each reading once as it is written: a small table to ask each second.
    counts.rows = [&] {
        std::map<QString, qint64> byStation;
        QString error;
        if (const auto result = db.Exec("SELECT station, sum(n) FROM readings_1s WHERE run = $1 GROUP BY station", {runText}, &error))
            for (int row = 0; row < PgConnection::Rows(*result); ++row)
                byStation[QString::fromUtf8(*PgConnection::Value(*result, row, 0))] = PgConnection::Value(*result, row, 1)->toLongLong();
        std::vector<qint64> have;
        for (int i = 0; i < stations; ++i)
            have.push_back(byStation[QStringLiteral("s%1").arg(i)]);
        return have;
    };
    counts.check = [&](qint64 fed, qint64 *lost, qint64 *twice) {
        QString error;
        const auto result = db.Exec("SELECT count(*), count(DISTINCT seq) FILTER (WHERE seq < $2), "
                                    "count(*) FILTER (WHERE abs(temperature_c - ((seq % 20000) * 0.1 + 500)) > 1e-6) "
                                    "FROM readings WHERE run = $1 GROUP BY station",
                                    {runText, QByteArray::number(fed)}, &error);
        *lost = qint64(stations) * fed;
        for (int row = 0; result && row < PgConnection::Rows(*result); ++row) {
            const qint64 all = PgConnection::Value(*result, row, 0)->toLongLong();
            const qint64 distinct = PgConnection::Value(*result, row, 1)->toLongLong();
            *lost -= distinct;
            *twice += all - distinct + PgConnection::Value(*result, row, 2)->toLongLong();
        }
    };
    for (auto _ : state)
        HundredStations(state, site, run, counts);
}
BENCHMARK(BM_HundredStationsIntoPg)->Args({100, 60})->Args({50, 60})->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// The dashboard's panels over the last 24 h of one station, with 20
// stations' seconds' summaries in the database (1.7 M rows).
void BM_DashboardDay(benchmark::State &state)
{
    PostgresServer server(true);
    PgConnection db(server.Conninfo(), {}, QStringLiteral("bench"));
    if (!StartDatabase(state, server, db))
        return;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QString error;
    const qint64 run = now.toMSecsSinceEpoch() - 86400000;
    if (!pgschema::EnsureMonth(db, run, &error) || !pgschema::EnsureMonth(db, now.toMSecsSinceEpoch(), &error)
        || !db.Run("INSERT INTO readings_1s SELECT 's' || st, $1::bigint, to_timestamp(floor($1::bigint / 1000.0) + g), 1280, "
                   "500 + g / 100.0, 520 + g / 100.0, 510 + g / 100.0 "
                   "FROM generate_series(0, 19) st, generate_series(0, 86399) g",
                   {QByteArray::number(run)}, &error)
        || !db.Run("ANALYZE readings_1s", &error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    QFile file(QStringLiteral(CALORIVISTA_GRAFANA "/calorivista.json"));
    file.open(QIODevice::ReadOnly);
    QStringList queries;
    for (const QJsonValue panel : QJsonDocument::fromJson(file.readAll()).object().value(QLatin1String("panels")).toArray())
        for (const QJsonValue target : panel.toObject().value(QLatin1String("targets")).toArray())
            queries << grafanamacros::Expanded(target.toObject().value(QLatin1String("rawSql")).toString(), now, 86400, QStringLiteral("'s7'"));
    for (auto _ : state) {
        double worst = 0;
        int rows = 0;
        for (const QString &sql : std::as_const(queries)) {
            QElapsedTimer timer;
            timer.start();
            const auto result = db.Exec(sql.toUtf8().constData(), {}, &error);
            worst = std::max(worst, double(timer.nsecsElapsed()) * 1e-9);
            if (!result) {
                state.SkipWithError(qPrintable(error));
                return;
            }
            rows += PgConnection::Rows(*result);
        }
        state.SetIterationTime(worst);
        state.counters["panels"] = double(queries.size());
        state.counters["rows"] = rows;
        state.counters["slowest_panel_ms"] = worst * 1e3;
    }
}
BENCHMARK(BM_DashboardDay)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

// A run of 8 h at 1280 readings a second (36.9 M readings) from the database
// into a record folder, then read as the run window reads it.
void BM_OpenEightHoursFromDb(benchmark::State &state)
{
    PostgresServer server(true);
    PgConnection db(server.Conninfo(), {}, QStringLiteral("bench"));
    if (!StartDatabase(state, server, db))
        return;
    constexpr qint64 kReadings = 8LL * 3600 * kRate;
    const qint64 run = QDateTime::currentMSecsSinceEpoch() - 9LL * 3600 * 1000;
    const QByteArray runText = QByteArray::number(run);
    QString error;
    QElapsedTimer load;
    load.start();
    if (!pgschema::EnsureMonth(db, run, &error) || !pgschema::EnsureMonth(db, run + 8LL * 3600 * 1000, &error)
        || !db.Run("INSERT INTO readings SELECT 'ofen', $1::bigint, g, to_timestamp(($1::bigint + g * 1000.0 / 1280) / 1000), "
                   "round((500 + g / 12800.0 + 20 * sin(g / 8960.0))::numeric, 1) FROM generate_series(0, $2::bigint - 1) g",
                   {runText, QByteArray::number(kReadings)}, &error)
        || !db.Run("INSERT INTO runs VALUES ('ofen', $1::bigint, to_timestamp($1::bigint / 1000.0), "
                   "to_timestamp($1::bigint / 1000.0 + 28800), '0000 bench', $2::bigint)",
                   {runText, QByteArray::number(kReadings)}, &error)
        || !db.Run("ANALYZE readings", &error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    const double loadSeconds = double(load.nsecsElapsed()) * 1e-9;
    for (auto _ : state) {
        QTemporaryDir folder;
        QElapsedTimer timer;
        timer.start();
        PgRunCatalog catalog(server.Conninfo(), {}, QStringLiteral("bench"));
        const std::vector<RunCatalog::Run> runs = catalog.Runs(10, &error);
        if (runs.empty() || !archivedrunfolder::Write(catalog, runs.front(), folder.path(), [](qint64) { return true; }, &error)) {
            state.SkipWithError(qPrintable(error));
            return;
        }
        const double fetched = double(timer.nsecsElapsed()) * 1e-9;
        FolderSeries series(folder.path());
        series.ReadNew(&error);
        const double opened = double(timer.nsecsElapsed()) * 1e-9;
        if (series.Series().Size() != kReadings)
            state.SkipWithError("readings lost");
        state.SetIterationTime(opened);
        state.counters["readings"] = double(series.Series().Size());
        state.counters["fetched_s"] = fetched;
        state.counters["read_s"] = opened - fetched;
        state.counters["loaded_by_sql_s"] = loadSeconds;
    }
}
BENCHMARK(BM_OpenEightHoursFromDb)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace
