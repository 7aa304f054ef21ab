#include "alarmmonitor.h"

#include <cmath>

AlarmMonitor::AlarmMonitor(const AlarmLimits &limits)
    : m_limits(limits)
    , m_rate(limits.rateWindowSeconds)
{
}

void AlarmMonitor::Start(const AlarmLimits &limits)
{
    m_limits = limits;
    m_states = {};
    m_bLowArmed = false;
    m_rate = RateFit(limits.rateWindowSeconds);
}

std::vector<AlarmChange> AlarmMonitor::SetLimits(const AlarmLimits &limits)
{
    std::vector<AlarmChange> changes;
    const bool watched[kAlarmKinds] = {limits.high.has_value(), limits.low.has_value(), limits.rate.has_value(),
                                       limits.silenceSeconds > 0};
    for (int i = 0; i < kAlarmKinds; ++i) {
        State &state = m_states[static_cast<size_t>(i)];
        state.pending = false;
        if (!watched[i] && state.raised) {
            state.raised = false;
            changes.push_back({static_cast<AlarmKind>(i), AlarmChange::Type::Cleared, 0, 0});
        }
    }
    if (limits.rateWindowSeconds != m_limits.rateWindowSeconds)
        m_rate = RateFit(limits.rateWindowSeconds);
    m_limits = limits;
    return changes;
}

void AlarmMonitor::Judge(AlarmKind kind, bool holds, bool gone, qint64 ms, double value,
                         std::vector<AlarmChange> &changes)
{
    State &state = At(kind);
    if (gone) {
        state.pending = false;
        if (state.raised) {
            state.raised = false;
            changes.push_back({kind, AlarmChange::Type::Cleared, ms, value});
        }
        return;
    }
    if (!holds || state.raised)
        return;
    if (!state.pending) {
        state.pending = true;
        state.pendingSinceMs = ms;
    }
    if (ms - state.pendingSinceMs >= std::llround(m_limits.delaySeconds * 1000)) {
        state.pending = false;
        state.raised = true;
        state.unacknowledged = true;
        state.raisedAtMs = ms;
        changes.push_back({kind, AlarmChange::Type::Raised, ms, value});
    }
}

std::vector<AlarmChange> AlarmMonitor::Reading(qint64 ms, double celsius)
{
    std::vector<AlarmChange> changes;
    const double hysteresis = std::max(0.0, m_limits.hysteresis);
    if (m_limits.high) {
        const double high = *m_limits.high;
        // Above it holds; back inside by the hysteresis is gone; in between a
        // pending or raised alarm stays as it is.
        Judge(AlarmKind::High, celsius > high, celsius < high - hysteresis, ms, celsius, changes);
    }
    if (m_limits.low) {
        const double low = *m_limits.low;
        // A cold start is no fall: the low limit counts once the run was above it.
        m_bLowArmed |= celsius > low;
        if (m_bLowArmed)
            Judge(AlarmKind::Low, celsius < low, celsius > low + hysteresis, ms, celsius, changes);
    }
    if (m_limits.rate && m_rate.Add(ms, celsius)) {
        if (const std::optional<double> rate = m_rate.Rate()) {
            const double limit = std::abs(*m_limits.rate);
            Judge(AlarmKind::Rate, std::abs(*rate) > limit, std::abs(*rate) <= limit, ms, *rate, changes);
        }
    }
    return changes;
}

std::vector<AlarmChange> AlarmMonitor::Line(qint64 nowMs, qint64 runStartMs, qint64 lastFrameMs, bool deviceGone)
{
    std::vector<AlarmChange> changes;
    if (m_limits.silenceSeconds <= 0)
        return changes;
    const qint64 since = lastFrameMs >= 0 ? lastFrameMs : runStartMs;
    const qint64 silentMs = std::max<qint64>(0, nowMs - since);
    const double silentSeconds = static_cast<double>(silentMs) / 1000.0;
    const bool silent = silentMs >= qint64(m_limits.silenceSeconds) * 1000;
    State &state = At(AlarmKind::Silence);
    if (silent && !state.raised) {
        // The silence's own length is its delay.
        state.pending = false;
        state.raised = true;
        state.unacknowledged = true;
        state.raisedAtMs = nowMs;
        changes.push_back({AlarmKind::Silence, AlarmChange::Type::Raised, nowMs, silentSeconds});
        return changes;
    }
    // A gone device holds for the delay (a driver's transient error passes in
    // milliseconds); the next whole frame ends both.
    Judge(AlarmKind::Silence, deviceGone, !deviceGone && !silent, nowMs, silentSeconds, changes);
    return changes;
}

std::vector<AlarmChange> AlarmMonitor::Acknowledge(qint64 atMs)
{
    std::vector<AlarmChange> changes;
    for (int i = 0; i < kAlarmKinds; ++i) {
        State &state = m_states[static_cast<size_t>(i)];
        if (state.unacknowledged) {
            state.unacknowledged = false;
            changes.push_back({static_cast<AlarmKind>(i), AlarmChange::Type::Acknowledged, atMs, 0});
        }
    }
    return changes;
}

std::vector<AlarmChange> AlarmMonitor::Acknowledge(AlarmKind kind, qint64 atMs)
{
    State &state = At(kind);
    if (!state.unacknowledged)
        return {};
    state.unacknowledged = false;
    return {{kind, AlarmChange::Type::Acknowledged, atMs, 0}};
}

QString AlarmWording(AlarmKind kind, const AlarmLimits &limits, bool deviceGone)
{
    const auto number = [](double value) { return QString::number(value, 'g', 10); };
    switch (kind) {
    case AlarmKind::High:
        return QStringLiteral("Выше %1 °C").arg(number(limits.high.value_or(0)));
    case AlarmKind::Low:
        return QStringLiteral("Ниже %1 °C").arg(number(limits.low.value_or(0)));
    case AlarmKind::Rate:
        return QStringLiteral("Быстрее %1 °C/мин").arg(number(std::abs(limits.rate.value_or(0))));
    case AlarmKind::Silence:
        return deviceGone ? QStringLiteral("Нет связи с прибором")
                          : QStringLiteral("Нет данных дольше %1 с").arg(limits.silenceSeconds);
    }
    return QString();
}

QString AlarmEventName(AlarmKind kind)
{
    switch (kind) {
    case AlarmKind::High:
        return QStringLiteral("alarm-high");
    case AlarmKind::Low:
        return QStringLiteral("alarm-low");
    case AlarmKind::Rate:
        return QStringLiteral("alarm-rate");
    case AlarmKind::Silence:
        return QStringLiteral("alarm-silence");
    }
    return QString();
}
