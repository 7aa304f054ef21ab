#pragma once

#include "pgconnection.h"
#include "runcatalog.h"

// The runs of the lab's database, for the overview's run list and CSV and
// for calorivista-view: a connection of its own, opened when first needed
// and again after it broke. Readings come a page at a time by seq, so a
// run of millions never sits in memory at once.
class PgRunCatalog : public RunCatalog
{
public:
    PgRunCatalog(QString conninfo, QString password, QString applicationName);

    std::vector<Run> Runs(int perStation, QString *error) override;
    std::unique_ptr<Cursor> OpenReadings(const QString &station, qint64 run, QString *error) override;
    QList<FolderEvent> Events(const QString &station, qint64 run, QString *error) override;

private:
    class PgCursor;
    bool Ready(QString *error);

    PgConnection m_db;
};
