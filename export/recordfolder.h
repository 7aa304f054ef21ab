#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class LocalTimeLine;

// Something of a record folder that could not be read: which file, which line
// (0: the whole file) and what was wrong.
struct ExportProblem
{
    QString file;
    int line = 0;
    QString what;
};

// One reading of a data file, placed in time.
struct FolderReading
{
    qint64 utcMs;              // the header's instant plus the line's offset
    QByteArrayView temperature; // as written; valid during the call that gives it
    double celsius;
    QByteArrayView file;        // the data file's name as a CSV field; valid as `temperature`
    int line = 0;               // in the data file, the header being line 1
};

// A record folder as the program leaves it: data files "0000" to "9999",
// each a header line with the local time of its start and lines of "offset
// temperature", and the comment in "dirinfo". After "9999" the operator names
// each further file; those whose first line is such a header follow "9999"
// in the order of their start times. A line or file that cannot be read is
// skipped and noted, the rest is read.
class RecordFolder
{
public:
    explicit RecordFolder(QString folder);

    // Lists the folder. False when it cannot be read at all.
    bool List(QString *error);
    const QStringList &DataFiles() const { return m_dataFiles; }
    // Files that are no data file ("dirinfo" aside), left out.
    const QStringList &OtherFiles() const { return m_otherFiles; }
    // The comment of "dirinfo", or empty.
    QString Comment() const;

    // Gives every reading to `reading`, in file order. `progress` hears after
    // each file how many are done; returning false from it ends the reading.
    // False when it was ended so.
    bool Read(LocalTimeLine &timeLine, const std::function<void(const FolderReading &)> &reading,
              const std::function<bool(int done, int total)> &progress = {});
    const QList<ExportProblem> &Problems() const { return m_problems; }

    // Gives the readings of one data file's bytes to `reading`, as Read does
    // for the file `name`; later files never start before the ones read so far.
    void ReadBytes(const QString &name, const QByteArray &bytes, LocalTimeLine &timeLine,
                   const std::function<void(const FolderReading &)> &reading);

private:
    void ReadFile(const QString &name, LocalTimeLine &timeLine,
                  const std::function<void(const FolderReading &)> &reading);
    QString PathOf(const QString &name) const;
    // The typed names after "9999" among `names`, in the order of their start
    // times; the rest stay in `names`.
    QStringList NamedAfterLast(QStringList &names) const;

    QString m_strFolder;
    QStringList m_dataFiles;
    QStringList m_otherFiles;
    QList<ExportProblem> m_problems;
    qint64 m_nLastMs; // the newest instant so far: later files never start before it
};
