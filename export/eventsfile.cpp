#include "eventsfile.h"

#include "nativefs.h"

#include <QDateTime>
#include <QFile>

namespace {

// The fields of the record that starts at `at`, which moves past its line end;
// a quoted field may hold commas, quotes ("") and line ends.
QStringList NextRecord(const QByteArray &bytes, qsizetype &at)
{
    QStringList fields;
    QByteArray field;
    bool quoted = false;
    while (at < bytes.size()) {
        const char c = bytes[at++];
        if (quoted) {
            if (c != '"')
                field += c;
            else if (at < bytes.size() && bytes[at] == '"')
                field += bytes[at++];
            else
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields << QString::fromUtf8(field);
            field.clear();
        } else if (c == '\n') {
            break;
        } else if (c != '\r') {
            field += c;
        }
    }
    fields << QString::fromUtf8(field);
    return fields;
}

} // namespace

QList<FolderEvent> ReadFolderEvents(const QString &folder)
{
    return ReadEventsFile(folder + QStringLiteral("/events.csv"));
}

QList<FolderEvent> ReadEventsFile(const QString &path)
{
    QList<FolderEvent> events;
    QFile file;
    if (!OpenNamedFile(file, path, QIODevice::ReadOnly))
        return events;
    const QByteArray bytes = file.readAll();
    qsizetype at = 0;
    NextRecord(bytes, at); // the header
    while (at < bytes.size()) {
        const QStringList fields = NextRecord(bytes, at);
        if (fields.size() != 4 && fields.size() != 5)
            continue;
        const QDateTime time = QDateTime::fromString(fields[0], Qt::ISODateWithMs);
        if (time.isValid())
            events.append({time.toMSecsSinceEpoch(), fields[1], fields[3], fields.value(4)});
    }
    return events;
}
