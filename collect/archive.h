#pragma once

#include "chainline.h"
#include "payloadreader.h"
#include "runevent.h"
#include "runledger.h"

#include <QString>

#include <optional>
#include <span>
#include <vector>

// Where a collector keeps the lab's runs: a folder of CSV files, or a
// PostgreSQL database. The collector decides what is new (each reading once,
// in its run by seq); an archive keeps what it is given and says what it
// holds when asked again, after a restart too.
class Archive
{
public:
    virtual ~Archive() = default;

    // A run as the archive holds it.
    struct RunRecord
    {
        QString station;
        qint64 run = 0;
        RunLedger ledger;         // held, missing (asked or lost) and the run's count once known
        bool stopped = false;
    };

    // Takes the archive for this collector alone where it must be; false
    // with the reason when another holds it.
    virtual bool Take(QString *error) = 0;
    // The runs not yet whole: a collector asks their stations for what they lack.
    virtual std::vector<RunRecord> OpenRuns() = 0;
    // A run, made when new; none with the reason when it cannot be.
    virtual std::optional<RunRecord> Run(const QString &station, qint64 run, QString *error) = 0;
    // Readings not held before, seq consecutive from `seq`; `ledger` is the
    // run's ledger with them taken. False when they could not be written.
    virtual bool AddReadings(const QString &station, qint64 run, qint64 seq,
                             std::span<const PayloadReader::Reading> readings, const RunLedger &ledger) = 0;
    // The run's ledger changed without readings (a stop's count, a lost range).
    virtual void SetLedger(const QString &station, qint64 run, const RunLedger &ledger) = 0;
    // An event of a run, or between runs (no run); false when it was there
    // already or could not be written (`failed`).
    virtual bool AddEvent(const QString &station, std::optional<qint64> run, const RunEvent &event, bool *failed) = 0;
    // A line of a station's record chain, for the lab's witness; false when
    // it was there already or could not be written (`failed`). An archive
    // that keeps no witness takes none.
    virtual bool AddChainLine(const QString &station, const QString &folder, const ChainLine &line, bool *failed)
    {
        Q_UNUSED(station) Q_UNUSED(folder) Q_UNUSED(line)
        *failed = false;
        return false;
    }
    // What was given is made durable: a collector calls it for each group of
    // messages, not for each one.
    virtual bool Flush(QString *error) = 0;
    // Readings given but still waiting inside the archive (to be merged in
    // order, or not yet made durable): what it holds is whole once none wait.
    virtual qint64 Waiting() const { return 0; }

    // Whether this collector is the one to ask `station` for what its runs
    // lack: an archive that several collectors share lets one ask at a time.
    virtual bool MayAsk(const QString &station) { Q_UNUSED(station) return true; }
    // The readings of [from, to) the archive holds, written by any collector:
    // ranges, in order. Only a shared archive holds what this one was not given.
    virtual std::vector<std::pair<qint64, qint64>> HeldWithin(const QString &station, qint64 run, qint64 from, qint64 to)
    {
        Q_UNUSED(station) Q_UNUSED(run) Q_UNUSED(from) Q_UNUSED(to) return {};
    }
};
