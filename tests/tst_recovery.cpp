// A run cut short: the real program on the simulated instrument, killed
// outright, and the next start writing what it had journaled.
#include "datarecorder.h"
#include "filenamedlg.h"
#include "foldercheck.h"
#include "instrumentsimulator.h"
#include "journalformat.h"
#include "journalrecovery.h"
#include "mosquittobroker.h"
#include "mqttlink.h"
#include "publishsettings.h"
#include "recordchain.h"
#include "recordfolderlock.h"
#include "samplelist.h"
#include "scriptedmessages.h"
#include "settingsstore.h"
#include "stationchoice.h"
#include "testsupport.h"
#include "thermodlg.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QFile>
#include <QInputDialog>
#include <QLockFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

namespace {

// Readings with distinct temperatures, a second apart, from 12:00:00.250.
std::vector<TempSample> Readings(int count, double first = 1000.0)
{
    std::vector<TempSample> readings;
    for (int i = 0; i < count; ++i)
        readings.push_back({MakeTime(2027, 1, 1, 12, i / 60, i % 60, 250), first + i});
    return readings;
}

QList<double> TemperaturesOf(const std::vector<TempSample> &readings)
{
    QList<double> out;
    for (const TempSample &reading : readings)
        out.append(QByteArray::number(reading.temperature, 'g', 6).toDouble());
    return out;
}

void WriteJournal(const QString &path, const JournalHeader &header, const std::vector<TempSample> &readings)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(journalformat::FileStart() + journalformat::HeaderRecord(header) + journalformat::ReadingsRecords(readings));
}

} // namespace

class TestRecovery : public QObject
{
    Q_OBJECT

private slots:
    void killedRunIsRecoveredAtTheNextStart();
    void damagedJournalRecoversEveryWholeRecordAndIsKept_data();
    void damagedJournalRecoversEveryWholeRecordAndIsKept();
    void recoveryHoldsTheFolderAndKeepsTheRunsInOrder();
    void recoveryWritesNoReadingTwiceAndOverwritesNothing();
    void fullDisksLeaveNoPartialFileAndSayWhy();
    void twoStationsRecordPublishAndRecoverApart();
    void stationNameIsRefusedUnlessLettersDigitsDashes_data();
    void stationNameIsRefusedUnlessLettersDigitsDashes();
    void askedStationNameIsAskedAgainUntilUsable();
};

