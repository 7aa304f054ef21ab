#include "stationboard.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

StationBoard::Station *StationBoard::Find(const QString &station)
{
    auto found = m_stations.find(station);
    if (found != m_stations.end())
        return &found->second;
    if (m_stations.size() >= kMaxStations) {
        // Counted by name, as far as a count is worth keeping.
        if (m_refused.size() < 10000)
            m_refused.insert(station);
        return nullptr;
    }
    return &m_stations[station];
}

void StationBoard::TakeStatus(const QString &station, const QByteArray &payload, qint64 nowMs)
{
    Station *found = Find(station);
    if (!found)
        return;
    Station &board = *found;
    board.changed = ++m_nChange;
    // An empty retained message is one being deleted: the station is not there.
    const bool online = payload.trimmed() == "online";
    if (board.online && !online)
        board.wentOfflineMs = nowMs;
    board.online = online;
}

void StationBoard::SetBrokerConnected(bool connected, qint64 nowMs)
{
    if (connected == m_bBrokerConnected)
        return;
    m_bBrokerConnected = connected;
    m_nBrokerLostMs = connected ? -1 : nowMs;
    if (connected)
        return; // the retained states that come now are the truth
    for (auto &[name, station] : m_stations) {
        if (!station.online && station.wentOfflineMs >= 0 && nowMs - station.wentOfflineMs <= kWillsBeforeLossMs) {
            station.online = true;
            station.wentOfflineMs = -1;
            station.changed = ++m_nChange;
        }
    }
}

void StationBoard::TakeLast(const QString &station, const QByteArray &payload)
{
    const QJsonObject last = QJsonDocument::fromJson(payload).object();
    if (last.value(QLatin1String("v")).toInt() != 1)
        return; // a later format: left to a later collector
    Station *found = Find(station);
    if (!found)
        return;
    Station &board = *found;
    board.changed = ++m_nChange;
    board.lastT = last.value(QLatin1String("t")).toInteger();
    board.lastC.reset();
    if (last.value(QLatin1String("c")).isDouble())
        board.lastC = last.value(QLatin1String("c")).toDouble();
    board.line = last.value(QLatin1String("line")).toString(QStringLiteral("ok"));
    board.alarm = last.value(QLatin1String("alarm")).toString();
    board.run.reset();
    if (last.value(QLatin1String("run")).isDouble())
        board.run = last.value(QLatin1String("run")).toInteger();
}

void StationBoard::TakeReadings(const QString &station, std::span<const PayloadReader::Reading> readings)
{
    if (readings.empty())
        return;
    Station *found = Find(station);
    if (!found)
        return;
    Station &board = *found;
    board.changed = ++m_nChange;
    for (const PayloadReader::Reading &reading : readings) {
        const qint64 second = reading.utcMs / 1000;
        if (second < 0)
            continue; // no slot for a time before 1970
        Second &slot = board.seconds[size_t(second % kSeconds)];
        if (slot.second > second)
            continue; // older than what the slot already holds: outside the ten minutes
        if (slot.second != second)
            slot = {second, reading.celsius, reading.celsius, m_nChange};
        slot.lowest = std::min(slot.lowest, reading.celsius);
        slot.highest = std::max(slot.highest, reading.celsius);
        slot.change = m_nChange;
    }
}

QString StationBoard::StateOf(const Station &station)
{
    if (!station.online)
        return QStringLiteral("offline");
    if (station.line == QLatin1String("silent") || station.line == QLatin1String("gone"))
        return station.line;
    return QStringLiteral("online");
}

QString StationBoard::StateOf(const QString &station) const
{
    const auto found = m_stations.find(station);
    return found == m_stations.end() ? QStringLiteral("offline") : StateOf(found->second);
}

QByteArray StationBoard::Frame(qint64 &sentChange, qint64 nowMs) const
{
    const qint64 oldest = nowMs / 1000 - kSeconds + 1;
    QJsonArray stations;
    for (const auto &[name, station] : m_stations) {
        if (station.changed <= sentChange && sentChange >= 0)
            continue; // the viewer has it as it is
        QJsonArray spark;
        for (const Second &slot : station.seconds) {
            if (slot.second >= oldest && slot.change > sentChange)
                spark.append(QJsonArray {slot.second, slot.lowest, slot.highest});
        }
        stations.append(QJsonObject {
            {QStringLiteral("name"), name},
            {QStringLiteral("state"), StateOf(station)},
            {QStringLiteral("t"), station.lastT > 0 ? QJsonValue(station.lastT) : QJsonValue()},
            {QStringLiteral("c"), station.lastC ? QJsonValue(*station.lastC) : QJsonValue()},
            {QStringLiteral("alarm"), station.alarm.isEmpty() ? QJsonValue() : QJsonValue(station.alarm)},
            {QStringLiteral("run"), station.run ? QJsonValue(*station.run) : QJsonValue()},
            {QStringLiteral("spark"), spark},
        });
    }
    sentChange = m_nChange;
    return QJsonDocument(QJsonObject {{QStringLiteral("v"), 1},
                                      {QStringLiteral("now"), nowMs},
                                      {QStringLiteral("broker"), m_bBrokerConnected ? QStringLiteral("connected") : QStringLiteral("lost")},
                                      {QStringLiteral("brokerLostSince"), m_nBrokerLostMs >= 0 ? QJsonValue(m_nBrokerLostMs) : QJsonValue()},
                                      {QStringLiteral("notShown"), m_refused.isEmpty() ? QJsonValue() : QJsonValue(qint64(m_refused.size()))},
                                      {QStringLiteral("stations"), stations}})
        .toJson(QJsonDocument::Compact);
}
