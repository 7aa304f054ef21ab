#include "csvrunfiles.h"

#include "archiverows.h"
#include "durablefile.h"
#include "eventlog.h"

#include <QDateTime>
#include <QDir>
#include <QSaveFile>

#include <algorithm>
#include <chrono>
#include <limits>

namespace {

const QByteArray kGapsHeader = QByteArrayLiteral("first_seq,last_seq,readings,state,reason\r\n");
constexpr qint64 kEdgeBytes = 64 * 1024;
constexpr qint64 kMergeAtOnce = 500000;

qint64 SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

QByteArray Field(const QString &text)
{
    QByteArray field = text.toUtf8();
    if (!field.contains(',') && !field.contains('"') && !field.contains('\n') && !field.contains('\r'))
        return field;
    field.replace("\"", "\"\"");
    return '"' + field + '"';
}

// Writes a file anew through a temporary one renamed over it, durably.
bool WriteWhole(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush() || !SyncData(file))
        return false;
    return file.commit() && SyncFolder(QFileInfo(path).absolutePath());
}

} // namespace

std::vector<QByteArray> CsvRecords(const QByteArray &bytes, qsizetype *wholeEnd)
{
    std::vector<QByteArray> records;
    qsizetype start = 0;
    bool quoted = false;
    *wholeEnd = 0;
    for (qsizetype at = 0; at < bytes.size(); ++at) {
        const char c = bytes[at];
        if (c == '"')
            quoted = !quoted; // a doubled quote flips twice
        else if (c == '\n' && !quoted) {
            records.push_back(bytes.sliced(start, at + 1 - start));
            start = at + 1;
            *wholeEnd = start;
        }
    }
    return records;
}

QList<QByteArray> CsvFields(QByteArrayView record)
{
    QList<QByteArray> fields;
    QByteArray field;
    bool quoted = false;
    for (qsizetype at = 0; at < record.size(); ++at) {
        const char c = record[at];
        if (quoted) {
            if (c != '"')
                field += c;
            else if (at + 1 < record.size() && record[at + 1] == '"')
                field += record[++at];
            else
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields << field;
            field.clear();
        } else if (c != '\r' && c != '\n') {
            field += c;
        }
    }
    fields << field;
    return fields;
}

CsvRunFiles::CsvRunFiles(QString folder, qint64 run)
    : m_strFolder(std::move(folder))
    , m_nRun(run)
{
}

CsvRunFiles::~CsvRunFiles()
{
    QString error;
    Sync(SteadyMs(), true, &error);
}

QString CsvRunFiles::CsvPath() const
{
    return QStringLiteral("%1/%2.csv").arg(m_strFolder).arg(m_nRun);
}

bool CsvRunFiles::Open(QString *error)
{
    if (!ReadGaps() || !OpenCsv(error) || !OpenEvents(error))
        return false;
    CheckGapsAgainstCsv();
    return true;
}

bool CsvRunFiles::OpenCsv(QString *error)
{
    m_csv.setFileName(CsvPath());
    if (!m_csv.open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        *error = m_csv.errorString();
        return false;
    }
    const qint64 size = m_csv.size();
    const QByteArray head = m_csv.read(std::min(size, kEdgeBytes));
    const QByteArray header(archiverows::kHeader);
    if (head.startsWith(archiverows::kOlderHeader))
        return ConvertOlder(head.size() == size ? head : (m_csv.seek(0), m_csv.readAll()), error);
    if (!head.startsWith(header)) {
        if (!header.startsWith(head)) {
            *error = QStringLiteral("%1 is no run of this archive").arg(CsvPath());
            return false;
        }
        // New, or its header cut by a crash.
        if (!m_csv.resize(0) || m_csv.write(header) != header.size() || !m_csv.flush() || !SyncData(m_csv)
            || !SyncFolder(m_strFolder)) {
            *error = m_csv.errorString();
            return false;
        }
        return true;
    }
    // Only the first row (the run's first reading) and the last are read.
    const qsizetype firstEnd = head.indexOf('\n', header.size());
    if (firstEnd > 0) {
        if (const auto row = archiverows::ParseRow(head.sliced(header.size(), firstEnd - header.size()))) {
            m_nFirstMs = row->utcMs;
            m_nFirstSeq = row->seq.value_or(0);
        }
    }
    const qint64 tailFrom = std::max<qint64>(header.size(), size - kEdgeBytes);
    m_csv.seek(tailFrom);
    const QByteArray tail = m_csv.read(size - tailFrom);
    const qsizetype lastEnd = tail.lastIndexOf('\n');
    const qint64 whole = lastEnd < 0 ? header.size() : tailFrom + lastEnd + 1;
    if (whole < size && !m_csv.resize(whole)) { // a line cut by a crash
        *error = m_csv.errorString();
        return false;
    }
    if (lastEnd > 0) {
        const qsizetype lineStart = tail.lastIndexOf('\n', lastEnd - 1) + 1;
        if (const auto row = archiverows::ParseRow(tail.sliced(lineStart, lastEnd - lineStart)); row && row->seq)
            m_nEnd = *row->seq + 1;
    }
    m_csv.seek(whole);
    return true;
}