void TestRecovery::killedRunIsRecoveredAtTheNextStart()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString records = dir.filePath(QStringLiteral("records"));
    const QString configHome = dir.filePath(QStringLiteral("config"));
    const QString dataHome = dir.filePath(QStringLiteral("data"));
    const QString journals = dataHome + QStringLiteral("/Calorivista/Calorivista");
    QVERIFY(QDir().mkpath(records));
    QVERIFY(QDir().mkpath(configHome + QStringLiteral("/Calorivista")));

    InstrumentSimulator simulator;
    QString error;
    QVERIFY2(simulator.OpenPseudoTerminal(&error), qPrintable(error));
    const QString settingsFile = configHome + QStringLiteral("/Calorivista/Calorivista.conf");
    {
        QSettings settings(settingsFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("BaudRate"), 115200);
        settings.setValue(QStringLiteral("PortNumber"), 1);
        settings.setValue(QStringLiteral("TimeBetweenSaving"), 300);
        settings.setValue(QStringLiteral("SavingPath"), records);
        settings.setValue(QStringLiteral("PortDevice1"), simulator.DevicePath());
    }

    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(dir.path());
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QStringLiteral(CALORIVISTA_AUTOSTART), {});
    QVERIFY(program.waitForStarted());
    // The run has begun once its journal is there.
    const QStringList journalFilter {QStringLiteral("*.journal")};
    QTRY_VERIFY_WITH_TIMEOUT(!QDir(journals).entryList(journalFilter, QDir::Files).isEmpty(), 10000);

    // Meanwhile a second program cannot record into the same folder, and
    // writes nothing there.
    {
        ScriptedMessages refused;
        SettingsStore store(settingsFile);
        CThermoDlg second(refused, store, dir.filePath(QStringLiteral("second")));
        second.accept();
        QVERIFY(!second.IsRunning());
        QCOMPARE(refused.shown.size(), 1);
        QCOMPARE(refused.shown[0].icon, QMessageBox::Critical);
        QCOMPARE(refused.shown[0].caption, QStringLiteral("Ошибка"));
        QVERIFY2(refused.shown[0].text.contains(QDir::toNativeSeparators(records)), qPrintable(refused.shown[0].text));
        QCOMPARE(QDir(records).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                 QStringList({QStringLiteral(".calorivista.lock"), QStringLiteral("dirinfo"), QStringLiteral("events.csv")}));
    }

    // About five seconds of readings, then the program is killed outright.
    QList<qint64> sentAt;
    SimulatorOptions options;
    options.framesPerSecond = 200;
    options.profile = TemperatureProfile::Ramp(100, 600, 5);
    options.onFrame = [&sentAt](long long, const std::string &, double) { sentAt.append(NowMs()); };
    std::atomic_bool stop {false};
    std::thread sender([&] { simulator.Run(options, stop); });
    QTest::qWait(5000);
    program.kill(); // SIGKILL: no handler runs, nothing is saved on the way out
    const qint64 killedAt = NowMs();
    stop = true;
    sender.join();
    QVERIFY(program.waitForFinished());
    QVERIFY(!QFile::exists(QDir(records).filePath(QStringLiteral("0000"))));
    // The run's start was made durable as it was written: the kill loses no line of it.
    QFile events(QDir(records).filePath(QStringLiteral("events.csv")));
    QVERIFY(events.open(QIODevice::ReadOnly));
    const QList<QByteArray> eventLines = events.readAll().split('\n');
    QCOMPARE(eventLines.size(), 4);
    QCOMPARE(eventLines[0], QByteArray("time,event,temperature_c,text,user\r"));
    QVERIFY2(eventLines[1].contains(",run-start,,0000 ") && eventLines[1].endsWith('\r'), eventLines[1].constData());
    QVERIFY2(eventLines[2].contains(",settings,,PortNumber=") && eventLines[2].endsWith('\r'), eventLines[2].constData());
    QVERIFY(eventLines[3].isEmpty());

    // The next start: while another program holds the journal (recovering it
    // too), it is left alone; then it is written once.
    ScriptedMessages messages;
    SettingsStore store(settingsFile);
    const QString journal = QDir(journals).filePath(QDir(journals).entryList(journalFilter, QDir::Files).first());
    {
        QLockFile other(journal + QStringLiteral(".lock"));
        QVERIFY(other.tryLock(0));
        CThermoDlg dialog(messages, store, journals);
        dialog.RecoverInterruptedRuns();
        QVERIFY(messages.shown.isEmpty());
        QVERIFY(QFile::exists(journal));
    }
    CThermoDlg dialog(messages, store, journals);
    dialog.RecoverInterruptedRuns();
    QCOMPARE(messages.shown.size(), 1);
    QCOMPARE(messages.shown[0].icon, QMessageBox::Information);
    QVERIFY2(messages.shown[0].text.contains(QStringLiteral("\"0000\"")), qPrintable(messages.shown[0].text));
    QVERIFY(messages.shown[0].text.contains(QDir::toNativeSeparators(records)));
    QVERIFY(QDir(journals).entryList(journalFilter, QDir::Files).isEmpty());

    // Every reading sent up to about a second before the kill (the journal is
    // made durable once a second; half a second more for a busy machine), each
    // once, in order, at its own time.
    const QList<DataLine> lines = ReadDataFile(QDir(records).filePath(QStringLiteral("0000")));
    int sentBeforeTheLastSecond = 0;
    while (sentBeforeTheLastSecond < sentAt.size() && sentAt[sentBeforeTheLastSecond] < killedAt - 1500)
        ++sentBeforeTheLastSecond;
    QVERIFY2(lines.size() >= sentBeforeTheLastSecond && lines.size() <= sentAt.size(),
             qPrintable(QStringLiteral("%1 recovered, %2 sent, %3 of them over a second before the kill")
                            .arg(lines.size()).arg(sentAt.size()).arg(sentBeforeTheLastSecond)));
    QVERIFY(sentBeforeTheLastSecond > 500);
    qInfo("%lld readings sent, %lld of them over 1.5 s before the kill, %lld recovered", qlonglong(sentAt.size()),
          qlonglong(sentBeforeTheLastSecond), qlonglong(lines.size()));
    for (int i = 0; i < lines.size(); ++i) {
        QCOMPARE(lines[i].temperature, QByteArray::number(WireValue(options.profile.At(i, i / 200.0)), 'g', 6).toDouble());
        // The frames a read gathers are stamped evenly over the time since the
        // read before; a pseudo-terminal hands them on in bursts, so under a
        // slow sanitizer a stamp may come a few ms before the sender's.
        QVERIFY2(lines[i].msSinceEpoch >= sentAt[i] - 5 && lines[i].msSinceEpoch < sentAt[i] + 1000,
                 qPrintable(QStringLiteral("reading %1 at %2, sent at %3").arg(i).arg(lines[i].msSinceEpoch).arg(sentAt[i])));
    }

    // The killed program's hold on the folder is stale: a new run may record there.
    messages.answers = {QMessageBox::Yes}; // "0000" is there now
    dialog.accept();
    QVERIFY(dialog.IsRunning());
    dialog.OnStop();
    QVERIFY(!QFile::exists(QDir(records).filePath(RecordFolderLock::kFileName)));
}

