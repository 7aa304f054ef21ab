#pragma once

#include <QTimeZone>
#include <QtGlobal>

// Local calendar time of the system's zone against UTC, for a record folder
// whose files hold local times without a zone.
class LocalTimeLine
{
public:
    explicit LocalTimeLine(QTimeZone zone = QTimeZone::systemTimeZone());

    // The instant (UTC milliseconds) of a local calendar time. In the hour that
    // repeats when daylight saving ends it has two: the earliest that is not
    // before `notBeforeMs` is taken (or the latest, when both are), so that
    // times never run backwards. A time in the hour that is skipped when
    // daylight saving begins is read with the offset from before the change.
    qint64 InstantOf(int year, int month, int day, int hour, int minute, int second, qint64 notBeforeMs) const;

    // The zone's offset from UTC, in seconds, at an instant; cached between
    // the zone's transitions, so a run of readings asks the zone rarely.
    int OffsetAt(qint64 utcMs);
    // The other offset in force around an instant (the one before or after a
    // transition within a day of it); equal to OffsetAt when none is near.
    int ShiftNear(qint64 utcMs) const;
    // The first change of offset after an instant; the largest instant when none comes.
    qint64 NextTransitionAfter(qint64 utcMs) const;

private:
    QTimeZone m_zone;
    qint64 m_nValidFrom = 1;
    qint64 m_nValidTo = 0; // the cached offset holds in [from, to)
    int m_nOffset = 0;
};
