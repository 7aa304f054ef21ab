#pragma once

#include "archive.h"

// Two archives written alike: the lab's database, and a folder of CSV files
// beside it. The first one decides what is held and what is asked for; the
// second takes everything it is given.
class TeeArchive : public Archive
{
public:
    TeeArchive(Archive &first, Archive &second)
        : m_first(first)
        , m_second(second)
    {
    }

    bool Take(QString *error) override { return m_first.Take(error) && m_second.Take(error); }
    std::vector<RunRecord> OpenRuns() override { return m_first.OpenRuns(); }
    std::optional<RunRecord> Run(const QString &station, qint64 run, QString *error) override
    {
        QString ignored;
        m_second.Run(station, run, &ignored); // made there too; its failure is said at the flush
        return m_first.Run(station, run, error);
    }
    bool AddReadings(const QString &station, qint64 run, qint64 seq, std::span<const PayloadReader::Reading> readings,
                     const RunLedger &ledger) override
    {
        const bool first = m_first.AddReadings(station, run, seq, readings, ledger);
        if (first)
            m_second.AddReadings(station, run, seq, readings, ledger);
        return first;
    }
    void SetLedger(const QString &station, qint64 run, const RunLedger &ledger) override
    {
        m_first.SetLedger(station, run, ledger);
        m_second.SetLedger(station, run, ledger);
    }
    bool AddEvent(const QString &station, std::optional<qint64> run, const RunEvent &event, bool *failed) override
    {
        bool secondFailed = false;
        m_second.AddEvent(station, run, event, &secondFailed);
        const bool added = m_first.AddEvent(station, run, event, failed);
        *failed = *failed || secondFailed;
        return added;
    }
    bool AddChainLine(const QString &station, const QString &folder, const ChainLine &line, bool *failed) override
    {
        bool secondFailed = false;
        m_second.AddChainLine(station, folder, line, &secondFailed);
        const bool added = m_first.AddChainLine(station, folder, line, failed);
        *failed = *failed || secondFailed;
        return added;
    }
    bool Flush(QString *error) override
    {
        QString second;
        const bool firstFlushed = m_first.Flush(error);
        const bool secondFlushed = m_second.Flush(&second);
        if (!secondFlushed)
            *error = firstFlushed ? second : *error + QStringLiteral("; ") + second;
        return firstFlushed && secondFlushed;
    }
    qint64 Waiting() const override { return std::max(m_first.Waiting(), m_second.Waiting()); }
    bool MayAsk(const QString &station) override { return m_first.MayAsk(station); }
    std::vector<std::pair<qint64, qint64>> HeldWithin(const QString &station, qint64 run, qint64 from, qint64 to) override
    {
        return m_first.HeldWithin(station, run, from, to);
    }

private:
    Archive &m_first;
    Archive &m_second;
};