void TestRecovery::damagedJournalRecoversEveryWholeRecordAndIsKept_data()
{
    QTest::addColumn<int>("damaged"); // the piece with a byte flipped: 1 header, 2-4 readings; 0 none
    QTest::addColumn<int>("cut");     // bytes cut off the end
    QTest::addColumn<QList<int>>("recovered");

    // A header, then three records of readings: 3, 2 and 4 of them.
    QTest::newRow("intact") << 0 << 0 << QList<int> {0, 1, 2, 3, 4, 5, 6, 7, 8};
    QTest::newRow("last record cut mid-way") << 0 << 50 << QList<int> {0, 1, 2, 3, 4};
    QTest::newRow("last record's check cut") << 0 << 2 << QList<int> {0, 1, 2, 3, 4};
    QTest::newRow("a byte flipped in the last record") << 4 << 0 << QList<int> {0, 1, 2, 3, 4};
    QTest::newRow("a byte flipped in the middle record") << 3 << 0 << QList<int> {0, 1, 2, 5, 6, 7, 8};
    QTest::newRow("a byte flipped in the header") << 1 << 0 << QList<int> {};
}

void TestRecovery::damagedJournalRecoversEveryWholeRecordAndIsKept()
{
    QFETCH(int, damaged);
    QFETCH(int, cut);
    QFETCH(QList<int>, recovered);
    QTemporaryDir dir;
    const QString records = dir.filePath(QStringLiteral("records"));
    QVERIFY(QDir().mkpath(records));
    const std::vector<TempSample> readings = Readings(9);
    const std::span<const TempSample> all(readings);
    QList<QByteArray> pieces {journalformat::FileStart(),
                              journalformat::HeaderRecord({records, 7, MakeTime(2027, 1, 1, 12, 0, 0)}),
                              journalformat::ReadingsRecords(all.first(3)),
                              journalformat::ReadingsRecords(all.subspan(3, 2)),
                              journalformat::ReadingsRecords(all.subspan(5))};
    if (damaged > 0)
        pieces[damaged][pieces[damaged].size() / 2] = char(pieces[damaged][pieces[damaged].size() / 2] ^ 0x10);
    QByteArray bytes = pieces.join();
    bytes.chop(cut);
    const QString journal = dir.filePath(QStringLiteral("run.journal"));
    QFile file(journal);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();

    ScriptedMessages prompts;
    const QList<RecoveredRun> runs = RecoverJournals(dir.path(), prompts, nullptr);
    QCOMPARE(runs.size(), 1);
    const bool intact = damaged == 0 && cut == 0;
    QCOMPARE(runs[0].outcome, damaged == 1 ? RecoveredRun::Outcome::NoHeader : RecoveredRun::Outcome::Written);
    QCOMPARE(runs[0].unreadableRecords, intact ? 0 : 1);
    const QList<DataLine> lines = ReadDataFile(QDir(records).filePath(QStringLiteral("0007"))); // the run's next number
    QCOMPARE(lines.size(), recovered.size());
    for (int i = 0; i < lines.size(); ++i) {
        QCOMPARE(lines[i].temperature, readings[size_t(recovered[i])].temperature);
        QCOMPARE(lines[i].msSinceEpoch, MsOf(readings[size_t(recovered[i])].time));
    }

    // A damaged journal is never deleted, and the operator hears where it is
    // and how much of it could not be read; it is not taken up again.
    QCOMPARE(QFile::exists(journal), false);
    QCOMPARE(QFile::exists(DamagedJournalName(journal)), !intact);
    if (!intact) {
        const Message box = RecoveryMessage(runs);
        QCOMPARE(box.icon, QMessageBox::Warning);
        QVERIFY2(box.text.contains(QStringLiteral("не удалось прочесть записей: 1"))
                     && box.text.contains(QDir::toNativeSeparators(DamagedJournalName(journal))),
                 qPrintable(box.text));
        QVERIFY(RecoverJournals(dir.path(), prompts, nullptr).isEmpty());
    }
}

