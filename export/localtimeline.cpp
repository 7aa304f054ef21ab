#include "localtimeline.h"

#include <QDateTime>

#include <algorithm>
#include <limits>

namespace {

constexpr qint64 kDayMs = 24LL * 3600 * 1000;

qint64 NaiveMs(int year, int month, int day, int hour, int minute, int second)
{
    const QDateTime naive(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC);
    return naive.toMSecsSinceEpoch();
}

} // namespace

LocalTimeLine::LocalTimeLine(QTimeZone zone)
    : m_zone(std::move(zone))
{
}

qint64 LocalTimeLine::InstantOf(int year, int month, int day, int hour, int minute, int second,
                                qint64 notBeforeMs) const
{
    const qint64 naive = NaiveMs(year, month, day, hour, minute, second);
    const auto offsetAt = [this](qint64 utcMs) {
        return m_zone.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC));
    };
    // Every offset in force within a day of the time is a candidate; a
    // candidate is right when the zone has that offset at its instant.
    const int before = offsetAt(naive - kDayMs);
    const int after = offsetAt(naive + kDayMs);
    qint64 candidates[2];
    int found = 0;
    for (const int offset : {std::max(before, after), std::min(before, after)}) {
        const qint64 instant = naive - qint64(offset) * 1000;
        if (offsetAt(instant) == offset && (found == 0 || candidates[0] != instant))
            candidates[found++] = instant;
    }
    if (found == 0)
        return naive - qint64(before) * 1000; // skipped by the clock: read with the earlier offset
    if (found == 2 && candidates[1] < candidates[0])
        std::swap(candidates[0], candidates[1]);
    for (int i = 0; i < found; ++i) {
        if (candidates[i] >= notBeforeMs)
            return candidates[i];
    }
    return candidates[found - 1];
}

int LocalTimeLine::OffsetAt(qint64 utcMs)
{
    if (utcMs >= m_nValidFrom && utcMs < m_nValidTo)
        return m_nOffset;
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC);
    m_nOffset = m_zone.offsetFromUtc(at);
    const QTimeZone::OffsetData previous = m_zone.previousTransition(at.addMSecs(1));
    const QTimeZone::OffsetData next = m_zone.nextTransition(at);
    m_nValidFrom = previous.atUtc.isValid() ? previous.atUtc.toMSecsSinceEpoch() : std::numeric_limits<qint64>::min();
    m_nValidTo = next.atUtc.isValid() ? next.atUtc.toMSecsSinceEpoch() : std::numeric_limits<qint64>::max();
    if (m_nValidFrom > utcMs || m_nValidTo <= utcMs) {
        // A zone without transition data: ask again for every second.
        m_nValidFrom = utcMs - utcMs % 1000;
        m_nValidTo = m_nValidFrom + 1000;
    }
    return m_nOffset;
}

qint64 LocalTimeLine::NextTransitionAfter(qint64 utcMs) const
{
    const QTimeZone::OffsetData next = m_zone.nextTransition(QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC));
    return next.atUtc.isValid() ? next.atUtc.toMSecsSinceEpoch() : std::numeric_limits<qint64>::max();
}

int LocalTimeLine::ShiftNear(qint64 utcMs) const
{
    const auto offsetAt = [this](qint64 ms) {
        return m_zone.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC));
    };
    const int now = offsetAt(utcMs);
    const int before = offsetAt(utcMs - kDayMs);
    return before != now ? before : offsetAt(utcMs + kDayMs);
}
