#include "csvarchive.h"

#include "csvwriter.h"
#include "durablefile.h"
#include "eventlog.h"
#include "localtimeline.h"

#include <QDateTime>
#include <QDir>
#include <QLockFile>
#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>
#include <chrono>

namespace {

const QByteArray kRunsHeader = QByteArrayLiteral("run,started,stopped,comment,readings\r\n");

qint64 SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

QByteArray Iso(std::optional<qint64> utcMs, LocalTimeLine &timeLine)
{
    if (!utcMs)
        return {};
    char text[40];
    return QByteArray(text, WriteIsoTime(text, *utcMs, timeLine.OffsetAt(*utcMs)) - text);
}

std::optional<qint64> FromIso(const QByteArray &text)
{
    if (text.isEmpty())
        return std::nullopt;
    const QDateTime time = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs);
    return time.isValid() ? std::optional<qint64>(time.toMSecsSinceEpoch()) : std::nullopt;
}

QByteArray Field(const QString &text)
{
    QByteArray field = text.toUtf8();
    if (!field.contains(',') && !field.contains('"') && !field.contains('\n') && !field.contains('\r'))
        return field;
    field.replace("\"", "\"\"");
    return '"' + field + '"';
}

} // namespace

CsvArchive::CsvArchive(QString folder)
    : m_strFolder(std::move(folder))
{
}

CsvArchive::~CsvArchive()
{
    QString error;
    Flush(&error);
    m_stations.clear(); // every run's files made durable and closed before the lock goes
    m_lock.reset();
}

bool CsvArchive::Take(QString *error)
{
    if (!QDir().mkpath(m_strFolder)) {
        *error = QStringLiteral("%1 cannot be made").arg(m_strFolder);
        return false;
    }
    auto lock = std::make_unique<QLockFile>(QDir(m_strFolder).filePath(QStringLiteral(".calorivista-collect.lock")));
    lock->setStaleLockTime(0); // a collector runs for months: only a gone one leaves it stale
    if (!lock->tryLock(0)) {
        qint64 pid = 0;
        QString host, application;
        if (lock->error() == QLockFile::LockFailedError && lock->getLockInfo(&pid, &host, &application))
            *error = QStringLiteral("another collector (process %1 on %2) writes the archive %3").arg(pid).arg(host, m_strFolder);
        else
            *error = QStringLiteral("the archive %1 cannot be locked").arg(m_strFolder);
        return false;
    }
    m_lock = std::move(lock);
    return true;
}

std::map<qint64, CsvArchive::RunInfo> CsvArchive::ReadRunsFile(const QString &stationFolder)
{
    std::map<qint64, RunInfo> runs;
    QFile file(QDir(stationFolder).filePath(QStringLiteral("runs.csv")));
    if (!file.open(QIODevice::ReadOnly))
        return runs;
    qsizetype whole = 0;
    const std::vector<QByteArray> records = CsvRecords(file.readAll(), &whole);
    for (size_t i = 1; i < records.size(); ++i) {
        const QList<QByteArray> fields = CsvFields(records[i]);
        bool number = false;
        const qint64 run = fields.value(0).toLongLong(&number);
        if (!number || fields.size() < 5)
            continue;
        RunInfo info;
        info.started = FromIso(fields[1]);
        info.stopped = FromIso(fields[2]);
        info.comment = QString::fromUtf8(fields[3]);
        bool counted = false;
        const qint64 readings = fields[4].toLongLong(&counted);
        if (counted)
            info.readings = readings;
        runs[run] = info;
    }
    return runs;
}

void CsvArchive::LoadRuns(StationFiles &station)
{
    station.runs = ReadRunsFile(station.folder);
    // Runs archived before there was an index.
    static const QRegularExpression runFile(QStringLiteral("^(\\d+)\\.csv$"));
    for (const QString &name : QDir(station.folder).entryList(QDir::Files)) {
        const QRegularExpressionMatch match = runFile.match(name);
        if (match.hasMatch() && station.runs.try_emplace(match.captured(1).toLongLong()).second)
            station.runsChanged = true;
    }
}

bool CsvArchive::SaveRuns(StationFiles &station)
{
    LocalTimeLine timeLine;
    QByteArray bytes = kRunsHeader;
    for (const auto &[run, info] : station.runs) {
        bytes += QByteArray::number(run) + ',' + Iso(info.started, timeLine) + ',' + Iso(info.stopped, timeLine) + ','
            + Field(info.comment) + ',' + (info.readings ? QByteArray::number(*info.readings) : QByteArray()) + "\r\n";
    }
    QSaveFile file(QDir(station.folder).filePath(QStringLiteral("runs.csv")));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush() || !SyncData(file)
        || !file.commit() || !SyncFolder(station.folder))
        return false;
    station.runsChanged = false;
    return true;
}

CsvArchive::StationFiles *CsvArchive::StationOf(const QString &station, QString *error)
{
    auto found = m_stations.find(station);
    if (found != m_stations.end())
        return &found->second;
    StationFiles files;
    files.folder = QDir(m_strFolder).filePath(station);
    if (!QDir().mkpath(files.folder)) {
        *error = QStringLiteral("the folder %1 cannot be made").arg(files.folder);
        return nullptr;
    }
    LoadRuns(files);
    return &m_stations.emplace(station, std::move(files)).first->second;
}

CsvRunFiles *CsvArchive::FilesOf(StationFiles &station, qint64 run, QString *error)
{
    station.used.erase(std::remove(station.used.begin(), station.used.end(), run), station.used.end());
    auto open = station.open.find(run);
    if (open == station.open.end()) {
        auto files = std::make_unique<CsvRunFiles>(station.folder, run);
        if (!files->Open(error))
            return nullptr;
        if (station.runs.try_emplace(run).second)
            station.runsChanged = true;
        // The run used longest ago closes (made durable); it opens again when anything comes for it.
        while (station.open.size() >= kOpenRunsPerStation && !station.used.empty()) {
            station.open.erase(station.used.front());
            station.used.erase(station.used.begin());
        }
        open = station.open.emplace(run, std::move(files)).first;
    }
    station.used.push_back(run);
    return open->second.get();
}

