#include "pgschema.h"

#include "pgconnection.h"

#include <QDateTime>
#include <QTimeZone>

namespace pgschema {

namespace {

// Version 1. A reading's key holds its time too (a partitioned table's
// unique key must hold the partition's column); a reading always comes
// again with the time it had, so each (station, run, seq) is there once.
constexpr const char *kTables = R"sql(
CREATE TABLE calorivista_schema (version integer NOT NULL);
CREATE TABLE stations (
    station text PRIMARY KEY,
    first_seen timestamptz,
    last_seen timestamptz);
CREATE TABLE runs (
    station text NOT NULL,
    run bigint NOT NULL,
    started timestamptz,
    stopped timestamptz,
    comment text,
    readings bigint,
    PRIMARY KEY (station, run));
CREATE TABLE readings (
    station text NOT NULL,
    run bigint NOT NULL,
    seq bigint NOT NULL,
    time timestamptz NOT NULL,
    temperature_c double precision NOT NULL,
    PRIMARY KEY (station, run, seq, time)) PARTITION BY RANGE (time);
CREATE INDEX readings_station_time ON readings (station, time);
CREATE TABLE readings_1s (
    station text NOT NULL,
    run bigint NOT NULL,
    second timestamptz NOT NULL,
    n integer NOT NULL,
    min double precision NOT NULL,
    max double precision NOT NULL,
    mean double precision NOT NULL,
    PRIMARY KEY (station, run, second)) PARTITION BY RANGE (second);
CREATE INDEX readings_1s_station_second ON readings_1s (station, second);
CREATE TABLE events (
    station text NOT NULL,
    run bigint,
    time timestamptz NOT NULL,
    event text NOT NULL,
    temperature_c double precision,
    text text NOT NULL,
    UNIQUE NULLS NOT DISTINCT (station, run, time, event, text));
CREATE INDEX events_station_time ON events (station, time);
CREATE TABLE gaps (
    station text NOT NULL,
    run bigint NOT NULL,
    first_seq bigint NOT NULL,
    last_seq bigint NOT NULL,
    state text NOT NULL CHECK (state IN ('asked', 'lost')),
    reason text,
    PRIMARY KEY (station, run, first_seq));
INSERT INTO calorivista_schema (version) VALUES (1);
)sql";

// Version 2: the lab's witness of the stations' record chains, each line
// once, in the order heard (id).
constexpr const char *kChainTable = R"sql(
CREATE TABLE IF NOT EXISTS chain (
    id bigserial PRIMARY KEY,
    station text NOT NULL,
    folder text NOT NULL,
    number bigint NOT NULL,
    time text NOT NULL,
    file text NOT NULL,
    size bigint NOT NULL,
    sha256 text NOT NULL,
    chain text NOT NULL,
    key text NOT NULL,
    signature text NOT NULL,
    received timestamptz NOT NULL DEFAULT now(),
    UNIQUE (station, folder, number, chain));
CREATE INDEX IF NOT EXISTS chain_first ON chain (number, chain);
INSERT INTO calorivista_schema (version) VALUES (2);
)sql";

QDateTime MonthStart(int month)
{
    return QDateTime(QDate(month / 12, month % 12 + 1, 1), QTime(0, 0), QTimeZone::utc());
}

QByteArray PartitionName(const char *table, int month)
{
    return QByteArray(table) + "_y" + QByteArray::number(month / 12) + 'm' + QByteArray::number(month % 12 + 1).rightJustified(2, '0');
}

// Gives up a transaction; false, for the caller to return.
bool Abandon(PgConnection &db)
{
    QString ignored;
    db.Run("ROLLBACK", &ignored);
    return false;
}

} // namespace

int MonthOf(qint64 utcMs)
{
    const QDate date = QDateTime::fromMSecsSinceEpoch(utcMs, QTimeZone::utc()).date();
    return date.year() * 12 + date.month() - 1;
}

bool Prepare(PgConnection &db, QString *error)
{
    if (!db.Run("BEGIN", error) || !db.Run("SELECT pg_advisory_xact_lock($1)", {QByteArray::number(kSchemaLock)}, error))
        return Abandon(db);
    const auto found = db.Exec("SELECT to_regclass('calorivista_schema') IS NOT NULL", {}, error);
    if (!found)
        return Abandon(db);
    if (PgConnection::Value(*found, 0, 0) == QByteArray("t")) {
        const auto version = db.Exec("SELECT max(version) FROM calorivista_schema", {}, error);
        if (!version)
            return Abandon(db);
        const int known = PgConnection::Value(*version, 0, 0).value_or("0").toInt();
        if (known > kVersion) {
            *error = QStringLiteral("the database's tables are of version %1, newer than this collector knows (%2): "
                                    "a newer calorivista-collect writes them")
                         .arg(known)
                         .arg(kVersion);
            return Abandon(db);
        }
        if (known < 2 && !db.Run(kChainTable, error))
            return Abandon(db);
        return db.Run("COMMIT", error);
    }
    if (!db.Run(kTables, error) || !db.Run(kChainTable, error))
        return Abandon(db);
    return db.Run("COMMIT", error);
}

bool EnsureMonth(PgConnection &db, qint64 utcMs, QString *error)
{
    const int month = MonthOf(utcMs);
    const QByteArray from = MonthStart(month).toString(Qt::ISODate).toLatin1();
    const QByteArray to = MonthStart(month + 1).toString(Qt::ISODate).toLatin1();
    // In a transaction of its own, one collector at a time: making a
    // partition locks its table against every other writer for a moment.
    if (!db.Run("BEGIN", error) || !db.Run("SELECT pg_advisory_xact_lock($1)", {QByteArray::number(kPartitionLock)}, error))
        return Abandon(db);
    for (const char *table : {"readings", "readings_1s"}) {
        const QByteArray sql = "CREATE TABLE IF NOT EXISTS " + PartitionName(table, month) + " PARTITION OF " + table
            + " FOR VALUES FROM ('" + from + "') TO ('" + to + "')";
        if (!db.Run(sql.constData(), error))
            return Abandon(db);
    }
    return db.Run("COMMIT", error);
}

bool DropMonthsBefore(PgConnection &db, int months, qint64 nowMs, int *dropped, QString *error)
{
    *dropped = 0;
    const int first = MonthOf(nowMs) - months; // the oldest month kept
    const auto parts = db.Exec("SELECT c.relname FROM pg_inherits i JOIN pg_class c ON c.oid = i.inhrelid "
                               "JOIN pg_class p ON p.oid = i.inhparent WHERE p.relname IN ('readings', 'readings_1s')",
                               {}, error);
    if (!parts)
        return false;
    for (int row = 0; row < PgConnection::Rows(*parts); ++row) {
        const QByteArray name = PgConnection::Value(*parts, row, 0).value_or(QByteArray());
        const qsizetype y = name.lastIndexOf("_y");
        const qsizetype m = name.lastIndexOf('m');
        if (y < 0 || m < y)
            continue;
        bool yearOk = false, monthOk = false;
        const int year = name.mid(y + 2, m - y - 2).toInt(&yearOk);
        const int monthOfYear = name.mid(m + 1).toInt(&monthOk);
        if (!yearOk || !monthOk || monthOfYear < 1 || monthOfYear > 12 || year * 12 + monthOfYear - 1 >= first)
            continue;
        if (!db.Run(("DROP TABLE IF EXISTS " + name).constData(), error))
            return false;
        if (name.startsWith("readings_y"))
            ++*dropped;
    }
    return true;
}

} // namespace pgschema
