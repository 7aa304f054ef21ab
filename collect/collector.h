#pragma once

#include "archive.h"
#include "mqttlink.h"
#include "payloadreader.h"
#include "resendasker.h"

#include <QObject>
#include <QSet>
#include <QTimer>

#include <deque>
#include <map>
#include <memory>

// What the collector is told on its command line.
struct CollectorOptions
{
    MqttEndpoint endpoint; // a fixed client id and clean session off: the broker keeps what comes meanwhile
    QString topic = QStringLiteral("calorivista");
    bool followStations = false; // also the retained "status" and "last", for the overview
};

// Takes every station's readings and events from the broker into an archive,
// each reading once and in its run's order, and makes each run whole: what
// it lacks (a hole in the run's numbering, a tail missing after the stop's
// count, runs still open when it starts or a station comes back) is asked of
// the station, which sends it again from its outbox or its data files, or
// says it is lost for good. Whatever any client of the broker sends is
// checked first: impossible times and numbers, oversized batches and jumps
// no station could make are refused and said, once per station and kind, and
// a repeat whose readings differ from the first is said, never kept silently.
class Collector : public QObject
{
    Q_OBJECT

public:
    static constexpr int kFlushMs = 200;
    static constexpr int kAskAgainMs = 5000;
    static constexpr size_t kMaxStations = 1000;
    // No station's line brings more readings a second than this.
    static constexpr qint64 kMaxReadingsPerSecond = 20000;
    static constexpr size_t kRecentReadings = 4096; // per run, to tell a repeat that differs

    Collector(CollectorOptions options, Archive &archive, QObject *parent = nullptr);
    ~Collector() override;

    void Start();
    void Stop();

signals:
    // A line for the operator: a run starts, finishes or becomes whole, a gap, a refusal, a failure.
    void Said(const QString &line);
    void StatusHeard(const QString &station, const QByteArray &payload);
    void LastHeard(const QString &station, const QByteArray &payload);
    void ReadingsHeard(const QString &station, std::span<const PayloadReader::Reading> readings);
    void EventHeard(const QString &station, const PayloadReader::Event &event);
    // An event heard for the first time (archived, or not writable).
    void NewEvent(const QString &station, const PayloadReader::Event &event);
    void BrokerChanged(bool connected);
    // Another client keeps taking the collector's id: it gives up.
    void GaveUp(const QString &reason);

private:
    struct Recent
    {
        qint64 seq;
        quint64 fingerprint;
    };
    struct OpenRun
    {
        RunLedger ledger;
        bool stopped = false;
        qint64 lastMs = 0;   // the newest reading's time held
        std::deque<Recent> recent;
        bool conflictSaid = false;
        bool wholeSaid = false;
        bool probeTail = false; // ask once what follows its last reading
    };
    struct Station
    {
        std::map<qint64, std::unique_ptr<OpenRun>> runs;
        std::map<qint64, std::optional<qint64>> starts; // run -> stop, for events of older stations
        QSet<QString> said;                              // refusals said once
    };

    void OnConnected();
    void OnDisconnected(const QString &reason);
    void OnMessage(const QByteArray &topic, const QByteArray &payload);
    void TakeReadings(const QString &name, const QByteArray &payload);
    void TakeEvent(const QString &name, const QByteArray &payload);
    void TakeChainLine(const QString &name, const QByteArray &payload);
    void TakeResent(const QString &name, const QByteArray &payload);
    void Ask(const QString &name, const ResendAsker::Request &request);
    std::optional<ResendAsker::Request> NextRequest(const QString &name);
    Station *StationOf(const QString &name);
    OpenRun *RunOf(const QString &name, Station &station, qint64 run);
    void CheckWhole(const QString &name, qint64 run, OpenRun &state);
    void ForgetIfDone(const QString &name, qint64 run, OpenRun &state);
    bool Repeats(OpenRun &state, const PayloadReader::Batch &batch, qint64 from, qint64 to);
    void Remember(OpenRun &state, const PayloadReader::Batch &batch);
    void SayOnce(const QString &name, Station &station, const QString &kind, const QString &line);
    void Flush();
    QString RunWords(const QString &station, qint64 run) const;

    CollectorOptions m_options;
    Archive &m_archive;
    MqttLink m_link;
    PayloadReader m_reader;
    ResendAsker m_asker;
    std::map<QString, Station> m_stations;
    bool m_bStationsFullSaid = false;
    QTimer m_flush;
    QTimer m_askAgain;
    QSet<QString> m_waitingToAsk; // stations another collector asks
    bool m_bFlushFailureSaid = false;
    QStringList m_wholeToSay; // runs become whole, said once the archive has made them durable
    qint64 m_nConnectedAtMs = -1;
    int m_nQuickLosses = 0;
};
