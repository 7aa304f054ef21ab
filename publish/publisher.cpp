#include "publisher.h"

#include "linestate.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <functional>

namespace {

qint64 NowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

const char *LineWord(const LineState &line)
{
    switch (LineStatus::Of(line, LineClockMs()).kind) {
    case LineStatus::Kind::Live:
        return "ok";
    case LineStatus::Kind::Silent:
        return "silent";
    case LineStatus::Kind::Gone:
        return "gone";
    }
    return "ok";
}

} // namespace

Publisher::Publisher(RunFeed &feed, QString outboxFolder, QString instrument, QObject *parent)
    : QObject(parent)
    , m_feed(feed)
    , m_strOutboxFolder(std::move(outboxFolder))
    , m_strInstrument(std::move(instrument))
{
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &Publisher::EverySecond);
    connect(&m_link, &MqttLink::Connected, this, &Publisher::OnConnected);
    connect(&m_link, &MqttLink::Disconnected, this, &Publisher::OnDisconnected);
    connect(&m_link, &MqttLink::Refused, this, &Publisher::OnRefused);
    connect(&m_link, &MqttLink::Acknowledged, this, &Publisher::OnAcknowledged);
    // Requests for readings again come on the station's own topic.
    connect(&m_link, &MqttLink::Message, this, [this](const QByteArray &topic, const QByteArray &payload) {
        if (topic == TopicOf("resend"))
            emit ResendRequested(payload);
    });
}

Publisher::~Publisher()
{
    SayGoodbye();
    m_outbox.Sync();
}

void Publisher::SayGoodbye()
{
    // A clean end says what the last will would say for a broken one.
    if (m_link.IsConnected())
        m_link.Publish(TopicOf("status"), QByteArrayLiteral("offline"), 1, true);
    m_link.Close();
}

QByteArray Publisher::TopicOf(const char *leaf) const
{
    return publishpayloads::Topic(m_settings.topic, m_strStation, leaf);
}

QByteArray Publisher::TopicOf(const OutboxItem &item, const char *leaf) const
{
    // An item goes where it was recorded to go, whatever is set since.
    if (item.station.isEmpty() || item.topic.isEmpty())
        return TopicOf(leaf);
    return publishpayloads::Topic(item.topic, item.station, leaf);
}

OutboxAddress Publisher::Address() const
{
    return {m_strStation, m_settings.topic.trimmed()};
}

void Publisher::Configure(const PublishSettings &settings)
{
    if (settings == m_settings && (m_outbox.IsOpen() || !settings.IsOn()))
        return;
    SayGoodbye();
    m_inFlight.clear();
    m_held.reset();
    m_settings = settings;
    m_strStation = StationName(settings, m_strInstrument);
    m_strProblem.clear();
    m_strRefusal = settings.IsOn() ? PublishSettingsProblem(settings) : QString();
    if (!settings.IsOn() || !m_strRefusal.isEmpty()) {
        // Refused settings publish nothing, and the line says why.
        m_outbox.Close(); // what waits in it stays on disk for when publishing is on again
        m_timer.stop();
        UpdateState();
        return;
    }
    const qint64 limit = qint64(std::max(1, settings.outboxMB)) * 1024 * 1024;
    if (!m_outbox.IsOpen()) {
        switch (m_outbox.Open(m_strOutboxFolder, limit)) {
        case Outbox::OpenResult::Opened:
            break;
        case Outbox::OpenResult::HeldByOther:
            m_strProblem = QStringLiteral("очередь публикации занята другой копией программы");
            break;
        case Outbox::OpenResult::NotWritable:
            m_strProblem = QStringLiteral("не удаётся вести очередь публикации в папке %1").arg(m_strOutboxFolder);
            break;
        }
    }
    if (!m_outbox.IsOpen()) {
        UpdateState();
        return;
    }
    m_outbox.SetLimit(limit);
    m_outbox.SetKeep(qint64(std::max(0, settings.keepHours)) * 3600 * 1000);
    TellDropped();

    MqttEndpoint endpoint;
    endpoint.host = settings.host.trimmed();
    endpoint.port = settings.port;
    endpoint.tls = settings.tls;
    endpoint.caFile = settings.caFile;
    endpoint.user = settings.user;
    endpoint.password = settings.password;
    endpoint.clientId = QStringLiteral("calorivista-") + m_strStation;
    endpoint.cleanSession = true;
    endpoint.willTopic = TopicOf("status");
    endpoint.willPayload = QByteArrayLiteral("offline");
    endpoint.willRetain = true;
    m_link.Open(endpoint);
    m_timer.start();
    UpdateState();
}