void TestRecovery::recoveryHoldsTheFolderAndKeepsTheRunsInOrder()
{
    QTemporaryDir dir;
    const QString records = dir.filePath(QStringLiteral("records"));
    const QString journals = dir.filePath(QStringLiteral("journals"));
    QVERIFY(QDir().mkpath(records) && QDir().mkpath(journals));
    // The earlier run has the larger process number, so its name sorts last.
    WriteJournal(journals + QStringLiteral("/run-9999-1000.journal"), {records, 0, MakeTime(2027, 1, 1, 12, 0, 0)},
                 Readings(3, 100.0));
    WriteJournal(journals + QStringLiteral("/run-10000-2000.journal"), {records, 0, MakeTime(2027, 1, 1, 13, 0, 0)},
                 Readings(2, 200.0));

    // While another program records into the folder, nothing is written
    // there and the journals wait for the next start.
    ScriptedMessages prompts;
    {
        RecordFolderLock other;
        QCOMPARE(other.Take(records), RecordFolderLock::Hold::Held);
        const QList<RecoveredRun> held = RecoverJournals(journals, prompts, nullptr);
        QCOMPARE(held.size(), 2);
        QCOMPARE(held[0].outcome, RecoveredRun::Outcome::FolderHeld);
        QCOMPARE(held[1].outcome, RecoveredRun::Outcome::FolderHeld);
        QCOMPARE(QDir(records).entryList(QDir::Files | QDir::Hidden), QStringList {RecordFolderLock::kFileName});
        const Message box = RecoveryMessage(held);
        QVERIFY2(box.text.contains(QStringLiteral("идёт запись другой копией программы"))
                     && box.text.contains(QDir::toNativeSeparators(journals + QStringLiteral("/run-9999-1000.journal"))),
                 qPrintable(box.text));
        QCOMPARE(QDir(journals).entryList({QStringLiteral("*.journal")}, QDir::Files).size(), 2);
    }

    // Then the runs are written in the order they began.
    const QList<RecoveredRun> written = RecoverJournals(journals, prompts, nullptr);
    QCOMPARE(written.size(), 2);
    QCOMPARE(Temperatures(ReadDataFile(QDir(records).filePath(QStringLiteral("0000")))), TemperaturesOf(Readings(3, 100.0)));
    QCOMPARE(Temperatures(ReadDataFile(QDir(records).filePath(QStringLiteral("0001")))), TemperaturesOf(Readings(2, 200.0)));
    QCOMPARE(QDir(records).entryList(QDir::Files | QDir::Hidden),
             QStringList({QStringLiteral("0000"), QStringLiteral("0001"), QLatin1String(RecordChain::kFileName)}));
    // The recovered files are entered into the folder's chain, signed.
    const FolderCheck check = CheckFolder(records);
    QVERIFY2(check.outcome == FolderCheck::Outcome::Untouched && check.lines == 2, qPrintable(check.RussianSummary()));
}

