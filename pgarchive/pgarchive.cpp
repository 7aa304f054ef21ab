#include "pgarchive.h"

#include "pgschema.h"

#include <QDateTime>
#include <QTimeZone>

#include <chrono>

namespace {

qint64 SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

QByteArray Number(qint64 value)
{
    return QByteArray::number(value);
}

std::optional<QByteArray> Maybe(const std::optional<qint64> &value)
{
    return value ? std::optional<QByteArray>(Number(*value)) : std::nullopt;
}

QByteArray EventKey(const RunEvent &event)
{
    return Number(event.utcMs) + '\x1f' + event.event.toUtf8() + '\x1f' + event.text.toUtf8();
}

constexpr qint64 kDropEveryMs = 6LL * 3600 * 1000;

// A ms count as a timestamptz, exactly (no floating point on the way).
#define PG_TIME(n) "timestamptz 'epoch' + $" #n "::bigint * interval '1 millisecond'"

} // namespace

PgArchive::PgArchive(Options options)
    : m_options(std::move(options))
    , m_db(m_options.conninfo, m_options.password, m_options.id)
{
}

bool PgArchive::Take(QString *error)
{
    if (!PgConnection::CheckConninfo(m_options.conninfo, error) || !Connect(error))
        return false;
    DropOldMonths();
    return true;
}

bool PgArchive::Connect(QString *error)
{
    m_asking.clear(); // a lock goes with the connection that held it
    m_lockTriedMs.clear();
    if (!m_db.Open(error))
        return false;
    if (!m_bPrepared && !pgschema::Prepare(m_db, error)) {
        m_db.Close();
        return false;
    }
    m_bPrepared = true;
    m_knownMonths.clear();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    // This month's and the next one's partitions, before the first reading needs them.
    if (!m_db.Run("CREATE TEMP TABLE IF NOT EXISTS calorivista_staging (station text, run bigint, seq bigint, ms bigint, "
                  "temperature_c double precision) ON COMMIT DELETE ROWS",
                  error)
        || !pgschema::EnsureMonth(m_db, now, error) || !pgschema::EnsureMonth(m_db, now + 32LL * 24 * 3600 * 1000, error)) {
        m_db.Close();
        return false;
    }
    m_knownMonths.insert(pgschema::MonthOf(now));
    m_knownMonths.insert(pgschema::MonthOf(now) + 1);
    return true;
}

void PgArchive::DropOldMonths()
{
    if (m_options.keepMonths <= 0 || !m_db.IsOpen())
        return;
    m_nDroppedAtMs = SteadyMs();
    int dropped = 0;
    QString error;
    if (pgschema::DropMonthsBefore(m_db, m_options.keepMonths, QDateTime::currentMSecsSinceEpoch(), &dropped, &error))
        m_knownMonths.clear(); // made again if a reading needs one
}

std::vector<std::pair<qint64, qint64>> PgArchive::Islands(const QString &station, qint64 run, qint64 from, qint64 to,
                                                          QString *error)
{
    std::vector<std::pair<qint64, qint64>> held;
    const auto result = m_db.Exec("SELECT min(seq), max(seq) + 1 FROM (SELECT seq, seq - row_number() OVER (ORDER BY seq) AS g "
                                  "FROM readings WHERE station = $1 AND run = $2 AND seq >= $3 AND seq < $4) s "
                                  "GROUP BY g ORDER BY 1",
                                  {station.toUtf8(), Number(run), Number(from), Number(to)}, error);
    if (!result)
        return held;
    for (int row = 0; row < PgConnection::Rows(*result); ++row)
        held.emplace_back(PgConnection::Value(*result, row, 0)->toLongLong(), PgConnection::Value(*result, row, 1)->toLongLong());
    return held;
}

