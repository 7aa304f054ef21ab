// The collector against what any client of a real mosquitto may send, and
// its archive folder against crashes, full disks, a second collector and
// what a restart must read again.
#include "collector.h"
#include "csvarchive.h"
#include "mosquittobroker.h"
#include "mqttlink.h"
#include "publishpayloads.h"
#include "siteprocesses.h"
#include "stationboard.h"
#include "stationkey.h"
#include "witnessfile.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>


class TestCollector : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void forgedMessagesAreRefusedAndHonestOnesKept_data();
    void forgedMessagesAreRefusedAndHonestOnesKept();
    void forgedChainLinesStayOutOfTheWitness();
    void eventsAreRecordsAndAFullDiskCutsThemBack();
    void reopeningABigRunReadsItsEndsOnly();
    void secondCollectorOnAnArchiveOrAnIdIsRefused();
    void boardShowsAtMostItsStationsAndOnlyWhatChanged();
    void brokerAclKeepsEachStationToItsOwnName();

private:
    // A collector of the test's own, on a folder archive, and a client that
    // publishes as any station would.
    void StartCollector(const QString &archive);
    void StopCollector();
    void Publish(const QByteArray &topic, const QByteArray &payload);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<MosquittoBroker> m_broker;
    std::unique_ptr<MqttLink> m_client;
    std::unique_ptr<CsvArchive> m_archive;
    std::unique_ptr<Collector> m_collector;
    QStringList m_said;
};

namespace {

const qint64 kRun = QDateTime::currentMSecsSinceEpoch() - 60000;

// What this process has read from files and sockets so far.
qint64 BytesRead()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : io.readAll().split('\n'))
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toLongLong();
    return -1;
}

QByteArray Batch(qint64 seq, int count, qint64 firstMs, double first = 1000)
{
    std::vector<publishpayloads::Reading> readings;
    for (int i = 0; i < count; ++i)
        readings.push_back({firstMs + 10 * i, first + i});
    return publishpayloads::Readings(kRun, seq, readings);
}

} // namespace

void TestCollector::initTestCase()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_broker = std::make_unique<MosquittoBroker>(m_dir->filePath(QStringLiteral("broker")));
    QVERIFY(m_broker->Start());
    m_client = std::make_unique<MqttLink>();
    MqttEndpoint endpoint;
    endpoint.host = QStringLiteral("127.0.0.1");
    endpoint.port = m_broker->Port();
    endpoint.clientId = QStringLiteral("forger");
    m_client->Open(endpoint);
    QTRY_VERIFY_WITH_TIMEOUT(m_client->IsConnected(), 10000);
}

void TestCollector::cleanupTestCase()
{
    StopCollector();
    m_client.reset();
    m_broker.reset();
}

void TestCollector::StartCollector(const QString &archive)
{
    StopCollector(); // one a failed test left
    m_said.clear();
    m_archive = std::make_unique<CsvArchive>(archive);
    QString error;
    QVERIFY2(m_archive->Take(&error), qPrintable(error));
    CollectorOptions options;
    options.endpoint.host = QStringLiteral("127.0.0.1");
    options.endpoint.port = m_broker->Port();
    options.endpoint.clientId = QStringLiteral("collector-") + QFileInfo(archive).fileName();
    options.endpoint.cleanSession = false;
    m_collector = std::make_unique<Collector>(options, *m_archive);
    connect(m_collector.get(), &Collector::Said, this, [this](const QString &line) { m_said.append(line); });
    m_collector->Start();
    QTRY_VERIFY_WITH_TIMEOUT(m_said.join(QLatin1Char('\n')).contains(QStringLiteral("broker: connected")), 10000);
    QTest::qWait(200); // its subscriptions reach the broker
}

void TestCollector::StopCollector()
{
    m_collector.reset();
    m_archive.reset();
}