void TestRecovery::recoveryWritesNoReadingTwiceAndOverwritesNothing()
{
    QTemporaryDir dir;
    const QString records = dir.filePath(QStringLiteral("records"));
    const QString journals = dir.filePath(QStringLiteral("journals"));
    QVERIFY(QDir().mkpath(records) && QDir().mkpath(journals));

    // The run was stopped between its save's sync and the journal's
    // forgetting: "0003" holds the first four of the journal's nine readings.
    const SYSTEMTIME reference = MakeTime(2027, 1, 1, 12, 0, 0);
    const std::vector<TempSample> readings = Readings(9);
    WriteJournal(journals + QStringLiteral("/run-1-1.journal"), {records, 3, reference}, readings);
    ScriptedMessages prompts;
    {
        DataRecorder save(prompts);
        save.SetFolder(records);
        save.SetReferenceTime(reference);
        SampleList store;
        for (int i = 0; i < 4; ++i)
            store.Append(readings[size_t(i)]);
        const TempSample *mark = nullptr;
        QVERIFY(save.WriteData(QStringLiteral("0003"), store, mark));
    }
    // After "9999": a name that a file has is refused and asked again.
    WriteJournal(journals + QStringLiteral("/run-1-2.journal"), {records, 10000, reference}, Readings(2, 500.0));
    QStringList offered {QStringLiteral("0003"), QStringLiteral("after-9999")};
    QStringList titles;
    prompts.prompt = [&](QDialog &dialog) {
        titles << dialog.windowTitle();
        static_cast<CFileNameDlg &>(dialog).m_strFileName = offered.takeFirst();
        return int(QDialog::Accepted);
    };

    const QList<RecoveredRun> runs = RecoverJournals(journals, prompts, nullptr);
    QCOMPARE(runs.size(), 2);
    QCOMPARE(runs[0].alreadySaved, 4);
    QCOMPARE(runs[0].fileName, QStringLiteral("0004"));
    QCOMPARE(Temperatures(ReadDataFiles(records)), TemperaturesOf(readings));
    QCOMPARE(titles.size(), 2);
    QVERIFY(titles[0].contains(QStringLiteral("Восстановление")));
    QCOMPARE(prompts.shown.size(), 1);
    QVERIFY(prompts.shown[0].text.contains(QStringLiteral("\"0003\" уже есть")));
    QCOMPARE(runs[1].fileName, QStringLiteral("after-9999"));
    QCOMPARE(Temperatures(ReadDataFile(QDir(records).filePath(QStringLiteral("0003")))),
             TemperaturesOf(std::vector<TempSample>(readings.begin(), readings.begin() + 4)));
    QCOMPARE(Temperatures(ReadDataFile(QDir(records).filePath(QStringLiteral("after-9999")))),
             TemperaturesOf(Readings(2, 500.0)));
}

void TestRecovery::fullDisksLeaveNoPartialFileAndSayWhy()
{
    QTemporaryDir dir;
    const QByteArray records = QFile::encodeName(dir.filePath(QStringLiteral("records")));
    const QByteArray journals = QFile::encodeName(dir.filePath(QStringLiteral("journals")));
    SmallDisk recordDisk(records, 64 * 1024);
    SmallDisk journalDisk(journals, 1024 * 1024);
    if (!recordDisk.Mounted() || !journalDisk.Mounted())
        QSKIP("mounting a small tmpfs needs root");
    const QString recordFolder = QFile::decodeName(records);
    const QString journalFolder = QFile::decodeName(journals);
    const std::vector<TempSample> readings = Readings(10000); // about 150 KB of text
    WriteJournal(journalFolder + QStringLiteral("/run-1-1.journal"), {recordFolder, 0, MakeTime(2027, 1, 1, 12, 0, 0)},
                 readings);
    ScriptedMessages prompts;

    // A journal disk that is full at start-up: the journal waits, and the box says why.
    const QString filler = journalDisk.Fill();
    QList<RecoveredRun> runs = RecoverJournals(journalFolder, prompts, nullptr);
    QCOMPARE(runs.size(), 1);
    QCOMPARE(runs[0].outcome, RecoveredRun::Outcome::JournalNotLockable);
    QVERIFY(RecoveryMessage(runs).text.contains(QStringLiteral("нет места")));
    QVERIFY(QDir(recordFolder).isEmpty(QDir::Files | QDir::Hidden));
    QVERIFY(QFile::remove(filler));

    // The record folder fills part-way: no part of the file stays behind.
    runs = RecoverJournals(journalFolder, prompts, nullptr);
    QCOMPARE(runs.size(), 1);
    QCOMPARE(runs[0].outcome, RecoveredRun::Outcome::FolderNotWritable);
    QCOMPARE(QDir(recordFolder).entryList(QDir::Files | QDir::Hidden), QStringList());
    QVERIFY(QFile::exists(journalFolder + QStringLiteral("/run-1-1.journal")));

    // With room, the next start writes every reading once.
    QVERIFY(recordDisk.Resize(1024 * 1024));
    runs = RecoverJournals(journalFolder, prompts, nullptr);
    QCOMPARE(runs.size(), 1);
    QCOMPARE(runs[0].outcome, RecoveredRun::Outcome::Written);
    QCOMPARE(Temperatures(ReadDataFiles(recordFolder)), TemperaturesOf(readings));
}

