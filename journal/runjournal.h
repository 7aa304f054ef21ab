#pragma once

#include "journalformat.h"
#include "runfeed.h"

#include <QFile>
#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

class CComReader;
class QLockFile;

// The journal of the running run. Every reading that reaches the store is
// appended to a file in the user's application data folder and made durable
// about once a second, so that a crash, a killed process or a power cut loses
// at most about the last second of a run; the next start writes the rest into
// the record folder. Each successful save lets the journal forget the readings
// it wrote, and a run that ends with everything saved leaves no journal.
//
// It lives on the user-interface thread and takes the run's new readings from
// the run's feed; the reader thread never waits for it, nor for the disk. It
// keeps the readings that are not yet durable until they are. A lock file
// beside the journal tells other programs that its run is still going.
class RunJournal : public QObject
{
    Q_OBJECT

public:
    RunJournal(CComReader &reader, QString folder, QObject *parent = nullptr);
    // A journal still open stays on disk for the next start to recover.
    ~RunJournal() override;

    QString Folder() const { return m_strFolder; }
    // The file of the running journal; empty when there is none.
    QString Path() const { return m_strPath; }
    bool IsOpen() const { return m_lock != nullptr; }

    // Starts the journal of a run that has just begun (its store cleared),
    // whose next save goes by `header`. False when it cannot be written: the
    // run goes on all the same, without a journal when not even its lock file
    // can be made, else trying again each second.
    bool Begin(const JournalHeader &header);
    // A save wrote every reading the store holds: the journal forgets them.
    // The next save goes by `header`.
    void Saved(const JournalHeader &header);
    // A save failed: its readings stay; the next save goes by `header`.
    void SaveFailed(const JournalHeader &header);
    // New readings from the run's feed; they wait for the next flush.
    void Take(const FeedReadings &readings);
    // Appends what the feed brought since the last call and makes it durable.
    // Its timer calls it once a second. False when that failed; the next call
    // tries again with the same readings.
    bool Flush();
    // The run ended with everything saved: the journal goes.
    void End();
    // The run ended with readings unsaved: the last of them are written and
    // the journal stays for the next start. Says how many of the unsaved
    // readings it holds durably, and how many it could not take.
    struct Kept
    {
        qint64 kept = 0;
        qint64 lost = 0;
    };
    Kept Keep();

signals:
    // Journaling stopped working in this run (it could not be started, or a
    // write failed): once a run, so the operator can be told. It keeps trying.
    void Failing(const QString &folder);

private:
    bool Rewrite();
    bool ForgetInPlace();
    bool Append();
    void Close();
    void NoteFailure();

    CComReader &m_reader;
    const QString m_strFolder;
    QString m_strPath;
    std::unique_ptr<QLockFile> m_lock;
    QFile m_file;
    QTimer m_timer;

    JournalHeader m_header;
    bool m_bHeaderChanged = false;
    bool m_bRewrite = false;      // the file is to be written anew: header and every unsaved reading
    qint64 m_nSavedTotal = 0;     // the store's count of readings appended, at the last successful save
    qint64 m_nJournaled = 0;      // the same count, as far as the journal has taken readings
    qint64 m_nDurable = 0;        // the same count, as far as the journal holds it durably
    qint64 m_nGoodSize = 0;       // the file's size after its last durable write
    bool m_bFailureNoted = false;
    std::vector<TempSample> m_pending; // taken, not yet durable (all unsaved ones while a rewrite waits)
};