std::optional<Archive::RunRecord> PgArchive::Run(const QString &station, qint64 run, QString *error)
{
    RunRecord record;
    record.station = station;
    record.run = run;
    if (!m_db.IsOpen())
        return record; // taken as new; what the database holds is looked up before anything is asked
    const auto found = m_db.Exec("SELECT stopped IS NOT NULL, readings FROM runs WHERE station = $1 AND run = $2",
                                 {station.toUtf8(), Number(run)}, error);
    if (!found)
        return record;
    if (PgConnection::Rows(*found) == 0)
        return record;
    record.stopped = PgConnection::Value(*found, 0, 0) == QByteArray("t");
    const std::optional<QByteArray> count = PgConnection::Value(*found, 0, 1);
    // What is held, as the readings are; what is lost for good, from the gaps.
    const std::vector<std::pair<qint64, qint64>> held = Islands(station, run, 0, PayloadReader::kLargestSeq, error);
    const qint64 end = held.empty() ? 0 : held.back().second;
    std::vector<RunLedger::Gap> gaps;
    qint64 at = 0;
    for (const auto &[from, to] : held) {
        if (from > at)
            gaps.push_back({at, from, RunLedger::Gap::State::Asked, {}});
        at = to;
    }
    record.ledger.Restore(end, gaps);
    if (count)
        record.ledger.SetCount(count->toLongLong());
    if (const auto lost = m_db.Exec("SELECT first_seq, last_seq + 1, coalesce(reason, '') FROM gaps "
                                    "WHERE station = $1 AND run = $2 AND state = 'lost'",
                                    {station.toUtf8(), Number(run)}, error)) {
        for (int row = 0; row < PgConnection::Rows(*lost); ++row)
            record.ledger.MarkLost(PgConnection::Value(*lost, row, 0)->toLongLong(), PgConnection::Value(*lost, row, 1)->toLongLong(),
                                   QString::fromUtf8(*PgConnection::Value(*lost, row, 2)));
    }
    m_writtenGaps[{station, run}] = record.ledger.Gaps();
    return record;
}

std::vector<Archive::RunRecord> PgArchive::OpenRuns()
{
    std::vector<RunRecord> open;
    QString error;
    const auto runs = m_db.Exec("SELECT station, run FROM runs r WHERE stopped IS NULL OR readings IS NULL OR EXISTS "
                                "(SELECT 1 FROM gaps g WHERE g.station = r.station AND g.run = r.run AND g.state = 'asked') "
                                "ORDER BY run DESC LIMIT 1000",
                                {}, &error);
    if (!runs)
        return open;
    for (int row = 0; row < PgConnection::Rows(*runs); ++row) {
        const QString station = QString::fromUtf8(*PgConnection::Value(*runs, row, 0));
        if (std::optional<RunRecord> record = Run(station, PgConnection::Value(*runs, row, 1)->toLongLong(), &error);
            record && !record->ledger.Whole())
            open.push_back(std::move(*record));
    }
    return open;
}

bool PgArchive::AddReadings(const QString &station, qint64 run, qint64 seq, std::span<const PayloadReader::Reading> readings,
                            const RunLedger &ledger)
{
    if (m_nRows + qint64(readings.size()) > kMaxHeldReadings)
        return false; // asked for again once the database takes them
    QByteArray name;
    AppendCopyField(name, station.toUtf8());
    const QByteArray prefix = name + '\t' + Number(run) + '\t';
    m_rows.reserve(m_rows.size() + qsizetype(readings.size()) * (prefix.size() + 40));
    for (const PayloadReader::Reading &reading : readings) {
        m_rows += prefix;
        m_rows += Number(seq++);
        m_rows += '\t';
        m_rows += Number(reading.utcMs);
        m_rows += '\t';
        m_rows.append(reading.text.data(), qsizetype(reading.text.size()));
        m_rows += '\n';
        const int month = pgschema::MonthOf(reading.utcMs);
        if (!m_knownMonths.count(month))
            m_months.insert(month);
    }
    m_nRows += qint64(readings.size());
    m_runChanges[{station, run}].ledger = ledger;
    m_seen.insert(station);
    return true;
}