// Two instruments on one computer: `calorivista --station ofen1` and
// `--station ofen2`, each on its own simulated instrument, record into their
// own folders and publish as two stations at once, are killed, and each
// recovers its own run; the first instrument's settings and files stay as
// they were.
void TestRecovery::twoStationsRecordPublishAndRecoverApart()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString configHome = dir.filePath(QStringLiteral("config"));
    const QString dataHome = dir.filePath(QStringLiteral("data"));
    const QString ownData = dataHome + QStringLiteral("/Calorivista/Calorivista");
    QVERIFY(QDir().mkpath(configHome + QStringLiteral("/Calorivista")));
    MosquittoBroker broker(dir.filePath(QStringLiteral("broker")));
    QVERIFY(broker.Start());

    // The first instrument's settings, which neither may touch.
    const QString firstSettings = configHome + QStringLiteral("/Calorivista/Calorivista.conf");
    {
        QSettings settings(firstSettings, QSettings::IniFormat);
        settings.setValue(QStringLiteral("SavingPath"), dir.filePath(QStringLiteral("first")));
        settings.setValue(QStringLiteral("MqttStation"), QStringLiteral("first"));
    }
    QFile firstFile(firstSettings);
    QVERIFY(firstFile.open(QIODevice::ReadOnly));
    const QByteArray firstBefore = firstFile.readAll();
    firstFile.close();

    const QStringList names {QStringLiteral("ofen1"), QStringLiteral("ofen2")};
    std::vector<std::unique_ptr<InstrumentSimulator>> simulators;
    QStringList folders, settingsFiles;
    QList<int> pagePorts;
    for (const QString &name : names) {
        simulators.push_back(std::make_unique<InstrumentSimulator>());
        QString error;
        QVERIFY2(simulators.back()->OpenPseudoTerminal(&error), qPrintable(error));
        folders.append(dir.filePath(QStringLiteral("records-") + name));
        QVERIFY(QDir().mkpath(folders.back()));
        pagePorts.append(FreeLocalPort());
        settingsFiles.append(configHome + QStringLiteral("/Calorivista/Calorivista-%1.conf").arg(name));
        QSettings settings(settingsFiles.back(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("BaudRate"), 115200);
        settings.setValue(QStringLiteral("TimeBetweenSaving"), 300);
        settings.setValue(QStringLiteral("SavingPath"), folders.back());
        settings.setValue(QStringLiteral("PortDevice1"), simulators.back()->DevicePath());
        settings.setValue(QStringLiteral("MqttHost"), QStringLiteral("127.0.0.1"));
        settings.setValue(QStringLiteral("MqttPort"), broker.Port());
        settings.setValue(QStringLiteral("WebPort"), pagePorts.back());
        settings.setValue(QStringLiteral("WebBind"), QStringLiteral("127.0.0.1"));
        settings.setValue(QStringLiteral("WebToken"), QStringLiteral("token-") + name);
    }

    // What the broker takes, by station.
    MqttLink watcher;
    QMap<QString, QList<double>> published;
    connect(&watcher, &MqttLink::Connected, this, [&] { watcher.Subscribe("calorivista/+/readings", 1); });
    connect(&watcher, &MqttLink::Message, this, [&](const QByteArray &topic, const QByteArray &payload) {
        const QString station = QString::fromUtf8(topic.split('/').value(1));
        const QJsonArray readings = QJsonDocument::fromJson(payload).object().value(QLatin1String("readings")).toArray();
        for (const QJsonValue &reading : readings)
            published[station].append(reading.toArray().at(1).toDouble());
    });
    MqttEndpoint endpoint;
    endpoint.host = QStringLiteral("127.0.0.1");
    endpoint.port = broker.Port();
    endpoint.clientId = QStringLiteral("two-stations-watcher");
    watcher.Open(endpoint);
    QTRY_VERIFY_WITH_TIMEOUT(watcher.IsConnected(), 10000);

    std::vector<std::unique_ptr<QProcess>> programs;
    for (const QString &name : names) {
        programs.push_back(std::make_unique<QProcess>());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        programs.back()->setProcessEnvironment(environment);
        programs.back()->setWorkingDirectory(dir.path());
        programs.back()->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        programs.back()->start(QStringLiteral(CALORIVISTA_AUTOSTART), {QStringLiteral("--station"), name});
        QVERIFY(programs.back()->waitForStarted());
    }
    const QStringList journalFilter {QStringLiteral("*.journal")};
    for (const QString &name : names)
        QTRY_VERIFY_WITH_TIMEOUT(!QDir(ownData + QLatin1Char('/') + name).entryList(journalFilter, QDir::Files).isEmpty(), 10000);
    for (int port : pagePorts)
        QTRY_VERIFY_WITH_TIMEOUT(Accepts(port), 5000);

    // Both instruments at once, each with its own values: 1100 °C and 1200 °C on.
    std::atomic_bool stop {false};
    std::vector<std::thread> senders;
    QList<SimulatorOptions> options;
    for (int i = 0; i < 2; ++i) {
        SimulatorOptions sending;
        sending.framesPerSecond = 100;
        sending.profile = TemperatureProfile::Ramp(1100 + 100 * i, 1150 + 100 * i, 60);
        options.append(sending);
    }
    for (int i = 0; i < 2; ++i)
        senders.emplace_back([&, i] { simulators[size_t(i)]->Run(options[i], stop); });
    QTest::qWait(4000);
    for (const auto &program : programs)
        program->kill();
    stop = true;
    for (std::thread &sender : senders)
        sender.join();
    for (const auto &program : programs)
        QVERIFY(program->waitForFinished());

    // Two stations on the broker, named after the computer and the instrument.
    const QString host = DefaultStationName();
    QCOMPARE(QStringList(published.keys()), QStringList({host + QStringLiteral("-ofen1"), host + QStringLiteral("-ofen2")}));
    for (int i = 0; i < 2; ++i) {
        const QList<double> values = published.value(host + QLatin1Char('-') + names[i]);
        QVERIFY2(values.size() > 200, qPrintable(QStringLiteral("%1 readings of %2").arg(values.size()).arg(names[i])));
        QVERIFY(std::all_of(values.cbegin(), values.cend(), [i](double c) { return c >= 1100 + 100 * i && c < 1160 + 100 * i; }));
    }
    // Each one's journal and outbox in its own folder; nothing in the first instrument's.
    QVERIFY(QDir(ownData).entryList(journalFilter, QDir::Files).isEmpty());
    QVERIFY(!QFileInfo::exists(ownData + QStringLiteral("/outbox")));
    for (const QString &name : names)
        QVERIFY(QFileInfo(ownData + QLatin1Char('/') + name + QStringLiteral("/outbox")).isDir());

    // The next start of each recovers its own run into its own folder, and only that.
    for (int i = 0; i < 2; ++i) {
        ScriptedMessages messages;
        SettingsStore store(settingsFiles[i], names[i]);
        CThermoDlg dialog(messages, store, ownData + QLatin1Char('/') + names[i]);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Calorivista — ") + names[i]);
        dialog.RecoverInterruptedRuns();
        QCOMPARE(messages.shown.size(), 1);
        QVERIFY2(messages.shown[0].text.contains(QDir::toNativeSeparators(folders[i])), qPrintable(messages.shown[0].text));
        QVERIFY(!messages.shown[0].text.contains(QDir::toNativeSeparators(folders[1 - i])));
        const QList<DataLine> lines = ReadDataFile(QDir(folders[i]).filePath(QStringLiteral("0000")));
        QVERIFY2(lines.size() > 200, qPrintable(QString::number(lines.size())));
        QVERIFY(std::all_of(lines.cbegin(), lines.cend(), [i](const DataLine &l) { return l.temperature >= 1100 + 100 * i && l.temperature < 1160 + 100 * i; }));
    }
    QVERIFY(firstFile.open(QIODevice::ReadOnly));
    QCOMPARE(firstFile.readAll(), firstBefore);
    firstFile.close();

    // The first instrument finds nothing of theirs to recover.
    ScriptedMessages firstMessages;
    SettingsStore firstStore(firstSettings);
    CThermoDlg first(firstMessages, firstStore, ownData);
    QCOMPARE(first.windowTitle(), QStringLiteral("Calorivista"));
    first.RecoverInterruptedRuns();
    QVERIFY(firstMessages.shown.isEmpty());
}

