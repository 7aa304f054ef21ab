#include "recordchain.h"

#include "csvwriter.h"
#include "durablefile.h"
#include "localtimeline.h"
#include "nativefs.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

void RecordChain::Open(const QString &folder)
{
    m_strFolder = folder;
    m_nLast = 0;
    m_lastChain = ChainLine::ChainStart();
    m_entered.clear();
    m_bTornEnd = false;
    QFile file;
    if (!OpenNamedFile(file, QDir(folder).filePath(QLatin1String(kFileName)), QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.read(ChainLine::kMaxFileBytes);
    m_bTornEnd = !bytes.isEmpty() && !bytes.endsWith('\n');
    // A line that does not read is left where it is: the next lines follow
    // the last one that reads, and a check shows the break.
    const QList<QByteArray> lines = bytes.split('\n');
    for (QByteArray text : lines) {
        if (text.endsWith('\r'))
            text.chop(1);
        const std::optional<ChainLine> line = ChainLine::Parse(text);
        if (!line)
            continue;
        m_nLast = std::max(m_nLast, line->number);
        m_lastChain = line->chain;
        m_entered.insert(line->file, FileDigest {line->size, line->sha256});
    }
}

void RecordChain::Close()
{
    m_strFolder.clear();
    m_entered.clear();
}

std::optional<ChainLine> RecordChain::Enter(const QString &name, const StationKey &key, bool onlyIfChanged, bool *failed)
{
    if (failed)
        *failed = false;
    if (!IsOpen())
        return std::nullopt;
    const std::optional<FileDigest> digest = DigestOfFile(QDir(m_strFolder).filePath(name));
    if (!digest)
        return std::nullopt;
    const auto entered = m_entered.constFind(name);
    if (onlyIfChanged && entered != m_entered.constEnd() && entered->size == digest->size
        && entered->sha256 == digest->sha256)
        return std::nullopt;
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    char time[40];
    LocalTimeLine timeLine;
    const char *end = WriteIsoTime(time, nowMs, timeLine.OffsetAt(nowMs));
    const ChainLine line = ChainLine::Make(m_nLast + 1, QByteArray(time, end - time), name, digest->size,
                                           digest->sha256, m_lastChain, key);
    if (line.signature.isEmpty() || !Append(line)) {
        if (failed)
            *failed = true;
        return std::nullopt;
    }
    m_nLast = line.number;
    m_lastChain = line.chain;
    m_entered.insert(name, *digest);
    return line;
}

bool RecordChain::Append(const ChainLine &line)
{
    const QString path = QDir(m_strFolder).filePath(QLatin1String(kFileName));
    const bool existed = PathExists(path);
    QFile file;
    if (!OpenNamedFile(file, path, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    QByteArray bytes = line.Text() + "\r\n";
    if (file.size() == 0)
        bytes.prepend(ChainLine::kHeader);
    else if (m_bTornEnd)
        bytes.prepend("\r\n"); // the torn line stays a line of its own
    const qint64 whole = file.size();
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        file.resize(whole);
        return false;
    }
    m_bTornEnd = false;
    return SyncData(file) && (existed || SyncFolder(m_strFolder));
}
