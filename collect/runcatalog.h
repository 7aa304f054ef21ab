#pragma once

#include "eventsfile.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

// What the lab's archive holds, read back for people: every station's runs,
// and a run's readings and events, whichever archive (a folder of CSV files
// or the database) holds them.
class RunCatalog
{
public:
    virtual ~RunCatalog() = default;

    struct Run
    {
        QString station;
        qint64 run = 0;
        std::optional<qint64> started, stopped; // ms since 1970
        QString comment;
        std::optional<qint64> readings; // the run's count, from its stop
        qint64 held = 0;                // readings archived
        qint64 missing = 0;             // still asked for
        qint64 lost = 0;                // lost for good
    };
    struct Reading
    {
        qint64 seq = 0;
        qint64 utcMs = 0;
        QByteArray temperature; // as the station sent it
    };

    // A run's readings in seq order, some at a time.
    class Cursor
    {
    public:
        virtual ~Cursor() = default;
        // The next ones, at most `count`; none at the end (or, with `error`, when they cannot be read).
        virtual std::vector<Reading> Next(int count, QString *error) = 0;
    };

    // Each station's newest runs, at most `perStation` of each: by station, newest first.
    virtual std::vector<Run> Runs(int perStation, QString *error) = 0;
    // The run's readings from its first on; none when there is no such run.
    virtual std::unique_ptr<Cursor> OpenReadings(const QString &station, qint64 run, QString *error) = 0;
    virtual QList<FolderEvent> Events(const QString &station, qint64 run, QString *error) = 0;
};