void TestRecovery::stationNameIsRefusedUnlessLettersDigitsDashes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said");
    QTest::newRow("a space") << QStringList {QStringLiteral("--station"), QStringLiteral("ofen 1")} << 2 << QStringLiteral("ofen 1");
    QTest::newRow("a path") << QStringList {QStringLiteral("--station"), QStringLiteral("../ofen")} << 2 << QStringLiteral("../ofen");
    QTest::newRow("empty") << QStringList {QStringLiteral("--station"), QString()} << 2 << QStringLiteral("station");
    QTest::newRow("no name") << QStringList {QStringLiteral("--station")} << 2 << QStringLiteral("station");
    QTest::newRow("an unknown option") << QStringList {QStringLiteral("--stations=ofen1")} << 2 << QStringLiteral("stations");
    QTest::newRow("an argument") << QStringList {QStringLiteral("ofen1")} << 2 << QStringLiteral("ofen1");
}

void TestRecovery::stationNameIsRefusedUnlessLettersDigitsDashes()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, said);
    QTemporaryDir dir;
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(CALORIVISTA_AUTOSTART), arguments);
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), status);
    const QString error = QString::fromUtf8(program.readAllStandardError());
    QVERIFY2(error.contains(said), qPrintable(error));
    // Refused before anything was made.
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("config"))));
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("data"))));
}

