#pragma once

#include "localtimeline.h"
#include "payloadreader.h"
#include "runevent.h"
#include "runledger.h"

#include <QByteArray>
#include <QFile>
#include <QSet>
#include <QString>

#include <map>
#include <optional>
#include <span>
#include <string>

// One run's files in the collector's folder archive:
//   <run>.csv         its readings in seq order, "time,elapsed_s,temperature_c,file,seq";
//   <run>.gaps.csv    what is still missing, "first_seq,last_seq,readings,state,reason";
//   <run>.events.csv  its events, as the record folder's events.csv has them.
// New readings past the last are appended; readings that fill a hole are
// kept until their burst has passed and then merged in by writing the CSV
// anew and renaming it over the old one, so the CSV always holds the run in
// order. Opening reads only the CSV's first and last lines, the gaps file
// and the events. Nothing is durable before Sync (the caller's group).
class CsvRunFiles
{
public:
    CsvRunFiles(QString folder, qint64 run);
    ~CsvRunFiles();

    // Opens or makes the files: a line cut by a crash is cut off; a CSV of
    // an older version (without seq) is written anew with it; a gap listed
    // as missing whose readings the CSV holds (a crash between a merge and
    // the gaps file) is found and dropped.
    bool Open(QString *error);
    QString CsvPath() const;

    // One past the highest seq in the CSV, and the gaps as they were stored.
    qint64 End() const { return m_nEnd; }
    const std::vector<RunLedger::Gap> &StoredGaps() const { return m_storedGaps; }
    // A gaps file as it is on disk; none missing when there is none.
    static std::vector<RunLedger::Gap> ReadGapsFile(const QString &path);
    std::optional<qint64> StopMs() const { return m_stopMs; }

    // Readings not held before, seq consecutive from `seq`. Past the end
    // they are appended (a hole before them is written to the gaps file
    // first, durably, so that no crash hides it); below it they wait to be
    // merged. False when the disk refused them (the CSV is cut back).
    bool Add(qint64 seq, std::span<const PayloadReader::Reading> readings, const RunLedger &ledger);
    // The ledger whose gaps the gaps file says, at the next Sync.
    void SetLedger(const RunLedger &ledger);
    // An event of the run; false when it was there already or could not be
    // written (`failed`; the file is cut back to its last whole record).
    bool AddEvent(const RunEvent &event, bool *failed);

    // Merges readings that wait once no more came for `quietMs`, or
    // always with `force`; then makes everything written durable and writes
    // the gaps file. False when something could not be written.
    bool Sync(qint64 steadyNowMs, bool force, QString *error);
    qint64 WaitingToMerge() const { return qint64(m_toMerge.size()); }
    // A hole found or healed waits to be written: synced at the next flush,
    // whatever the readings' own cadence, so that what is said of the run holds on disk.
    bool GapsWaiting() const { return m_bGapsChanged || !m_toMerge.empty(); }
    // Readings or events written since the last sync.
    bool Unsynced() const { return m_bCsvUnsynced || m_bEventsUnsynced; }

    static constexpr qint64 kQuietMs = 1000;

private:
    struct Waiting
    {
        qint64 utcMs;
        std::string temperature;
    };

    bool OpenCsv(QString *error);
    bool ConvertOlder(const QByteArray &bytes, QString *error);
    bool ReadGaps();
    void CheckGapsAgainstCsv();
    bool OpenEvents(QString *error);
    bool Merge(QString *error);
    bool WriteGaps(const std::vector<RunLedger::Gap> &gaps);
    std::vector<RunLedger::Gap> GapsToStore() const;
    std::optional<qint64> FirstSeqAtOrAfter(qint64 seq);

    QString m_strFolder;
    qint64 m_nRun;
    LocalTimeLine m_timeLine;
    QFile m_csv;
    qint64 m_nEnd = 0;
    qint64 m_nFirstMs = -1;   // the first reading's time; elapsed_s counts from it
    qint64 m_nFirstSeq = -1;
    bool m_bCsvUnsynced = false;
    std::map<qint64, Waiting> m_toMerge; // seq -> reading
    qint64 m_nLastMergeWaitMs = 0;        // when the last one came (steady)
    std::vector<RunLedger::Gap> m_storedGaps;
    std::optional<RunLedger> m_ledger;
    bool m_bGapsChanged = false;
    QFile m_events;
    QSet<QByteArray> m_eventRecords;
    bool m_bEventsUnsynced = false;
    std::optional<qint64> m_stopMs;
};

// The records of RFC 4180 CSV bytes, each with its line end, a quoted field
// holding line ends too; `wholeEnd` is where the last whole record ends.
std::vector<QByteArray> CsvRecords(const QByteArray &bytes, qsizetype *wholeEnd);
// The fields of one record.
QList<QByteArray> CsvFields(QByteArrayView record);
