#include "runarchive.h"

#include "durablefile.h"
#include "eventlog.h"
#include "publishpayloads.h"
#include "recordfolder.h"

#include <QDateTime>
#include <QDir>

namespace {

const QByteArray kGapsHeader = QByteArrayLiteral("first_seq,last_seq,readings\r\n");

// The whole lines of a file that a crash may have cut in the middle of one:
// the cut line goes. Returns the lines, the header included.
std::optional<QList<QByteArray>> WholeLines(QFile &file)
{
    const QByteArray bytes = file.readAll();
    const qsizetype end = bytes.lastIndexOf('\n') + 1;
    if (end < bytes.size() && !file.resize(end))
        return std::nullopt;
    file.seek(end);
    QList<QByteArray> lines = bytes.first(end).split('\n');
    lines.removeLast(); // after the last line end
    return lines;
}

bool MadeNew(QFile &file, const QByteArray &header, const QString &folder)
{
    return file.write(header) == header.size() && file.flush() && SyncData(file) && SyncFolder(folder);
}

} // namespace

RunArchive::RunArchive(const QString &folder, qint64 run)
    : m_strFolder(folder)
    , m_nRun(run)
{
}

QString RunArchive::CsvPath() const
{
    return QStringLiteral("%1/%2.csv").arg(m_strFolder).arg(m_nRun);
}

bool RunArchive::Open(QString *error)
{
    return OpenCsv(error) && OpenEvents(error);
}

bool RunArchive::OpenCsv(QString *error)
{
    m_csv.setFileName(CsvPath());
    if (!m_csv.open(QIODevice::ReadWrite)) {
        *error = m_csv.errorString();
        return false;
    }
    m_writer.emplace(m_csv, m_timeLine);
    const std::optional<QList<QByteArray>> lines = WholeLines(m_csv);
    if (!lines) {
        *error = m_csv.errorString();
        return false;
    }
    if (lines->isEmpty()) {
        m_csv.resize(0);
        m_writer->Header();
        if (!m_writer->Finish() || !SyncData(m_csv) || !SyncFolder(m_strFolder)) {
            *error = m_csv.errorString();
            return false;
        }
        return true;
    }
    const qint64 rows = lines->size() - 1;
    qint64 firstMs = 0;
    if (rows > 0) {
        const QByteArray time = lines->at(1).left(lines->at(1).indexOf(','));
        firstMs = QDateTime::fromString(QString::fromLatin1(time), Qt::ISODateWithMs).toMSecsSinceEpoch();
    }
    m_nFirstMs = firstMs;
    m_writer->Resume(firstMs, rows);
    // The rows are the run's readings from the first index on, less the gaps.
    QFile gaps(QStringLiteral("%1/%2.gaps.csv").arg(m_strFolder).arg(m_nRun));
    if (gaps.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> gapLines = gaps.readAll().split('\n');
        for (qsizetype i = 1; i < gapLines.size(); ++i) {
            const QList<QByteArray> fields = gapLines[i].trimmed().split(',');
            if (fields.size() == 3)
                m_nMissing += fields[2].toLongLong();
        }
    }
    m_nNextSeq = rows + m_nMissing;
    return true;
}

bool RunArchive::OpenEvents(QString *error)
{
    m_events.setFileName(QStringLiteral("%1/%2.events.csv").arg(m_strFolder).arg(m_nRun));
    if (!m_events.open(QIODevice::ReadWrite)) {
        *error = m_events.errorString();
        return false;
    }
    const std::optional<QList<QByteArray>> lines = WholeLines(m_events);
    if (!lines) {
        *error = m_events.errorString();
        return false;
    }
    if (lines->isEmpty()) {
        m_events.resize(0);
        if (!MadeNew(m_events, EventLog::kHeader, m_strFolder)) {
            *error = m_events.errorString();
            return false;
        }
        return true;
    }
    for (qsizetype i = 1; i < lines->size(); ++i) {
        const QByteArray line = lines->at(i) + '\n';
        m_eventLines.insert(line);
        if (line.contains(",run-stop,")) {
            const QByteArray time = line.left(line.indexOf(','));
            m_stopMs = QDateTime::fromString(QString::fromLatin1(time), Qt::ISODateWithMs).toMSecsSinceEpoch();
        }
    }
    return true;
}

RunArchive::Added RunArchive::AddReadings(qint64 seq, std::span<const CollectedReading> readings)
{
    Added added;
    if (seq < m_nNextSeq) {
        const qint64 skip = std::min<qint64>(m_nNextSeq - seq, qint64(readings.size()));
        added.repeated = skip;
        readings = readings.subspan(size_t(skip));
        seq += skip;
    }
    if (readings.empty())
        return added;
    if (seq > m_nNextSeq) {
        added.gap = std::pair(m_nNextSeq, seq - 1);
        if (!NoteGap(m_nNextSeq, seq - 1)) {
            added.failed = true;
            return added;
        }
        m_nMissing += seq - m_nNextSeq;
        m_nNextSeq = seq;
    }
    const qint64 whole = m_csv.size();
    const qint64 rowsBefore = m_writer->Rows();
    if (rowsBefore == 0)
        m_nFirstMs = readings.front().utcMs;
    for (const CollectedReading &reading : readings) {
        QByteArray temperature;
        publishpayloads::AppendTemperature(temperature, reading.temperature);
        m_writer->Row(FolderReading {reading.utcMs, temperature, reading.temperature, QByteArrayView()});
    }
    if (!m_writer->Finish() || !SyncData(m_csv)) {
        m_csv.resize(whole); // the next copy of the batch writes it again
        m_csv.seek(whole);
        m_writer.emplace(m_csv, m_timeLine);
        m_writer->Resume(m_nFirstMs, rowsBefore);
        added.failed = true;
        return added;
    }
    m_nNextSeq += qint64(readings.size());
    added.written = qint64(readings.size());
    return added;
}

bool RunArchive::NoteGap(qint64 first, qint64 last)
{
    QFile gaps(QStringLiteral("%1/%2.gaps.csv").arg(m_strFolder).arg(m_nRun));
    if (!gaps.open(QIODevice::ReadWrite | QIODevice::Append))
        return false;
    QByteArray line = QByteArray::number(first) + ',' + QByteArray::number(last) + ','
        + QByteArray::number(last - first + 1) + "\r\n";
    if (gaps.size() == 0)
        line.prepend(kGapsHeader);
    return gaps.write(line) == line.size() && gaps.flush() && SyncData(gaps) && SyncFolder(m_strFolder);
}

bool RunArchive::AddEvent(const RunEvent &event, bool *failed)
{
    *failed = false;
    const QByteArray line = EventLog::Line(event, m_timeLine);
    if (m_eventLines.contains(line))
        return false;
    m_events.seek(m_events.size());
    if (m_events.write(line) != line.size() || !m_events.flush() || !SyncData(m_events)) {
        *failed = true;
        return false;
    }
    m_eventLines.insert(line);
    if (event.event == QLatin1String("run-stop"))
        m_stopMs = event.utcMs;
    return true;
}
