// Every run whole in the archive: the real programs on simulated instruments,
// a real mosquitto that keeps almost nothing for an absent collector, a
// collector killed outright, outboxes and data files that go: what the
// archive lacks is asked of the stations and healed, or named as lost.
#include "comreader.h"
#include "mosquittobroker.h"
#include "mqttlink.h"
#include "publishpayloads.h"
#include "scriptedmessages.h"
#include "siteprocesses.h"
#include "thermodlg.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

class TestResend : public QObject
{
    Q_OBJECT

private slots:
    void collectorAwayAndABrokerThatDropsHealEveryRun();
    void collectorKilledEveryTwoSecondsEndsWhole();
    void goneOutboxServedFromDataFilesAndAGoneFileNamedLost();
    void forgedRequestsAreRefusedOrPacedAndTheWindowStaysResponsive();
};

namespace {

QStringList CollectorArguments(int port, const QString &archive, const QString &id)
{
    return {QStringLiteral("--broker"), QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("--out"), archive,
            QStringLiteral("--id"), id};
}

// The broker keeps five messages for a collector that is away: the rest it drops.
QStringList Forgetful()
{
    return {QStringLiteral("max_queued_messages 5")};
}

} // namespace

void TestResend::collectorAwayAndABrokerThatDropsHealEveryRun()
{
    QTemporaryDir dir;
    MosquittoBroker broker(dir.filePath(QStringLiteral("broker")), Forgetful());
    QVERIFY(broker.Start());
    const QString archive = dir.filePath(QStringLiteral("archive"));
    CollectorProcess collector(CollectorArguments(broker.Port(), archive, QStringLiteral("heal")));
    QVERIFY(collector.Start());
    QTRY_VERIFY_WITH_TIMEOUT(collector.Said().contains(QStringLiteral("broker: connected")), 10000);

    std::vector<std::unique_ptr<StationProcess>> stations;
    for (const char *name : {"ofen-a", "ofen-b"}) {
        stations.push_back(std::make_unique<StationProcess>(dir.filePath(QString::fromLatin1(name)), QString::fromLatin1(name),
                                                            broker.Port(), 3));
        stations.back()->StartSending(1280, 600, 1400, 120);
        QVERIFY(stations.back()->Start());
    }
    QTest::qWait(8000);
    collector.Kill(); // SIGKILL: whatever it was writing is cut
    QTest::qWait(30000);
    QVERIFY(collector.Start());
    QTest::qWait(8000);
    for (const auto &station : stations) {
        QVERIFY(station->Stop()); // the run's stop, with its count
        station->StopSending();
    }
    for (const auto &station : stations)
        QTRY_VERIFY_WITH_TIMEOUT(collector.Said().contains(station->Name() + QStringLiteral(": run ")) &&
                                     collector.Count(QStringLiteral(" complete: ")) >= int(stations.size()),
                                 90000);
    for (const auto &station : stations) {
        const QStringList runs = ArchivedRunFiles(QDir(archive).filePath(station->Name()));
        QCOMPARE(runs.size(), 1);
        const QString problem = ArchiveAgainstDataFiles(ReadArchivedRun(runs.first()), station->Records());
        QVERIFY2(problem.isEmpty(), qPrintable(station->Name() + QStringLiteral(": ") + problem));
        QVERIFY(!QFile::exists(runs.first().chopped(4) + QStringLiteral(".gaps.csv")));
    }
    QVERIFY2(collector.Said().contains(QStringLiteral("asked for readings")), qPrintable(collector.Said()));
}

