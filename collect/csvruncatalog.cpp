#include "csvruncatalog.h"

#include "archiverows.h"
#include "csvarchive.h"
#include "csvrunfiles.h"

#include <QDir>
#include <QFile>

CsvRunCatalog::CsvRunCatalog(QString folder)
    : m_strFolder(std::move(folder))
{
}

std::vector<RunCatalog::Run> CsvRunCatalog::Runs(int perStation, QString *error)
{
    std::vector<Run> runs;
    const QDir archive(m_strFolder);
    if (!archive.exists()) {
        *error = QStringLiteral("%1 is no archive").arg(m_strFolder);
        return runs;
    }
    for (const QString &station : archive.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString folder = archive.filePath(station);
        const std::map<qint64, CsvArchive::RunInfo> index = CsvArchive::ReadRunsFile(folder);
        int taken = 0;
        for (auto it = index.rbegin(); it != index.rend() && taken < perStation; ++it, ++taken) {
            Run run;
            run.station = station;
            run.run = it->first;
            run.started = it->second.started;
            run.stopped = it->second.stopped;
            run.comment = it->second.comment;
            run.readings = it->second.readings;
            for (const RunLedger::Gap &gap : CsvRunFiles::ReadGapsFile(QStringLiteral("%1/%2.gaps.csv").arg(folder).arg(run.run)))
                (gap.state == RunLedger::Gap::State::Lost ? run.lost : run.missing) += gap.Readings();
            // Counted by its stop: what is not missing is held (a run going on has no count yet).
            if (run.readings)
                run.held = std::max<qint64>(0, *run.readings - run.missing - run.lost);
            runs.push_back(run);
        }
    }
    return runs;
}

namespace {

// A run's CSV read row by row; a row the collector is still writing is left for later.
class CsvCursor : public RunCatalog::Cursor
{
public:
    explicit CsvCursor(const QString &path)
        : m_file(path)
    {
    }
    bool Open()
    {
        if (!m_file.open(QIODevice::ReadOnly))
            return false;
        m_file.readLine(); // the header
        return true;
    }
    std::vector<RunCatalog::Reading> Next(int count, QString *) override
    {
        std::vector<RunCatalog::Reading> readings;
        while (int(readings.size()) < count && !m_file.atEnd()) {
            const QByteArray line = m_file.readLine();
            if (!line.endsWith('\n'))
                break;
            const std::optional<archiverows::Row> row = archiverows::ParseRow(QByteArrayView(line).chopped(1));
            if (row && row->seq)
                readings.push_back({*row->seq, row->utcMs, row->temperature.toByteArray()});
        }
        return readings;
    }

private:
    QFile m_file;
};

} // namespace

std::unique_ptr<RunCatalog::Cursor> CsvRunCatalog::OpenReadings(const QString &station, qint64 run, QString *error)
{
    auto cursor = std::make_unique<CsvCursor>(QStringLiteral("%1/%2/%3.csv").arg(m_strFolder, station).arg(run));
    if (station.contains(QLatin1Char('/')) || station.startsWith(QLatin1Char('.')) || !cursor->Open()) {
        *error = QStringLiteral("no run %1 of %2 in the archive").arg(run).arg(station);
        return nullptr;
    }
    return cursor;
}

QList<FolderEvent> CsvRunCatalog::Events(const QString &station, qint64 run, QString *)
{
    return ReadEventsFile(QStringLiteral("%1/%2/%3.events.csv").arg(m_strFolder, station).arg(run));
}
