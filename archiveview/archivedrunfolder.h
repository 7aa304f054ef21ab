#pragma once

#include "runcatalog.h"

#include <QString>

#include <functional>

// A run of the lab's archive written out as a record folder, so that the run
// window and its exports take it as they take any other: data files "0000",
// "0001", … (each its own reference time, its first reading's second, and at
// most kFileSeconds long, so that every offset keeps its milliseconds),
// "dirinfo" with the run's comment and "events.csv" with its events.
namespace archivedrunfolder {

inline constexpr qint64 kFileSeconds = 1000;
inline constexpr int kReadingsPerPage = 50000;

// Writes the run into `folder` (made if missing). `progress` hears the
// readings written so far and may cancel by returning false; false then, or
// when the run cannot be read or written (`error` says why).
bool Write(RunCatalog &catalog, const RunCatalog::Run &run, const QString &folder,
           const std::function<bool(qint64 done)> &progress, QString *error);

} // namespace archivedrunfolder
