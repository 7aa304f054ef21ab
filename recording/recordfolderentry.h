#pragma once

#include <QString>

class MessageSeam;
class RecordFolderLock;

// Start's way into the record folder: makes it the working directory (a
// missing folder whose parent exists is offered to be made), holds it for the
// run with `lock` (refused, and said, when another program records there or
// no lock can be made) and, with `probe`, asks before the run overwrites the
// numbered data files that are there. False when Start must end here; the
// operator has been told why, or has said no.
bool EnterRecordFolder(const QString &folder, bool probe, RecordFolderLock &lock, MessageSeam &messages);
