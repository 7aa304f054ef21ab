#pragma once

#include "archive.h"
#include "pgconnection.h"

#include <QString>

#include <deque>
#include <map>
#include <set>
#include <utility>

// The archive in the lab's PostgreSQL (the tables: pgschema.h). Any number
// of collectors may write one database at once: every row goes in with
// ON CONFLICT DO NOTHING, so each reading and event is there once, and a
// station is asked for what it lacks by the collector that holds its
// advisory lock. What a collector is given waits in memory until its
// group is written in one transaction (COPY into a staging table, then one
// INSERT … SELECT); while the database is away it is held, up to a bound,
// and written once it is back.
class PgArchive : public Archive
{
public:
    struct Options
    {
        QString conninfo;
        QString password;          // from --db-password-file; empty for ~/.pgpass or PGPASSFILE
        QString id = QStringLiteral("calorivista-collect");
        int keepMonths = 0;        // 0: every month is kept
    };
    static constexpr qint64 kMaxHeldReadings = 4000000;
    static constexpr size_t kMaxHeldEvents = 100000;
    static constexpr qint64 kLockRetryMs = 5000;

    explicit PgArchive(Options options);

    bool Take(QString *error) override;
    std::vector<RunRecord> OpenRuns() override;
    std::optional<RunRecord> Run(const QString &station, qint64 run, QString *error) override;
    bool AddReadings(const QString &station, qint64 run, qint64 seq, std::span<const PayloadReader::Reading> readings,
                     const RunLedger &ledger) override;
    void SetLedger(const QString &station, qint64 run, const RunLedger &ledger) override;
    bool AddEvent(const QString &station, std::optional<qint64> run, const RunEvent &event, bool *failed) override;
    // Into the chain table, with the next batch.
    bool AddChainLine(const QString &station, const QString &folder, const ChainLine &line, bool *failed) override;
    bool Flush(QString *error) override;
    qint64 Waiting() const override { return m_nRows; }
    bool MayAsk(const QString &station) override;
    std::vector<std::pair<qint64, qint64>> HeldWithin(const QString &station, qint64 run, qint64 from, qint64 to) override;

private:
    using RunKey = std::pair<QString, qint64>;
    struct RunChange
    {
        std::optional<qint64> started, stopped;
        std::optional<QString> comment;
        std::optional<qint64> readings;
        std::optional<RunLedger> ledger; // newest, for its gaps
    };
    struct PendingEvent
    {
        QString station;
        std::optional<qint64> run;
        RunEvent event;
    };

    bool Connect(QString *error);
    bool WriteAll(QString *error);
    bool WriteReadings(QString *error);
    bool WriteEvents(QString *error);
    bool WriteChainLines(QString *error);
    bool WriteRuns(QString *error);
    bool WriteGaps(const RunKey &key, const std::vector<RunLedger::Gap> &gaps, QString *error);
    std::vector<std::pair<qint64, qint64>> Islands(const QString &station, qint64 run, qint64 from, qint64 to, QString *error);
    std::set<QByteArray> &EventKeys(const RunKey &key);
    void DropOldMonths();

    Options m_options;
    PgConnection m_db;
    bool m_bPrepared = false;
    QByteArray m_rows;                // COPY text rows waiting
    qint64 m_nRows = 0;
    std::set<int> m_months, m_knownMonths;
    std::map<RunKey, RunChange> m_runChanges;
    std::map<RunKey, std::vector<RunLedger::Gap>> m_writtenGaps;
    std::vector<PendingEvent> m_events;
    struct PendingChainLine
    {
        QString station;
        QString folder;
        ChainLine line;
    };
    std::vector<PendingChainLine> m_chainLines;
    std::map<RunKey, std::set<QByteArray>> m_eventKeys; // what each recent run's events are
    std::deque<RunKey> m_eventKeyOrder;
    std::set<QString> m_seen;
    std::set<QString> m_asking;       // stations whose lock this collector holds
    std::map<QString, qint64> m_lockTriedMs;
    qint64 m_nNextTryMs = 0;
    qint64 m_nRetryMs = 500;
    qint64 m_nDroppedAtMs = -1;
};
