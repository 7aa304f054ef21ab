// Publishing to a real mosquitto broker: the real program on the simulated
// instrument, the real collector, and a broker that hangs, dies and comes
// back while the program is killed outright; then refusals and TLS.
#include "collector.h"
#include "csvarchive.h"
#include "instrumentsimulator.h"
#include "mosquittobroker.h"
#include "runline.h"
#include "scriptedmessages.h"
#include "settingsstore.h"
#include "testsupport.h"
#include "thermodlg.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

namespace {

// The temperatures of a collected run's CSV, in its order.
QList<double> CollectedTemperatures(const QString &csv)
{
    QFile file(csv);
    QList<double> out;
    if (!file.open(QIODevice::ReadOnly))
        return out;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines[i].split(',');
        if (fields.size() >= 4) // time,elapsed_s,temperature_c,file,seq
            out.append(fields[2].toDouble());
    }
    return out;
}

// The collected runs of a station, oldest first.
QStringList RunFiles(const QString &folder)
{
    static const QRegularExpression run(QStringLiteral("^\\d+\\.csv$"));
    QStringList out;
    for (const QString &name : QDir(folder).entryList(QDir::Files, QDir::Name).filter(run))
        out.append(QDir(folder).filePath(name));
    return out;
}

bool RunOpenSsl(const QStringList &arguments, const QString &folder)
{
    QProcess openssl;
    openssl.setWorkingDirectory(folder);
    openssl.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    openssl.start(QStringLiteral("openssl"), arguments);
    return openssl.waitForFinished(30000) && openssl.exitCode() == 0;
}

