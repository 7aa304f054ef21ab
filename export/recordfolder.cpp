#include "recordfolder.h"

#include "localtimeline.h"
#include "nativefs.h"
#include "nativename.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <cmath>
#include <limits>

namespace {

// "d.m.yyyy h:m:s": six numbers; false for anything else.
bool ParseHeader(QByteArrayView line, int fields[6])
{
    static constexpr char kSeparators[] = {'.', '.', ' ', ':', ':', '\0'};
    const char *at = line.data();
    const char *const end = line.data() + line.size();
    for (int i = 0; i < 6; ++i) {
        const auto [next, error] = std::from_chars(at, end, fields[i]);
        if (error != std::errc() || next == at)
            return false;
        at = next;
        if (i < 5) {
            if (at == end || *at != kSeparators[i])
                return false;
            ++at;
        }
    }
    // Only a date of the calendar, in years that every reader can write.
    return at == end && fields[2] >= 1 && fields[2] <= 9999 && QDate::isValid(fields[2], fields[1], fields[0])
        && fields[3] >= 0 && fields[3] < 24 && fields[4] >= 0 && fields[4] < 60 && fields[5] >= 0 && fields[5] < 60;
}

// Offsets beyond this many seconds are no save's: a data file spans one
// saving interval, or a recovered run's unsaved tail.
constexpr double kLargestOffsetSeconds = 1e9;
// The instants that a CSV writes as years 1 to 9999.
const qint64 kFirstInstantMs = QDateTime(QDate(1, 1, 2), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
const qint64 kLastInstantMs = QDateTime(QDate(9999, 12, 30), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();

// The program's own files beside the data (its hold on the folder, a file
// being recovered) and what an export may have written there.
bool IsOwnFile(const QString &name)
{
    return name.startsWith(QLatin1Char('.')) || name == QStringLiteral("calorivista.chain")
        || name.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive)
        || name.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive) || name.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive);
}

// The file's name as a CSV field, in UTF-8 (bytes of the name that are not
// show as U+FFFD): quoted when it holds a comma, a quote or a line end.
QByteArray CsvField(const QString &name)
{
    QByteArray field = QString::fromUtf8(ToNativeName(name)).toUtf8();
    if (field.contains(',') || field.contains('"') || field.contains('\n') || field.contains('\r'))
        field = '"' + field.replace("\"", "\"\"") + '"';
    return field;
}

QByteArrayView WithoutLineEnd(QByteArrayView line)
{
    while (!line.isEmpty() && (line.back() == '\r' || line.back() == '\n'))
        line.chop(1);
    return line;
}

} // namespace

RecordFolder::RecordFolder(QString folder)
    : m_strFolder(std::move(folder))
    , m_nLastMs(std::numeric_limits<qint64>::min())
{
}

bool RecordFolder::List(QString *error)
{
    QStringList names;
    if (!IsFolder(m_strFolder) || !ListFiles(m_strFolder, &names)) {
        *error = QStringLiteral("%1: not a folder that can be read").arg(QDir::toNativeSeparators(m_strFolder));
        return false;
    }
    static const QRegularExpression numbered(QStringLiteral("^[0-9]{4}$"));
    QStringList others;
    for (const QString &name : std::as_const(names)) {
        if (numbered.match(name).hasMatch())
            m_dataFiles << name; // four digits sort by name in number order
        else if (name != QStringLiteral("dirinfo") && !IsOwnFile(name))
            others << name;
    }
    if (m_dataFiles.endsWith(QStringLiteral("9999")))
        m_dataFiles << NamedAfterLast(others);
    m_otherFiles = others;
    return true;
}

QString RecordFolder::PathOf(const QString &name) const
{
    return m_strFolder.endsWith(QLatin1Char('/')) ? m_strFolder + name : m_strFolder + QLatin1Char('/') + name;
}

