#include "alarmwatch.h"

#include <QDateTime>

AlarmWatch::AlarmWatch(QObject *parent)
    : QObject(parent)
{
}

void AlarmWatch::Begin(const AlarmLimits &limits)
{
    m_monitor.Start(limits);
    m_bWatching = true;
    m_bDeviceGone = false;
    m_newest.reset();
}

void AlarmWatch::SetLimits(const AlarmLimits &limits)
{
    if (!m_bWatching)
        return;
    std::vector<AlarmChange> changes = m_monitor.SetLimits(limits);
    for (AlarmChange &change : changes)
        change.atMs = QDateTime::currentMSecsSinceEpoch();
    Tell(changes);
}

void AlarmWatch::End()
{
    m_bWatching = false;
}

void AlarmWatch::TakeReadings(const FeedReadings &readings)
{
    if (!m_bWatching)
        return;
    for (const TempSample &reading : readings.readings) {
        m_newest = reading.temperature;
        // An instant that is not known (0) is now.
        const qint64 ms = reading.utcMs != 0 ? reading.utcMs : QDateTime::currentMSecsSinceEpoch();
        Tell(m_monitor.Reading(ms, reading.temperature));
    }
}

void AlarmWatch::TakeLine(const LineState &line)
{
    if (!m_bWatching || !line.reading)
        return;
    m_bDeviceGone = line.deviceGone;
    std::vector<AlarmChange> changes = m_monitor.Line(LineClockMs(), line.runStartMs, line.lastFrameMs, line.deviceGone);
    for (AlarmChange &change : changes)
        change.atMs = QDateTime::currentMSecsSinceEpoch(); // told by the wall clock, as readings are
    Tell(changes);
}

void AlarmWatch::Acknowledge()
{
    Tell(m_monitor.Acknowledge(QDateTime::currentMSecsSinceEpoch()));
}

void AlarmWatch::Tell(const std::vector<AlarmChange> &changes)
{
    for (const AlarmChange &change : changes) {
        if (change.type == AlarmChange::Type::Raised) {
            m_raisedValue[static_cast<size_t>(change.kind)] = change.value;
            m_raisedAtMs[static_cast<size_t>(change.kind)] = change.atMs;
        }
        emit Changed(change, AlarmWording(change.kind, m_monitor.Limits(), m_bDeviceGone), m_newest);
    }
}

bool AlarmWatch::AnyUnacknowledged() const
{
    for (int i = 0; i < kAlarmKinds; ++i)
        if (m_monitor.IsUnacknowledged(static_cast<AlarmKind>(i)))
            return true;
    return false;
}

QString AlarmWatch::Text() const
{
    QString first;
    int more = 0;
    for (int i = 0; i < kAlarmKinds; ++i) {
        const auto kind = static_cast<AlarmKind>(i);
        if (!m_monitor.IsShown(kind))
            continue;
        if (!first.isEmpty()) {
            ++more;
            continue;
        }
        const double value = RaisedValue(kind);
        QString measured;
        if (kind == AlarmKind::High || kind == AlarmKind::Low)
            measured = QStringLiteral(": %1 °C").arg(value, 0, 'f', 1);
        else if (kind == AlarmKind::Rate)
            measured = QStringLiteral(": %1 °C/мин").arg(value, 0, 'f', 1);
        const QString since = QDateTime::fromMSecsSinceEpoch(m_raisedAtMs[static_cast<size_t>(i)]).toString(QStringLiteral("HH:mm:ss"));
        first = AlarmWording(kind, m_monitor.Limits(), m_bDeviceGone) + measured + QStringLiteral(" с ") + since;
        if (!m_monitor.IsRaised(kind))
            first += QStringLiteral(" · снято");
    }
    if (more > 0)
        first += QStringLiteral(" (и ещё %1)").arg(more);
    return first;
}