bool CsvRunFiles::ConvertOlder(const QByteArray &bytes, QString *error)
{
    // Rows of an older archive have no seq: it follows from their order and
    // the gaps file, which listed what never came.
    std::vector<RunLedger::Gap> gaps = m_storedGaps;
    std::sort(gaps.begin(), gaps.end(), [](const auto &a, const auto &b) { return a.from < b.from; });
    QByteArray out(archiverows::kHeader);
    qint64 seq = 0;
    size_t gap = 0;
    qsizetype at = bytes.indexOf('\n') + 1;
    while (at > 0 && at < bytes.size()) {
        const qsizetype end = bytes.indexOf('\n', at);
        if (end < 0)
            break; // cut by a crash
        QByteArrayView line = QByteArrayView(bytes).sliced(at, end - at);
        if (line.endsWith('\r'))
            line.chop(1);
        while (gap < gaps.size() && gaps[gap].from <= seq) {
            seq = std::max(seq, gaps[gap].to);
            ++gap;
        }
        if (m_nFirstMs < 0)
            if (const auto row = archiverows::ParseRow(line)) {
                m_nFirstMs = row->utcMs;
                m_nFirstSeq = seq;
            }
        out += line;
        out += ',' + QByteArray::number(seq++) + "\r\n";
        at = end + 1;
    }
    m_csv.close();
    if (!WriteWhole(CsvPath(), out)) {
        *error = QStringLiteral("%1 could not be written anew").arg(CsvPath());
        return false;
    }
    m_nEnd = seq;
    if (!m_csv.open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        *error = m_csv.errorString();
        return false;
    }
    m_csv.seek(m_csv.size());
    m_bGapsChanged = true; // in the new columns
    return true;
}

bool CsvRunFiles::ReadGaps()
{
    m_storedGaps = ReadGapsFile(QStringLiteral("%1/%2.gaps.csv").arg(m_strFolder).arg(m_nRun));
    return true;
}

std::vector<RunLedger::Gap> CsvRunFiles::ReadGapsFile(const QString &path)
{
    std::vector<RunLedger::Gap> gaps;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return gaps; // no file: nothing missing
    qsizetype whole = 0;
    const std::vector<QByteArray> records = CsvRecords(file.readAll(), &whole);
    for (size_t i = 1; i < records.size(); ++i) {
        const QList<QByteArray> fields = CsvFields(records[i]);
        if (fields.size() < 3)
            continue;
        bool first = false, last = false;
        RunLedger::Gap gap;
        gap.from = fields[0].toLongLong(&first);
        gap.to = fields[1].toLongLong(&last) + 1;
        if (!first || !last || gap.to <= gap.from)
            continue;
        if (fields.size() >= 5 && fields[3] == "lost") {
            gap.state = RunLedger::Gap::State::Lost;
            gap.reason = QString::fromUtf8(fields[4]);
        }
        gaps.push_back(gap);
    }
    return gaps;
}

