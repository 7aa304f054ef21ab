#pragma once

#include <QString>
#include <QtGlobal>

class PgConnection;

// The archive's tables in PostgreSQL, an interface that dashboards and other
// programs read (the README lists them):
//   calorivista_schema(version)
//   stations(station, first_seen, last_seen)
//   runs(station, run, started, stopped, comment, readings)
//   readings(station, run, seq, time, temperature_c)      by month on time
//   readings_1s(station, run, second, n, min, max, mean)  by month on second
//   events(station, run, time, event, temperature_c, text)
//   gaps(station, run, first_seq, last_seq, state, reason)
// Made at first use; a schema newer than this program knows is refused.
namespace pgschema {

inline constexpr int kVersion = 2; // 2: the chain table

// Makes the tables if there are none, else checks their version. Any number
// of collectors may do it at once.
bool Prepare(PgConnection &db, QString *error);

// The month partitions of readings and readings_1s that hold `utcMs` (UTC months).
bool EnsureMonth(PgConnection &db, qint64 utcMs, QString *error);
// The month of `utcMs` as a number: year * 12 + month - 1.
int MonthOf(qint64 utcMs);

// Drops the months of readings and readings_1s that ended more than
// `months` whole months before `nowMs`; says how many went.
bool DropMonthsBefore(PgConnection &db, int months, qint64 nowMs, int *dropped, QString *error);

// The advisory lock keys: one for the tables' making, one per station's asking.
inline constexpr qint64 kSchemaLock = 0x43616c6f72690001LL;
inline constexpr qint64 kPartitionLock = 0x43616c6f72690002LL;

} // namespace pgschema