void TestCollector::Publish(const QByteArray &topic, const QByteArray &payload)
{
    QVERIFY(m_client->Publish(topic, payload, 1, false) >= 0);
}

void TestCollector::forgedMessagesAreRefusedAndHonestOnesKept_data()
{
    QTest::addColumn<QByteArray>("forged");
    QTest::addColumn<QString>("said");
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const auto one = [&](qint64 seq, qint64 ms) {
        return "{\"v\":1,\"run\":" + QByteArray::number(kRun) + ",\"seq\":" + QByteArray::number(seq) + ",\"readings\":[["
            + QByteArray::number(ms) + ",900.5]]}";
    };
    QTest::newRow("a negative time") << one(2, -5000) << QStringLiteral("dated");
    QTest::newRow("a time of 10^18 ms") << one(2, 1000000000000000000LL) << QStringLiteral("dated");
    QTest::newRow("a year ahead") << one(2, now + 365LL * 86400000) << QStringLiteral("dated");
    QTest::newRow("seq 10^12") << one(1000000000000LL, now - 50000) << QStringLiteral("seq");
    QTest::newRow("seq 2^63-2") << one(9223372036854775806LL, now - 50000) << QStringLiteral("seq");
    QTest::newRow("5000 readings") << Batch(2, 5000, now - 50000) << QStringLiteral("more than 4096");
    QTest::newRow("44 MB") << QByteArray(44 * 1024 * 1024, ' ') << QStringLiteral("bytes");
    QTest::newRow("no JSON") << QByteArray("{\"v\":1,\"run\":") << QStringLiteral("no JSON");
    QTest::newRow("a temperature that is no number") << QByteArray("{\"v\":1,\"run\":" + QByteArray::number(kRun)
                                                                   + ",\"seq\":2,\"readings\":[[" + QByteArray::number(now - 50000)
                                                                   + ",\"hot\"]]}")
                                                 << QStringLiteral("temperature");
    QTest::newRow("a repeat that differs") << Batch(0, 2, now - 59000, 555) << QStringLiteral("differ");
}