std::optional<qint64> CsvRunFiles::FirstSeqAtOrAfter(qint64 seq)
{
    // The rows are in seq order: a search by halves over the file's bytes,
    // then a line at a time. `low` is always where a line starts.
    const qint64 headerEnd = qint64(sizeof(archiverows::kHeader) - 1);
    const qint64 size = m_csv.size();
    struct Found
    {
        qint64 seq;
        qint64 lineStart;
    };
    // The first whole line that starts after `offset` (at it, for a line start).
    const auto lineAfter = [&](qint64 offset, bool atStart) -> std::optional<Found> {
        m_csv.seek(offset);
        const QByteArray bytes = m_csv.read(1024);
        const qsizetype start = atStart ? 0 : bytes.indexOf('\n') + 1;
        if (!atStart && start <= 0)
            return std::nullopt;
        const qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            return std::nullopt;
        const auto row = archiverows::ParseRow(QByteArrayView(bytes).sliced(start, end - start));
        if (!row || !row->seq)
            return std::nullopt;
        return Found {*row->seq, offset + start};
    };
    qint64 low = headerEnd, high = size;
    while (high - low > 4096) {
        const qint64 middle = low + (high - low) / 2;
        const std::optional<Found> found = lineAfter(middle, false);
        if (found && found->seq < seq && found->lineStart < high)
            low = found->lineStart;
        else
            high = middle;
    }
    m_csv.seek(low);
    QByteArray buffer;
    for (;;) {
        const QByteArray chunk = m_csv.read(64 * 1024);
        if (chunk.isEmpty())
            return std::nullopt;
        buffer += chunk;
        qsizetype at = 0;
        for (qsizetype end = buffer.indexOf('\n'); end >= 0; end = buffer.indexOf('\n', at)) {
            const auto row = archiverows::ParseRow(QByteArrayView(buffer).sliced(at, end - at));
            if (row && row->seq && *row->seq >= seq)
                return row->seq;
            at = end + 1;
        }
        buffer.remove(0, at);
    }
}

void CsvRunFiles::CheckGapsAgainstCsv()
{
    // A crash after the CSV was written anew and before the gaps file was:
    // a gap listed as missing whose readings are there is none.
    std::vector<RunLedger::Gap> checked;
    bool changed = false;
    for (const RunLedger::Gap &gap : m_storedGaps) {
        if (gap.from >= m_nEnd || gap.state == RunLedger::Gap::State::Lost) {
            checked.push_back(gap);
            continue;
        }
        const std::optional<qint64> first = FirstSeqAtOrAfter(gap.from);
        if (!first || *first >= gap.to) {
            checked.push_back(gap);
            continue;
        }
        // Some of it is there: what is not, seq by seq (a hole is short beside a run).
        changed = true;
        qint64 at = gap.from;
        for (qint64 seq = *first; seq < gap.to;) {
            if (seq > at)
                checked.push_back({at, seq, RunLedger::Gap::State::Asked, {}});
            at = seq + 1;
            const std::optional<qint64> next = FirstSeqAtOrAfter(seq + 1);
            if (!next)
                break;
            seq = *next;
        }
        if (at < gap.to)
            checked.push_back({at, gap.to, RunLedger::Gap::State::Asked, {}});
    }
    if (changed) {
        m_storedGaps = checked;
        m_bGapsChanged = true;
    }
    m_csv.seek(m_csv.size());
}

bool CsvRunFiles::OpenEvents(QString *error)
{
    m_events.setFileName(QStringLiteral("%1/%2.events.csv").arg(m_strFolder).arg(m_nRun));
    if (!m_events.open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        *error = m_events.errorString();
        return false;
    }
    const QByteArray bytes = m_events.readAll();
    qsizetype whole = 0;
    const std::vector<QByteArray> records = CsvRecords(bytes, &whole);
    if (records.empty()) {
        const QByteArray header(EventLog::kHeader);
        if (!m_events.resize(0) || m_events.write(header) != header.size() || !m_events.flush() || !SyncData(m_events)
            || !SyncFolder(m_strFolder)) {
            *error = m_events.errorString();
            return false;
        }
        return true;
    }
    if (whole < bytes.size() && !m_events.resize(whole)) { // a record cut by a crash
        *error = m_events.errorString();
        return false;
    }
    // Records, not lines: a comment or a mark may hold a line break or ",run-stop,".
    for (size_t i = 1; i < records.size(); ++i) {
        m_eventRecords.insert(records[i]);
        const QList<QByteArray> fields = CsvFields(records[i]);
        if (fields.size() >= 2 && fields[1] == "run-stop")
            m_stopMs = QDateTime::fromString(QString::fromLatin1(fields[0]), Qt::ISODateWithMs).toMSecsSinceEpoch();
    }
    m_events.seek(whole);
    return true;
}

