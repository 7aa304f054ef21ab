#pragma once

#include <QIODevice>
#include <QString>
#include <QStringList>

class QFile;

// The working directory, folders and files by names that may hold stand-in
// bytes (see nativename.h). Qt's own calls would turn those into other names;
// these take them to the system as they are. Relative paths are relative to
// the working directory.

QString CurrentFolder();
bool SetCurrentFolder(const QString &folder);
bool MakeFolder(const QString &folder);
bool IsFolder(const QString &path);
bool PathExists(const QString &path);
// A plain file, not a folder or a device such as /dev/full.
bool IsRegularFile(const QString &path);

// Opens the file at `path` for `mode` (a write creates it; Truncate empties
// it). The file has no name of its own afterwards: keep the path.
bool OpenNamedFile(QFile &file, const QString &path, QIODevice::OpenMode mode);

// Gives the file at `from` the name `to` where no file has it yet; false when
// one has (it is never replaced) or the rename fails.
bool RenameWithoutReplacing(const QString &from, const QString &to);
bool RemoveFile(const QString &path);

// The folders in `folder`, as a folder list offers them: ".." and every
// folder that is not hidden, unsorted.
QStringList ListedSubfolders(const QString &folder);

// Everything in `folder` that is not a folder, hidden names too, sorted by
// name; false when the folder cannot be read.
bool ListFiles(const QString &folder, QStringList *names);
