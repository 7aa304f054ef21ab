// The station on its own, without any dialog: readings put into the store go
// through its feed to the journal, the alarms, events.csv and a real
// mosquitto, and what it tells a window comes out as signals.
#include "comreader.h"
#include "journalformat.h"
#include "mosquittobroker.h"
#include "mqttlink.h"
#include "scriptedmessages.h"
#include "station.h"
#include "stationview.h"

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
    void restartedIdleStationSaysNoRunInItsLast();
    void pageGoesOnWhenTheClockIsSet_data();
    void pageGoesOnWhenTheClockIsSet();
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
    station.BeginRun({records, QStringLiteral("печь 2, плавка"), JournalHeader {records, 0, {}, start}, limits, {}});
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
    station.Saved(QStringLiteral("0000"), JournalHeader {records, 1, {}, start + 1000});
    reader.Unlock();
    QTRY_COMPARE_WITH_TIMEOUT(OnlyJournal(data).readings.size(), size_t(0), 3000);
    QVERIFY(station.StateText().contains(QStringLiteral("файлов 1")));

    QCOMPARE(station.EndRun(false), QString());
    QVERIFY(!station.IsRunning());
    QCOMPARE(QDir(data).entryList({QStringLiteral("run-*")}, QDir::Files), QStringList()); // a clean end leaves no journal
    const QStringList written = EventNames(QDir(records).filePath(QStringLiteral("events.csv")));
    QCOMPARE(written, QStringList({QStringLiteral("run-start"), QStringLiteral("settings"), QStringLiteral("alarm-high"), QStringLiteral("mark"),
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

// A station that ended mid-run without a word (its retained "last" still
// names the run) and starts again idle: its first "last" says no run goes on.
void TestStation::restartedIdleStationSaysNoRunInItsLast()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    MosquittoBroker broker(dir.filePath(QStringLiteral("broker")));
    QVERIFY(broker.Start());
    PublishSettings publish;
    publish.host = QStringLiteral("127.0.0.1");
    publish.port = broker.Port();
    publish.station = QStringLiteral("ofen");
    ScriptedMessages messages;
    CComReader reader(messages);
    const qint64 start = QDateTime::currentMSecsSinceEpoch();
    {
        Station station(reader, dir.filePath(QStringLiteral("data")));
        station.SetPublishing(publish);
        QTRY_VERIFY_WITH_TIMEOUT(station.GetPublisher().IsConnected(), 10000);
        station.BeginRun({dir.path(), QString(), JournalHeader {dir.path(), 0, {}, start}, AlarmLimits {}, {}});
        reader.Lock();
        reader.Samples().Append(TempSample {{}, 1234.5, start});
        reader.Unlock();
        station.Tick();
        QTest::qWait(1500); // its "last", at most once a second
    } // gone without ending the run, as a killed program
    const auto retainedLast = [&] {
        MqttLink watcher;
        std::optional<QJsonObject> last;
        connect(&watcher, &MqttLink::Connected, this, [&] { watcher.Subscribe("calorivista/ofen/last", 1); });
        connect(&watcher, &MqttLink::Message, this,
                [&](const QByteArray &, const QByteArray &payload) { last = QJsonDocument::fromJson(payload).object(); });
        MqttEndpoint endpoint;
        endpoint.host = QStringLiteral("127.0.0.1");
        endpoint.port = broker.Port();
        endpoint.clientId = QStringLiteral("last-watcher");
        watcher.Open(endpoint);
        return QTest::qWaitFor([&] { return last.has_value(); }, 5000) ? *last : QJsonObject();
    };
    QVERIFY(retainedLast().value(QLatin1String("run")).toInteger() >= start); // the run's id: its start

    Station restarted(reader, dir.filePath(QStringLiteral("data")));
    restarted.SetPublishing(publish);
    QTRY_VERIFY_WITH_TIMEOUT(restarted.GetPublisher().IsConnected(), 10000);
    QTest::qWait(300);
    const QJsonObject last = retainedLast();
    QVERIFY(last.value(QLatin1String("run")).isNull());
    QVERIFY(last.value(QLatin1String("c")).isNull());
}

void TestStation::pageGoesOnWhenTheClockIsSet_data()
{
    QTest::addColumn<qint64>("stepMs");
    QTest::newRow("two hours back") << qint64(-2) * 3600 * 1000;
    QTest::newRow("a year ahead") << qint64(365) * 86400 * 1000;
    QTest::newRow("a year back") << qint64(-365) * 86400 * 1000;
}

// The page's ten minutes after the clock was set during a run: the next
// frame says to start again and carries the readings since, never more
// slots than there are.
void TestStation::pageGoesOnWhenTheClockIsSet()
{
    QFETCH(qint64, stepMs);
    StationView view;
    const qint64 start = QDateTime::currentMSecsSinceEpoch();
    const auto feed = [&](qint64 from, int count) {
        FeedReadings readings;
        for (int i = 0; i < count; ++i)
            readings.readings.push_back(TempSample {{}, 1000.0 + i, from + 100 * i});
        view.TakeReadings(readings);
    };
    const auto slotsOf = [](const QByteArray &frame) {
        return QJsonDocument::fromJson(frame).object().value(QLatin1String("slots")).toArray();
    };
    feed(start, 100);
    QCOMPARE(slotsOf(view.PageJson(-1, start + 10000)).size(), 100);
    const qint64 mark = view.Change();
    feed(start + 10000 + stepMs, 50);
    const QJsonObject frame = QJsonDocument::fromJson(view.PageJson(mark, start + 15000 + stepMs)).object();
    QVERIFY(frame.value(QLatin1String("reset")).toBool());
    const QJsonArray since = frame.value(QLatin1String("slots")).toArray();
    QCOMPARE(since.size(), 50);
    qint64 earliest = std::numeric_limits<qint64>::max();
    for (const QJsonValue &slot : since)
        earliest = std::min(earliest, slot.toArray().at(0).toInteger());
    QCOMPARE(earliest, (start + 10000 + stepMs) / 100);
    // The next one goes on without a reset.
    const qint64 next = view.Change();
    feed(start + 15000 + stepMs, 10);
    const QJsonObject after = QJsonDocument::fromJson(view.PageJson(next, start + 16000 + stepMs)).object();
    QVERIFY(!after.value(QLatin1String("reset")).toBool());
    QCOMPARE(after.value(QLatin1String("slots")).toArray().size(), 10);
}

QTEST_MAIN(TestStation)
#include "tst_station.moc"
