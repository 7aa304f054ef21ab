#pragma once

class QFileDevice;
class QString;

// Pushes what was written to `file`, the file at `path`, through to the disk
// (fsync, or its Windows equivalent), so that a power cut afterwards loses
// none of it. On POSIX systems the folder's entry of the file is made durable
// as well.
bool SyncToDisk(QFileDevice &file, const QString &path);

// Pushes the data written to `file` through to the disk, without its
// metadata where the system can tell the two apart (fdatasync): enough for a
// file that is only appended to once its folder entry is durable.
bool SyncData(QFileDevice &file);

// Makes the folder's entries durable (a file created, renamed or removed in
// it). Nothing to do on Windows, where the file's own flush covers it.
bool SyncFolder(const QString &folder);
