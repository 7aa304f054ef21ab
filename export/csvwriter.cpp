#include "csvwriter.h"

#include "localtimeline.h"
#include "recordfolder.h"

#include <QIODevice>

#include <algorithm>
#include <cstring>

namespace {

constexpr qsizetype kFlushAt = 1 << 20;

char *Digits(char *out, qint64 value, int width)
{
    for (int i = width - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return out + width;
}

// Days since 1970-01-01 to the civil date (proleptic Gregorian).
void CivilFromDays(qint64 days, qint64 &year, int &month, int &day)
{
    days += 719468;
    const qint64 era = (days >= 0 ? days : days - 146096) / 146097;
    const qint64 dayOfEra = days - era * 146097;
    const qint64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const qint64 monthIndex = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    year = yearOfEra + era * 400 + (month <= 2);
}

qint64 FloorDiv(qint64 a, qint64 b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

} // namespace

char *WriteIsoTime(char *out, qint64 utcMs, int offsetSeconds)
{
    const qint64 localMs = utcMs + qint64(offsetSeconds) * 1000;
    const qint64 days = FloorDiv(localMs, 86400000);
    const qint64 msOfDay = localMs - days * 86400000;
    qint64 year = 0;
    int month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    out = Digits(out, year, 4);
    *out++ = '-';
    out = Digits(out, month, 2);
    *out++ = '-';
    out = Digits(out, day, 2);
    *out++ = 'T';
    out = Digits(out, msOfDay / 3600000, 2);
    *out++ = ':';
    out = Digits(out, msOfDay / 60000 % 60, 2);
    *out++ = ':';
    out = Digits(out, msOfDay / 1000 % 60, 2);
    *out++ = '.';
    out = Digits(out, msOfDay % 1000, 3);
    *out++ = offsetSeconds < 0 ? '-' : '+';
    const int offset = std::abs(offsetSeconds) / 60;
    out = Digits(out, offset / 60, 2);
    *out++ = ':';
    return Digits(out, offset % 60, 2);
}

CsvWriter::CsvWriter(QIODevice &out, LocalTimeLine &timeLine)
    : m_out(out)
    , m_timeLine(timeLine)
{
    m_buffer.reserve(kFlushAt + 256);
}

bool CsvWriter::Header()
{
    m_buffer += "time,elapsed_s,temperature_c,file\r\n";
    return !m_bFailed;
}

bool CsvWriter::Row(const FolderReading &reading)
{
    if (m_nRows++ == 0)
        m_nFirstMs = reading.utcMs;
    const qsizetype at = m_buffer.size();
    m_buffer.resize(at + 96 + reading.temperature.size() + reading.file.size());
    char *const start = m_buffer.data() + at;
    char *out = WriteIsoTime(start, reading.utcMs, m_timeLine.OffsetAt(reading.utcMs));
    *out++ = ',';
    qint64 elapsed = reading.utcMs - m_nFirstMs;
    if (elapsed < 0) {
        *out++ = '-';
        elapsed = -elapsed;
    }
    char whole[24];
    int digits = 0;
    for (qint64 seconds = elapsed / 1000; digits == 0 || seconds > 0; seconds /= 10)
        whole[digits++] = static_cast<char>('0' + seconds % 10);
    while (digits > 0)
        *out++ = whole[--digits];
    *out++ = '.';
    out = Digits(out, elapsed % 1000, 3);
    *out++ = ',';
    // std::copy, not memcpy: an empty view (the collector's file column) may have no data at all.
    out = std::copy(reading.temperature.begin(), reading.temperature.end(), out);
    *out++ = ',';
    out = std::copy(reading.file.begin(), reading.file.end(), out);
    *out++ = '\r';
    *out++ = '\n';
    m_buffer.resize(out - m_buffer.data());
    return m_buffer.size() < kFlushAt || Flush();
}

bool CsvWriter::Flush()
{
    if (!m_bFailed && m_out.write(m_buffer) != m_buffer.size())
        m_bFailed = true;
    m_buffer.clear();
    return !m_bFailed;
}

bool CsvWriter::Finish()
{
    return Flush();
}

QByteArray CsvField(const QByteArray &bytes)
{
    if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\n') && !bytes.contains('\r'))
        return bytes;
    QByteArray quoted = bytes;
    return '"' + quoted.replace("\"", "\"\"") + '"';
}
