#pragma once

class QFile;
class QString;

// Pushes what was written to `file` through to the disk (fsync, or its
// Windows equivalent), so that a power cut afterwards loses none of it. On
// POSIX systems the folder's entry of the file is made durable as well.
bool SyncToDisk(QFile &file);