void PgArchive::SetLedger(const QString &station, qint64 run, const RunLedger &ledger)
{
    RunChange &change = m_runChanges[{station, run}];
    change.ledger = ledger;
    if (ledger.Count())
        change.readings = ledger.Count();
}

std::set<QByteArray> &PgArchive::EventKeys(const RunKey &key)
{
    auto found = m_eventKeys.find(key);
    if (found != m_eventKeys.end())
        return found->second;
    std::set<QByteArray> &keys = m_eventKeys[key];
    m_eventKeyOrder.push_back(key);
    QString error;
    if (const auto events = m_db.Exec("SELECT round(extract(epoch FROM time) * 1000)::bigint, event, text FROM events "
                                      "WHERE station = $1 AND run = $2",
                                      {key.first.toUtf8(), Number(key.second)}, &error)) {
        for (int row = 0; row < PgConnection::Rows(*events); ++row)
            keys.insert(*PgConnection::Value(*events, row, 0) + '\x1f' + *PgConnection::Value(*events, row, 1) + '\x1f'
                        + *PgConnection::Value(*events, row, 2));
    }
    // The runs of the last while only: older ones are looked up again.
    if (m_eventKeyOrder.size() > 4000) {
        m_eventKeys.erase(m_eventKeyOrder.front());
        m_eventKeyOrder.pop_front();
    }
    return m_eventKeys[key];
}

bool PgArchive::AddEvent(const QString &station, std::optional<qint64> run, const RunEvent &event, bool *failed)
{
    *failed = false;
    if (m_events.size() >= kMaxHeldEvents) {
        *failed = true;
        return false;
    }
    if (run) {
        std::set<QByteArray> &keys = EventKeys({station, *run});
        if (!keys.insert(EventKey(event)).second)
            return false;
        RunChange &change = m_runChanges[{station, *run}];
        if (event.event == QLatin1String("run-start")) {
            change.started = event.utcMs;
            change.comment = event.text.section(QLatin1Char(' '), 1); // after the first data file's number
        } else if (event.event == QLatin1String("run-stop")) {
            change.stopped = event.utcMs;
        }
    }
    m_events.push_back({station, run, event});
    m_seen.insert(station);
    return true;
}

bool PgArchive::AddChainLine(const QString &station, const QString &folder, const ChainLine &line, bool *failed)
{
    *failed = false;
    if (!line.SignatureHolds() || line.number < 1)
        return false;
    if (m_chainLines.size() >= kMaxHeldEvents) {
        *failed = true;
        return false;
    }
    m_chainLines.push_back({station, folder, line});
    m_seen.insert(station);
    return true;
}

bool PgArchive::MayAsk(const QString &station)
{
    if (m_asking.count(station))
        return m_db.IsOpen();
    if (!m_db.IsOpen())
        return false;
    qint64 &tried = m_lockTriedMs[station];
    const qint64 now = SteadyMs();
    if (tried != 0 && now - tried < kLockRetryMs)
        return false;
    tried = now;
    QString error;
    const auto taken = m_db.Exec("SELECT pg_try_advisory_lock(hashtextextended('calorivista-resend/' || $1, 0))",
                                 {station.toUtf8()}, &error);
    if (!taken || PgConnection::Value(*taken, 0, 0) != QByteArray("t"))
        return false;
    m_asking.insert(station);
    return true;
}

std::vector<std::pair<qint64, qint64>> PgArchive::HeldWithin(const QString &station, qint64 run, qint64 from, qint64 to)
{
    QString error;
    return m_db.IsOpen() ? Islands(station, run, from, to, &error) : std::vector<std::pair<qint64, qint64>> {};
}

