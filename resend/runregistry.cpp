#include "runregistry.h"

#include "durablefile.h"
#include "nativename.h"

#include <QDir>
#include <QFile>

namespace {

// Names are kept as the system's bytes: a folder named in KOI8-R stays found.
QByteArray Encoded(const QString &name)
{
    return ToNativeName(name).toPercentEncoding(QByteArray(), ",");
}

QString Decoded(const QByteArray &field)
{
    return FromNativeName(QByteArray::fromPercentEncoding(field));
}

} // namespace

RunRegistry::RunRegistry(QString dataFolder)
    : m_strPath(QDir(dataFolder).filePath(QStringLiteral("runs/runindex.csv")))
{
}

void RunRegistry::Append(const QByteArray &line)
{
    QDir().mkpath(QFileInfo(m_strPath).absolutePath());
    QFile file(m_strPath);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered))
        return;
    const qint64 whole = file.size();
    // A line written in part is cut off: the index only ever holds whole lines.
    if (file.write(line) != line.size() || !file.flush() || !SyncData(file))
        file.resize(whole);
}

void RunRegistry::RunStarted(qint64 run, const QString &folder, int firstFile)
{
    Append("start," + QByteArray::number(run) + ',' + Encoded(folder) + ',' + QByteArray::number(firstFile) + '\n');
}

void RunRegistry::Saved(qint64 run, const QString &file, qint64 firstSeq, qint64 readings)
{
    Append("save," + QByteArray::number(run) + ',' + Encoded(file) + ',' + QByteArray::number(firstSeq) + ','
           + QByteArray::number(readings) + '\n');
}

void RunRegistry::RunStopped(qint64 run, qint64 readings)
{
    Append("stop," + QByteArray::number(run) + ',' + QByteArray::number(readings) + '\n');
}

std::optional<RunRegistry::Entry> RunRegistry::Find(qint64 run) const
{
    QFile file(m_strPath);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    std::optional<Entry> entry;
    const QByteArray runText = QByteArray::number(run);
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        const QList<QByteArray> fields = line.split(',');
        if (fields.size() < 3)
            continue;
        if (fields[0] == "start" && fields.size() == 4) {
            if (fields[1] == runText) {
                entry = Entry {};
                entry->folder = Decoded(fields[2]);
                entry->firstFile = fields[3].toInt();
            } else if (entry && !entry->nextRunsFirstFile && fields[1].toLongLong() > run
                       && Decoded(fields[2]) == entry->folder && fields[3].toInt() > entry->firstFile) {
                entry->nextRunsFirstFile = fields[3].toInt();
            }
        } else if (entry && fields[1] == runText) {
            if (fields[0] == "save" && fields.size() == 5)
                entry->files.push_back({Decoded(fields[2]), fields[3].toLongLong(), fields[4].toLongLong()});
            else if (fields[0] == "stop")
                entry->readings = fields[2].toLongLong();
        }
    }
    return entry;
}
