#pragma once

#include "runevent.h"

#include <QByteArray>
#include <QString>

class LocalTimeLine;

// "events.csv" in a record folder: RFC 4180 with CR LF line ends and the
// header "time,event,temperature_c,text". Every run in the folder appends to
// it, so each run's start, comment and course stay on record. Each line is
// made durable as it is written; a line that cannot be written whole is cut
// back, so the file always reads.
class EventLog
{
public:
    static constexpr const char *kFileName = "events.csv";
    static constexpr const char *kHeader = "time,event,temperature_c,text\r\n";

    // The log of `folder` (an absolute path); nothing is written yet.
    void SetFolder(const QString &folder) { m_strFolder = folder; }
    QString Path() const;

    // Appends one line (and the header before the file's first); false when
    // it could not be written and made durable.
    bool Append(const RunEvent &event);

    // The line for an event: ISO 8601 local time with milliseconds and offset,
    // as the exporter writes it.
    static QByteArray Line(const RunEvent &event, LocalTimeLine &timeLine);

private:
    QString m_strFolder;
};
