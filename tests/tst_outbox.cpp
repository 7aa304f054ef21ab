// The publisher's outbox through damage on disk, a close while the broker's
// link waits to try again, and settings changed or refused, with a real
// mosquitto and a client of it that sees what arrives.
#include "comreader.h"
#include "mosquittobroker.h"
#include "mqttlink.h"
#include "publisher.h"
#include "runfeed.h"
#include "scriptedmessages.h"

#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <set>

namespace {

// Everything published under the test's topics, as a watching client sees it.
class Watcher : public QObject
{
public:
    explicit Watcher(int port)
    {
        connect(&m_link, &MqttLink::Connected, this, [this] { m_link.Subscribe("calorivista/#", 1); });
        connect(&m_link, &MqttLink::Message, this, [this](const QByteArray &topic, const QByteArray &payload) {
            const QJsonObject batch = QJsonDocument::fromJson(payload).object();
            if (!topic.endsWith("/readings"))
                return;
            const qint64 seq = batch.value(QLatin1String("seq")).toInteger();
            const qsizetype count = batch.value(QLatin1String("readings")).toArray().size();
            for (qint64 i = seq; i < seq + count; ++i)
                seqs[QString::fromUtf8(topic)].insert(i);
        });
        MqttEndpoint endpoint;
        endpoint.host = QStringLiteral("127.0.0.1");
        endpoint.port = port;
        endpoint.clientId = QStringLiteral("outbox-test-watcher");
        m_link.Open(endpoint);
    }
    bool Connected() const { return m_link.IsConnected(); }
    std::map<QString, std::set<qint64>> seqs; // by topic

private:
    MqttLink m_link;
};

PublishSettings Settings(int port, const QString &station)
{
    PublishSettings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = port;
    settings.station = station;
    settings.outboxMB = 1; // segments of 64 KB
    return settings;
}

FeedReadings Readings(qint64 first, int count, qint64 run)
{
    FeedReadings readings;
    readings.first = first;
    for (int i = 0; i < count; ++i)
        readings.readings.push_back({SYSTEMTIME {}, 1000.0 + double(first + i) / 10, run + first + i});
    return readings;
}

qint64 DroppedIn(const QList<RunEvent> &events, const QString &why)
{
    qint64 dropped = 0;
    for (const RunEvent &event : events)
        if (event.event == QLatin1String("publish-dropped") && event.text.contains(why))
            dropped += QRegularExpression(QStringLiteral("(\\d+) показаний")).match(event.text).captured(1).toLongLong();
    return dropped;
}

} // namespace

class TestOutbox : public QObject
{
    Q_OBJECT

private slots:
    void damagedRecordCostsOnlyItself_data();
    void damagedRecordCostsOnlyItself();
    void closeTriesAtOnceAndWaitsForTheOutbox();
    void itemsGoWhereTheyWereRecordedAndRefusedTopicsPublishNothing();
};

void TestOutbox::damagedRecordCostsOnlyItself_data()
{
    QTest::addColumn<int>("segment"); // which segment, from the oldest; -1 the newest
    QTest::addColumn<bool>("cutShort"); // the newest cut in its last record instead
    QTest::newRow("a byte flipped in an older segment") << 0 << false;
    QTest::newRow("a byte flipped in the newest segment, records after it") << -1 << false;
    QTest::newRow("the newest segment cut in its last record") << -1 << true;
}

// Readings wait in the outbox while the broker is away; a record of them is
// damaged on disk. The next start sends every other reading, in order, and
// says how many the damaged record held.
void TestOutbox::damagedRecordCostsOnlyItself()
{
    QFETCH(int, segment);
    QFETCH(bool, cutShort);
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("outbox"));
    MosquittoBroker broker(dir.filePath(QStringLiteral("broker")));
    ScriptedMessages messages;
    CComReader reader(messages);
    const qint64 run = QDateTime::currentMSecsSinceEpoch();
    constexpr int kTicks = 120, kPerTick = 128;
    {
        RunFeed feed(reader);
        Publisher publisher(feed, folder);
        publisher.Configure(Settings(broker.Port(), QStringLiteral("o1")));
        publisher.TakeEvent(RunEvent {run, QStringLiteral("run-start"), std::nullopt, QString(), {}});
        for (int tick = 0; tick < kTicks; ++tick)
            publisher.TakeReadings(Readings(qint64(tick) * kPerTick, kPerTick, run));
    }
    QStringList segments = QDir(folder).entryList({QStringLiteral("*.seg")}, QDir::Files, QDir::Name);
    QVERIFY2(segments.size() >= 3, qPrintable(segments.join(' ')));
    QFile damaged(QDir(folder).filePath(segment < 0 ? segments.last() : segments.at(segment)));
    QVERIFY(damaged.open(QIODevice::ReadWrite));
    const qint64 size = damaged.size();
    // A record is 5 + 28 + 2 + 2 + 2 + 11 + 128 * 16 bytes: a byte in the middle of the second one.
    constexpr qint64 kRecord = 5 + 28 + 4 + 2 + 11 + kPerTick * 16 + 4;
    if (cutShort) {
        QVERIFY(damaged.resize(size - 100));
    } else {
        const qint64 at = 8 + kRecord + kRecord / 2;
        QVERIFY(at < size - kRecord);
        damaged.seek(at);
        char byte = 0;
        damaged.getChar(&byte);
        damaged.seek(at);
        damaged.putChar(char(byte ^ 0x5a));
    }
    damaged.close();

    QVERIFY(broker.Start());
    Watcher watcher(broker.Port());
    QTRY_VERIFY_WITH_TIMEOUT(watcher.Connected(), 10000);
    RunFeed feed(reader);
    QList<RunEvent> posted;
    connect(&feed, &RunFeed::Event, this, [&](const RunEvent &event) { posted.append(event); });
    Publisher publisher(feed, folder);
    publisher.Configure(Settings(broker.Port(), QStringLiteral("o1")));
    const qint64 lost = cutShort ? kPerTick : kPerTick; // the cut record, or the damaged one
    QTRY_VERIFY_WITH_TIMEOUT(publisher.GetOutbox().IsEmpty(), 20000);
    const std::set<qint64> &seqs = watcher.seqs[QStringLiteral("calorivista/o1/readings")];
    QTRY_COMPARE_WITH_TIMEOUT(qint64(seqs.size()), qint64(kTicks) * kPerTick - lost, 10000);
    // Nothing before or after the damage is missing: one hole, of one record.
    qint64 holes = 0;
    for (qint64 seq = 0; seq < qint64(kTicks) * kPerTick; ++seq)
        holes += seqs.count(seq) == 0;
    QCOMPARE(holes, lost);
    if (!cutShort) {
        QTRY_COMPARE_WITH_TIMEOUT(DroppedIn(posted, QStringLiteral("повреждена")), lost, 3000);
        QCOMPARE(*seqs.rbegin(), qint64(kTicks) * kPerTick - 1); // the newest readings went too
    }
}