bool CsvRunFiles::Add(qint64 seq, std::span<const PayloadReader::Reading> readings, const RunLedger &ledger)
{
    if (readings.empty())
        return true;
    SetLedger(ledger);
    // Below the end: kept to be merged in.
    while (!readings.empty() && seq < m_nEnd) {
        m_toMerge[seq] = {readings.front().utcMs, std::string(readings.front().text)};
        m_nLastMergeWaitMs = SteadyMs();
        readings = readings.subspan(1);
        ++seq;
    }
    if (readings.empty())
        return true;
    if (seq > m_nEnd) {
        // A hole: said in the gaps file, durably, before anything after it.
        if (!SyncData(m_csv) || !WriteGaps(GapsToStore()))
            return false;
        m_bGapsChanged = false;
    }
    if (m_nFirstMs < 0) {
        m_nFirstMs = readings.front().utcMs;
        m_nFirstSeq = seq;
    }
    QByteArray rows;
    rows.reserve(qsizetype(readings.size()) * 64);
    for (const PayloadReader::Reading &reading : readings)
        archiverows::AppendRow(rows, m_timeLine, reading.utcMs, m_nFirstMs, reading.text, seq++);
    const qint64 whole = m_csv.size();
    m_csv.seek(whole);
    if (m_csv.write(rows) != rows.size() || !m_csv.flush()) {
        m_csv.resize(whole); // a row written in part would be a row misread
        m_csv.seek(whole);
        return false;
    }
    m_nEnd = seq;
    m_bCsvUnsynced = true;
    return true;
}

void CsvRunFiles::SetLedger(const RunLedger &ledger)
{
    m_ledger = ledger;
    m_bGapsChanged = true;
}

bool CsvRunFiles::AddEvent(const RunEvent &event, bool *failed)
{
    *failed = false;
    const QByteArray line = EventLog::Line(event, m_timeLine);
    if (m_eventRecords.contains(line))
        return false;
    const qint64 whole = m_events.size();
    m_events.seek(whole);
    if (m_events.write(line) != line.size() || !m_events.flush()) {
        m_events.resize(whole); // never glued to the next one
        m_events.seek(whole);
        *failed = true;
        return false;
    }
    m_eventRecords.insert(line);
    m_bEventsUnsynced = true;
    if (event.event == QLatin1String("run-stop"))
        m_stopMs = event.utcMs;
    return true;
}

std::vector<RunLedger::Gap> CsvRunFiles::GapsToStore() const
{
    std::vector<RunLedger::Gap> gaps = m_ledger ? m_ledger->Gaps() : m_storedGaps;
    // Readings that wait to be merged are not in the CSV yet: still missing there.
    for (auto it = m_toMerge.begin(); it != m_toMerge.end();) {
        qint64 from = it->first, to = from + 1;
        for (++it; it != m_toMerge.end() && it->first == to; ++it)
            ++to;
        gaps.push_back({from, to, RunLedger::Gap::State::Asked, {}});
    }
    std::sort(gaps.begin(), gaps.end(), [](const auto &a, const auto &b) { return a.from < b.from; });
    std::vector<RunLedger::Gap> joined;
    for (const RunLedger::Gap &gap : gaps) {
        if (!joined.empty() && joined.back().state == gap.state && joined.back().reason == gap.reason
            && joined.back().to >= gap.from)
            joined.back().to = std::max(joined.back().to, gap.to);
        else
            joined.push_back(gap);
    }
    return joined;
}

bool CsvRunFiles::WriteGaps(const std::vector<RunLedger::Gap> &gaps)
{
    const QString path = QStringLiteral("%1/%2.gaps.csv").arg(m_strFolder).arg(m_nRun);
    if (gaps.empty()) {
        if (QFile::exists(path) && !QFile::remove(path))
            return false;
        m_storedGaps.clear();
        return SyncFolder(m_strFolder);
    }
    QByteArray bytes = kGapsHeader;
    for (const RunLedger::Gap &gap : gaps) {
        bytes += QByteArray::number(gap.from) + ',' + QByteArray::number(gap.to - 1) + ',' + QByteArray::number(gap.Readings())
            + ',' + (gap.state == RunLedger::Gap::State::Lost ? "lost" : "asked") + ',' + Field(gap.reason) + "\r\n";
    }
    if (!WriteWhole(path, bytes))
        return false;
    m_storedGaps = gaps;
    return true;
}

