#pragma once

#include "localtime.h"
#include "messageseam.h"

#include <QList>
#include <QString>

class QWidget;

// What became of the journal of one interrupted run.
struct RecoveredRun
{
    enum class Outcome {
        Written,            // its readings are in a data file (or were all saved already)
        FolderHeld,         // another program records into the folder: the journal stays
        FolderNotWritable,  // the journal stays
        NameNotGiven,       // after "9999" the operator gave no name; the journal stays
        NoHeader,           // damaged where it names its folder: kept as damaged
        JournalNotLockable, // no lock file can be made beside it (a full disk): it stays
        NewerFormat,        // written by a later version of the program: left alone
        Unreadable,         // not a journal this program can read: left alone
    };
    Outcome outcome = Outcome::Unreadable;
    QString journal;
    QString folder;
    QString fileName;
    QString reason;           // why the folder could not be written
    qint64 readings = 0;      // written, or waiting in the journal
    qint64 alreadySaved = 0;  // found in the data file the run's last save wrote
    int unreadableRecords = 0;
    QString keptAs;           // where a damaged journal was kept
    SYSTEMTIME first {};
    SYSTEMTIME last {};
};

// The file name under which a journal that could not be read whole is kept:
// recoveries do not take it up again, and nothing deletes it.
QString DamagedJournalName(const QString &journal);

// Writes the readings of every run that did not end (its journal is there and
// its program gone) into that run's record folder, as the run's next save
// would have: under the next number, with the run's reference time in the
// header and the offsets counted from it; after "9999" the operator is asked
// for a name that no file has. Journals are taken in the order their runs
// began. While it writes, the recovery holds the record folder as a run does,
// so a folder that another program records into is left for the next start.
// A file is written under a hidden name and gets its number only when it is
// whole and durable; then the journal goes. A journal whose run still goes
// on in another program, or that another program is recovering at the same
// moment, is left to it.
QList<RecoveredRun> RecoverJournals(const QString &journalFolder, MessageSeam &prompts, QWidget *promptParent);

// One box telling the operator what the recovery did: which folder and file
// received how many readings over which span, or where readings still wait.
Message RecoveryMessage(const QList<RecoveredRun> &runs);
