#include "archiverows.h"

#include "csvwriter.h"
#include "localtimeline.h"

#include <charconv>

namespace archiverows {

namespace {

char *Number(char *out, qint64 value)
{
    return std::to_chars(out, out + 24, value).ptr;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
qint64 DaysFromCivil(qint64 year, int month, int day)
{
    year -= month <= 2;
    const qint64 era = (year >= 0 ? year : year - 399) / 400;
    const qint64 yearOfEra = year - era * 400;
    const qint64 dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const qint64 dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

bool Digits(QByteArrayView text, qsizetype at, int count, int *value)
{
    if (at + count > text.size())
        return false;
    int v = 0;
    for (int i = 0; i < count; ++i) {
        const char c = text[at + i];
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    *value = v;
    return true;
}

// "2026-12-09T14:02:10.250+01:00" as ms since 1970.
std::optional<qint64> IsoTime(QByteArrayView text)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0, offsetHours = 0, offsetMinutes = 0;
    if (text.size() != 29 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':'
        || text[19] != '.' || (text[23] != '+' && text[23] != '-') || text[26] != ':')
        return std::nullopt;
    if (!Digits(text, 0, 4, &year) || !Digits(text, 5, 2, &month) || !Digits(text, 8, 2, &day) || !Digits(text, 11, 2, &hour)
        || !Digits(text, 14, 2, &minute) || !Digits(text, 17, 2, &second) || !Digits(text, 20, 3, &ms)
        || !Digits(text, 24, 2, &offsetHours) || !Digits(text, 27, 2, &offsetMinutes) || month < 1 || month > 12 || day < 1
        || day > 31)
        return std::nullopt;
    const qint64 offset = (text[23] == '-' ? -1 : 1) * (qint64(offsetHours) * 3600 + offsetMinutes * 60);
    const qint64 local = DaysFromCivil(year, month, day) * 86400 + qint64(hour) * 3600 + minute * 60 + second;
    return (local - offset) * 1000 + ms;
}

} // namespace

void AppendRow(QByteArray &out, LocalTimeLine &timeLine, qint64 utcMs, qint64 firstMs, std::string_view temperature,
               std::optional<qint64> seq)
{
    const qsizetype at = out.size();
    out.resize(at + 80 + qsizetype(temperature.size()));
    char *const start = out.data() + at;
    char *p = WriteIsoTime(start, utcMs, timeLine.OffsetAt(utcMs));
    *p++ = ',';
    qint64 elapsed = utcMs - firstMs;
    if (elapsed < 0) {
        *p++ = '-';
        elapsed = -elapsed;
    }
    p = Number(p, elapsed / 1000);
    *p++ = '.';
    const qint64 ms = elapsed % 1000;
    *p++ = char('0' + ms / 100);
    *p++ = char('0' + ms / 10 % 10);
    *p++ = char('0' + ms % 10);
    *p++ = ',';
    p = std::copy(temperature.begin(), temperature.end(), p);
    *p++ = ',';
    if (seq) {
        *p++ = ',';
        p = Number(p, *seq);
    }
    *p++ = '\r';
    *p++ = '\n';
    out.resize(p - out.data());
}

std::optional<Row> ParseRow(QByteArrayView line)
{
    if (line.endsWith('\r'))
        line.chop(1);
    const qsizetype first = line.indexOf(',');
    if (first < 0)
        return std::nullopt;
    const std::optional<qint64> time = IsoTime(line.first(first));
    if (!time)
        return std::nullopt;
    const qsizetype second = line.indexOf(',', first + 1);
    const qsizetype third = second < 0 ? -1 : line.indexOf(',', second + 1);
    if (third < 0)
        return std::nullopt;
    Row row;
    row.utcMs = *time;
    row.temperature = line.sliced(second + 1, third - second - 1);
    const qsizetype fourth = line.indexOf(',', third + 1);
    if (fourth >= 0) {
        qint64 seq = 0;
        const QByteArrayView digits = line.sliced(fourth + 1);
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), seq);
        if (error != std::errc() || end != digits.data() + digits.size() || seq < 0)
            return std::nullopt;
        row.seq = seq;
    }
    return row;
}

} // namespace archiverows