// A test authority and, when `server` is set, a certificate for localhost and 127.0.0.1 signed by it.
bool MakeAuthority(const QString &folder, const QString &name, bool server)
{
    const QStringList ec {QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                          QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
    if (!RunOpenSsl(QStringList {QStringLiteral("req"), QStringLiteral("-x509")} + ec
                        + QStringList {QStringLiteral("-keyout"), name + QStringLiteral(".key"), QStringLiteral("-out"),
                                       name + QStringLiteral(".crt"), QStringLiteral("-days"), QStringLiteral("2"),
                                       QStringLiteral("-subj"), QStringLiteral("/CN=Calorivista test ") + name},
                    folder))
        return false;
    if (!server)
        return true;
    QFile san(QDir(folder).filePath(QStringLiteral("san.ext")));
    if (!san.open(QIODevice::WriteOnly) || san.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n") < 0)
        return false;
    san.close();
    return RunOpenSsl(QStringList {QStringLiteral("req")} + ec
                          + QStringList {QStringLiteral("-keyout"), QStringLiteral("server.key"), QStringLiteral("-out"),
                                         QStringLiteral("server.csr"), QStringLiteral("-subj"), QStringLiteral("/CN=localhost")},
                      folder)
        && RunOpenSsl({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), QStringLiteral("server.csr"),
                       QStringLiteral("-CA"), name + QStringLiteral(".crt"), QStringLiteral("-CAkey"), name + QStringLiteral(".key"),
                       QStringLiteral("-CAcreateserial"), QStringLiteral("-out"), QStringLiteral("server.crt"),
                       QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-extfile"), QStringLiteral("san.ext")},
                      folder);
}

} // namespace

class TestPublish : public QObject
{
    Q_OBJECT

private slots:
    void everyReadingArchivedThroughHangsOutagesAndAKill();
    void refusalsAreToldOnceAndTlsChecksTheBroker();
    void collectorWritesEachReadingOnceAndReportsGaps();
    void fullOutboxDropsTheOldestAndSaysHowMany();
};

void TestPublish::everyReadingArchivedThroughHangsOutagesAndAKill()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString records = dir.filePath(QStringLiteral("records"));
    const QString records2 = dir.filePath(QStringLiteral("records2"));
    const QString archive = dir.filePath(QStringLiteral("archive"));
    const QString station = archive + QStringLiteral("/furnace_1");
    const QString configHome = dir.filePath(QStringLiteral("config"));
    const QString settingsFile = configHome + QStringLiteral("/Calorivista/Calorivista.conf");
    QVERIFY(QDir().mkpath(records) && QDir().mkpath(records2) && QDir().mkpath(configHome + QStringLiteral("/Calorivista")));

    MosquittoBroker broker(dir.filePath(QStringLiteral("broker")));
    QVERIFY(broker.Start());

    QProcess collector;
    collector.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    collector.start(QStringLiteral(CALORIVISTA_COLLECT),
                    {QStringLiteral("--broker"), QStringLiteral("127.0.0.1:%1").arg(broker.Port()), QStringLiteral("--out"),
                     archive, QStringLiteral("--id"), QStringLiteral("test-collector")});
    QByteArray said;
    connect(&collector, &QProcess::readyReadStandardOutput, this, [&] { said += collector.readAllStandardOutput(); });
    QTRY_VERIFY_WITH_TIMEOUT(said.contains("broker: connected"), 10000);

    InstrumentSimulator simulator;
    QString error;
    QVERIFY2(simulator.OpenPseudoTerminal(&error), qPrintable(error));
    SimulatorOptions options;
    options.framesPerSecond = 1280;
    options.profile = TemperatureProfile::Ramp(500, 1500, 120);
    std::atomic_bool stop {false};
    std::thread sender([&] { simulator.Run(options, stop); });
    const auto stopSending = qScopeGuard([&] {
        stop = true;
        sender.join();
    });

    const auto writeSettings = [&](const QString &folder) {
        QSettings settings(settingsFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("BaudRate"), 115200);
        settings.setValue(QStringLiteral("PortNumber"), 1);
        settings.setValue(QStringLiteral("TimeBetweenSaving"), 5);
        settings.setValue(QStringLiteral("SavingPath"), folder);
        settings.setValue(QStringLiteral("PortDevice1"), simulator.DevicePath());
        settings.setValue(QStringLiteral("MqttHost"), QStringLiteral("127.0.0.1"));
        settings.setValue(QStringLiteral("MqttPort"), broker.Port());
        settings.setValue(QStringLiteral("MqttStation"), QStringLiteral("furnace 1")); // the space becomes '_'
    };
    const auto startProgram = [&](QProcess &program) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        environment.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(dir.path());
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start(QStringLiteral(CALORIVISTA_AUTOSTART), {});
        return program.waitForStarted();
    };
    const auto collected = [&](int run) {
        const QStringList runs = RunFiles(station);
        return runs.size() > run ? CollectedTemperatures(runs[run]).size() : 0;
    };

    writeSettings(records);
    QProcess first;
    QVERIFY(startProgram(first));
    QTRY_VERIFY_WITH_TIMEOUT(collected(0) > 1000, 15000);

    // A network that hangs: the broker stops answering for 20 s.
    broker.Pause();
    QTest::qWait(20000);
    const qint64 beforeResume = collected(0);
    broker.Resume();
    QTRY_VERIFY_WITH_TIMEOUT(collected(0) > beforeResume + 20 * 1280, 30000);

    // The broker is killed for 20 s and started again.
    broker.Terminate();
    QTest::qWait(20000);
    QVERIFY(broker.Start());
    const qint64 beforeKill = collected(0);
    QTRY_VERIFY_WITH_TIMEOUT(collected(0) > beforeKill + 20 * 1280, 30000);

    // While the broker is down again, the program is killed outright.
    broker.Terminate();
    QTest::qWait(3000);
    first.kill();
    QVERIFY(first.waitForFinished());
    const QDir journals(dir.filePath(QStringLiteral("data/Calorivista/Calorivista")));
    const QStringList left = journals.entryList({QStringLiteral("*.journal")}, QDir::Files);
    QCOMPARE(left.size(), 1);
    const QString killedJournal = journals.filePath(left.first());
    QVERIFY(broker.Start());

    // The next start records into another folder, writes the killed run's
    // journal into its own and sends the outbox first.
    writeSettings(records2);
    QProcess second;
    QVERIFY(startProgram(second));
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(killedJournal), 15000); // written into its record folder
    QTRY_VERIFY_WITH_TIMEOUT(collected(1) > 2000, 20000);
    const QList<double> killedRun = Temperatures(ReadDataFiles(records));
    QTRY_VERIFY_WITH_TIMEOUT(collected(0) >= killedRun.size(), 20000);
    second.terminate(); // a clean end: the run stops and is saved, its last batch goes
    QVERIFY(second.waitForFinished(20000));
    stop = true;

    // Every reading the data files hold, in order, each once. The killed run's
    // outbox was written before its journal: it may have a second more.
    const QStringList runs = RunFiles(station);
    QCOMPARE(runs.size(), 2);
    const QList<double> archivedKilled = CollectedTemperatures(runs[0]);
    QVERIFY2(archivedKilled.size() >= killedRun.size() && archivedKilled.size() <= killedRun.size() + 2 * 1280,
             qPrintable(QStringLiteral("%1 collected, %2 in the data files").arg(archivedKilled.size()).arg(killedRun.size())));
    QVERIFY(archivedKilled.mid(0, killedRun.size()) == killedRun);
    qInfo("killed run: %lld readings in its data files, %lld collected", qlonglong(killedRun.size()),
          qlonglong(archivedKilled.size()));
    QVERIFY(killedRun.size() > 40 * 1280); // the hang and the outage came in the middle of the run
    const QList<double> secondRun = Temperatures(ReadDataFiles(records2));
    QTRY_COMPARE_WITH_TIMEOUT(CollectedTemperatures(runs[1]).size(), secondRun.size(), 10000);
    QVERIFY(CollectedTemperatures(runs[1]) == secondRun);
    QVERIFY2(!said.contains("gap"), said.constData());
    QVERIFY(!QFile::exists(runs[0].chopped(4) + QStringLiteral(".gaps.csv")));
    const QRegularExpression finished(QStringLiteral("run %1 \\([^)]*\\) finished: %2 readings")
                                          .arg(QFileInfo(runs[1]).baseName())
                                          .arg(secondRun.size()));
    QTRY_VERIFY2_WITH_TIMEOUT(finished.match(QString::fromUtf8(said)).hasMatch(), said.constData(), 10000);

    // The events of both runs, the station's state after the clean end.
    QFile events(runs[1].chopped(4) + QStringLiteral(".events.csv"));
    QVERIFY(events.open(QIODevice::ReadOnly));
    const QByteArray eventText = events.readAll();
    QCOMPARE(eventText.count(",run-start,"), 1);
    QCOMPARE(eventText.count(",run-stop,"), 1);
    MqttLink watcher;
    QMap<QByteArray, QByteArray> retained;
    connect(&watcher, &MqttLink::Connected, this, [&] { watcher.Subscribe("calorivista/furnace_1/#", 1); });
    connect(&watcher, &MqttLink::Message, this, [&](const QByteArray &topic, const QByteArray &payload) { retained[topic] = payload; });
    MqttEndpoint endpoint;
    endpoint.host = QStringLiteral("127.0.0.1");
    endpoint.port = broker.Port();
    endpoint.clientId = QStringLiteral("test-watcher");
    watcher.Open(endpoint);
    QTRY_VERIFY_WITH_TIMEOUT(retained.contains("calorivista/furnace_1/last"), 10000);
    QCOMPARE(retained.value("calorivista/furnace_1/status"), QByteArray("offline"));
    const QJsonObject last = QJsonDocument::fromJson(retained.value("calorivista/furnace_1/last")).object();
    QCOMPARE(last.value(QLatin1String("v")).toInt(), 1);
    QCOMPARE(last.value(QLatin1String("line")).toString(), QStringLiteral("ok"));
    QVERIFY(last.value(QLatin1String("alarm")).isNull());
    QVERIFY(last.value(QLatin1String("run")).isNull()); // the run had ended
    QCOMPARE(last.value(QLatin1String("c")).toDouble(), secondRun.last());

    // The lab's witness holds each folder's chain as the folder has it: the
    // killed run's lines, sent from the outbox, and those its recovery entered.
    const QJsonObject key = QJsonDocument::fromJson(retained.value("calorivista/furnace_1/key")).object();
    QVERIFY2(key.value(QLatin1String("fingerprint")).toString().startsWith(QStringLiteral("SHA256:")),
             retained.value("calorivista/furnace_1/key").constData());
    QCOMPARE(key.value(QLatin1String("key")).toString().size(), 64);
    for (const QString &folder : {records, records2}) {
        QProcess verify;
        verify.setProcessChannelMode(QProcess::MergedChannels);
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                verify.start(QStringLiteral(CALORIVISTA_VERIFY), {folder, QStringLiteral("--witness"), archive});
                verify.waitForFinished(30000);
                output = verify.readAll();
                return verify.exitCode() == 0;
            }(),
            10000);
        QVERIFY2(output.contains(": the witness holds the same chain"), output.constData());
    }
    QFile witness(QDir(station).filePath(QStringLiteral("chain.csv")));
    QVERIFY(witness.open(QIODevice::ReadOnly));
    const QByteArray witnessed = witness.readAll();
    QFile killedChain(QDir(records).filePath(QStringLiteral("calorivista.chain")));
    QVERIFY(killedChain.open(QIODevice::ReadOnly));
    // Each line once, though the recovery published the whole chain again.
    const QList<QByteArray> chainLines = killedChain.readAll().split('\n');
    QVERIFY(chainLines.size() > 10);
    for (const QByteArray &line : chainLines.mid(1))
        if (!line.isEmpty())
            QCOMPARE(witnessed.count(',' + line), 1);

    collector.terminate();
    QVERIFY(collector.waitForFinished(10000));
    QCOMPARE(collector.exitCode(), 0);
}

