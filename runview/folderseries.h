#pragma once

#include "eventsfile.h"
#include "localtimeline.h"
#include "recordfolder.h"
#include "runseries.h"

#include <QDateTime>
#include <QHash>
#include <QString>

#include <functional>

// A record folder read into a RunSeries through the export library: its data
// files in their order, its comment and its events. Reading again takes only
// the data files that were not there before, so a folder that a run is
// writing grows file by file.
class FolderSeries
{
public:
    explicit FolderSeries(QString folder);

    // Reads the data files not read yet. `progress` hears (files done, files
    // to read) and may end the reading by returning false; then, or when the
    // folder cannot be listed (`error` says why), false.
    bool ReadNew(QString *error, const std::function<bool(int done, int total)> &progress = {});
    // Whether a data file read before is gone or was written again since (a
    // new run that starts over from "0000"): then only reading the folder
    // afresh shows what it holds.
    bool FilesChanged() const;
    // Reads "events.csv" again: the events of the runs whose readings are in
    // the folder (a run that started over an older one's folder from "0000"
    // leaves the older run's events in the file).
    void ReadEvents();

    const QString &Folder() const { return m_strFolder; }
    // From the first reading or event to the last one (a run's stop comes after its last reading).
    std::pair<qint64, qint64> WholeSpan() const;
    // Whether two paths name one folder.
    static bool SameFolder(const QString &a, const QString &b);
    QString Comment() const { return m_reader.Comment(); }
    const RunSeries &Series() const { return m_series; }
    const QList<FolderEvent> &Events() const { return m_events; }
    const QList<ExportProblem> &Problems() const { return m_reader.Problems(); }
    int FilesRead() const { return int(m_read.size()); }
    // Whether a reading's time ran back by more than a second from the one
    // before it (the clock was set back during a run), and the folder's
    // length as its readings measured it, such a step counted as one
    // interval of the readings.
    bool ClockSteppedBack() const { return m_bSteppedBack; }
    qint64 ElapsedMs() const { return m_nElapsedMs; }

private:
    QString m_strFolder;
    RecordFolder m_reader; // keeps the last instant, so later files never start before it
    LocalTimeLine m_timeLine;
    RunSeries m_series;
    struct Stamp
    {
        qint64 size = 0;
        QDateTime modified;
    };
    QHash<QString, Stamp> m_read; // the data files read, as they were then
    QList<FolderEvent> m_events;
    qint64 m_nPreviousMs = -1;
    qint64 m_nIntervalMs = 0;
    qint64 m_nElapsedMs = 0;
    bool m_bSteppedBack = false;
};