bool PgArchive::Flush(QString *error)
{
    if (m_nRows == 0 && m_events.empty() && m_chainLines.empty() && m_runChanges.empty() && m_seen.empty())
        return true;
    const qint64 now = SteadyMs();
    if (!m_db.IsOpen()) {
        if (now < m_nNextTryMs || !Connect(error)) {
            if (now >= m_nNextTryMs) {
                m_nNextTryMs = now + m_nRetryMs;
                m_nRetryMs = std::min<qint64>(m_nRetryMs * 2, 5000);
            }
            *error = QStringLiteral("the database is away (%1); %2 readings and %3 events held until it is back")
                         .arg(error->isEmpty() ? QStringLiteral("not connected") : *error)
                         .arg(m_nRows)
                         .arg(m_events.size());
            return false;
        }
    }
    if (m_options.keepMonths > 0 && now - m_nDroppedAtMs >= kDropEveryMs)
        DropOldMonths();
    // A deadlock with another collector (each waits for the other's rows)
    // costs one of them the transaction: it is tried again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (WriteAll(error)) {
            m_nRetryMs = 500;
            return true;
        }
        QString ignored;
        m_db.Run("ROLLBACK", &ignored);
        if (m_db.LastState() != "40P01" && m_db.LastState() != "40001")
            break;
    }
    if (!m_db.IsOpen())
        m_nNextTryMs = now + m_nRetryMs;
    *error = QStringLiteral("the database did not take %1 readings (%2); held and tried again").arg(m_nRows).arg(*error);
    return false;
}

bool PgArchive::WriteAll(QString *error)
{
    for (const int month : m_months) {
        // A month's first day at noon: within it in any zone.
        const qint64 noon = QDateTime(QDate(month / 12, month % 12 + 1, 1), QTime(12, 0), QTimeZone::utc()).toMSecsSinceEpoch();
        if (!pgschema::EnsureMonth(m_db, noon, error))
            return false;
        m_knownMonths.insert(month);
    }
    m_months.clear();
    if (!m_db.Run("BEGIN", error) || !WriteReadings(error) || !WriteEvents(error) || !WriteChainLines(error) || !WriteRuns(error))
        return false;
    for (const QString &station : m_seen) {
        if (!m_db.Run("INSERT INTO stations AS s (station, first_seen, last_seen) VALUES ($1, now(), now()) "
                      "ON CONFLICT (station) DO UPDATE SET last_seen = now()",
                      {station.toUtf8()}, error))
            return false;
    }
    if (!m_db.Run("COMMIT", error))
        return false;
    // Written: nothing of it is held any more.
    m_rows.clear();
    m_rows.squeeze();
    m_nRows = 0;
    m_events.clear();
    m_chainLines.clear();
    for (auto &[key, change] : m_runChanges)
        if (change.ledger && m_asking.count(key.first))
            m_writtenGaps[key] = change.ledger->Gaps();
    m_runChanges.clear();
    m_seen.clear();
    return true;
}

bool PgArchive::WriteReadings(QString *error)
{
    if (m_nRows == 0)
        return true;
    // Only the rows that are new count into the seconds' summary, so two
    // collectors writing the same readings count each once.
    return m_db.CopyIn("COPY calorivista_staging FROM STDIN", m_rows, error)
        && m_db.Run("WITH fresh AS (INSERT INTO readings (station, run, seq, time, temperature_c) "
                    "SELECT station, run, seq, timestamptz 'epoch' + ms * interval '1 millisecond', temperature_c "
                    "FROM calorivista_staging ORDER BY station, run, seq ON CONFLICT DO NOTHING "
                    "RETURNING station, run, time, temperature_c) "
                    "INSERT INTO readings_1s AS s (station, run, second, n, min, max, mean) "
                    "SELECT station, run, date_trunc('second', time), count(*), min(temperature_c), max(temperature_c), "
                    "avg(temperature_c) FROM fresh GROUP BY 1, 2, 3 ORDER BY 1, 2, 3 "
                    "ON CONFLICT (station, run, second) DO UPDATE SET n = s.n + excluded.n, min = least(s.min, excluded.min), "
                    "max = greatest(s.max, excluded.max), mean = (s.mean * s.n + excluded.mean * excluded.n) / (s.n + excluded.n)",
                    error);
}

