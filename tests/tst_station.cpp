// The station on its own, without any dialog: readings put into the store go
// through its feed to the journal, the alarms, events.csv and a real
// mosquitto, and what it tells a window comes out as signals.
#include "comreader.h"
#include "journalformat.h"
#include "mosquittobroker.h"
#include "mqttlink.h"
#include "scriptedmessages.h"
#include "station.h"

#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestStation : public QObject
{
    Q_OBJECT

private slots:
    void readingsInJournalEventsAlarmAndBrokerOut();
};

namespace {

QStringList EventNames(const QString &path)
{
    QFile file(path);
    QStringList names;
    if (!file.open(QIODevice::ReadOnly))
        return names;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i)
        if (!lines[i].trimmed().isEmpty())
            names.append(QString::fromUtf8(lines[i].split(',').value(1)));
    return names;
}

JournalContents OnlyJournal(const QString &folder)
{
    const QStringList journals = QDir(folder).entryList({QStringLiteral("run-*.journal")}, QDir::Files);
    if (journals.size() != 1)
        return {};
    QFile file(QDir(folder).filePath(journals.first()));
    return file.open(QIODevice::ReadOnly) ? ReadJournal(file.readAll()) : JournalContents {};
}

} // namespace

void TestStation::readingsInJournalEventsAlarmAndBrokerOut()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString records = dir.filePath(QStringLiteral("records"));
    const QString data = dir.filePath(QStringLiteral("data"));
    QVERIFY(QDir().mkpath(records));
    MosquittoBroker broker(dir.filePath(QStringLiteral("broker")));
    QVERIFY(broker.Start());

    // What reaches the broker, as another client of it sees it.
    MqttLink watcher;
    QList<QJsonObject> batches, events, lasts;
    connect(&watcher, &MqttLink::Connected, this, [&] { watcher.Subscribe("calorivista/ofen/#", 1); });
    connect(&watcher, &MqttLink::Message, this, [&](const QByteArray &topic, const QByteArray &payload) {
        const QJsonObject object = QJsonDocument::fromJson(payload).object();
        if (topic.endsWith("/readings"))
            batches.append(object);
        else if (topic.endsWith("/events"))
            events.append(object);
        else if (topic.endsWith("/last"))
            lasts.append(object);
    });
    MqttEndpoint endpoint;
    endpoint.host = QStringLiteral("127.0.0.1");
    endpoint.port = broker.Port();
    endpoint.clientId = QStringLiteral("station-test-watcher");
    watcher.Open(endpoint);
    QTRY_VERIFY_WITH_TIMEOUT(watcher.IsConnected(), 10000);

    ScriptedMessages messages;
    CComReader reader(messages);
    Station station(reader, data);
    int rings = 0;
    station.Bell().SetPlayer([&] { ++rings; });
    QSignalSpy alarms(&station, &Station::AlarmChanged);
    QSignalSpy states(&station, &Station::StateChanged);
    PublishSettings publish;
    publish.host = QStringLiteral("127.0.0.1");
    publish.port = broker.Port();
    publish.station = QStringLiteral("ofen");
    station.SetPublishing(publish);
    QTRY_VERIFY_WITH_TIMEOUT(station.StateText() == QStringLiteral("MQTT: на связи"), 10000);

    AlarmLimits limits;
    limits.high = 1000;
    limits.delaySeconds = 0;
    limits.silenceSeconds = 0;
    const qint64 start = QDateTime::currentMSecsSinceEpoch();
    reader.ClearSamples();
    station.Prepare();
    station.BeginRun({records, QStringLiteral("печь 2, плавка"), JournalHeader {records, 0, {}, start}, limits});
    QVERIFY(station.IsRunning());

    // Twenty readings, the last ten above the limit.
    reader.Lock();
    for (int i = 0; i < 20; ++i)
        reader.Samples().Append(TempSample {{}, i < 10 ? 950.0 + i : 1010.0 + i, start + 10 * i});
    reader.Unlock();
    station.Tick();

    QVERIFY(!alarms.isEmpty());
    QVERIFY2(alarms.last().at(0).toString().startsWith(QStringLiteral("Выше 1000 °C: 1020.0 °C")),
             qPrintable(alarms.last().at(0).toString()));
    QCOMPARE(alarms.last().at(1).toBool(), true);
    QCOMPARE(rings, 1);
    QVERIFY(!states.isEmpty());

    // The journal holds them all, durably within about a second.
    QTRY_COMPARE_WITH_TIMEOUT(OnlyJournal(data).readings.size(), size_t(20), 3000);
    QCOMPARE(OnlyJournal(data).readings.back().temperature, 1029.0);

    station.AddMark(start + 150, QStringLiteral("дверь"));
    station.Acknowledge();
    QCOMPARE(alarms.last().at(1).toBool(), false);
    QCOMPARE(station.Marks().size(), size_t(1));

    // A save: the journal forgets what the data file took.
    reader.Lock();
    station.Saved(JournalHeader {records, 1, {}, start + 1000});
    reader.Unlock();
    QTRY_COMPARE_WITH_TIMEOUT(OnlyJournal(data).readings.size(), size_t(0), 3000);
    QVERIFY(station.StateText().contains(QStringLiteral("файлов 1")));

    QCOMPARE(station.EndRun(false), QString());
    QVERIFY(!station.IsRunning());
    QCOMPARE(QDir(data).entryList({QStringLiteral("run-*")}, QDir::Files), QStringList()); // a clean end leaves no journal
    const QStringList written = EventNames(QDir(records).filePath(QStringLiteral("events.csv")));
    QCOMPARE(written, QStringList({QStringLiteral("run-start"), QStringLiteral("alarm-high"), QStringLiteral("mark"),
                                   QStringLiteral("alarm-ack"), QStringLiteral("run-stop")}));

    // The broker has every reading in order and every event as the file has it.
    QTRY_VERIFY_WITH_TIMEOUT(events.size() == written.size(), 10000);
    QStringList published;
    for (const QJsonObject &event : events)
        published.append(event.value(QLatin1String("event")).toString());
    QCOMPARE(published, written);
    QList<double> temperatures;
    for (const QJsonObject &batch : batches) {
        QCOMPARE(batch.value(QLatin1String("seq")).toInteger(), qint64(temperatures.size()));
        for (const QJsonValue &reading : batch.value(QLatin1String("readings")).toArray())
            temperatures.append(reading.toArray().at(1).toDouble());
    }
    QCOMPARE(temperatures.size(), 20);
    QCOMPARE(temperatures.back(), 1029.0);
    QTRY_VERIFY_WITH_TIMEOUT(!lasts.isEmpty() && lasts.last().value(QLatin1String("c")).toDouble() == 1029.0, 5000);
}

QTEST_MAIN(TestStation)
#include "tst_station.moc"
