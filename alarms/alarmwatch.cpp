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
    m_raisedOrder = {};
    m_raisedWording = {};
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

void AlarmWatch::AcknowledgeShown()
{
    if (const std::optional<AlarmKind> shown = Shown())
        Tell(m_monitor.Acknowledge(*shown, QDateTime::currentMSecsSinceEpoch()));
}

QString AlarmWatch::Wording(AlarmKind kind) const
{
    const QString &raised = m_raisedWording[static_cast<size_t>(kind)];
    return raised.isEmpty() ? AlarmWording(kind, m_monitor.Limits(), m_bDeviceGone) : raised;
}

void AlarmWatch::Tell(const std::vector<AlarmChange> &changes)
{
    for (const AlarmChange &change : changes) {
        const auto i = static_cast<size_t>(change.kind);
        if (change.type == AlarmChange::Type::Raised) {
            m_raisedValue[i] = change.value;
            m_raisedAtMs[i] = change.atMs;
            m_raisedOrder[i] = ++m_nRaises;
            m_raisedWording[i] = AlarmWording(change.kind, m_monitor.Limits(), m_bDeviceGone);
        }
        emit Changed(change, Wording(change.kind), m_newest);
    }
}

std::optional<AlarmKind> AlarmWatch::Shown() const
{
    std::optional<AlarmKind> shown;
    const auto rank = [this](AlarmKind kind) {
        return std::pair(m_monitor.IsUnacknowledged(kind), m_raisedOrder[static_cast<size_t>(kind)]);
    };
    for (int i = 0; i < kAlarmKinds; ++i) {
        const auto kind = static_cast<AlarmKind>(i);
        if (m_monitor.IsShown(kind) && (!shown || rank(kind) > rank(*shown)))
            shown = kind;
    }
    return shown;
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
    const std::optional<AlarmKind> shown = Shown();
    if (!shown)
        return QString();
    int more = -1;
    for (int i = 0; i < kAlarmKinds; ++i)
        more += m_monitor.IsShown(static_cast<AlarmKind>(i));
    const AlarmKind kind = *shown;
    const double value = RaisedValue(kind);
    QString measured;
    if (kind == AlarmKind::High || kind == AlarmKind::Low)
        measured = QStringLiteral(": %1 °C").arg(value, 0, 'f', 1);
    else if (kind == AlarmKind::Rate)
        measured = QStringLiteral(": %1 °C/мин").arg(value, 0, 'f', 1);
    const QString since =
        QDateTime::fromMSecsSinceEpoch(m_raisedAtMs[static_cast<size_t>(kind)]).toString(QStringLiteral("HH:mm:ss"));
    QString text = Wording(kind) + measured + QStringLiteral(" с ") + since;
    if (!m_monitor.IsRaised(kind))
        text += QStringLiteral(" · снято");
    if (more > 0)
        text += QStringLiteral(" (и ещё %1)").arg(more);
    return text;
}