// Honest seq 0-1, then the forged message, then honest seq 2-3: the honest
// ones are archived in order without a gap, the forged one is not, and
// the refusal is said once.
void TestCollector::forgedMessagesAreRefusedAndHonestOnesKept()
{
    QFETCH(QByteArray, forged);
    QFETCH(QString, said);
    const QString archive = m_dir->filePath(QStringLiteral("forged-%1").arg(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_')));
    StartCollector(archive);
    const QByteArray topic = "calorivista/honest/readings";
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    Publish(topic, Batch(0, 2, now - 59000));
    Publish(topic, forged);
    Publish(topic, forged); // said once, not twice
    Publish(topic, Batch(2, 2, now - 58000, 1002));
    const QString csv = QStringLiteral("%1/honest/%2.csv").arg(archive).arg(kRun);
    QTRY_COMPARE_WITH_TIMEOUT(ReadArchivedRun(csv).readings.size(), size_t(4), 10000);
    QTest::qWait(300);
    const ArchivedRun run = ReadArchivedRun(csv);
    QCOMPARE(run.rows, qint64(4));
    QCOMPARE(run.readings.rbegin()->first, qint64(3));
    QCOMPARE(run.readings.at(0).second, 1000.0); // a repeat that differs leaves the first
    QVERIFY(!QFile::exists(csv.chopped(4) + QStringLiteral(".gaps.csv")));
    const QString lines = m_said.join(QLatin1Char('\n'));
    QVERIFY2(lines.contains(said), qPrintable(lines));
    const qsizetype refusals = lines.count(QStringLiteral("refused")) + lines.count(QStringLiteral("differ"));
    QVERIFY2(refusals == 1, qPrintable(lines));
    StopCollector();
}

// Events are CSV records: a comment with a line break and a mark that holds
// ",run-stop," survive a restart as they are. On a full disk an event that
// cannot be written is cut back and said, and the next one is whole.
// A client that publishes chain lines: one with another line's signature,
// one that does not read and one too large are kept out of the witness;
// the honest lines are kept once each, however often they come.
void TestCollector::forgedChainLinesStayOutOfTheWitness()
{
    const QString archive = m_dir->filePath(QStringLiteral("chain"));
    StartCollector(archive);
    QString error;
    const std::optional<StationKey> key = StationKey::LoadOrMake(m_dir->filePath(QStringLiteral("key")), &error);
    QVERIFY2(key, qPrintable(error));
    const ChainLine first = ChainLine::Make(1, "2026-12-11T10:00:00.000+01:00", QStringLiteral("0000"), 10, QByteArray(64, 'a'),
                                            ChainLine::ChainStart(), *key);
    const ChainLine second = ChainLine::Make(2, "2026-12-11T10:00:05.000+01:00", QStringLiteral("0001"), 12, QByteArray(64, 'b'),
                                             first.chain, *key);
    ChainLine forged = second;
    forged.size = 13; // another file, under the honest line's signature
    const QByteArray topic = "calorivista/honest/chain";
    for (const ChainLine &line : {first, forged, first, second, second})
        Publish(topic, publishpayloads::ChainLine(QStringLiteral("/records/печь"), line.Text()));
    Publish(topic, publishpayloads::ChainLine(QStringLiteral("/records/печь"), "3,not,a,chain,line"));
    Publish(topic, "{\"v\":1,\"folder\":\"/x\",\"line\":\"" + QByteArray(5000, '1') + "\"}");
    const QString witness = archive + QStringLiteral("/honest/chain.csv");
    QTRY_VERIFY_WITH_TIMEOUT(QFile(witness).size() > 0 && m_said.join(QLatin1Char('\n')).contains(QStringLiteral("chain line refused")), 10000);
    QTest::qWait(300);
    QFile file(witness);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray(WitnessFile::kHeader) + WitnessFile::Line(QStringLiteral("/records/печь"), first)
                                 + WitnessFile::Line(QStringLiteral("/records/печь"), second));
    StopCollector();
}

void TestCollector::eventsAreRecordsAndAFullDiskCutsThemBack()
{
    const QString archive = m_dir->filePath(QStringLiteral("events"));
    StartCollector(archive);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const QByteArray topic = "calorivista/ev/events";
    Publish(topic, publishpayloads::Event({kRun, QStringLiteral("run-start"), std::nullopt, QStringLiteral("0000 первая строка\nвторая"), {}}, kRun));
    Publish(topic, publishpayloads::Event({now - 50000, QStringLiteral("mark"), 900.0, QStringLiteral("a,run-stop,b"), {}}, kRun));
    const QString events = QStringLiteral("%1/ev/%2.events.csv").arg(archive).arg(kRun);
    QTRY_VERIFY_WITH_TIMEOUT(QFile(events).size() > 100, 10000);
    StopCollector();
    StartCollector(archive);
    // The same two again (a session's redelivery), and the run goes on.
    Publish(topic, publishpayloads::Event({kRun, QStringLiteral("run-start"), std::nullopt, QStringLiteral("0000 первая строка\nвторая"), {}}, kRun));
    Publish(topic, publishpayloads::Event({now - 50000, QStringLiteral("mark"), 900.0, QStringLiteral("a,run-stop,b"), {}}, kRun));
    Publish("calorivista/ev/readings", Batch(0, 3, now - 49000));
    QTRY_COMPARE_WITH_TIMEOUT(ReadArchivedRun(QStringLiteral("%1/ev/%2.csv").arg(archive).arg(kRun)).readings.size(), size_t(3), 10000);
    QTest::qWait(300);
    QFile file(events);
    QVERIFY(file.open(QIODevice::ReadOnly));
    qsizetype whole = 0;
    const std::vector<QByteArray> records = CsvRecords(file.readAll(), &whole);
    QCOMPARE(records.size(), size_t(3)); // the header, the start once, the mark once
    QVERIFY(!m_said.join(QLatin1Char('\n')).contains(QStringLiteral("finished"))); // not taken as stopped
    StopCollector();

    // On a full disk.
    const QByteArray small = QFile::encodeName(m_dir->filePath(QStringLiteral("small")));
    SmallDisk disk(small, 256 * 1024);
    if (!disk.Mounted())
        QSKIP("mounting a small tmpfs needs root");
    StartCollector(QFile::decodeName(small) + QStringLiteral("/archive"));
    Publish("calorivista/full/events", publishpayloads::Event({now - 40000, QStringLiteral("mark"), 900.0, QStringLiteral("before"), {}}, std::nullopt));
    const QString between = QFile::decodeName(small) + QStringLiteral("/archive/full/events.csv");
    QTRY_VERIFY_WITH_TIMEOUT(QFile(between).size() > 0, 10000);
    const QString filler = disk.Fill();
    Publish("calorivista/full/events", publishpayloads::Event({now - 30000, QStringLiteral("mark"), 900.0, QString(4000, QLatin1Char('x')), {}}, std::nullopt));
    QTRY_VERIFY_WITH_TIMEOUT(m_said.join(QLatin1Char('\n')).contains(QStringLiteral("cannot be written")), 10000);
    QFile::remove(filler);
    Publish("calorivista/full/events", publishpayloads::Event({now - 20000, QStringLiteral("mark"), 900.0, QStringLiteral("after"), {}}, std::nullopt));
    QTRY_VERIFY_WITH_TIMEOUT(QFile(between).size() > 120, 10000);
    QFile written(between);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = written.readAll().split('\n');
    // The header, "before", "after", and nothing after the last line end.
    QVERIFY2(lines.size() == 4 && lines[1].endsWith(",before\r") && lines[2].endsWith(",after\r"), lines.join('\n').left(2000).constData());
    StopCollector();
}

// A run of a million readings archived; one more comes after a restart: the
// collector reads the CSV's first and last lines, not the whole of it.
void TestCollector::reopeningABigRunReadsItsEndsOnly()
{
    const QString archive = m_dir->filePath(QStringLiteral("big"));
    const QString folder = archive + QStringLiteral("/big");
    QVERIFY(QDir().mkpath(folder));
    {
        QFile csv(QStringLiteral("%1/%2.csv").arg(folder).arg(kRun));
        QVERIFY(csv.open(QIODevice::WriteOnly));
        QByteArray rows = "time,elapsed_s,temperature_c,file,seq\r\n";
        for (qint64 seq = 0; seq < 1000000; ++seq) {
            rows += "2026-12-10T10:00:00.000+00:00,0.000,1000.5,," + QByteArray::number(seq) + "\r\n";
            if (rows.size() > (1 << 20)) {
                csv.write(rows);
                rows.clear();
            }
        }
        csv.write(rows);
    }
    const qint64 sizeBefore = QFileInfo(QStringLiteral("%1/%2.csv").arg(folder).arg(kRun)).size();
    const qint64 readBefore = BytesRead();
    StartCollector(archive);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    Publish("calorivista/big/readings", "{\"v\":1,\"run\":" + QByteArray::number(kRun) + ",\"seq\":1000000,\"readings\":[["
                                            + QByteArray::number(now - 10000) + ",1.5]]}");
    const QString csv = QStringLiteral("%1/%2.csv").arg(folder).arg(kRun);
    QTRY_VERIFY_WITH_TIMEOUT(QFile(csv).size() > sizeBefore, 10000);
    QTest::qWait(300);
    // Its ends, not its 50 MB.
    QVERIFY2(BytesRead() - readBefore < 4 * 1024 * 1024, qPrintable(QString::number(BytesRead() - readBefore)));
    StopCollector();
    // And the big run itself, opened again, goes on after its last seq.
    CsvRunFiles files(folder, kRun);
    QString error;
    QVERIFY2(files.Open(&error), qPrintable(error));
    QCOMPARE(files.End(), qint64(1000001)); // with the one that came after the restart
}

void TestCollector::secondCollectorOnAnArchiveOrAnIdIsRefused()
{
    const QString archive = m_dir->filePath(QStringLiteral("locked"));
    const QStringList arguments {QStringLiteral("--broker"), QStringLiteral("127.0.0.1:%1").arg(m_broker->Port()),
                                 QStringLiteral("--out"), archive, QStringLiteral("--id"), QStringLiteral("one")};
    CollectorProcess first(arguments);
    QVERIFY(first.Start());
    QTRY_VERIFY_WITH_TIMEOUT(first.Said().contains(QStringLiteral("broker: connected")), 10000);
    QProcess second;
    second.start(QStringLiteral(CALORIVISTA_COLLECT), arguments);
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitCode(), 2);
    QVERIFY2(QString::fromUtf8(second.readAllStandardError()).contains(QStringLiteral("another collector")), "no word of why");
    // Another archive with the same id: the two take each other's
    // connection, which is said, until one of them gives up (status 2).
    CollectorProcess third({QStringLiteral("--broker"), QStringLiteral("127.0.0.1:%1").arg(m_broker->Port()), QStringLiteral("--out"),
                            m_dir->filePath(QStringLiteral("other")), QStringLiteral("--id"), QStringLiteral("one")});
    QVERIFY(third.Start());
    const QString told = QStringLiteral("another client with the id one");
    QTRY_VERIFY_WITH_TIMEOUT(first.Said().contains(told) || third.Said().contains(told), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(!first.Running() || !third.Running(), 90000);
    QCOMPARE(first.Running() ? third.ExitCode() : first.ExitCode(), 2);
}

void TestCollector::boardShowsAtMostItsStationsAndOnlyWhatChanged()
{
    StationBoard board;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (int i = 0; i < 5000; ++i)
        board.TakeStatus(QStringLiteral("fake-%1").arg(i, 4, 10, QLatin1Char('0')), "online", now);
    qint64 mark = -1;
    const QJsonObject first = QJsonDocument::fromJson(board.Frame(mark, now)).object();
    QCOMPARE(first.value(QLatin1String("stations")).toArray().size(), qsizetype(StationBoard::kMaxStations));
    QCOMPARE(first.value(QLatin1String("notShown")).toInteger(), qint64(5000 - StationBoard::kMaxStations));
    // Nothing changed: the next frame is small.
    const QByteArray again = board.Frame(mark, now + 500);
    QCOMPARE(QJsonDocument::fromJson(again).object().value(QLatin1String("stations")).toArray().size(), 0);
    QVERIFY2(again.size() < 300, again.constData());
    board.TakeLast(QStringLiteral("fake-0001"), "{\"v\":1,\"t\":" + QByteArray::number(now) + ",\"c\":950.5,\"line\":\"ok\",\"alarm\":null,\"run\":null}");
    const QJsonArray changed = QJsonDocument::fromJson(board.Frame(mark, now + 1000)).object().value(QLatin1String("stations")).toArray();
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).toObject().value(QLatin1String("c")).toDouble(), 950.5);
}

