#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>
#include <vector>

// Where each run of this station was recorded and what each of its saves
// wrote, so that its readings can be found again in its data files long
// after the outbox let them go: "runs/runindex.csv" in the station's data folder,
// a line appended (and made durable) at each run's start, save and stop.
class RunRegistry
{
public:
    explicit RunRegistry(QString dataFolder);

    void RunStarted(qint64 run, const QString &folder, int firstFile);
    // A save of the run wrote `readings` readings, from `firstSeq` on, into `file`.
    void Saved(qint64 run, const QString &file, qint64 firstSeq, qint64 readings);
    void RunStopped(qint64 run, qint64 readings);

    struct SavedFile
    {
        QString name;
        qint64 firstSeq = 0;
        qint64 readings = 0;
    };
    struct Entry
    {
        QString folder; // absolute
        int firstFile = 0;
        std::vector<SavedFile> files; // in the order they were written
        std::optional<qint64> readings; // the run's, once it stopped
        // The first data file of the next run into the same folder, if any:
        // files from it on are that run's.
        std::optional<int> nextRunsFirstFile;
    };
    std::optional<Entry> Find(qint64 run) const;

private:
    void Append(const QByteArray &line);

    QString m_strPath;
};
