#pragma once

#include "runevent.h"

#include <QByteArray>
#include <QString>

#include <optional>

class LocalTimeLine;

// "events.csv" in a record folder: RFC 4180 with CR LF line ends and the
// header "time,event,temperature_c,text,user". Every run in the folder appends
// to it, so each run's start, comment and course stay on record. A file begun
// with the four columns of "time,event,temperature_c,text" keeps them, so that
// it still reads as one table. Each line is made durable as it is written; a
// line that cannot be written whole is cut back, so the file always reads.
class EventLog
{
public:
    static constexpr const char *kFileName = "events.csv";
    // Four columns, as a collector's run files and older record folders have them.
    static constexpr const char *kHeader = "time,event,temperature_c,text\r\n";
    static constexpr const char *kHeaderWithUser = "time,event,temperature_c,text,user\r\n";

    // The log of `folder` (an absolute path); nothing is written yet.
    void SetFolder(const QString &folder);
    QString Path() const;

    // Appends one line (and the header before the file's first); false when
    // it could not be written and made durable.
    bool Append(const RunEvent &event);

    // The line for an event: ISO 8601 local time with milliseconds and offset,
    // as the exporter writes it; `withUser` adds the fifth column.
    static QByteArray Line(const RunEvent &event, LocalTimeLine &timeLine, bool withUser = false);

private:
    QString m_strFolder;
    std::optional<bool> m_withUser; // as the file's header says, once it was read
};
