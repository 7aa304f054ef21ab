#include "pgruncatalog.h"

#include "pgschema.h"

namespace {

qint64 Integer(const std::optional<QByteArray> &field)
{
    return field ? field->toLongLong() : 0;
}

std::optional<qint64> Maybe(const std::optional<QByteArray> &field)
{
    return field ? std::optional<qint64>(field->toLongLong()) : std::nullopt;
}

} // namespace

PgRunCatalog::PgRunCatalog(QString conninfo, QString password, QString applicationName)
    : m_db(std::move(conninfo), std::move(password), std::move(applicationName))
{
}

bool PgRunCatalog::Ready(QString *error)
{
    return m_db.IsOpen() || m_db.Open(error);
}

std::vector<RunCatalog::Run> PgRunCatalog::Runs(int perStation, QString *error)
{
    std::vector<Run> runs;
    if (!Ready(error))
        return runs;
    // Held counted from the seconds' summary: a run's readings are never scanned for it.
    const auto result = m_db.Exec(
        "SELECT r.station, r.run, round(extract(epoch FROM r.started) * 1000)::bigint, "
        "round(extract(epoch FROM r.stopped) * 1000)::bigint, coalesce(r.comment, ''), r.readings, "
        "(SELECT coalesce(sum(n), 0) FROM readings_1s s WHERE s.station = r.station AND s.run = r.run), "
        "(SELECT coalesce(sum(last_seq - first_seq + 1), 0) FROM gaps g WHERE g.station = r.station AND g.run = r.run AND g.state = 'asked'), "
        "(SELECT coalesce(sum(last_seq - first_seq + 1), 0) FROM gaps g WHERE g.station = r.station AND g.run = r.run AND g.state = 'lost') "
        "FROM (SELECT *, row_number() OVER (PARTITION BY station ORDER BY run DESC) AS newest FROM runs) r "
        "WHERE newest <= $1 ORDER BY r.station, r.run DESC",
        {QByteArray::number(perStation)}, error);
    if (!result)
        return runs;
    for (int row = 0; row < PgConnection::Rows(*result); ++row) {
        Run run;
        run.station = QString::fromUtf8(*PgConnection::Value(*result, row, 0));
        run.run = Integer(PgConnection::Value(*result, row, 1));
        run.started = Maybe(PgConnection::Value(*result, row, 2));
        run.stopped = Maybe(PgConnection::Value(*result, row, 3));
        run.comment = QString::fromUtf8(PgConnection::Value(*result, row, 4).value_or(QByteArray()));
        run.readings = Maybe(PgConnection::Value(*result, row, 5));
        run.held = Integer(PgConnection::Value(*result, row, 6));
        run.missing = Integer(PgConnection::Value(*result, row, 7));
        run.lost = Integer(PgConnection::Value(*result, row, 8));
        runs.push_back(run);
    }
    return runs;
}

// A page at a time, by seq after the last one given: no transaction stays open.
class PgRunCatalog::PgCursor : public RunCatalog::Cursor
{
public:
    PgCursor(PgRunCatalog &catalog, QString station, qint64 run)
        : m_catalog(catalog)
        , m_station(station.toUtf8())
        , m_run(QByteArray::number(run))
    {
    }
    std::vector<Reading> Next(int count, QString *error) override
    {
        std::vector<Reading> readings;
        if (count <= 0 || !m_catalog.Ready(error))
            return readings;
        const auto result = m_catalog.m_db.ExecBinary(
            "SELECT seq, time, temperature_c::text FROM readings "
            "WHERE station = $1 AND run = $2 AND seq >= $3 ORDER BY seq LIMIT $4",
            {m_station, m_run, QByteArray::number(m_nNext), QByteArray::number(count)}, error);
        if (!result)
            return readings;
        const int rows = PgConnection::Rows(*result);
        readings.reserve(size_t(rows));
        for (int row = 0; row < rows; ++row) // a text field's binary form is its text
            readings.push_back({PgConnection::BinaryInt8(*result, row, 0), PgConnection::BinaryTimeMs(*result, row, 1),
                                PgConnection::Value(*result, row, 2).value_or(QByteArray())});
        if (!readings.empty())
            m_nNext = readings.back().seq + 1;
        return readings;
    }

private:
    PgRunCatalog &m_catalog;
    QByteArray m_station;
    QByteArray m_run;
    qint64 m_nNext = 0;
};

std::unique_ptr<RunCatalog::Cursor> PgRunCatalog::OpenReadings(const QString &station, qint64 run, QString *error)
{
    if (!Ready(error))
        return nullptr;
    const auto found = m_db.Exec("SELECT 1 FROM runs WHERE station = $1 AND run = $2", {station.toUtf8(), QByteArray::number(run)}, error);
    if (!found || PgConnection::Rows(*found) == 0) {
        if (found)
            *error = QStringLiteral("no run %1 of %2 in the archive").arg(run).arg(station);
        return nullptr;
    }
    return std::make_unique<PgCursor>(*this, station, run);
}

QList<FolderEvent> PgRunCatalog::Events(const QString &station, qint64 run, QString *error)
{
    QList<FolderEvent> events;
    if (!Ready(error))
        return events;
    const auto result = m_db.Exec("SELECT round(extract(epoch FROM time) * 1000)::bigint, event, text FROM events "
                                  "WHERE station = $1 AND run = $2 ORDER BY time",
                                  {station.toUtf8(), QByteArray::number(run)}, error);
    if (!result)
        return events;
    for (int row = 0; row < PgConnection::Rows(*result); ++row)
        events.append({Integer(PgConnection::Value(*result, row, 0)), QString::fromUtf8(*PgConnection::Value(*result, row, 1)),
                       QString::fromUtf8(*PgConnection::Value(*result, row, 2)), {}});
    return events;
}