// The README's ACL on a real mosquitto: each station publishes under its own
// name only, and only the collector asks for readings.
void TestCollector::brokerAclKeepsEachStationToItsOwnName()
{
    QTemporaryDir dir;
    const QString passwords = dir.filePath(QStringLiteral("passwords"));
    for (const char *user : {"collector", "ofen1", "ofen2"}) {
        QProcess passwd;
        QStringList arguments {QStringLiteral("-b"), passwords, QString::fromLatin1(user), QStringLiteral("secret")};
        if (!QFile::exists(passwords))
            arguments.prepend(QStringLiteral("-c"));
        passwd.start(QStringLiteral("mosquitto_passwd"), arguments);
        QVERIFY(passwd.waitForFinished(10000) && passwd.exitCode() == 0);
    }
    QFile acl(dir.filePath(QStringLiteral("acl")));
    QVERIFY(acl.open(QIODevice::WriteOnly));
    acl.write("user collector\ntopic read calorivista/#\ntopic write calorivista/+/resend\n\n"
              "pattern write calorivista/%u/readings\npattern write calorivista/%u/events\n"
              "pattern write calorivista/%u/status\npattern write calorivista/%u/last\n"
              "pattern write calorivista/%u/resent\npattern read calorivista/%u/resend\n");
    acl.close();
    MosquittoBroker broker(dir.filePath(QStringLiteral("broker")),
                           {QStringLiteral("password_file %1").arg(passwords), QStringLiteral("allow_anonymous false"),
                            QStringLiteral("acl_file %1").arg(acl.fileName())});
    QVERIFY(broker.Start());
    const auto client = [&](const char *user, const char *id) {
        auto link = std::make_unique<MqttLink>();
        MqttEndpoint endpoint;
        endpoint.host = QStringLiteral("127.0.0.1");
        endpoint.port = broker.Port();
        endpoint.clientId = QString::fromLatin1(id);
        endpoint.user = QString::fromLatin1(user);
        endpoint.password = QStringLiteral("secret");
        link->Open(endpoint);
        return link;
    };
    auto collector = client("collector", "collector");
    auto ofen1 = client("ofen1", "ofen1");
    auto intruder = client("ofen1", "intruder"); // ofen1's password, forging ofen2
    QStringList heard, asked;
    connect(collector.get(), &MqttLink::Connected, this, [&] { collector->Subscribe("calorivista/#", 1); });
    connect(collector.get(), &MqttLink::Message, this, [&](const QByteArray &topic, const QByteArray &) { heard << QString::fromUtf8(topic); });
    connect(ofen1.get(), &MqttLink::Connected, this, [&] { ofen1->Subscribe("calorivista/ofen1/resend", 1); });
    connect(ofen1.get(), &MqttLink::Message, this, [&](const QByteArray &topic, const QByteArray &) { asked << QString::fromUtf8(topic); });
    QTRY_VERIFY_WITH_TIMEOUT(collector->IsConnected() && ofen1->IsConnected() && intruder->IsConnected(), 10000);
    QTest::qWait(300);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    // Under another's name: mosquitto drops the publication and the connection.
    intruder->Publish("calorivista/ofen2/readings", Batch(0, 1, now), 1, false);
    intruder->Publish("calorivista/ofen2/resend", publishpayloads::ResendRequest(kRun, 0, 10), 1, false);
    ofen1->Publish("calorivista/ofen1/readings", Batch(0, 1, now), 1, false);
    collector->Publish("calorivista/ofen1/resend", publishpayloads::ResendRequest(kRun, 0, 10), 1, false);
    const auto log = [&] {
        QFile file(broker.Path("broker.log"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    if (!QTest::qWaitFor([&] { return heard.contains(QStringLiteral("calorivista/ofen1/readings")) && !asked.isEmpty(); }, 10000)) {
        qWarning("%s", log().constData());
        QFAIL(qPrintable(QStringLiteral("heard: %1; asked: %2").arg(heard.join(' '), asked.join(' '))));
    }
    QTest::qWait(500);
    QVERIFY2(!heard.contains(QStringLiteral("calorivista/ofen2/readings")) && !heard.contains(QStringLiteral("calorivista/ofen2/resend")),
             qPrintable(heard.join(' ')));
    QCOMPARE(asked, QStringList {QStringLiteral("calorivista/ofen1/resend")});
}

QTEST_MAIN(TestCollector)
#include "tst_collector.moc"
