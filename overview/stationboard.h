#pragma once

#include "payloadreader.h"

#include <QByteArray>
#include <QSet>
#include <QString>

#include <array>
#include <map>
#include <optional>
#include <span>

// What the collector's overview shows of every station, kept from what the
// broker delivers: the retained "status" ("online", or "offline" as the
// station said it or its Last Will did) and "last" messages, and the
// collected readings as a sparkline of the last ten minutes (the lowest and
// highest reading of each second).
class StationBoard
{
public:
    static constexpr int kSeconds = 600;
    // No lab has more; names beyond these (any client of the broker can make
    // them up) are not shown, and the page says how many.
    static constexpr size_t kMaxStations = 500;

    void TakeStatus(const QString &station, const QByteArray &payload, qint64 nowMs);
    // The collector's own connection to the broker. A broker that shuts down
    // sends every station's Last Will first: a station that went "offline"
    // just before the collector lost the broker keeps the state it had.
    void SetBrokerConnected(bool connected, qint64 nowMs);
    bool BrokerConnected() const { return m_bBrokerConnected; }
    static constexpr qint64 kWillsBeforeLossMs = 3000;
    void TakeLast(const QString &station, const QByteArray &payload);
    void TakeReadings(const QString &station, std::span<const PayloadReader::Reading> readings);

    // The stations that changed after `sentChange` (every one for -1) as the
    // page shows them, with the sparkline's seconds that changed since;
    // `sentChange` becomes what this frame holds.
    QByteArray Frame(qint64 &sentChange, qint64 nowMs) const;

    // "online", "offline", "silent" (the station is there, its instrument
    // sends nothing) or "gone" (the instrument's port is gone).
    QString StateOf(const QString &station) const;

private:
    struct Second
    {
        qint64 second = -1; // ms since 1970 / 1000
        double lowest = 0;
        double highest = 0;
        qint64 change = -1;
    };

    struct Station
    {
        qint64 changed = 0; // the change that last touched it
        bool online = false;
        qint64 wentOfflineMs = -1; // when it last went from online to offline
        qint64 lastT = 0;
        std::optional<double> lastC;
        QString line = QStringLiteral("ok");
        QString alarm;
        std::optional<qint64> run;
        std::array<Second, kSeconds> seconds {};
    };

    static QString StateOf(const Station &station);
    // The station, made when new and there is room; none when there is not.
    Station *Find(const QString &station);

    std::map<QString, Station> m_stations;
    qint64 m_nChange = 0;
    bool m_bBrokerConnected = false;
    qint64 m_nBrokerLostMs = -1;
    QSet<QString> m_refused;      // names not shown for want of room
};
