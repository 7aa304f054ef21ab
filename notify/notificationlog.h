#pragma once

#include <QString>
#include <QStringList>

// "notifications.csv" in the collector's folder: each message sent or given
// up, as time,channel,recipients,station,event,outcome (RFC 4180, CR LF),
// each line made durable as it is written.
class NotificationLog
{
public:
    explicit NotificationLog(QString path) : m_strPath(std::move(path)) {}

    static constexpr const char *kHeader = "time,channel,recipients,station,event,outcome\r\n";

    bool Append(qint64 utcMs, const QString &channel, const QStringList &recipients, const QString &station,
                const QString &event, const QString &outcome);

private:
    QString m_strPath;
};
