#pragma once

#include "mqttlink.h"
#include "outbox.h"
#include "publishpayloads.h"
#include "publishsettings.h"
#include "runfeed.h"

#include <QObject>
#include <QTimer>

#include <deque>
#include <set>
#include <span>
#include <functional>
#include <optional>

// Publishes every reading of the runs, their events and the station's state to
// an MQTT broker. It follows the run's feed on the user-interface thread:
// what the feed hands on goes into the outbox on disk first (written at once,
// made durable each second), and is sent from there in order, in batches of
// what arrived within a second (at most 4096 readings), at QoS 1. A batch
// leaves the outbox only when the broker has acknowledged it, so a broker that
// is away, a network that hangs, or a crash of the program only delays it; the
// reader never waits for any of it.
class Publisher : public QObject
{
    Q_OBJECT

public:
    // Messages sent and not yet acknowledged, at most.
    static constexpr int kWindow = 16;
    static constexpr int kBatchSpanMs = 1000;

    // `instrument` names a second instrument on this computer, whose station
    // name is then "<host>-<instrument>" unless one is set.
    Publisher(RunFeed &feed, QString outboxFolder, QString instrument = QString(), QObject *parent = nullptr);
    // A clean end: the station says "offline" and the link closes.
    ~Publisher() override;

    // Off while no broker is set; changed settings take effect at once.
    void Configure(const PublishSettings &settings);
    // Before the program ends: a link that waits to try again tries at once,
    // and what the outbox holds is given up to `timeoutMs` to be acknowledged,
    // while `keepWaiting(readings waiting)` says so (a box the operator may
    // skip). Returns the readings left for the next start.
    qint64 Finish(int timeoutMs, const std::function<bool(qint64 pending)> &keepWaiting = {});
    bool IsOn() const { return m_settings.IsOn(); }
    bool IsConnected() const { return m_link.IsConnected(); }
    // For the window's state line; empty while publishing is off.
    QString StateText() const { return m_strState; }
    const Outbox &GetOutbox() const { return m_outbox; }

    void TakeReadings(const FeedReadings &readings);
    void TakeLine(const LineState &line);
    void TakeEvent(const RunEvent &event);
    void SetAlarm(const QString &text);
    // A line entered into the chain of the record folder `folder`: through
    // the outbox, as the events go, on "<topic>/<station>/chain".
    void TakeChainLine(const QString &folder, const QByteArray &line);
    // The station key's payload, retained on "<topic>/<station>/key" at each connection.
    void SetStationKey(const QByteArray &payload);

    // Readings sent again on a collector's request, after the live ones:
    // whether there is room now; false from SendResent when there is not.
    bool CanSendResent() const;
    bool SendResent(qint64 run, qint64 seq, std::span<const OutboxReading> readings);
    int ResentInFlight() const { return int(m_resentInFlight.size()); }
    bool SendResentSummary(const QByteArray &payload);
    // The station's name in the topics now.
    QString Station() const { return m_strStation; }
    // The run going on and how many readings it has had, as the feed numbered them.
    std::optional<qint64> Run() const { return m_run; }
    qint64 RunReadings() const { return m_nRunReadings; }
    Outbox &GetOutbox() { return m_outbox; }

    static constexpr int kResentWindow = 8;

signals:
    void StateChanged(const QString &text);
    // A request for readings again, as it came on the station's resend topic.
    void ResendRequested(const QByteArray &payload);
    void ResentAcknowledged();
    void LinkLost();

private:
    struct InFlight
    {
        int messageId = 0;
        OutboxPosition end;
        qint64 readings = 0;
        bool acknowledged = false;
    };

    void SayGoodbye();
    void OnConnected();
    void OnDisconnected(const QString &reason);
    void OnRefused(MqttLink::Refusal refusal, const QString &reason);
    void OnAcknowledged(int messageId);
    void Pump();
    bool Send(const OutboxItem &item);
    void EverySecond();
    void PublishLast();
    void TellDropped();
    void UpdateState();
    QByteArray TopicOf(const char *leaf) const;
    QByteArray TopicOf(const OutboxItem &item, const char *leaf) const;
    OutboxAddress Address() const;

    RunFeed &m_feed;
    const QString m_strOutboxFolder;
    const QString m_strInstrument;
    PublishSettings m_settings;
    QString m_strStation;
    QByteArray m_stationKey;
    Outbox m_outbox;
    MqttLink m_link;
    QTimer m_timer;

    std::optional<qint64> m_run; // the running run's id
    qint64 m_nRunReadings = 0;   // its readings so far, as numbered
    qint64 m_nSeconds = 0;
    std::set<int> m_resentInFlight; // message ids
    std::deque<InFlight> m_inFlight;
    std::optional<OutboxItem> m_held; // the batch that may still grow
    publishpayloads::Last m_last;
    std::optional<publishpayloads::Last> m_lastSent;
    qint64 m_nLastSentAtMs = 0;
    bool m_bHaveReading = false;
    bool m_bOutboxFailing = false;
    QString m_strProblem; // a refusal, or why the outbox cannot be used
    QString m_strRefusal; // why the settings themselves cannot be used
    QString m_strState;
};
