#pragma once

#include "runcatalog.h"


// The runs of a collector's folder of CSV files, read while the collector
// writes it: each station's runs.csv, a run's CSV row by row, its events.
class CsvRunCatalog : public RunCatalog
{
public:
    explicit CsvRunCatalog(QString folder);

    std::vector<Run> Runs(int perStation, QString *error) override;
    std::unique_ptr<Cursor> OpenReadings(const QString &station, qint64 run, QString *error) override;
    QList<FolderEvent> Events(const QString &station, qint64 run, QString *error) override;

private:
    QString m_strFolder;
};
