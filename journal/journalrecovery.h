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
        Written,           // its readings are in a data file; the journal is gone
        FolderNotWritable, // the journal stays
        NameNotGiven,      // after "9999" the operator gave no name; the journal stays
        NewerFormat,       // written by a later version of the program: left alone
        Unreadable,        // not a journal this program can read: left alone
    };
    Outcome outcome = Outcome::Unreadable;
    QString journal;
    QString folder;
    QString fileName;
    qint64 readings = 0;
    SYSTEMTIME first {};
    SYSTEMTIME last {};
};

// Writes the readings of every run that did not end (its journal is there and
// its program gone) into that run's record folder, as the run's next save
// would have: under the next number, with the run's reference time in the
// header and the offsets counted from it; after "9999" the operator is asked
// for a name. A number already taken is never overwritten: the next free one
// is used. The new file is made durable before its journal is removed. A
// journal whose run still goes on in another program, or that another program
// is recovering at the same moment, is left to it.
QList<RecoveredRun> RecoverJournals(const QString &journalFolder, MessageSeam &prompts, QWidget *promptParent);

// One box telling the operator what the recovery did: which folder and file
// received how many readings over which span, or where readings still wait.
Message RecoveryMessage(const QList<RecoveredRun> &runs);
