#include "alarmdesk.h"

#include <QDateTime>
#include <QUrl>

#include <algorithm>

namespace {

constexpr int kTries = 5;

bool IsAlarm(const QString &event)
{
    return event.startsWith(QLatin1String("alarm-")) ? event != QLatin1String("alarm-clear") && event != QLatin1String("alarm-ack")
                                                     : event == QLatin1String("station-lost")
            || event == QLatin1String("collector-broker-lost");
}

QStringList Recipients(const NotifyChannel &channel)
{
    return channel.kind == NotifyChannel::Kind::Email ? channel.to : QStringList {QUrl(channel.url).host()};
}

} // namespace

AlarmDesk::AlarmDesk(NotifyConfig config, const QString &logPath, QObject *parent)
    : QObject(parent)
    , m_config(std::move(config))
    , m_log(logPath)
{
    m_clock.start();
    connect(&m_sender, &NotifySender::Sent, this, &AlarmDesk::OnSent);
    // Steps may be fractions of a minute (0.1 is 6 s).
    m_tick.setInterval(200);
    connect(&m_tick, &QTimer::timeout, this, &AlarmDesk::Tick);
    m_tick.start();
}

void AlarmDesk::TakeEvent(const QString &station, const QString &event, qint64 utcMs, std::optional<double> celsius,
                          const QString &text, const QString &user)
{
    if (event == QLatin1String("run-start")) {
        m_comments.insert(station, text.section(QLatin1Char(' '), 1).simplified()); // after the first file's number
        m_recording.insert(station);
        return;
    }
    if (event == QLatin1String("run-stop")) {
        m_recording.remove(station);
        return;
    }
    if (IsAlarm(event)) {
        const auto rule = std::find_if(m_config.rules.begin(), m_config.rules.end(),
                                       [&](const NotifyRule &candidate) { return candidate.Matches(station, event); });
        if (rule == m_config.rules.end())
            return;
        const bool flooding = CountRaise(rule->notify); // a repeat counts too
        const QString key = Key(station, text);
        if (m_open.contains(key))
            return; // told already, and not yet acknowledged
        Open open;
        open.notice.kind = AlarmNotice::Kind::Raised;
        open.notice.station = station;
        open.notice.event = event;
        open.notice.utcMs = utcMs;
        open.notice.celsius = celsius;
        open.notice.text = text;
        open.notice.comment = m_comments.value(station);
        open.notice.overview = m_config.overview;
        open.rule = &*rule;
        open.raisedSteadyMs = m_clock.elapsed();
        open.told = rule->notify;
        if (!flooding)
            Deliver(open.notice, rule->notify, true);
        m_open.insert(key, open);
        return; // the first rule that matches
    }
    const bool cleared = event == QLatin1String("alarm-clear");
    if (!cleared && event != QLatin1String("alarm-ack"))
        return;
    // An acknowledgement's text is the wording, with " — " and a reason when one was given.
    for (auto open = m_open.begin(); open != m_open.end(); ++open) {
        const AlarmNotice &raised = open->notice;
        if (raised.station != station || (text != raised.text && !text.startsWith(raised.text + QStringLiteral(" — "))))
            continue;
        AlarmNotice followUp = raised;
        followUp.kind = cleared ? AlarmNotice::Kind::Cleared : AlarmNotice::Kind::Acknowledged;
        followUp.followUpMs = utcMs;
        followUp.acknowledged = !cleared;
        followUp.user = user;
        followUp.reason = text.mid(raised.text.size() + 3); // after " — "
        followUp.event = event;
        Deliver(followUp, open->told, cleared); // an acknowledgement goes at once
        if (!cleared)
            m_open.erase(open); // its escalation stops
        return;
    }
}

void AlarmDesk::TakeStatus(const QString &station, const QByteArray &payload)
{
    if (payload.trimmed() != "offline" || !m_recording.remove(station))
        return;
    TakeEvent(station, QStringLiteral("station-lost"), QDateTime::currentMSecsSinceEpoch(), std::nullopt,
              QStringLiteral("Станция пропала во время записи"), QString());
}

void AlarmDesk::Escalate()
{
    const qint64 now = m_clock.elapsed();
    for (Open &open : m_open) {
        const std::vector<NotifyRule::Step> &steps = open.rule->escalate;
        while (open.nextStep < steps.size() && now - open.raisedSteadyMs >= qint64(steps[open.nextStep].minutes * 60000)) {
            AlarmNotice again = open.notice;
            again.kind = AlarmNotice::Kind::StillUnacknowledged;
            Deliver(again, steps[open.nextStep].channels, false);
            for (const QString &channel : steps[open.nextStep].channels)
                if (!open.told.contains(channel))
                    open.told << channel;
            ++open.nextStep;
        }
    }
}

void AlarmDesk::Tick()
{
    Escalate();
    const qint64 now = m_clock.elapsed();
    const qint64 floodMs = qint64(m_config.floodMinutes * 60000);
    while (!m_raised.empty() && now - m_raised.front() >= floodMs)
        m_raised.pop_front();
    if (m_bFlood && m_raised.empty()) {
        // Quiet for the flood's minutes: it is over, and said so once.
        m_bFlood = false;
        Tell(LabNotice(QStringLiteral("flood-end"), QStringLiteral("Поток тревог закончился: всего %1").arg(m_nFloodAlarms)),
             m_floodChannels);
    }
    FlushGroups(false);
}

