#pragma once

#include "mqttlink.h"
#include "runarchive.h"

#include <QObject>

#include <map>
#include <memory>

// What the collector is told on its command line.
struct CollectorOptions
{
    MqttEndpoint endpoint; // a fixed client id and clean session off: the broker keeps what comes meanwhile
    QString topic = QStringLiteral("calorivista");
    QString outFolder;
    bool followStations = false; // also the retained "status" and "last", for the overview
};

// Takes every station's readings and events from the broker into
// DIR/<station>/<run id>.csv and .events.csv, each reading once and in order.
// libmosquitto acknowledges a QoS 1 message to the broker before it hands the
// message over, so a crash between the two loses that message with no copy
// left on the broker; the next batch then shows the hole, and it is written
// into "<run id>.gaps.csv" and said, never passed over in silence.
class Collector : public QObject
{
    Q_OBJECT

public:
    explicit Collector(CollectorOptions options, QObject *parent = nullptr);

    void Start();
    void Stop();

signals:
    // A line for the operator: a run starts or finishes, a gap, a failure.
    void Said(const QString &line);
    // What a station published, as it comes (readings also when heard again).
    void StatusHeard(const QString &station, const QByteArray &payload);
    // The collector's own connection to the broker came or went.
    void BrokerChanged(bool connected);
    void LastHeard(const QString &station, const QByteArray &payload);
    void ReadingsHeard(const QString &station, std::span<const CollectedReading> readings);

private:
    struct Station
    {
        QString folder;
        std::map<qint64, std::unique_ptr<RunArchive>> runs; // open ones, by id
        std::map<qint64, std::optional<qint64>> known;       // every run there is: id, stop
    };

    void OnConnected();
    void OnMessage(const QByteArray &topic, const QByteArray &payload);
    void TakeReadings(const QString &station, const QByteArray &payload);
    void TakeEvent(const QString &station, const QByteArray &payload);
    Station *StationOf(const QString &name);
    RunArchive *ArchiveOf(const QString &name, Station &station, qint64 run);
    QString RunWords(const QString &station, qint64 run) const;

    CollectorOptions m_options;
    MqttLink m_link;
    std::map<QString, Station> m_stations;
};
