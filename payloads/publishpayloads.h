#pragma once

#include "runevent.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <span>

// The topics and payloads other programs read; documented in the README and
// changed only with their version field "v".
namespace publishpayloads {

inline constexpr int kVersion = 1;

// One reading as a batch carries it.
struct Reading
{
    qint64 utcMs = 0; // ms since 1970, UTC
    double temperature = 0;
};

QByteArray Topic(const QString &topic, const QString &station, const char *leaf);

// {"v":1,"run":…,"seq":…,"readings":[[ms,°C],…]}; the temperature as the data file writes it.
QByteArray Readings(qint64 run, qint64 seq, std::span<const Reading> readings);

// {"v":1,"t":…,"c":…,"line":"ok"|"silent"|"gone","alarm":…|null,"run":…|null}
struct Last
{
    qint64 t = 0;
    std::optional<double> c;
    QString line = QStringLiteral("ok");
    QString alarm; // empty: none
    std::optional<qint64> run;
    bool operator==(const Last &) const = default;
};
QByteArray LastPayload(const Last &last);

// {"v":1,"t":…,"event":…,"c":…|null,"text":…}; the temperature as events.csv writes it.
QByteArray Event(const RunEvent &event);

// A string as JSON writes it, quotes included.
void AppendJsonString(QByteArray &out, const QString &text);
// A temperature as the data files write it ("%.6g").
void AppendTemperature(QByteArray &out, double celsius);

} // namespace publishpayloads
