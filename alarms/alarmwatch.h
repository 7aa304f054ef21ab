#pragma once

#include "alarmmonitor.h"
#include "linestate.h"
#include "runfeed.h"

#include <QObject>

// The alarms of the running run, fed by the run's feed on the user-interface
// thread: each reading and each look at the line goes to the monitor, and
// every change of an alarm is told with its wording and the newest reading,
// its time in ms since 1970.
class AlarmWatch : public QObject
{
    Q_OBJECT

public:
    explicit AlarmWatch(QObject *parent = nullptr);

    // A run begins with these limits: nothing raised, nothing pending.
    void Begin(const AlarmLimits &limits);
    // New limits for the run going on; what they no longer watch for clears.
    void SetLimits(const AlarmLimits &limits);
    // The run ended: its alarms are no longer watched.
    void End();
    bool IsWatching() const { return m_bWatching; }
    const AlarmMonitor &Monitor() const { return m_monitor; }
    // The newest reading of the run, if any.
    std::optional<double> Newest() const { return m_newest; }
    // What the alarm measured when it was raised (°C, °C/min or seconds).
    double RaisedValue(AlarmKind kind) const { return m_raisedValue[static_cast<size_t>(kind)]; }
    bool DeviceGone() const { return m_bDeviceGone; }
    // Some alarm is raised or cleared and not yet acknowledged.
    bool AnyUnacknowledged() const;
    // The alarm shown first: the newest of those not yet acknowledged, else
    // the newest still raised; none when no alarm is shown.
    std::optional<AlarmKind> Shown() const;
    // The shown alarms' text for the operator: the first of them with what it
    // measured and since when, "снято" once it cleared, and how many more
    // are shown; empty when none is.
    QString Text() const;
    // An alarm's wording as it was raised: its clear and acknowledgement say
    // the same, whatever happened to the line since.
    QString Wording(AlarmKind kind) const;

    void TakeReadings(const FeedReadings &readings);
    void TakeLine(const LineState &line);
    // The operator has seen every alarm shown.
    void Acknowledge();
    // The operator has seen the alarm shown first, the one the line says.
    void AcknowledgeShown();

signals:
    void Changed(const AlarmChange &change, const QString &wording, std::optional<double> temperature);

private:
    void Tell(const std::vector<AlarmChange> &changes);

    AlarmMonitor m_monitor;
    bool m_bWatching = false;
    bool m_bDeviceGone = false;
    std::optional<double> m_newest;
    std::array<double, kAlarmKinds> m_raisedValue {};
    std::array<qint64, kAlarmKinds> m_raisedAtMs {}; // ms since 1970
    std::array<quint64, kAlarmKinds> m_raisedOrder {}; // higher: raised later
    std::array<QString, kAlarmKinds> m_raisedWording {};
    quint64 m_nRaises = 0;
};
