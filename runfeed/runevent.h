#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// Something that happened during a run, as "events.csv" keeps it.
struct RunEvent
{
    qint64 utcMs = 0;                  // when: ms since 1970
    QString event;                     // "run-start", "alarm-high", "mark", …
    std::optional<double> temperature; // the newest reading then, if any
    QString text;                      // the comment, the alarm's wording, the mark's text
    QString user;                      // the operating system's user of the program; empty: not known
};
