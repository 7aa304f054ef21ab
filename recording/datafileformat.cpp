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

QByteArray DataFileLine(double offsetSeconds, double temperature)
{
    char text[80];
    char *const end = text + sizeof text;
    char *out = AppendGeneral(text, end, offsetSeconds);
    *out++ = ' ';
    out = AppendGeneral(out, end, temperature);
    *out++ = '\r';
    *out++ = '\n';
    return QByteArray(text, static_cast<int>(out - text));
}

OffsetClock::OffsetClock(const SYSTEMTIME &reference)
    : m_nReferenceMs(reference.wMilliseconds)
{
    LocalSecondsCache once;
    m_nReferenceSeconds = WholeSeconds(once, reference);
}

std::time_t OffsetClock::WholeSeconds(LocalSecondsCache &cache, const SYSTEMTIME &st)
{
    return st.wYear < 1900 ? 0 : cache.Of(st);
}

double OffsetClock::SecondsTo(const SYSTEMTIME &reading)
{
    const double wholeSeconds = static_cast<double>(WholeSeconds(m_readingSeconds, reading) - m_nReferenceSeconds);
    return wholeSeconds + (static_cast<int>(reading.wMilliseconds) - m_nReferenceMs) * 0.001;
}
