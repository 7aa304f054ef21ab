#pragma once

#include "eventsfile.h"
#include "foldercheck.h"

#include <QList>
#include <QString>

#include <utility>

// The rows a report gives of where and by whom its span was recorded, and
// whether its files are as they were written: the station, the instrument,
// the operators, the program, when the report was made, the folder's state,
// its chain's last hash and the keys that signed it. The station and the
// instrument come from the run's settings events ("—" for a run recorded
// without them), the operators from the events' user column.
QList<std::pair<QString, QString>> ReportHeaderRows(const QList<FolderEvent> &events, qint64 fromMs, qint64 toMs,
                                                    const FolderCheck &check, qint64 madeMs);