void Publisher::TakeReadings(const FeedReadings &readings)
{
    if (readings.readings.empty())
        return;
    const TempSample &newest = readings.readings.back();
    m_last.t = newest.utcMs;
    m_last.c = newest.temperature;
    m_bHaveReading = true;
    if (!m_outbox.IsOpen() || !m_run)
        return;
    // Batches are closed by a steady clock: a wall clock set back holds nothing.
    const bool written = m_outbox.AppendReadings(Address(), *m_run, readings.first, LineClockMs(), readings.readings);
    if (written != !m_bOutboxFailing) {
        m_bOutboxFailing = !written;
        if (!written)
            qWarning("The publishing outbox in %s cannot be written", qPrintable(m_strOutboxFolder));
        UpdateState();
    }
    TellDropped();
    Pump();
}

void Publisher::TakeLine(const LineState &line)
{
    m_last.line = QString::fromLatin1(LineWord(line));
}

void Publisher::SetAlarm(const QString &text)
{
    m_last.alarm = text;
}

void Publisher::TakeEvent(const RunEvent &event)
{
    if (event.event == QLatin1String("run-start")) {
        m_run = event.utcMs; // the run's id: its start
        m_last.run = m_run;
        m_nRunReadings = 0;
    }
    if (m_outbox.IsOpen()) {
        // Filed by its run, never by time: a clock set back must not move it.
        const bool stop = event.event == QLatin1String("run-stop");
        m_outbox.AppendEvent(Address(), publishpayloads::Event(event, m_run, stop && m_run ? std::optional(m_nRunReadings) : std::nullopt));
        TellDropped();
    }
    if (event.event == QLatin1String("run-stop")) {
        m_run.reset();
        m_last.run.reset();
        m_outbox.Sync();
    }
    Pump();
}

void Publisher::TakeChainLine(const QString &folder, const QByteArray &line)
{
    if (!m_outbox.IsOpen())
        return;
    m_outbox.AppendChainLine(Address(), publishpayloads::ChainLine(folder, line));
    Pump();
}

void Publisher::SetStationKey(const QByteArray &payload)
{
    if (payload == m_stationKey)
        return;
    m_stationKey = payload;
    if (m_link.IsConnected() && !m_stationKey.isEmpty())
        m_link.Publish(TopicOf("key"), m_stationKey, 1, true);
}

void Publisher::TellDropped()
{
    const auto tell = [this](qint64 readings, const char *why) {
        if (readings <= 0)
            return;
        RunEvent event;
        event.utcMs = NowMs();
        event.event = QStringLiteral("publish-dropped");
        event.temperature = m_last.c;
        event.text = QStringLiteral("Очередь публикации %1: %2 показаний не опубликовано (они есть в файлах данных)")
                         .arg(QString::fromUtf8(why))
                         .arg(readings);
        m_feed.Post(event);
    };
    tell(m_outbox.TakeDropped(), "переполнена");
    tell(m_outbox.TakeDamaged(), "повреждена");
}

void Publisher::OnConnected()
{
    m_inFlight.clear();
    m_held.reset();
    m_outbox.Rewind();
    m_strProblem.clear();
    m_link.Publish(TopicOf("status"), QByteArrayLiteral("online"), 1, true);
    if (!m_stationKey.isEmpty())
        m_link.Publish(TopicOf("key"), m_stationKey, 1, true); // what its chain lines are signed with
    m_link.Subscribe(TopicOf("resend"), 1);
    m_lastSent.reset();
    if (!m_bHaveReading) {
        // Nothing read since the start: the retained "last" of a run killed
        // before it must not say that one still records.
        publishpayloads::Last idle;
        idle.t = NowMs();
        m_link.Publish(TopicOf("last"), publishpayloads::LastPayload(idle), 1, true);
    }
    PublishLast();
    Pump();
    UpdateState();
}

