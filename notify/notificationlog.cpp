#include "notificationlog.h"

#include "csvwriter.h"
#include "durablefile.h"
#include "localtimeline.h"

#include <QFile>

bool NotificationLog::Append(qint64 utcMs, const QString &channel, const QStringList &recipients, const QString &station,
                             const QString &event, const QString &outcome)
{
    if (m_strPath.isEmpty())
        return false;
    QFile file(m_strPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    LocalTimeLine timeLine;
    char time[40];
    const char *end = WriteIsoTime(time, utcMs, timeLine.OffsetAt(utcMs));
    QByteArray line = QByteArray(time, end - time) + ',' + CsvField(channel) + ',' + CsvField(recipients.join(QStringLiteral(" "))) + ','
        + CsvField(station) + ',' + CsvField(event) + ',' + CsvField(outcome) + "\r\n";
    if (file.size() == 0)
        line.prepend(kHeader);
    const qint64 whole = file.size();
    if (file.write(line) != line.size() || !file.flush()) {
        file.resize(whole);
        return false;
    }
    return SyncData(file);
}
