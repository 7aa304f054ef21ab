#pragma once

#include "notificationlog.h"
#include "notifyconfig.h"
#include "notifymessage.h"
#include "notifysender.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <map>

// The lab's alarm desk in the collector: the stations' events as they are
// heard, told by the rules' channels at once, told again along each rule's
// escalation while unacknowledged, and followed up (cleared, acknowledged)
// to everyone who was told. A channel that fails is tried again with a
// back-off. Every message sent is kept in the notification log.
class AlarmDesk : public QObject
{
    Q_OBJECT

public:
    AlarmDesk(NotifyConfig config, const QString &logPath, QObject *parent = nullptr);

    // One station's event: `text` is its wording, `celsius` its value.
    void TakeEvent(const QString &station, const QString &event, qint64 utcMs, std::optional<double> celsius,
                   const QString &text, const QString &user);

    // A station's retained status: "offline" (its Last Will) while it was
    // recording is `station-lost`.
    void TakeStatus(const QString &station, const QByteArray &payload);

signals:
    // A line for the collector's output ("notify: …").
    void Said(const QString &line);

private:
    // An alarm raised and not yet acknowledged.
    struct Open
    {
        AlarmNotice notice;
        const NotifyRule *rule = nullptr;
        size_t nextStep = 0;  // the escalation step due next
        qint64 raisedSteadyMs = 0;
        QStringList told;     // the channels that were told of it
    };
    struct Pending
    {
        NotifyJob job;
        AlarmNotice notice;
        int attempts = 0;
    };

    void Tell(const AlarmNotice &notice, const QStringList &channels);
    void SendJob(qint64 id);
    void OnSent(qint64 id, const QString &error);
    void Escalate();
    QString Key(const QString &station, const QString &wording) const { return station + QLatin1Char('\n') + wording; }

    NotifyConfig m_config;
    NotifySender m_sender;
    NotificationLog m_log;
    QHash<QString, Open> m_open;          // by station and wording
    QHash<QString, QString> m_comments;   // each station's run comment
    QSet<QString> m_recording;            // stations whose run-start came and no run-stop yet
    std::map<qint64, Pending> m_pending;  // sent, or waiting to be sent again
    qint64 m_nNextId = 1;
    QTimer m_escalation;
    QElapsedTimer m_clock; // steady: a clock set back delays no escalation
};
