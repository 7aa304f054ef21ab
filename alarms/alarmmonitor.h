#pragma once

#include "alarmlimits.h"
#include "ratefit.h"

#include <QString>
#include <QtGlobal>

#include <array>
#include <vector>

enum class AlarmKind { High, Low, Rate, Silence };
inline constexpr int kAlarmKinds = 4;

// Something that happened to an alarm.
struct AlarmChange
{
    enum class Type { Raised, Cleared, Acknowledged };
    AlarmKind kind;
    Type type;
    qint64 atMs;  // the reading's instant, or the line clock's for the silence
    double value; // the temperature, the rate (°C/min) or the seconds of silence
};

// Watches one run for the conditions of its limits. A condition raises its
// alarm once it has held for the delay; it counts as holding until it is
// clearly gone (back inside by the hysteresis), so noise around a limit
// raises one alarm, not many. A raised alarm clears when the condition is
// clearly gone; it stays shown until it is acknowledged. Readings come with
// their instants (ms since 1970), the line's state with the line clock's.
class AlarmMonitor
{
public:
    explicit AlarmMonitor(const AlarmLimits &limits = {});

    // A new run: nothing raised, nothing pending, the low limit not armed.
    void Start(const AlarmLimits &limits);
    const AlarmLimits &Limits() const { return m_limits; }
    // New limits during the run: a raised alarm whose condition is no longer
    // watched clears (its time is left to the caller); the rest goes on.
    std::vector<AlarmChange> SetLimits(const AlarmLimits &limits);

    std::vector<AlarmChange> Reading(qint64 ms, double celsius);
    // The line as it is at `nowMs`: the last whole frame's time (-1: none
    // yet, counted from `runStartMs`) and whether the device is gone.
    std::vector<AlarmChange> Line(qint64 nowMs, qint64 runStartMs, qint64 lastFrameMs, bool deviceGone);
    // The operator has seen them: every raised or cleared alarm not yet
    // acknowledged is.
    std::vector<AlarmChange> Acknowledge(qint64 atMs);
    // The operator has seen this one.
    std::vector<AlarmChange> Acknowledge(AlarmKind kind, qint64 atMs);

    bool IsRaised(AlarmKind kind) const { return At(kind).raised; }
    // Raised, or cleared but not yet acknowledged.
    bool IsShown(AlarmKind kind) const { return At(kind).raised || At(kind).unacknowledged; }
    bool IsUnacknowledged(AlarmKind kind) const { return At(kind).unacknowledged; }
    qint64 RaisedAtMs(AlarmKind kind) const { return At(kind).raisedAtMs; }
    // The rate over the window, °C/min, once there is one.
    std::optional<double> Rate() const { return m_rate.Rate(); }

private:
    struct State
    {
        bool pending = false;       // the condition holds, its delay not yet over
        qint64 pendingSinceMs = 0;
        bool raised = false;
        qint64 raisedAtMs = 0;
        bool unacknowledged = false;
    };
    State &At(AlarmKind kind) { return m_states[static_cast<size_t>(kind)]; }
    const State &At(AlarmKind kind) const { return m_states[static_cast<size_t>(kind)]; }
    // One step of a condition: `holds` keeps it pending or raised, `gone`
    // clears it; in between it stays as it is.
    void Judge(AlarmKind kind, bool holds, bool gone, qint64 ms, double value, std::vector<AlarmChange> &changes);

    AlarmLimits m_limits;
    std::array<State, kAlarmKinds> m_states {};
    bool m_bLowArmed = false;
    RateFit m_rate;
};

// The alarm's wording, as the operator reads it: "Выше 1500 °C".
QString AlarmWording(AlarmKind kind, const AlarmLimits &limits, bool deviceGone = false);
// Its event name in the run's events: "alarm-high".
QString AlarmEventName(AlarmKind kind);