void TestResend::collectorKilledEveryTwoSecondsEndsWhole()
{
    QTemporaryDir dir;
    MosquittoBroker broker(dir.filePath(QStringLiteral("broker")), Forgetful());
    QVERIFY(broker.Start());
    const QString archive = dir.filePath(QStringLiteral("archive"));
    StationProcess station(dir.filePath(QStringLiteral("ofen")), QStringLiteral("ofen"), broker.Port(), 2);
    station.StartSending(1280, 700, 900, 60);
    QVERIFY(station.Start());
    CollectorProcess collector(CollectorArguments(broker.Port(), archive, QStringLiteral("killed")));
    QElapsedTimer killing;
    killing.start();
    while (killing.elapsed() < 20000) {
        QVERIFY(collector.Start());
        QTest::qWait(2000);
        collector.Kill();
    }
    QVERIFY(collector.Start());
    QTest::qWait(3000);
    QVERIFY(station.Stop());
    station.StopSending();
    QTRY_VERIFY_WITH_TIMEOUT(collector.Said().contains(QStringLiteral(" complete: ")), 90000);
    const QStringList runs = ArchivedRunFiles(QDir(archive).filePath(QStringLiteral("ofen")));
    QCOMPARE(runs.size(), 1);
    const QString problem = ArchiveAgainstDataFiles(ReadArchivedRun(runs.first()), station.Records());
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

// The collector away while a station records; meanwhile the station's outbox
// goes, and one of its data files: the rest comes from the data files, and
// the gone file's readings come back as lost, with the reason.
void TestResend::goneOutboxServedFromDataFilesAndAGoneFileNamedLost()
{
    QTemporaryDir dir;
    MosquittoBroker broker(dir.filePath(QStringLiteral("broker")), Forgetful());
    QVERIFY(broker.Start());
    const QString archive = dir.filePath(QStringLiteral("archive"));
    CollectorProcess collector(CollectorArguments(broker.Port(), archive, QStringLiteral("files")));
    QVERIFY(collector.Start());
    QTRY_VERIFY_WITH_TIMEOUT(collector.Said().contains(QStringLiteral("broker: connected")), 10000);
    StationProcess station(dir.filePath(QStringLiteral("ofen")), QStringLiteral("ofen"), broker.Port(), 2);
    station.StartSending(200, 800, 1000, 60);
    QVERIFY(station.Start());
    QTest::qWait(4000);
    collector.Kill();
    QTest::qWait(12000);
    QVERIFY(station.Stop());
    station.StopSending();

    // Its outbox gone, and the data file "0006", written long after the
    // collector went (the broker kept it only its first five messages).
    QVERIFY(QDir(station.Data() + QStringLiteral("/outbox")).removeRecursively());
    qint64 before = 0; // the readings of the files before it
    for (const char *name : {"0000", "0001", "0002", "0003", "0004", "0005"})
        before += ReadDataFile(QDir(station.Records()).filePath(QString::fromLatin1(name))).size();
    const QString gone = QDir(station.Records()).filePath(QStringLiteral("0006"));
    const qint64 goneReadings = ReadDataFile(gone).size();
    QVERIFY(goneReadings > 100);
    QVERIFY(QFile::remove(gone));
    const QList<DataLine> lines = ReadDataFiles(station.Records()); // every reading but those of "0006"
    // Started again, the station waits on the question about old data files
    // (nobody answers it): it serves the old run from them meanwhile.
    QVERIFY(station.Start());
    QVERIFY(collector.Start());
    QTRY_VERIFY2_WITH_TIMEOUT(collector.Said().contains(QStringLiteral(" complete: ")), qPrintable(collector.Said()), 60000);

    const QStringList runs = ArchivedRunFiles(QDir(archive).filePath(QStringLiteral("ofen")));
    QCOMPARE(runs.size(), 1);
    const ArchivedRun archived = ReadArchivedRun(runs.first());
    QCOMPARE(qsizetype(archived.readings.size()), lines.size());
    QCOMPARE(archived.rows, qint64(lines.size()));
    qsizetype i = 0;
    for (const auto &[seq, reading] : archived.readings) {
        QCOMPARE(seq, i < before ? qint64(i) : qint64(i) + goneReadings);
        QCOMPARE(reading.first, lines[i].msSinceEpoch);
        QCOMPARE(reading.second, lines[i].temperature);
        ++i;
    }
    // The gaps file says the gone file's readings are lost, and why; nothing else.
    QFile gaps(runs.first().chopped(4) + QStringLiteral(".gaps.csv"));
    QVERIFY(gaps.open(QIODevice::ReadOnly));
    const QList<QByteArray> gapLines = gaps.readAll().split('\n');
    QCOMPARE(gapLines.size(), 3); // the header, one range, after the last line end
    const QList<QByteArray> fields = gapLines[1].trimmed().split(',');
    QCOMPARE(fields.value(0).toLongLong(), before);
    QCOMPARE(fields.value(2).toLongLong(), goneReadings);
    QCOMPARE(fields.value(3), QByteArray("lost"));
    QVERIFY2(QString::fromUtf8(gapLines[1]).contains(QStringLiteral("0006")), gapLines[1].constData());
}

// Requests no collector would send: for ten million readings (refused), and
// for a million at once, twice (paced): the dialog keeps answering.
void TestResend::forgedRequestsAreRefusedOrPacedAndTheWindowStaysResponsive()
{
    QTemporaryDir dir;
    MosquittoBroker broker(dir.filePath(QStringLiteral("broker")));
    QVERIFY(broker.Start());
    InstrumentSimulator simulator;
    QString error;
    QVERIFY2(simulator.OpenPseudoTerminal(&error), qPrintable(error));
    const QString settingsFile = dir.filePath(QStringLiteral("settings.ini"));
    {
        QSettings settings(settingsFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("BaudRate"), 115200);
        settings.setValue(QStringLiteral("SavingPath"), dir.filePath(QStringLiteral("records")));
        settings.setValue(QStringLiteral("TimeBetweenSaving"), 2);
        settings.setValue(QStringLiteral("PortDevice1"), simulator.DevicePath());
        settings.setValue(QStringLiteral("MqttHost"), QStringLiteral("127.0.0.1"));
        settings.setValue(QStringLiteral("MqttPort"), broker.Port());
        settings.setValue(QStringLiteral("MqttStation"), QStringLiteral("ofen"));
    }
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("records"))));
    SettingsStore store(settingsFile);
    ScriptedMessages messages;
    CThermoDlg dialog(messages, store, dir.filePath(QStringLiteral("data")));
    dialog.show();
    dialog.accept();
    QVERIFY(dialog.IsRunning());
    QTRY_VERIFY_WITH_TIMEOUT(dialog.m_station.GetPublisher().IsConnected(), 10000);
    std::atomic_bool stop {false};
    std::thread sender([&] {
        SimulatorOptions options;
        options.framesPerSecond = 1280;
        options.profile = TemperatureProfile::Ramp(500, 600, 30);
        simulator.Run(options, stop);
    });
    const auto stopSending = qScopeGuard([&] {
        stop = true;
        sender.join();
    });
    QTest::qWait(4000);
    const std::optional<qint64> run = dialog.m_station.GetPublisher().Run();
    QVERIFY(run);

    MqttLink forger;
    qint64 resentReadings = 0;
    int summaries = 0;
    connect(&forger, &MqttLink::Connected, this, [&] {
        forger.Subscribe("calorivista/ofen/readings", 1);
        forger.Subscribe("calorivista/ofen/resent", 1);
    });
    connect(&forger, &MqttLink::Message, this, [&](const QByteArray &topic, const QByteArray &payload) {
        if (topic.endsWith("/resent"))
            ++summaries;
        else if (payload.contains("\"resent\":true"))
            resentReadings += payload.count("],[") + 1;
    });
    MqttEndpoint endpoint;
    endpoint.host = QStringLiteral("127.0.0.1");
    endpoint.port = broker.Port();
    endpoint.clientId = QStringLiteral("forger");
    forger.Open(endpoint);
    QTRY_VERIFY_WITH_TIMEOUT(forger.IsConnected(), 10000);
    // How long the window's event loop goes without turning: a timer's longest wait.
    QElapsedTimer sinceTick;
    qint64 longestWait = 0;
    QTimer tick;
    connect(&tick, &QTimer::timeout, this, [&] {
        longestWait = std::max(longestWait, sinceTick.restart());
    });
    sinceTick.start();
    tick.start(10);
    forger.Publish("calorivista/ofen/resend", publishpayloads::ResendRequest(*run, 0, 10000000), 1, false);
    for (int i = 0; i < 2; ++i)
        forger.Publish("calorivista/ofen/resend", publishpayloads::ResendRequest(*run, i, 1000000 + i), 1, false);
    QTest::qWait(8000);
    tick.stop();
    QVERIFY2(longestWait < 300, qPrintable(QStringLiteral("the window waited %1 ms").arg(longestWait)));
    // What the run holds was sent once, not ten million; the second request waits for the budget.
    QVERIFY2(resentReadings > 0 && resentReadings <= ResendServer::kReadingsPerMinute,
             qPrintable(QString::number(resentReadings)));
    QVERIFY(summaries >= 1);
    dialog.OnStop();
}

QTEST_MAIN(TestResend)
#include "tst_resend.moc"
