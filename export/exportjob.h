#pragma once

#include "recordfolder.h"

#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QIODevice;

// What to export from a record folder, and where to.
struct ExportRequest
{
    QString folder;
    QIODevice *csv = nullptr;  // open for writing; null: no CSV (a picture alone)
    QString pngPath;           // empty: no picture
    QSize pngSize {1600, 900};
    std::optional<qint64> fromMs; // readings before this instant are left out
    std::optional<qint64> toMs;   // and after this one
};

struct ExportResult
{
    QString error;             // the export could not be made at all
    bool cancelled = false;
    qint64 rows = 0;
    int dataFiles = 0;
    QStringList otherFiles;    // in the folder, no data file, left out
    QList<ExportProblem> problems;
    QString comment;           // of "dirinfo"

    // Something was left out: a damaged line or file (other files do not count).
    bool Skipped() const { return !problems.isEmpty(); }
};

// Exports a record folder: one CSV of all its readings in file order and,
// when asked, a picture of the whole run. `progress` hears (done, total) in
// files read (twice each with a picture) and may cancel by returning false.
ExportResult ExportRecordFolder(const ExportRequest &request,
                                const std::function<bool(int done, int total)> &progress = {});
