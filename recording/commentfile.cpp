#include "commentfile.h"

#include "durablefile.h"
#include "nativefs.h"

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
    const QString path = QDir(folder).filePath(QStringLiteral("dirinfo"));
    QFile file;
    if (!OpenNamedFile(file, path, QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray bytes = CommentFileBytes(comment);
    return file.write(bytes) == bytes.size() && SyncToDisk(file, path);
}
