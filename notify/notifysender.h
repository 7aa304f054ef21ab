#pragma once

#include "notifyconfig.h"

#include <QObject>
#include <QThread>

// One message to send on one channel.
struct NotifyJob
{
    qint64 id = 0;
    NotifyChannel channel;
    QByteArray payload;  // the mail, or the webhook's body
    QStringList headers; // a webhook's own, before the channel's
};
Q_DECLARE_METATYPE(NotifyJob)

// Sends messages through libcurl (SMTP for e-mail, HTTP POST for webhooks)
// on a thread of its own, one at a time and each within 30 s, so a slow or
// dead server never holds the collector; each job's outcome comes back
// queued.
class NotifySender : public QObject
{
    Q_OBJECT

public:
    explicit NotifySender(QObject *parent = nullptr);
    ~NotifySender() override;

    void Send(const NotifyJob &job);

signals:
    // `error` is empty when the server took it.
    void Sent(qint64 id, const QString &error);

private:
    QThread m_thread;
    QObject *m_pWorker;
};

// Sends one job at once, on the calling thread; the error, or empty.
QString SendNow(const NotifyJob &job);
