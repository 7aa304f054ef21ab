#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

// One line of a record folder's "events.csv", as the exporter needs it.
struct FolderEvent
{
    qint64 utcMs;
    QString event; // "mark", "alarm-high", …
    QString text;
    QString user; // empty in a file of four columns
};

// The events of "events.csv" in `folder` (time,event,temperature_c,text and
// optionally user; RFC 4180), in file order; lines that cannot be read are left out. Empty
// when there is no such file.
QList<FolderEvent> ReadFolderEvents(const QString &folder);
// The same of a file of that format by its path (a collector's "<run>.events.csv").
QList<FolderEvent> ReadEventsFile(const QString &path);