void AlarmDesk::FlushGroups(bool all)
{
    const qint64 now = m_clock.elapsed();
    for (auto group = m_groups.begin(); group != m_groups.end(); ++group) {
        if (group->lines.isEmpty() || (!all && group->windowEndsMs > now))
            continue;
        AlarmNotice notice = LabNotice(QStringLiteral("grouped"), QStringLiteral("Ещё сообщений: %1").arg(group->lines.size()));
        notice.station = group->station;
        notice.details = group->lines;
        Tell(notice, {group->channel});
        group->lines.clear();
        group->windowEndsMs = now + qint64(m_config.groupMinutes * 60000);
    }
}

AlarmNotice AlarmDesk::LabNotice(const QString &event, const QString &text) const
{
    AlarmNotice notice;
    notice.kind = AlarmNotice::Kind::Notice;
    notice.station = QStringLiteral("Лаборатория");
    notice.event = event;
    notice.utcMs = QDateTime::currentMSecsSinceEpoch();
    notice.text = text;
    notice.overview = m_config.overview;
    return notice;
}

bool AlarmDesk::CountRaise(const QStringList &channels)
{
    m_raised.push_back(m_clock.elapsed());
    if (m_bFlood) {
        ++m_nFloodAlarms;
        return true;
    }
    if (qsizetype(m_raised.size()) <= m_config.floodCount)
        return false;
    // One message stands for all of them; what was waiting in groups is in its count.
    m_bFlood = true;
    m_nFloodAlarms = int(m_raised.size());
    m_floodChannels = channels;
    for (Group &group : m_groups)
        group.lines.clear();
    Tell(LabNotice(QStringLiteral("flood"), QStringLiteral("Поток тревог: %1 за %2 мин").arg(m_nFloodAlarms).arg(m_config.floodMinutes)),
         channels);
    return true;
}

void AlarmDesk::Deliver(const AlarmNotice &notice, const QStringList &channels, bool groupable)
{
    if (m_bFlood)
        return; // the flood's message and its end stand for it
    const qint64 now = m_clock.elapsed();
    for (const QString &channel : channels) {
        Group &group = m_groups[notice.station + QLatin1Char('\n') + channel];
        if (groupable && group.windowEndsMs > now) {
            const qint64 at = notice.followUpMs ? notice.followUpMs : notice.utcMs;
            group.lines << QDateTime::fromMSecsSinceEpoch(at).toString(QStringLiteral("HH:mm:ss ")) + NoticeSubject(notice).mid(notice.station.size() + 2);
            continue;
        }
        group.station = notice.station;
        group.channel = channel;
        if (groupable)
            group.windowEndsMs = now + qint64(m_config.groupMinutes * 60000);
        Tell(notice, {channel});
    }
}

void AlarmDesk::Tell(const AlarmNotice &notice, const QStringList &channels)
{
    for (const QString &name : channels) {
        const NotifyChannel *channel = m_config.Channel(name);
        if (!channel)
            continue;
        Pending pending;
        pending.notice = notice;
        pending.job.id = m_nNextId++;
        pending.job.channel = *channel;
        if (channel->kind == NotifyChannel::Kind::Email) {
            pending.job.payload = MailMessage(channel->from, channel->to, notice);
        } else {
            const WebhookPost post = WebhookMessage(channel->format, notice);
            pending.job.payload = post.body;
            pending.job.headers = post.headers;
        }
        const qint64 id = pending.job.id;
        m_pending.emplace(id, std::move(pending));
        SendJob(id);
    }
}

void AlarmDesk::SendJob(qint64 id)
{
    const auto found = m_pending.find(id);
    if (found != m_pending.end())
        m_sender.Send(found->second.job);
}

void AlarmDesk::OnSent(qint64 id, const QString &error)
{
    const auto found = m_pending.find(id);
    if (found == m_pending.end())
        return;
    Pending &pending = found->second;
    const NotifyChannel &channel = pending.job.channel;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (error.isEmpty()) {
        m_log.Append(now, channel.name, Recipients(channel), pending.notice.station, pending.notice.event, QStringLiteral("sent"));
        emit Said(QStringLiteral("notify: %1 told on %2 of %3").arg(pending.notice.station, channel.name, pending.notice.event));
        m_pending.erase(found);
        return;
    }
    ++pending.attempts;
    const bool givenUp = pending.attempts >= kTries;
    m_log.Append(now, channel.name, Recipients(channel), pending.notice.station, pending.notice.event,
                 (givenUp ? QStringLiteral("given up: ") : QStringLiteral("failed: ")) + error);
    emit Said(QStringLiteral("notify: %1 failed (%2)%3").arg(channel.name, error, givenUp ? QStringLiteral(", given up") : QString()));
    // Its failure goes out through the other channels, once per message.
    if (pending.attempts == 1 && pending.notice.event != QLatin1String("notify-failed")) {
        AlarmNotice failed;
        failed.kind = AlarmNotice::Kind::Notice;
        failed.station = pending.notice.station;
        failed.event = QStringLiteral("notify-failed");
        failed.utcMs = now;
        failed.text = QStringLiteral("Не удалось отправить сообщение через канал %1: %2").arg(channel.name, error);
        failed.overview = m_config.overview;
        for (const NotifyRule &rule : m_config.rules) {
            if (rule.Matches(pending.notice.station, failed.event)) {
                QStringList others = rule.notify;
                others.removeAll(channel.name);
                Tell(failed, others);
                break;
            }
        }
    }
    if (givenUp) {
        m_pending.erase(found);
        return;
    }
    // Tried again after 2, 4, 8, 16 s.
    QTimer::singleShot(1000 << pending.attempts, this, [this, id] { SendJob(id); });
}
