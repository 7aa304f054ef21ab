#pragma once

#include <QByteArray>
#include <QString>

// The bytes of the comment file: the comment in the system's 8-bit encoding,
// each line break written as CR CR LF (how the comment has always been
// stored), nothing added; an empty comment gives no bytes.
QByteArray CommentFileBytes(const QString &comment);

// Writes "dirinfo" into the folder, created or truncated. False when the file
// cannot be opened or written.
bool WriteCommentFile(const QString &folder, const QString &comment);