void Publisher::OnDisconnected(const QString &)
{
    m_resentInFlight.clear(); // what was sent again goes nowhere now: the collector asks again
    emit LinkLost();
    // What was in flight goes again from the outbox on the next connection.
    m_inFlight.clear();
    m_held.reset();
    UpdateState();
}

void Publisher::OnRefused(MqttLink::Refusal refusal, const QString &reason)
{
    m_strProblem = refusal == MqttLink::Refusal::Credentials
        ? QStringLiteral("брокер отклонил имя или пароль")
        : QStringLiteral("брокер не принят по TLS (%1)").arg(reason);
    RunEvent event;
    event.utcMs = NowMs();
    event.event = QStringLiteral("publish-refused");
    event.temperature = m_bHaveReading ? m_last.c : std::nullopt;
    event.text = QStringLiteral("MQTT: ") + m_strProblem;
    m_feed.Post(event);
    UpdateState();
}

void Publisher::OnAcknowledged(int messageId)
{
    if (m_resentInFlight.erase(messageId) > 0) {
        emit ResentAcknowledged();
        return;
    }
    for (InFlight &sent : m_inFlight) {
        if (sent.messageId == messageId) {
            sent.acknowledged = true;
            break;
        }
    }
    bool progressed = false;
    while (!m_inFlight.empty() && m_inFlight.front().acknowledged) {
        m_outbox.Acknowledge(m_inFlight.front().end, m_inFlight.front().readings);
        m_inFlight.pop_front();
        progressed = true;
    }
    if (progressed) {
        Pump();
        UpdateState();
    }
}

qint64 Publisher::Finish(int timeoutMs, const std::function<bool(qint64 pending)> &keepWaiting)
{
    m_outbox.Sync();
    if (!m_settings.IsOn() || !m_strRefusal.isEmpty() || !m_outbox.IsOpen())
        return 0;
    // A link waiting out its back-off tries at once: the close is the last chance before the next start.
    m_link.AttemptNow();
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < timeoutMs) {
        Pump();
        // The station's last state goes too, still at most once a second.
        if (m_link.IsConnected() && NowMs() - m_nLastSentAtMs >= 1000)
            PublishLast();
        const bool lastSent = !m_bHaveReading || m_lastSent == m_last || !m_link.IsConnected();
        if (m_inFlight.empty() && m_outbox.IsEmpty() && lastSent && !m_link.WantsWrite())
            break;
        if (keepWaiting && !keepWaiting(m_outbox.PendingReadings()))
            break;
        QEventLoop wait;
        QTimer::singleShot(50, &wait, &QEventLoop::quit);
        wait.exec(QEventLoop::ExcludeUserInputEvents);
    }
    return m_outbox.PendingReadings();
}

void Publisher::Pump()
{
    if (!m_link.IsConnected() || !m_outbox.IsOpen())
        return;
    while (int(m_inFlight.size()) < kWindow) {
        std::optional<OutboxItem> next = m_outbox.Next();
        if (!m_held) {
            if (!next)
                break;
            if (next->kind != OutboxItem::Kind::Readings) {
                if (!Send(*next))
                    return;
                continue;
            }
            m_held = std::move(next);
            continue;
        }
        OutboxItem &batch = *m_held;
        const auto size = batch.readings.size();
        if (next) {
            const qint64 apart = next->arrivedMs - batch.arrivedMs;
            const bool joins = next->kind == OutboxItem::Kind::Readings && next->run == batch.run
                && next->seq == batch.seq + qint64(size) && apart >= 0 && apart < kBatchSpanMs
                && next->station == batch.station && next->topic == batch.topic
                && size + next->readings.size() <= size_t(Outbox::kMaxReadingsPerItem);
            if (joins) {
                batch.readings.insert(batch.readings.end(), next->readings.begin(), next->readings.end());
                batch.end = next->end;
                continue;
            }
            const bool sent = Send(batch);
            m_held = std::move(next);
            if (!sent)
                return;
            if (m_held->kind != OutboxItem::Kind::Readings) {
                const bool eventSent = Send(*m_held);
                m_held.reset();
                if (!eventSent)
                    return;
            }
            continue;
        }
        // Nothing more yet: the batch goes once it can no longer grow.
        // (Its arrival by another session's steady clock: it is old, it goes.)
        const qint64 age = LineClockMs() - batch.arrivedMs;
        const bool complete = batch.run != m_run || age >= kBatchSpanMs || age < 0
            || size >= size_t(Outbox::kMaxReadingsPerItem);
        if (complete) {
            const bool sent = Send(batch);
            m_held.reset();
            if (!sent)
                return;
        }
        break;
    }
}

