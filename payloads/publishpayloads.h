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
// Readings sent again on request add "resent":true.
QByteArray Readings(qint64 run, qint64 seq, std::span<const Reading> readings, bool resent = false);

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

// {"v":1,"t":…,"event":…,"c":…|null,"text":…,"user":…,"run":…|null}; the temperature as events.csv
// writes it, "user" when the event names one;
// the run it belongs to (none between runs); a run-stop adds "n", the run's readings.
QByteArray Event(const RunEvent &event, std::optional<qint64> run = std::nullopt, std::optional<qint64> readings = std::nullopt);

// A collector's request on "<topic>/<station>/resend": {"v":1,"run":…,"from":…,"to":…}, the
// readings from seq `from` up to (not with) `to`.
QByteArray ResendRequest(qint64 run, qint64 from, qint64 to);
// The station's answer on "<topic>/<station>/resent" once the readings went:
// {"v":1,"run":…,"from":…,"to":…,"sent":…,"n":…|null,"lost":[[from,to,"why"],…]}.
struct LostRange
{
    qint64 from = 0;
    qint64 to = 0;
    QString why;
};
QByteArray Resent(qint64 run, qint64 from, qint64 to, qint64 sent, std::optional<qint64> readings, std::span<const LostRange> lost);

// A line of a record folder's chain on "<topic>/<station>/chain", for the lab's witness:
// {"v":1,"folder":…,"line":…}, the folder as the station names it and the line as the chain has it.
QByteArray ChainLine(const QString &folder, const QByteArray &line);
// The station's signing key, retained on "<topic>/<station>/key":
// {"v":1,"key":…,"fingerprint":…}, the Ed25519 public key in hex and its "SHA256:…" fingerprint.
QByteArray StationKey(const QByteArray &publicKeyHex, const QString &fingerprint);

// A string as JSON writes it, quotes included.
void AppendJsonString(QByteArray &out, const QString &text);
// A temperature as the data files write it ("%.6g").
void AppendTemperature(QByteArray &out, double celsius);

} // namespace publishpayloads