// The broker away long enough for the link to wait seconds between tries,
// then back: a close tries at once and waits until the broker has it all.
void TestOutbox::closeTriesAtOnceAndWaitsForTheOutbox()
{
    QTemporaryDir dir;
    MosquittoBroker broker(dir.filePath(QStringLiteral("broker")));
    ScriptedMessages messages;
    CComReader reader(messages);
    RunFeed feed(reader);
    Publisher publisher(feed, dir.filePath(QStringLiteral("outbox")));
    publisher.Configure(Settings(broker.Port(), QStringLiteral("o2")));
    const qint64 run = QDateTime::currentMSecsSinceEpoch();
    publisher.TakeEvent(RunEvent {run, QStringLiteral("run-start"), std::nullopt, QString(), {}});
    for (int tick = 0; tick < 30; ++tick)
        publisher.TakeReadings(Readings(qint64(tick) * 100, 100, run));
    QTest::qWait(8000); // tries at 0.5, 1, 2 and 4 s: the next one is seconds away
    QVERIFY(broker.Start());
    Watcher watcher(broker.Port());
    QTRY_VERIFY_WITH_TIMEOUT(watcher.Connected(), 10000);
    QVERIFY(!publisher.IsConnected());
    QElapsedTimer closing;
    closing.start();
    const qint64 left = publisher.Finish(10000);
    QCOMPARE(left, qint64(0));
    QVERIFY2(closing.elapsed() < 5000, qPrintable(QString::number(closing.elapsed())));
    QTRY_COMPARE_WITH_TIMEOUT(watcher.seqs[QStringLiteral("calorivista/o2/readings")].size(), size_t(3000), 5000);
}

// Readings recorded while the station had one name go under it, after the
// name was changed; a topic with a wildcard in the settings publishes
// nothing and the state line says why.
void TestOutbox::itemsGoWhereTheyWereRecordedAndRefusedTopicsPublishNothing()
{
    QTemporaryDir dir;
    MosquittoBroker broker(dir.filePath(QStringLiteral("broker")));
    ScriptedMessages messages;
    CComReader reader(messages);
    RunFeed feed(reader);
    Publisher publisher(feed, dir.filePath(QStringLiteral("outbox")));
    publisher.Configure(Settings(broker.Port(), QStringLiteral("before")));
    const qint64 run = QDateTime::currentMSecsSinceEpoch();
    publisher.TakeEvent(RunEvent {run, QStringLiteral("run-start"), std::nullopt, QString(), {}});
    publisher.TakeReadings(Readings(0, 500, run));
    QVERIFY(broker.Start());
    Watcher watcher(broker.Port());
    QTRY_VERIFY_WITH_TIMEOUT(watcher.Connected(), 10000);
    publisher.Configure(Settings(broker.Port(), QStringLiteral("after")));
    publisher.TakeReadings(Readings(500, 500, run));
    QTRY_COMPARE_WITH_TIMEOUT(watcher.seqs[QStringLiteral("calorivista/before/readings")].size(), size_t(500), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(watcher.seqs[QStringLiteral("calorivista/after/readings")].size(), size_t(500), 10000);
    QCOMPARE(*watcher.seqs[QStringLiteral("calorivista/after/readings")].begin(), qint64(500));

    PublishSettings wildcard = Settings(broker.Port(), QStringLiteral("after"));
    wildcard.topic = QStringLiteral("lab/+");
    publisher.Configure(wildcard);
    QVERIFY2(publisher.StateText().contains(QStringLiteral("недопустима")), qPrintable(publisher.StateText()));
    QTest::qWait(1500);
    QVERIFY(!publisher.IsConnected());
}

QTEST_MAIN(TestOutbox)
#include "tst_outbox.moc"
