#pragma once

#include "runcatalog.h"
#include "tokenwebserver.h"

#include <QByteArray>

// The overview's views of the archive: every station's last runs as JSON,
// and a run's readings as CSV in the exporter's columns, made a page at a
// time as the client takes them.
namespace runlist {

inline constexpr int kRunsPerStation = 5;
inline constexpr int kReadingsPerPiece = 20000;

// {"runs":[{"station":…,"run":…,"started":…|null,"stopped":…|null,"comment":…,
// "readings":…|null,"held":…,"missing":…,"lost":…},…]}
QByteArray RunsJson(const std::vector<RunCatalog::Run> &runs);

// "time,elapsed_s,temperature_c,file" and a row per reading; none when the
// run is not in the archive. The catalog must outlive the reply.
std::optional<WebReply> RunCsv(RunCatalog &catalog, const QString &station, qint64 run);

} // namespace runlist