std::vector<Archive::RunRecord> CsvArchive::OpenRuns()
{
    std::vector<RunRecord> open;
    for (const QString &name : QDir(m_strFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QString error;
        StationFiles *station = StationOf(name, &error);
        if (!station)
            continue;
        const std::map<qint64, RunInfo> runs = station->runs;
        for (const auto &[run, info] : runs) {
            // Counted and nothing asked for: whole, no file need be read.
            if (info.readings && !QFile::exists(QStringLiteral("%1/%2.gaps.csv").arg(station->folder).arg(run)))
                continue;
            if (std::optional<RunRecord> record = Run(name, run, &error); record && !record->ledger.Whole())
                open.push_back(std::move(*record));
        }
    }
    return open;
}

std::optional<Archive::RunRecord> CsvArchive::Run(const QString &station, qint64 run, QString *error)
{
    StationFiles *files = StationOf(station, error);
    if (!files)
        return std::nullopt;
    CsvRunFiles *runFiles = FilesOf(*files, run, error);
    if (!runFiles)
        return std::nullopt;
    RunRecord record;
    record.station = station;
    record.run = run;
    record.ledger.Restore(runFiles->End(), runFiles->StoredGaps());
    const RunInfo &info = files->runs[run];
    if (info.readings)
        record.ledger.SetCount(*info.readings);
    record.stopped = info.stopped.has_value() || runFiles->StopMs().has_value();
    return record;
}

bool CsvArchive::AddReadings(const QString &station, qint64 run, qint64 seq, std::span<const PayloadReader::Reading> readings,
                             const RunLedger &ledger)
{
    QString error;
    StationFiles *files = StationOf(station, &error);
    CsvRunFiles *runFiles = files ? FilesOf(*files, run, &error) : nullptr;
    return runFiles && runFiles->Add(seq, readings, ledger);
}

void CsvArchive::SetLedger(const QString &station, qint64 run, const RunLedger &ledger)
{
    QString error;
    StationFiles *files = StationOf(station, &error);
    CsvRunFiles *runFiles = files ? FilesOf(*files, run, &error) : nullptr;
    if (!runFiles)
        return;
    runFiles->SetLedger(ledger);
    RunInfo &info = files->runs[run];
    if (ledger.Count() != info.readings) {
        info.readings = ledger.Count();
        files->runsChanged = true;
    }
}

bool CsvArchive::AddEvent(const QString &station, std::optional<qint64> run, const RunEvent &event, bool *failed)
{
    *failed = false;
    QString error;
    StationFiles *files = StationOf(station, &error);
    if (!files) {
        *failed = true;
        return false;
    }
    if (!run)
        return AddBetweenRuns(*files, event, failed);
    CsvRunFiles *runFiles = FilesOf(*files, *run, &error);
    if (!runFiles) {
        *failed = true;
        return false;
    }
    const bool added = runFiles->AddEvent(event, failed);
    RunInfo &info = files->runs[*run];
    if (added && event.event == QLatin1String("run-start")) {
        info.started = event.utcMs;
        info.comment = event.text.section(QLatin1Char(' '), 1); // after the first data file's number
        files->runsChanged = true;
    } else if (added && event.event == QLatin1String("run-stop")) {
        info.stopped = event.utcMs;
        files->runsChanged = true;
    }
    return added;
}

bool CsvArchive::AddChainLine(const QString &station, const QString &folder, const ChainLine &line, bool *failed)
{
    QString error;
    StationFiles *files = StationOf(station, &error);
    if (!files) {
        *failed = true;
        return false;
    }
    if (!files->witness)
        files->witness = std::make_unique<ChainWitness>(files->folder);
    return files->witness->Add(folder, line, failed);
}

bool CsvArchive::AddBetweenRuns(StationFiles &station, const RunEvent &event, bool *failed)
{
    QFile file(QDir(station.folder).filePath(QString::fromLatin1(EventLog::kFileName)));
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
        *failed = true;
        return false;
    }
    LocalTimeLine timeLine;
    QByteArray line = EventLog::Line(event, timeLine);
    if (file.size() == 0)
        line.prepend(EventLog::kHeader);
    const qint64 whole = file.size();
    if (file.write(line) != line.size() || !file.flush() || !SyncData(file)) {
        file.resize(whole); // cut back to its last whole line, as the readings are
        *failed = true;
        return false;
    }
    return true;
}

bool CsvArchive::Flush(QString *error)
{
    bool flushed = true;
    const qint64 now = SteadyMs();
    const bool sync = now - m_nLastSyncMs >= kSyncMs;
    if (sync)
        m_nLastSyncMs = now;
    for (auto &[name, station] : m_stations) {
        for (auto &[run, files] : station.open)
            if (sync || files->GapsWaiting())
                flushed = files->Sync(now, false, error) && flushed;
        if (station.runsChanged && !SaveRuns(station)) {
            *error = QStringLiteral("%1 cannot be written").arg(QDir(station.folder).filePath(QStringLiteral("runs.csv")));
            flushed = false;
        }
    }
    return flushed;
}

qint64 CsvArchive::Waiting() const
{
    qint64 waiting = 0;
    for (const auto &[name, station] : m_stations)
        for (const auto &[run, files] : station.open)
            waiting += files->WaitingToMerge() + (files->Unsynced() ? 1 : 0); // a run is whole once durable
    return waiting;
}
