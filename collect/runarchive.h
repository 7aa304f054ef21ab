#pragma once

#include "csvwriter.h"
#include "localtimeline.h"
#include "publishpayloads.h"
#include "runevent.h"

#include <QByteArray>
#include <QFile>
#include <QSet>
#include <QString>

#include <optional>
#include <span>

// A published reading as the collector takes it.
using CollectedReading = publishpayloads::Reading;

// One run of one station in the collector's folder: "<run id>.csv" with the
// exporter's columns (the file column left empty), "<run id>.events.csv" as
// the record folder's events.csv, and "<run id>.gaps.csv" for readings that
// never came. Readings are written in the run's order, each once: whatever
// comes again (a batch sent twice after a lost acknowledgement) is dropped by
// its index in the run. Every write is durable before the call returns.
class RunArchive
{
public:
    RunArchive(const QString &folder, qint64 run);

    // Opens or makes the files; a line cut short by a crash is cut off.
    bool Open(QString *error);
    qint64 Run() const { return m_nRun; }
    QString CsvPath() const;
    qint64 NextSeq() const { return m_nNextSeq; }
    // Readings of the run that never came, as the gaps file counts them.
    qint64 Missing() const { return m_nMissing; }

    struct Added
    {
        qint64 written = 0;
        qint64 repeated = 0;
        std::optional<std::pair<qint64, qint64>> gap; // first and last index that never came
        bool failed = false;
    };
    Added AddReadings(qint64 seq, std::span<const CollectedReading> readings);
    // False when the event was there already (or could not be written).
    bool AddEvent(const RunEvent &event, bool *failed);
    bool HasStopped() const { return m_stopMs.has_value(); }
    std::optional<qint64> StopMs() const { return m_stopMs; }

private:
    bool OpenCsv(QString *error);
    bool OpenEvents(QString *error);
    bool NoteGap(qint64 first, qint64 last);

    QString m_strFolder;
    qint64 m_nRun;
    QFile m_csv;
    LocalTimeLine m_timeLine;
    std::optional<CsvWriter> m_writer;
    qint64 m_nNextSeq = 0;
    qint64 m_nFirstMs = 0;
    qint64 m_nMissing = 0;
    QFile m_events;
    QSet<QByteArray> m_eventLines;
    std::optional<qint64> m_stopMs;
};