bool CsvRunFiles::Merge(QString *error)
{
    // The CSV written anew in seq order with what waited, then renamed over
    // the old one: a crash leaves the one or the other, whole.
    QSaveFile merged(CsvPath());
    if (!merged.open(QIODevice::WriteOnly)) {
        *error = merged.errorString();
        return false;
    }
    // elapsed_s counts from the run's first reading, which may be among those that waited.
    const auto &lowest = *m_toMerge.begin();
    const bool newFirst = m_nFirstSeq < 0 || lowest.first < m_nFirstSeq;
    const qint64 firstMs = newFirst ? lowest.second.utcMs : m_nFirstMs;
    const bool rewrite = firstMs != m_nFirstMs;
    QByteArray out(archiverows::kHeader);
    bool written = true;
    const auto push = [&](bool last) {
        if (written && (last || out.size() >= (1 << 20))) {
            written = merged.write(out) == out.size();
            out.clear();
        }
    };
    auto waiting = m_toMerge.begin();
    const auto emitWaitingBefore = [&](qint64 seq) {
        for (; waiting != m_toMerge.end() && waiting->first < seq; ++waiting)
            archiverows::AppendRow(out, m_timeLine, waiting->second.utcMs, firstMs, waiting->second.temperature, waiting->first);
    };
    m_csv.seek(qint64(sizeof(archiverows::kHeader) - 1));
    QByteArray buffer;
    for (;;) {
        const QByteArray chunk = m_csv.read(1 << 20);
        if (chunk.isEmpty())
            break;
        buffer += chunk;
        qsizetype at = 0;
        for (qsizetype end = buffer.indexOf('\n'); end >= 0; end = buffer.indexOf('\n', at)) {
            const QByteArrayView line = QByteArrayView(buffer).sliced(at, end - at);
            const std::optional<archiverows::Row> row = archiverows::ParseRow(line);
            if (row && row->seq) {
                emitWaitingBefore(*row->seq);
                if (rewrite)
                    archiverows::AppendRow(out, m_timeLine, row->utcMs, firstMs,
                                           std::string_view(row->temperature.data(), size_t(row->temperature.size())), *row->seq);
                else
                    out += QByteArrayView(buffer).sliced(at, end + 1 - at);
            }
            at = end + 1;
            push(false);
        }
        buffer.remove(0, at);
    }
    emitWaitingBefore(std::numeric_limits<qint64>::max());
    push(true);
    written = written && merged.flush() && SyncData(merged);
    if (!written || !merged.commit() || !SyncFolder(m_strFolder)) {
        *error = QStringLiteral("%1 could not be written anew").arg(CsvPath());
        merged.cancelWriting();
        return false;
    }
    m_nEnd = std::max(m_nEnd, std::prev(m_toMerge.end())->first + 1);
    if (newFirst) {
        m_nFirstSeq = lowest.first;
        m_nFirstMs = firstMs;
    }
    m_toMerge.clear();
    m_csv.close();
    if (!m_csv.open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        *error = m_csv.errorString();
        return false;
    }
    m_csv.seek(m_csv.size());
    m_bCsvUnsynced = false;
    m_bGapsChanged = true;
    return true;
}

bool CsvRunFiles::Sync(qint64 steadyNowMs, bool force, QString *error)
{
    bool synced = true;
    if (!m_toMerge.empty()
        && (force || steadyNowMs - m_nLastMergeWaitMs >= kQuietMs || qint64(m_toMerge.size()) >= kMergeAtOnce))
        synced = Merge(error);
    if (m_bCsvUnsynced) {
        m_bCsvUnsynced = !SyncData(m_csv);
        synced = synced && !m_bCsvUnsynced;
    }
    if (m_bEventsUnsynced) {
        m_bEventsUnsynced = !SyncData(m_events);
        synced = synced && !m_bEventsUnsynced;
    }
    if (m_bGapsChanged && synced) {
        // After the data: the gaps file never says less is missing than the CSV lacks.
        m_bGapsChanged = !WriteGaps(GapsToStore());
        synced = !m_bGapsChanged;
    }
    if (!synced && error->isEmpty())
        *error = QStringLiteral("the run's files could not be made durable in %1").arg(m_strFolder);
    return synced;
}
