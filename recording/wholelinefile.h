#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class QFile;

// Writes text made of whole lines into an open file in large blocks, so that
// a save of hundreds of thousands of readings takes a few system calls. A
// failed write (a full disk, a file-size limit) cuts the file back to its last
// whole line: a line cut short would read as a reading with a wrong value.
class WholeLineFile
{
public:
    static constexpr qsizetype kBlockBytes = 1 << 20;

    // `file` is open on the file at `path`.
    WholeLineFile(QFile &file, const QString &path);

    // Room for one more line of at most maxBytes: a pointer to write it to.
    // Commit then says how many bytes the line took; it must end in '\n'.
    char *Reserve(qsizetype maxBytes);
    bool Commit(qsizetype bytes);
    bool Append(const QByteArray &lines);

    // Writes what is left and makes the file durable. False when any write
    // or the sync failed.
    bool Finish();

private:
    bool WriteBlock();

    QFile &m_file;
    const QString m_strPath;
    QByteArray m_block;
    qsizetype m_nUsed = 0;
    qint64 m_nWhole = 0; // bytes of the file known to hold whole lines
    bool m_bFailed = false;
};