bool Publisher::CanSendResent() const
{
    // The live readings first: only while their window has room, all of
    // them are in it already.
    return m_link.IsConnected() && int(m_inFlight.size()) < kWindow && int(m_resentInFlight.size()) < kResentWindow;
}

bool Publisher::SendResent(qint64 run, qint64 seq, std::span<const OutboxReading> readings)
{
    if (!CanSendResent())
        return false;
    const int messageId = m_link.Publish(TopicOf("readings"), publishpayloads::Readings(run, seq, readings, true), 1, false);
    if (messageId < 0)
        return false;
    m_resentInFlight.insert(messageId);
    return true;
}

bool Publisher::SendResentSummary(const QByteArray &payload)
{
    if (!m_link.IsConnected())
        return false;
    return m_link.Publish(TopicOf("resent"), payload, 1, false) >= 0;
}

bool Publisher::Send(const OutboxItem &item)
{
    const bool readings = item.kind == OutboxItem::Kind::Readings;
    const QByteArray payload = readings ? publishpayloads::Readings(item.run, item.seq, item.readings) : item.event;
    const char *leaf = readings ? "readings" : item.kind == OutboxItem::Kind::Chain ? "chain" : "events";
    const int messageId = m_link.Publish(TopicOf(item, leaf), payload, 1, false);
    if (messageId < 0)
        return false;
    m_inFlight.push_back({messageId, item.end, qint64(item.readings.size()), false});
    return true;
}

void Publisher::EverySecond()
{
    m_outbox.Sync();
    if (++m_nSeconds % 60 == 0)
        m_outbox.Expire(); // what was kept long enough goes
    Pump();
    TellDropped(); // what a damaged record of the outbox held, found while sending
    PublishLast();
    UpdateState();
}

void Publisher::PublishLast()
{
    if (!m_link.IsConnected() || !m_bHaveReading || m_lastSent == m_last)
        return;
    if (m_link.Publish(TopicOf("last"), publishpayloads::LastPayload(m_last), 1, true) >= 0) {
        m_lastSent = m_last;
        m_nLastSentAtMs = NowMs();
    }
}

void Publisher::UpdateState()
{
    QString text;
    if (m_settings.IsOn() && !m_strRefusal.isEmpty()) {
        text = QStringLiteral("MQTT: ") + m_strRefusal;
    } else if (m_settings.IsOn()) {
        const qint64 waiting = m_outbox.PendingReadings();
        if (!m_strProblem.isEmpty()) {
            text = QStringLiteral("MQTT: ") + m_strProblem;
        } else if (m_link.IsConnected()) {
            text = waiting > Outbox::kMaxReadingsPerItem
                ? QStringLiteral("MQTT: передаётся очередь (%1 показ.)").arg(waiting)
                : QStringLiteral("MQTT: на связи");
        } else {
            text = QStringLiteral("MQTT: нет связи с брокером");
            if (waiting > 0)
                text += QStringLiteral(" · в очереди %1 показ.").arg(waiting);
        }
        if (m_bOutboxFailing)
            text += QStringLiteral(" · очередь не записывается");
    }
    if (text != m_strState) {
        m_strState = text;
        emit StateChanged(text);
    }
}
