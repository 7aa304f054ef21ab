#include "datafileformat.h"

#include <charconv>
#include <cstdio>

namespace {

// %.6g as printf writes it in the C locale, with no regard for the process's
// locale (Qt sets the system's, which may use a decimal comma).
char *AppendGeneral(char *out, char *end, double value)
{
    return std::to_chars(out, end, value, std::chars_format::general, 6).ptr;
}

} // namespace

QByteArray DataFileHeader(const SYSTEMTIME &reference)
{
    char text[64];
    const int length = std::snprintf(text, sizeof text, "%u.%u.%u %u:%u:%u\r\n", reference.wDay, reference.wMonth,
                                     reference.wYear, reference.wHour, reference.wMinute, reference.wSecond);
    return QByteArray(text, length);
}

char *WriteDataFileLine(char *out, double offsetSeconds, double temperature)
{
    // "%.6g" takes at most 13 characters ("-1.23457e+308"); the line 29.
    char *const end = out + kMaxDataFileLine;
    out = AppendGeneral(out, end, offsetSeconds);
    *out++ = ' ';
    out = AppendGeneral(out, end, temperature);
    *out++ = '\r';
    *out++ = '\n';
    return out;
}

QByteArray DataFileLine(double offsetSeconds, double temperature)
{
    char text[kMaxDataFileLine];
    return QByteArray(text, WriteDataFileLine(text, offsetSeconds, temperature) - text);
}

OffsetClock::OffsetClock(const SYSTEMTIME &reference, std::int64_t referenceUtcMs)
    : m_nReferenceMs(reference.wMilliseconds)
    , m_nReferenceUtcMs(referenceUtcMs)
{
    LocalSecondsCache once;
    m_nReferenceSeconds = WholeSeconds(once, reference);
}

std::time_t OffsetClock::WholeSeconds(LocalSecondsCache &cache, const SYSTEMTIME &st)
{
    return st.wYear < 1900 ? 0 : cache.Of(st);
}

double OffsetClock::SecondsTo(const SYSTEMTIME &reading, std::int64_t readingUtcMs)
{
    if (readingUtcMs != 0 && m_nReferenceUtcMs != 0)
        return static_cast<double>(readingUtcMs - m_nReferenceUtcMs) * 0.001;
    const double wholeSeconds = static_cast<double>(WholeSeconds(m_readingSeconds, reading) - m_nReferenceSeconds);
    return wholeSeconds + (static_cast<int>(reading.wMilliseconds) - m_nReferenceMs) * 0.001;
}