QStringList RecordFolder::NamedAfterLast(QStringList &names) const
{
    QList<std::pair<QDateTime, QString>> started;
    for (qsizetype i = 0; i < names.size();) {
        QFile file;
        int fields[6];
        if (OpenNamedFile(file, PathOf(names[i]), QIODevice::ReadOnly)
            && ParseHeader(WithoutLineEnd(file.readLine(64)), fields)) {
            started.append({QDateTime(QDate(fields[2], fields[1], fields[0]), QTime(fields[3], fields[4], fields[5])),
                            names.takeAt(i)});
        } else {
            ++i;
        }
    }
    std::stable_sort(started.begin(), started.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    QStringList ordered;
    for (const auto &[start, name] : std::as_const(started))
        ordered << name;
    return ordered;
}

QString RecordFolder::Comment() const
{
    QFile file;
    if (!OpenNamedFile(file, PathOf(QStringLiteral("dirinfo")), QIODevice::ReadOnly))
        return QString();
    QByteArray bytes = file.readAll();
    bytes.replace("\r\r\n", "\n"); // how the program writes a line break
    return QString::fromLocal8Bit(bytes);
}

bool RecordFolder::Read(LocalTimeLine &timeLine, const std::function<void(const FolderReading &)> &reading,
                        const std::function<bool(int, int)> &progress)
{
    const int total = static_cast<int>(m_dataFiles.size());
    for (int i = 0; i < total; ++i) {
        ReadFile(m_dataFiles[i], timeLine, reading);
        if (progress && !progress(i + 1, total))
            return false;
    }
    return true;
}

void RecordFolder::ReadFile(const QString &name, LocalTimeLine &timeLine,
                            const std::function<void(const FolderReading &)> &reading)
{
    QFile file;
    if (!OpenNamedFile(file, PathOf(name), QIODevice::ReadOnly)) {
        m_problems.append({name, 0, QStringLiteral("cannot be opened: ") + QString::fromLocal8Bit(std::strerror(errno))});
        return;
    }
    ReadBytes(name, file.readAll(), timeLine, reading);
}

void RecordFolder::ReadBytes(const QString &name, const QByteArray &bytes, LocalTimeLine &timeLine,
                             const std::function<void(const FolderReading &)> &reading)
{
    if (bytes.isEmpty())
        return; // an interval without readings
    qsizetype at = bytes.indexOf('\n');
    const QByteArrayView header = WithoutLineEnd(QByteArrayView(bytes).first(at < 0 ? bytes.size() : at + 1));
    int fields[6];
    if (!ParseHeader(header, fields)) {
        m_problems.append({name, 1, QStringLiteral("no start time (\"d.m.yyyy h:m:s\"): the file is left out")});
        return;
    }
    if (at < 0) {
        m_problems.append({name, 1, QStringLiteral("cut short: the header line has no line end")});
        return;
    }
    ++at;

    // The first reading decides which of two equal local times the header is.
    qint64 start = 0;
    bool started = false;
    qint64 correctionMs = 0;
    qint64 correctUntilMs = 0;
    qint64 previousMs = 0;
    const QByteArray field = CsvField(name);
    FolderReading out {};
    out.file = field;
    for (int line = 2; at < bytes.size(); ++line) {
        qsizetype end = bytes.indexOf('\n', at);
        const bool cut = end < 0; // a save cut short by a power cut: the line may be half of one
        if (cut)
            end = bytes.size() - 1;
        const QByteArrayView text = WithoutLineEnd(QByteArrayView(bytes.constData() + at, end - at + 1));
        at = end + 1;
        if (cut) {
            m_problems.append({name, line, QStringLiteral("cut short: \"%1\" has no line end")
                                               .arg(QString::fromLatin1(text.first(std::min<qsizetype>(text.size(), 60))))});
            continue;
        }
        const qsizetype space = text.indexOf(' ');
        double offset = 0;
        double celsius = 0;
        const char *const textEnd = text.data() + text.size();
        bool valid = space > 0;
        if (valid) {
            const auto [afterOffset, offsetError] = std::from_chars(text.data(), text.data() + space, offset);
            const auto [afterValue, valueError] = std::from_chars(text.data() + space + 1, textEnd, celsius);
            valid = offsetError == std::errc() && afterOffset == text.data() + space && valueError == std::errc()
                && afterValue == textEnd && std::isfinite(offset) && std::isfinite(celsius)
                && std::abs(offset) <= kLargestOffsetSeconds;
        }
        if (!valid) {
            if (!text.isEmpty() || at < bytes.size())
                m_problems.append({name, line, QStringLiteral("not a reading: \"%1\"").arg(QString::fromLatin1(text.first(std::min<qsizetype>(text.size(), 60))))});
            continue;
        }
        const qint64 offsetMs = std::llround(offset * 1000.0);
        if (!started) {
            start = timeLine.InstantOf(fields[2], fields[1], fields[0], fields[3], fields[4], fields[5],
                                       m_nLastMs == std::numeric_limits<qint64>::min() ? m_nLastMs : m_nLastMs - offsetMs);
            started = true;
        }
        // Files of this version hold real elapsed seconds. Older versions
        // reckoned the offsets from local calendar times, and those of the
        // repeated hour's second pass as if they were its first: such offsets
        // fall back by the daylight-saving shift and come forward again when
        // the clock leaves that hour. They are carried on in between.
        const qint64 rawMs = start + offsetMs;
        if (correctionMs != 0 && rawMs >= correctUntilMs)
            correctionMs = 0;
        qint64 utcMs = rawMs + correctionMs;
        if (utcMs < previousMs && correctionMs == 0) {
            const qint64 shiftMs = qint64(std::abs(timeLine.ShiftNear(utcMs) - timeLine.OffsetAt(utcMs))) * 1000;
            const qint64 drop = previousMs - utcMs;
            if (shiftMs > 0 && std::abs(drop - shiftMs) < shiftMs / 2) {
                correctionMs = shiftMs;
                correctUntilMs = timeLine.NextTransitionAfter(rawMs);
                utcMs += shiftMs;
            }
        }
        if (utcMs < kFirstInstantMs || utcMs > kLastInstantMs) {
            m_problems.append({name, line, QStringLiteral("a time outside the years 1 to 9999")});
            continue;
        }
        previousMs = utcMs;
        out.utcMs = utcMs;
        out.celsius = celsius;
        out.temperature = text.sliced(space + 1);
        out.line = line;
        reading(out);
        m_nLastMs = std::max(m_nLastMs, utcMs);
    }
}
