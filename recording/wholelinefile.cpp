#include "wholelinefile.h"

#include "durablefile.h"

#include <QFile>

WholeLineFile::WholeLineFile(QFile &file, const QString &path)
    : m_file(file)
    , m_strPath(path)
    , m_block(kBlockBytes, Qt::Uninitialized)
{
}

char *WholeLineFile::Reserve(qsizetype maxBytes)
{
    if (m_nUsed + maxBytes > m_block.size() && m_nUsed > 0)
        WriteBlock();
    if (maxBytes > m_block.size())
        m_block.resize(maxBytes);
    return m_block.data() + m_nUsed;
}

bool WholeLineFile::Commit(qsizetype bytes)
{
    Q_ASSERT(m_nUsed + bytes <= m_block.size());
    m_nUsed += bytes;
    return !m_bFailed;
}

bool WholeLineFile::Append(const QByteArray &lines)
{
    char *out = Reserve(lines.size());
    std::copy(lines.cbegin(), lines.cend(), out);
    return Commit(lines.size());
}

bool WholeLineFile::WriteBlock()
{
    const qsizetype used = std::exchange(m_nUsed, 0);
    if (m_bFailed || used == 0)
        return !m_bFailed;
    const qint64 written = m_file.write(m_block.constData(), used);
    if (written == used) {
        m_nWhole += used;
        return true;
    }
    // Whatever part of the block reached the file, it keeps only the lines
    // that reached it whole.
    m_bFailed = true;
    if (written > 0) {
        const qsizetype lastEnd = QByteArrayView(m_block.constData(), written).lastIndexOf('\n');
        m_nWhole += lastEnd + 1;
    }
    m_file.resize(m_nWhole);
    return false;
}

bool WholeLineFile::Finish()
{
    return WriteBlock() && SyncToDisk(m_file, m_strPath);
}
