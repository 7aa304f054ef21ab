#pragma once

#include "localtime.h"

#include <QByteArray>

// The text of a data file: a header line with the reference time, then one
// line per reading: seconds since the reference time and the temperature, both
// as %.6g. Lines end in CR LF on every platform.

// "d.m.yyyy h:m:s" CR LF, no leading zeros.
QByteArray DataFileHeader(const SYSTEMTIME &reference);

// "offset temperature" CR LF, whatever the process's locale.
QByteArray DataFileLine(double offsetSeconds, double temperature);
// The same line written at `out`, which has room for kMaxDataFileLine bytes;
// returns the end of the line.
constexpr int kMaxDataFileLine = 64;
char *WriteDataFileLine(char *out, double offsetSeconds, double temperature);

// Seconds from the reference time to the reading: the real time that passed
// between their instants, also across a change of daylight saving. Where an
// instant is not known (0), whole local calendar seconds through mktime (a
// year below 1900 counts as 0) plus the difference of the milliseconds.
// Negative for a reading taken before the reference time.
class OffsetClock
{
public:
    explicit OffsetClock(const SYSTEMTIME &reference, std::int64_t referenceUtcMs = 0);
    double SecondsTo(const SYSTEMTIME &reading, std::int64_t readingUtcMs = 0);

private:
    static std::time_t WholeSeconds(LocalSecondsCache &cache, const SYSTEMTIME &st);

    LocalSecondsCache m_readingSeconds;
    std::time_t m_nReferenceSeconds;
    int m_nReferenceMs;
    std::int64_t m_nReferenceUtcMs;
};