void TestPublish::refusalsAreToldOnceAndTlsChecksTheBroker()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString certificates = dir.filePath(QStringLiteral("tls"));
    QVERIFY(QDir().mkpath(certificates));
    QVERIFY(MakeAuthority(certificates, QStringLiteral("ca"), true));
    QVERIFY(MakeAuthority(certificates, QStringLiteral("other"), false));
    const QString passwords = QDir(certificates).filePath(QStringLiteral("passwords"));
    {
        QProcess passwd;
        passwd.start(QStringLiteral("mosquitto_passwd"), {QStringLiteral("-b"), QStringLiteral("-c"), passwords,
                                                         QStringLiteral("lab"), QStringLiteral("right")});
        QVERIFY(passwd.waitForFinished(10000) && passwd.exitCode() == 0);
    }
    const int tlsPort = FreeLocalPort();
    MosquittoBroker broker(dir.filePath(QStringLiteral("broker")),
                           {QStringLiteral("password_file %1").arg(passwords), QStringLiteral("allow_anonymous false"),
                            QStringLiteral("listener %1 127.0.0.1").arg(tlsPort),
                            QStringLiteral("cafile %1/ca.crt").arg(certificates),
                            QStringLiteral("certfile %1/server.crt").arg(certificates),
                            QStringLiteral("keyfile %1/server.key").arg(certificates)});
    QVERIFY(broker.Start({tlsPort}));

    InstrumentSimulator simulator;
    QString error;
    QVERIFY2(simulator.OpenPseudoTerminal(&error), qPrintable(error));
    const QString records = dir.filePath(QStringLiteral("records"));
    QVERIFY(QDir().mkpath(records));
    const QString settingsFile = dir.filePath(QStringLiteral("settings.ini"));
    SettingsStore store(settingsFile);
    {
        QSettings settings(settingsFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("BaudRate"), 115200);
        settings.setValue(QStringLiteral("PortNumber"), 1);
        settings.setValue(QStringLiteral("SavingPath"), records);
        settings.setValue(QStringLiteral("PortDevice1"), simulator.DevicePath());
    }
    PublishSettings publish;
    publish.host = QStringLiteral("127.0.0.1");
    publish.port = broker.Port();
    publish.user = QStringLiteral("lab");
    publish.password = QStringLiteral("wrong");
    publish.station = QStringLiteral("furnace2");
    QVERIFY(store.SavePublishSettings(publish));
    // The password is the user's own: nobody else reads the settings file.
    QCOMPARE(QFile::permissions(settingsFile) & (QFileDevice::ReadGroup | QFileDevice::ReadOther), QFileDevice::Permissions());

    ScriptedMessages messages;
    CThermoDlg dialog(messages, store, dir.filePath(QStringLiteral("journal")));
    dialog.accept();
    QVERIFY(dialog.IsRunning());
    const auto stateLine = [&] { return dialog.m_pRunLine->Text(); };
    const auto refusedEvents = [&] {
        QFile events(QDir(records).filePath(QStringLiteral("events.csv")));
        return events.open(QIODevice::ReadOnly) ? int(events.readAll().count(",publish-refused,")) : -1;
    };

    // A wrong password: said once on the line and in the events, no storm of retries.
    QTRY_VERIFY_WITH_TIMEOUT(stateLine().contains(QStringLiteral("MQTT: брокер отклонил имя или пароль")), 10000);
    QTest::qWait(5000);
    QVERIFY2(broker.CountInLog(QStringLiteral("disconnected, not authorised")) == 1, qPrintable(broker.Log()));
    QCOMPARE(refusedEvents(), 1);
    QVERIFY(messages.shown.isEmpty());

    // TLS whose broker's certificate comes from another authority: refused, told once.
    publish.password = QStringLiteral("right");
    publish.host = QStringLiteral("localhost");
    publish.port = tlsPort;
    publish.tls = true;
    publish.caFile = QDir(certificates).filePath(QStringLiteral("other.crt"));
    dialog.m_station.SetPublishing(publish);
    QTRY_VERIFY_WITH_TIMEOUT(stateLine().contains(QStringLiteral("MQTT: брокер не принят по TLS")), 10000);
    QTest::qWait(3000);
    QCOMPARE(refusedEvents(), 2);

    // The right authority and password: the readings reach a collector that also speaks TLS.
    publish.caFile = QDir(certificates).filePath(QStringLiteral("ca.crt"));
    dialog.m_station.SetPublishing(publish);
    QTRY_VERIFY_WITH_TIMEOUT(stateLine().contains(QStringLiteral("MQTT: на связи")), 10000);
    CollectorOptions collect;
    collect.endpoint.host = QStringLiteral("localhost");
    collect.endpoint.port = tlsPort;
    collect.endpoint.tls = true;
    collect.endpoint.caFile = publish.caFile;
    collect.endpoint.user = QStringLiteral("lab");
    collect.endpoint.password = QStringLiteral("right");
    collect.endpoint.clientId = QStringLiteral("test-tls-collector");
    collect.endpoint.cleanSession = false;
    CsvArchive archive(dir.filePath(QStringLiteral("archive")));
    QVERIFY2(archive.Take(&error), qPrintable(error));
    Collector collector(collect, archive);
    collector.Start();
    QTest::qWait(1500); // subscribed before the frames come
    std::string frames;
    for (int i = 0; i < 300; ++i)
        frames += InstrumentSimulator::EncodeFrame(800 + i * 0.1);
    QVERIFY(simulator.Write(frames));
    const QString station = dir.filePath(QStringLiteral("archive/furnace2"));
    QTRY_COMPARE_WITH_TIMEOUT(RunFiles(station).size(), 1, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(CollectedTemperatures(RunFiles(station).first()).size(), 300, 10000);
    QCOMPARE(CollectedTemperatures(RunFiles(station).first()).last(), WireValue(829.9));
    dialog.OnStop();
}

