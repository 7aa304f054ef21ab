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

#include <deque>
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
    // A station's message on each channel, or a line of the next one when the
    // channel was told of it within the group's minutes; nothing one by one
    // in a flood.
    // Raises and clears are grouped; escalations and acknowledgements go at once.
    void Deliver(const AlarmNotice &notice, const QStringList &channels, bool groupable);
    // A raise counted against the flood's limit; true when it starts one.
    bool CountRaise(const QStringList &channels);
    void Tick();
    void FlushGroups(bool all);
    void SendJob(qint64 id);
    void OnSent(qint64 id, const QString &error);
    void Escalate();
    AlarmNotice LabNotice(const QString &event, const QString &text) const;
    QString Key(const QString &station, const QString &wording) const { return station + QLatin1Char('\n') + wording; }

    NotifyConfig m_config;
    NotifySender m_sender;
    NotificationLog m_log;
    QHash<QString, Open> m_open;          // by station and wording
    QHash<QString, QString> m_comments;   // each station's run comment
    QSet<QString> m_recording;            // stations whose run-start came and no run-stop yet
    std::map<qint64, Pending> m_pending;  // sent, or waiting to be sent again
    qint64 m_nNextId = 1;
    QTimer m_tick;
    // What a channel is told of one station within the group's minutes after
    // a message goes into one message at their end.
    struct Group
    {
        QString station;
        QString channel;
        qint64 windowEndsMs = 0;
        QStringList lines;
    };
    QHash<QString, Group> m_groups; // by station and channel
    std::deque<qint64> m_raised; // the raises within the flood's minutes
    bool m_bFlood = false;
    int m_nFloodAlarms = 0;
    QStringList m_floodChannels;
    QElapsedTimer m_clock; // steady: a clock set back delays no escalation
};
