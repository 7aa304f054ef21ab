#include "eventlog.h"

#include "csvwriter.h"
#include "durablefile.h"
#include "localtimeline.h"
#include "nativefs.h"

#include <QFile>

void EventLog::SetFolder(const QString &folder)
{
    m_strFolder = folder;
    m_withUser.reset();
}

QString EventLog::Path() const
{
    return m_strFolder + QLatin1Char('/') + QLatin1String(kFileName);
}

QByteArray EventLog::Line(const RunEvent &event, LocalTimeLine &timeLine, bool withUser)
{
    char time[40];
    const char *end = WriteIsoTime(time, event.utcMs, timeLine.OffsetAt(event.utcMs));
    QByteArray line(time, end - time);
    line += ',' + CsvField(event.event) + ',';
    if (event.temperature)
        line += QByteArray::number(*event.temperature, 'f', 1);
    line += ',' + CsvField(event.text);
    if (withUser)
        line += ',' + CsvField(event.user);
    return line + "\r\n";
}

bool EventLog::Append(const RunEvent &event)
{
    if (m_strFolder.isEmpty())
        return false;
    const QString path = Path();
    const bool existed = PathExists(path);
    QFile file;
    if (!OpenNamedFile(file, path, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    if (file.size() == 0)
        m_withUser = true;
    else if (!m_withUser) {
        QFile existing;
        m_withUser = OpenNamedFile(existing, path, QIODevice::ReadOnly) && existing.readLine(256).startsWith(kHeaderWithUser);
    }
    LocalTimeLine timeLine;
    QByteArray bytes = Line(event, timeLine, *m_withUser);
    if (file.size() == 0)
        bytes.prepend(kHeaderWithUser);
    // A line written in part is cut off again: the file keeps only whole lines.
    const qint64 whole = file.size();
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        file.resize(whole);
        return false;
    }
    if (!SyncData(file))
        return false;
    // A new file's name is durable only with its folder.
    return existed || SyncFolder(m_strFolder);
}
