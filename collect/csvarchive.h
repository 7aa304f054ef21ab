#pragma once

#include "archive.h"
#include "chainwitness.h"
#include "csvrunfiles.h"

#include <QString>

#include <map>
#include <memory>
#include <optional>

class QLockFile;

// The archive as a folder of text files, one folder per station:
//   DIR/<station>/runs.csv              run,started,stopped,comment,readings
//   DIR/<station>/<run>.csv, .gaps.csv, .events.csv (see CsvRunFiles)
//   DIR/<station>/events.csv            its events between runs
// The folder is one collector's: a lock file keeps a second one out.
class CsvArchive : public Archive
{
public:
    explicit CsvArchive(QString folder);
    ~CsvArchive() override;

    bool Take(QString *error) override;
    std::vector<RunRecord> OpenRuns() override;
    std::optional<RunRecord> Run(const QString &station, qint64 run, QString *error) override;
    bool AddReadings(const QString &station, qint64 run, qint64 seq, std::span<const PayloadReader::Reading> readings,
                     const RunLedger &ledger) override;
    void SetLedger(const QString &station, qint64 run, const RunLedger &ledger) override;
    bool AddEvent(const QString &station, std::optional<qint64> run, const RunEvent &event, bool *failed) override;
    // Into "<station>/chain.csv".
    bool AddChainLine(const QString &station, const QString &folder, const ChainLine &line, bool *failed) override;
    bool Flush(QString *error) override;
    qint64 Waiting() const override;

    static constexpr size_t kOpenRunsPerStation = 4;

    // A line of a station's runs.csv.
    struct RunInfo
    {
        std::optional<qint64> started;
        std::optional<qint64> stopped;
        QString comment;
        std::optional<qint64> readings;
    };
    // The runs.csv of a station's folder; damaged lines are left out.
    static std::map<qint64, RunInfo> ReadRunsFile(const QString &stationFolder);

private:
    struct StationFiles
    {
        QString folder;
        std::map<qint64, RunInfo> runs;
        bool runsChanged = false;
        std::map<qint64, std::unique_ptr<CsvRunFiles>> open;
        std::vector<qint64> used; // open runs, the one used last at the back
        std::unique_ptr<ChainWitness> witness; // its chain.csv, once a line came
    };

    StationFiles *StationOf(const QString &station, QString *error);
    CsvRunFiles *FilesOf(StationFiles &station, qint64 run, QString *error);
    void LoadRuns(StationFiles &station);
    bool SaveRuns(StationFiles &station);
    bool AddBetweenRuns(StationFiles &station, const RunEvent &event, bool *failed);

    QString m_strFolder;
    std::unique_ptr<QLockFile> m_lock;
    std::map<QString, StationFiles> m_stations;
    // The run files are made durable at most this often: with a hundred
    // stations each sync of each file is a disk's flush, and most of the
    // collector's cost. A crash loses at most this much, which the stations send again.
    static constexpr qint64 kSyncMs = 1000;
    qint64 m_nLastSyncMs = 0;
};