void TestPublish::collectorWritesEachReadingOnceAndReportsGaps()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    MosquittoBroker broker(dir.filePath(QStringLiteral("broker")));
    QVERIFY(broker.Start());
    CollectorOptions options;
    options.endpoint.host = QStringLiteral("127.0.0.1");
    options.endpoint.port = broker.Port();
    options.endpoint.clientId = QStringLiteral("test-collector");
    options.endpoint.cleanSession = false;
    QStringList said;
    // A collector with its archive, as calorivista-collect makes them.
    const auto start = [&] {
        auto archive = std::make_unique<CsvArchive>(dir.filePath(QStringLiteral("archive")));
        QString error;
        if (!archive->Take(&error))
            qFatal("%s", qPrintable(error));
        auto collector = std::make_unique<Collector>(options, *archive);
        connect(collector.get(), &Collector::Said, this, [&](const QString &line) { said.append(line); });
        collector->Start();
        return std::pair(std::move(archive), std::move(collector));
    };
    std::unique_ptr<CsvArchive> archive;
    std::unique_ptr<Collector> collector;
    std::tie(archive, collector) = start();
    QTRY_VERIFY_WITH_TIMEOUT(said.join(QLatin1Char('\n')).contains(QStringLiteral("broker: connected")), 10000);
    QTest::qWait(300); // its subscriptions reach the broker

    MqttLink station;
    MqttEndpoint endpoint = options.endpoint;
    endpoint.clientId = QStringLiteral("test-station");
    endpoint.cleanSession = true;
    station.Open(endpoint);
    QTRY_VERIFY_WITH_TIMEOUT(station.IsConnected(), 10000);
    const qint64 run = 1796000000000;
    const auto send = [&](qint64 seq, int count) {
        std::vector<OutboxReading> readings;
        for (qint64 i = seq; i < seq + count; ++i)
            readings.push_back({run + 10 + i * 10, 100.0 + double(i) * 0.1});
        QVERIFY(station.Publish("calorivista/f3/readings", publishpayloads::Readings(run, seq, readings), 1, false) >= 0);
    };
    const auto sendEvent = [&](qint64 at, const char *name) {
        const RunEvent event {at, QString::fromLatin1(name), std::nullopt, QStringLiteral("0000 comment, \"quoted\""), {}};
        QVERIFY(station.Publish("calorivista/f3/events", publishpayloads::Event(event, run), 1, false) >= 0);
    };
    const QString csv = dir.filePath(QStringLiteral("archive/f3/%1.csv").arg(run));
    sendEvent(run, "run-start");
    send(0, 10);
    send(5, 10);  // sent again in part, as after a lost acknowledgement
    sendEvent(run, "run-start"); // an event sent again
    send(20, 5);  // 15 to 19 never come
    QTRY_COMPARE_WITH_TIMEOUT(CollectedTemperatures(csv).size(), 20, 10000);

    // The collector is away (and was cut off in the middle of a line): the
    // broker keeps what comes meanwhile for its session.
    collector.reset();
    archive.reset();
    QTest::qWait(300);
    send(25, 5);
    sendEvent(run + 1000, "run-stop");
    QTest::qWait(300);
    {
        QFile torn(csv);
        QVERIFY(torn.open(QIODevice::Append));
        torn.write("2026-11-11T10:00:00.000+01:00,1.0");
    }
    std::tie(archive, collector) = start();
    QTRY_VERIFY2_WITH_TIMEOUT(said.join(QLatin1Char('\n')).contains(QStringLiteral("finished")), qPrintable(said.join(QLatin1Char('\n'))), 10000);

    QList<double> expected;
    for (int i : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29})
        expected.append(QByteArray::number(100.0 + i * 0.1, 'g', 6).toDouble());
    QCOMPARE(CollectedTemperatures(csv), expected);
    QFile gaps(dir.filePath(QStringLiteral("archive/f3/%1.gaps.csv").arg(run)));
    QVERIFY(gaps.open(QIODevice::ReadOnly));
    // Nobody answers for the station here: the hole stays asked for.
    QCOMPARE(gaps.readAll(), QByteArray("first_seq,last_seq,readings,state,reason\r\n15,19,5,asked,\r\n"));
    const QString lines = said.join(QLatin1Char('\n'));
    QVERIFY2(lines.contains(QStringLiteral("gap: readings 15 to 19 (5) missing, asked for")), qPrintable(lines));
    QVERIFY2(lines.contains(QStringLiteral("finished: 25 readings, 5 missing")), qPrintable(lines));
    QFile events(dir.filePath(QStringLiteral("archive/f3/%1.events.csv").arg(run)));
    QVERIFY(events.open(QIODevice::ReadOnly));
    const QList<QByteArray> eventLines = events.readAll().split('\n');
    QCOMPARE(eventLines.size(), 4); // the header, the start once, the stop, after the last line end
    QVERIFY2(eventLines[1].contains(",run-start,,\"0000 comment, \"\"quoted\"\"\""), eventLines[1].constData());
    QVERIFY(eventLines[2].contains(",run-stop,"));
}

