// A run cut short: the real program on the simulated instrument, killed
// outright, and the next start writing what it had journaled.
#include "instrumentsimulator.h"
#include "journalformat.h"
#include "journalrecovery.h"
#include "scriptedmessages.h"
#include "settingsstore.h"
#include "testsupport.h"
#include "thermodlg.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

namespace {

// Readings with distinct temperatures, a second apart, from 12:00:00.250.
std::vector<TempSample> Readings(int count)
{
    std::vector<TempSample> readings;
    for (int i = 0; i < count; ++i)
        readings.push_back({MakeTime(2027, 1, 1, 12, 0, i, 250), 1000.0 + i});
    return readings;
}

} // namespace

class TestRecovery : public QObject
{
    Q_OBJECT

private slots:
    void killedRunIsRecoveredAtTheNextStart();
    void tornJournalRecoversItsWholeRecords_data();
    void tornJournalRecoversItsWholeRecords();
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
                 QStringList({QStringLiteral(".calorivista.lock"), QStringLiteral("dirinfo")}));
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
        QVERIFY2(lines[i].msSinceEpoch >= sentAt[i] && lines[i].msSinceEpoch < sentAt[i] + 1000,
                 qPrintable(QStringLiteral("reading %1 at %2, sent at %3").arg(i).arg(lines[i].msSinceEpoch).arg(sentAt[i])));
    }

    // The killed program's hold on the folder is stale: a new run may record there.
    messages.answers = {QMessageBox::Yes}; // "0000" is there now
    dialog.accept();
    QVERIFY(dialog.IsRunning());
    dialog.OnStop();
    QVERIFY(!QFile::exists(QDir(records).filePath(RecordFolderLock::kFileName)));
}

void TestRecovery::tornJournalRecoversItsWholeRecords_data()
{
    QTest::addColumn<int>("cut");    // bytes cut off the end
    QTest::addColumn<int>("flipAt"); // a byte flipped, counted back from the end; 0: none
    QTest::addColumn<int>("whole");  // readings of the whole records before the damage

    // Three records of readings: 3, 2 and 4 of them (24 bytes each, 13 bytes around).
    QTest::newRow("intact") << 0 << 0 << 9;
    QTest::newRow("last record cut mid-way") << 50 << 0 << 5;
    QTest::newRow("last record's check cut") << 2 << 0 << 5;
    QTest::newRow("one byte flipped in the last record") << 0 << 40 << 5;
    QTest::newRow("one byte flipped in the middle record") << 0 << 4 + 4 * 24 + 9 + 20 << 3;
}

void TestRecovery::tornJournalRecoversItsWholeRecords()
{
    QFETCH(int, cut);
    QFETCH(int, flipAt);
    QFETCH(int, whole);
    QTemporaryDir dir;
    const QString records = dir.filePath(QStringLiteral("records"));
    QVERIFY(QDir().mkpath(records));
    const std::vector<TempSample> readings = Readings(9);
    const std::span<const TempSample> all(readings);
    QByteArray bytes = journalformat::FileStart()
        + journalformat::HeaderRecord({records, 7, MakeTime(2027, 1, 1, 12, 0, 0)})
        + journalformat::ReadingsRecords(all.first(3)) + journalformat::ReadingsRecords(all.subspan(3, 2))
        + journalformat::ReadingsRecords(all.subspan(5));
    bytes.chop(cut);
    if (flipAt > 0)
        bytes[bytes.size() - flipAt] = char(bytes[bytes.size() - flipAt] ^ 0x10);
    QFile journal(dir.filePath(QStringLiteral("run.journal")));
    QVERIFY(journal.open(QIODevice::WriteOnly));
    journal.write(bytes);
    journal.close();

    ScriptedMessages prompts;
    const QList<RecoveredRun> runs = RecoverJournals(dir.path(), prompts, nullptr);
    QCOMPARE(runs.size(), 1);
    QCOMPARE(runs[0].outcome, RecoveredRun::Outcome::Written);
    QCOMPARE(runs[0].fileName, QStringLiteral("0007")); // the run's next number
    const QList<DataLine> lines = ReadDataFile(QDir(records).filePath(QStringLiteral("0007")));
    QCOMPARE(lines.size(), whole);
    for (int i = 0; i < whole; ++i) {
        QCOMPARE(lines[i].temperature, readings[size_t(i)].temperature);
        QCOMPARE(lines[i].msSinceEpoch, MsOf(readings[size_t(i)].time));
    }
}

QTEST_MAIN(TestRecovery)
#include "tst_recovery.moc"