// "Другой прибор…": the name is asked for among the stations already set up,
// and asked again while it is no usable name.
void TestRecovery::askedStationNameIsAskedAgainUntilUsable()
{
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("config"))));
    const auto restore = qScopeGuard([] { qunsetenv("XDG_CONFIG_HOME"); });
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("config/Calorivista"))));
    for (const char *name : {"Calorivista-ofen1.conf", "Calorivista-печь_2.conf", "Calorivista.conf", "other.conf"}) {
        QFile file(dir.filePath(QStringLiteral("config/Calorivista/")) + QString::fromUtf8(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    ScriptedMessages messages;
    QStringList offered;
    QStringList typed {QStringLiteral("ofen 3"), QStringLiteral("ofen3")};
    messages.prompt = [&](QDialog &prompt) {
        auto &input = static_cast<QInputDialog &>(prompt);
        offered = input.comboBoxItems();
        input.setTextValue(typed.takeFirst());
        return int(QDialog::Accepted);
    };
    const StationChoice choice = ChooseStation({QStringLiteral("calorivista"), QStringLiteral("--ask-station")}, messages);
    QVERIFY(choice.run);
    QCOMPARE(choice.name, QStringLiteral("ofen3"));
    QCOMPARE(offered, QStringList({QStringLiteral("ofen1"), QStringLiteral("печь_2")}));
    QCOMPARE(messages.shown.size(), 1); // "ofen 3" was refused, and why
    QVERIFY(messages.shown[0].text.contains(QStringLiteral("букв, цифр")));

    // Cancelled: the program ends, and nothing is started.
    messages.prompt = nullptr;
    const StationChoice cancelled = ChooseStation({QStringLiteral("calorivista"), QStringLiteral("--ask-station")}, messages);
    QVERIFY(!cancelled.run);
    QCOMPARE(cancelled.exitCode, 0);
}

QTEST_MAIN(TestRecovery)
#include "tst_recovery.moc"