void TestPublish::fullOutboxDropsTheOldestAndSaysHowMany()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ScriptedMessages messages;
    CComReader reader(messages);
    RunFeed feed(reader);
    Publisher publisher(feed, dir.filePath(QStringLiteral("outbox")));
    connect(&feed, &RunFeed::Event, &publisher, &Publisher::TakeEvent);
    qint64 dropped = 0;
    connect(&feed, &RunFeed::Event, this, [&](const RunEvent &event) {
        if (event.event == QLatin1String("publish-dropped"))
            dropped += QRegularExpression(QStringLiteral("(\\d+) показаний")).match(event.text).captured(1).toLongLong();
    });
    // A broker that is not there yet, and an outbox of 1 MB.
    MosquittoBroker broker(dir.filePath(QStringLiteral("broker")));
    PublishSettings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = broker.Port();
    settings.station = QStringLiteral("f4");
    settings.outboxMB = 1;
    publisher.Configure(settings);
    const qint64 run = QDateTime::currentMSecsSinceEpoch();
    feed.Post(RunEvent {run, QStringLiteral("run-start"), std::nullopt, QString(), {}});
    constexpr qint64 kReadings = 150000;
    for (qint64 first = 0; first < kReadings; first += 1000) {
        FeedReadings readings;
        readings.first = first;
        for (qint64 i = first; i < first + 1000; ++i)
            readings.readings.push_back({SYSTEMTIME {}, double(i % 10000), run + i});
        publisher.TakeReadings(readings);
    }
    QVERIFY(dropped > 0);
    QCOMPARE(dropped + publisher.GetOutbox().PendingReadings(), kReadings);
    QVERIFY(publisher.GetOutbox().Bytes() <= 1024 * 1024);
    QTRY_VERIFY2_WITH_TIMEOUT(publisher.StateText().contains(QStringLiteral("в очереди %1 показ.").arg(kReadings - dropped)),
                              qPrintable(publisher.StateText()), 3000);

    // The broker comes: what was kept goes in order, from the first reading not dropped.
    QVERIFY(broker.Start());
    MqttLink watcher;
    qint64 nextSeq = -1;
    qint64 received = 0;
    bool inOrder = true;
    connect(&watcher, &MqttLink::Connected, this, [&] { watcher.Subscribe("calorivista/f4/readings", 1); });
    connect(&watcher, &MqttLink::Message, this, [&](const QByteArray &, const QByteArray &payload) {
        const QJsonObject batch = QJsonDocument::fromJson(payload).object();
        const qint64 seq = batch.value(QLatin1String("seq")).toInteger();
        inOrder = inOrder && (nextSeq < 0 || seq == nextSeq);
        if (nextSeq < 0)
            QCOMPARE(seq, dropped);
        nextSeq = seq + batch.value(QLatin1String("readings")).toArray().size();
        received += batch.value(QLatin1String("readings")).toArray().size();
    });
    MqttEndpoint endpoint;
    endpoint.host = settings.host;
    endpoint.port = broker.Port();
    endpoint.clientId = QStringLiteral("test-watcher");
    watcher.Open(endpoint);
    QTRY_VERIFY_WITH_TIMEOUT(watcher.IsConnected(), 10000);
    QTest::qWait(300);
    QTRY_VERIFY_WITH_TIMEOUT(publisher.GetOutbox().IsEmpty(), 30000); // the back-off's next try comes within 30 s
    QTRY_COMPARE_WITH_TIMEOUT(received, kReadings - dropped, 10000);
    QVERIFY(inOrder);
}

QTEST_MAIN(TestPublish)
#include "tst_publish.moc"
