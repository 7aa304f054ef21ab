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
    for (const AlarmChange &change : changes)
        emit Changed(change, AlarmWording(change.kind, m_monitor.Limits(), m_bDeviceGone), m_newest);
}
