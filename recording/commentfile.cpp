#include "commentfile.h"

#include "durablefile.h"

#include <QDir>
#include <QFile>

QByteArray CommentFileBytes(const QString &comment)
{
    QByteArray bytes = comment.toLocal8Bit();
    bytes.replace("\r\n", "\n");
    bytes.replace("\n", "\r\r\n");
    return bytes;
}

bool WriteCommentFile(const QString &folder, const QString &comment)
{
    QFile file(QDir(folder).filePath(QStringLiteral("dirinfo")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray bytes = CommentFileBytes(comment);
    return file.write(bytes) == bytes.size() && SyncToDisk(file);
}