bool PgArchive::WriteEvents(QString *error)
{
    for (const PendingEvent &pending : m_events) {
        const RunEvent &event = pending.event;
        const std::optional<QByteArray> temperature =
            event.temperature ? std::optional<QByteArray>(QByteArray::number(*event.temperature, 'g', 17)) : std::nullopt;
        if (!m_db.Run("INSERT INTO events (station, run, time, event, temperature_c, text) "
                      "VALUES ($1, $2, " PG_TIME(3) ", $4, $5, $6) ON CONFLICT DO NOTHING",
                      {pending.station.toUtf8(), Maybe(pending.run), Number(event.utcMs), event.event.toUtf8(), temperature,
                       event.text.toUtf8()},
                      error))
            return false;
    }
    return true;
}

bool PgArchive::WriteChainLines(QString *error)
{
    for (const PendingChainLine &pending : m_chainLines) {
        const ChainLine &line = pending.line;
        if (!m_db.Run("INSERT INTO chain (station, folder, number, time, file, size, sha256, chain, key, signature) "
                      "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10) ON CONFLICT DO NOTHING",
                      {pending.station.toUtf8(), pending.folder.toUtf8(), Number(line.number), line.time, line.file.toUtf8(),
                       Number(line.size), line.sha256, line.chain, line.key, line.signature},
                      error))
            return false;
    }
    return true;
}

bool PgArchive::WriteRuns(QString *error)
{
    for (const auto &[key, change] : m_runChanges) {
        if (!m_db.Run("INSERT INTO runs AS r (station, run, started, stopped, comment, readings) "
                      "VALUES ($1, $2, " PG_TIME(3) ", " PG_TIME(4) ", $5, $6) ON CONFLICT (station, run) DO UPDATE SET "
                      "started = coalesce(excluded.started, r.started), stopped = coalesce(excluded.stopped, r.stopped), "
                      "comment = coalesce(excluded.comment, r.comment), readings = coalesce(excluded.readings, r.readings)",
                      {key.first.toUtf8(), Number(key.second), Maybe(change.started), Maybe(change.stopped),
                       change.comment ? std::optional<QByteArray>(change.comment->toUtf8()) : std::nullopt,
                       Maybe(change.readings)},
                      error))
            return false;
        if (!change.ledger || !m_asking.count(key.first))
            continue; // the gaps are the asking collector's to say
        const std::vector<RunLedger::Gap> gaps = change.ledger->Gaps();
        const auto written = m_writtenGaps.find(key);
        if ((written == m_writtenGaps.end() && !gaps.empty()) || (written != m_writtenGaps.end() && written->second != gaps))
            if (!WriteGaps(key, gaps, error))
                return false;
    }
    return true;
}

bool PgArchive::WriteGaps(const RunKey &key, const std::vector<RunLedger::Gap> &gaps, QString *error)
{
    const QByteArray station = key.first.toUtf8();
    if (!m_db.Run("DELETE FROM gaps WHERE station = $1 AND run = $2", {station, Number(key.second)}, error))
        return false;
    for (const RunLedger::Gap &gap : gaps) {
        if (!m_db.Run("INSERT INTO gaps (station, run, first_seq, last_seq, state, reason) VALUES ($1, $2, $3, $4, $5, $6)",
                      {station, Number(key.second), Number(gap.from), Number(gap.to - 1),
                       QByteArray(gap.state == RunLedger::Gap::State::Lost ? "lost" : "asked"),
                       gap.reason.isEmpty() ? std::nullopt : std::optional<QByteArray>(gap.reason.toUtf8())},
                      error))
            return false;
    }
    return true;
}
