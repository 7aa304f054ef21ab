// Data files, the comment file and the configuration file, written into real
// temporary folders.
#include "commentfile.h"
#include "configfile.h"
#include "datafileformat.h"
#include "datarecorder.h"
#include "recordfolderlock.h"
#include "samplelist.h"
#include "scriptedmessages.h"
#include "testsupport.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QSysInfo>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include "dialogtemplate.h"

Q_DECLARE_METATYPE(SYSTEMTIME)

namespace {

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

qint32 Int32MakeTime(const QByteArray &bytes, int offset)
{
    return qFromLittleEndian<qint32>(bytes.constData() + offset);
}

} // namespace

class TestRecording : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void header_data();
    void header();
    void lines_data();
    void lines();
    void offsets_data();
    void offsets();

    void wholeFileReadsBackAsTheReadings();
    void numberingAcrossSaves();
    void emptyStoreSavesNothing();
    void overflowPrompt_data();
    void overflowPrompt();
    void fileThatCannotBeOpened();
    void writeFailingInTheMiddle();
    void savingPeriodIsAtLeastOneSecond_data();
    void savingPeriodIsAtLeastOneSecond();

    void commentFile_data();
    void commentFile();
    void configFile_data();
    void configFile();
    void configFileInUnwritableFolder();

    void folderLockJudgesWhatItFinds_data();
    void folderLockJudgesWhatItFinds();
    void folderLockIsNeverClaimedOnAFullDisk();

private:
    // Readings at 12:00:00.000, 12:00:01.250, … on 1 January 2027, temperatures 1000, 1001, …
    void Fill(int count, int firstSecond = 0);
    bool Save();

    std::unique_ptr<QTemporaryDir> m_dir;
    ScriptedMessages m_prompts;
    std::unique_ptr<DataRecorder> m_recorder;
    SampleList m_store;
    const TempSample *m_mark = nullptr;
    QTimer m_timer;
    int m_nInterval = 5;
};

void TestRecording::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_prompts = ScriptedMessages();
    m_recorder = std::make_unique<DataRecorder>(m_prompts);
    m_recorder->SetFolder(m_dir->path());
    m_recorder->SetReferenceTime(MakeTime(2027, 1, 1, 12, 0, 0));
    m_store.Clear();
    m_mark = nullptr;
    m_timer.stop();
    m_nInterval = 5;
}

void TestRecording::Fill(int count, int firstSecond)
{
    const int first = m_store.GetCount() > 0 ? static_cast<int>(m_store.GetAt(0)->temperature) - 999 : 0;
    for (int i = 0; i < count; ++i) {
        const int n = first + i;
        m_store.Append(TempSample {MakeTime(2027, 1, 1, 12, 0, firstSecond + n, 250 * (n % 4)), 1000.0 + n});
    }
}

bool TestRecording::Save()
{
    return m_recorder->SaveData(m_store, m_mark, m_timer, m_nInterval);
}

void TestRecording::header_data()
{
    QTest::addColumn<SYSTEMTIME>("reference");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("new year") << MakeTime(2027, 1, 1, 0, 0, 0) << QByteArray("1.1.2027 0:0:0\r\n");
    QTest::newRow("no leading zeros") << MakeTime(2026, 3, 5, 9, 4, 7) << QByteArray("5.3.2026 9:4:7\r\n");
    QTest::newRow("two digits everywhere") << MakeTime(2026, 12, 31, 23, 59, 58) << QByteArray("31.12.2026 23:59:58\r\n");
}

void TestRecording::header()
{
    QFETCH(SYSTEMTIME, reference);
    QTEST(DataFileHeader(reference), "text");
}

void TestRecording::lines_data()
{
    QTest::addColumn<double>("offset");
    QTest::addColumn<double>("temperature");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("2.5 s, 1234.5") << 2.5 << 1234.5 << QByteArray("2.5 1234.5\r\n");
    QTest::newRow("negative temperature") << 1.25 << -12.3 << QByteArray("1.25 -12.3\r\n");
    QTest::newRow("whole temperature") << 0.0 << 25.0 << QByteArray("0 25\r\n");
    QTest::newRow("six significant digits") << 3600.125 << 6280.3 << QByteArray("3600.12 6280.3\r\n");
    QTest::newRow("negative offset") << -0.75 << 0.1 << QByteArray("-0.75 0.1\r\n");
    QTest::newRow("a million seconds") << 1500000.0 << -273.2 << QByteArray("1.5e+06 -273.2\r\n");
    QTest::newRow("tiny") << 0.00001 << 100000.0 << QByteArray("1e-05 100000\r\n");
}

void TestRecording::lines()
{
    QFETCH(double, offset);
    QFETCH(double, temperature);
    QTEST(DataFileLine(offset, temperature), "text");
}

void TestRecording::offsets_data()
{
    QTest::addColumn<SYSTEMTIME>("reference");
    QTest::addColumn<SYSTEMTIME>("reading");
    QTest::addColumn<double>("seconds");

    QTest::newRow("1.25 s") << MakeTime(2027, 1, 1, 0, 0, 0) << MakeTime(2027, 1, 1, 0, 0, 1, 250) << 1.25;
    QTest::newRow("before the reference") << MakeTime(2027, 1, 1, 0, 0, 10) << MakeTime(2027, 1, 1, 0, 0, 8, 500) << -1.5;
    QTest::newRow("across midnight") << MakeTime(2026, 12, 31, 23, 59, 59) << MakeTime(2027, 1, 1, 0, 0, 1) << 2.0;
    QTest::newRow("across a month end") << MakeTime(2027, 2, 28, 12, 0, 0) << MakeTime(2027, 3, 1, 12, 0, 0, 1) << 86400.001;
}

void TestRecording::offsets()
{
    QFETCH(SYSTEMTIME, reference);
    QFETCH(SYSTEMTIME, reading);
    QFETCH(double, seconds);
    OffsetClock clock(reference);
    QVERIFY(qAbs(clock.SecondsTo(reading) - seconds) < 1e-9);
}

void TestRecording::wholeFileReadsBackAsTheReadings()
{
    Fill(700);
    QVERIFY(Save()); // a null mark: nothing of the run saved yet, so every reading goes
    QCOMPARE(m_mark, m_store.GetAt(0));

    const QList<QByteArray> lines = ReadAll(m_dir->filePath(QStringLiteral("0000"))).split('\n');
    QCOMPARE(lines.size(), 702); // header, 700 readings, nothing after the last CR LF
    QCOMPARE(lines[0], QByteArray("1.1.2027 12:0:0\r"));
    QCOMPARE(lines[701], QByteArray());
    for (int i = 0; i < 700; ++i) {
        QVERIFY(lines[i + 1].endsWith('\r'));
        const QList<QByteArray> fields = lines[i + 1].chopped(1).split(' ');
        QCOMPARE(fields.size(), 2);
        const TempSample &reading = *m_store.GetAt(699 - i);
        QCOMPARE(fields[0].toDouble(), i + 0.25 * (i % 4));
        QCOMPARE(fields[1].toDouble(), reading.temperature);
    }
}

void TestRecording::numberingAcrossSaves()
{
    Fill(3);
    QVERIFY(Save());
    Fill(2);
    QVERIFY(Save());
    QVERIFY(Save()); // nothing new: an empty file, its number used up

    QCOMPARE(ReadAll(m_dir->filePath(QStringLiteral("0000"))).count('\n'), 4);
    QCOMPARE(ReadAll(m_dir->filePath(QStringLiteral("0001"))).count('\n'), 3);
    QVERIFY(ReadAll(m_dir->filePath(QStringLiteral("0001"))).endsWith(" 1004\r\n"));
    QCOMPARE(ReadAll(m_dir->filePath(QStringLiteral("0002"))), QByteArray());
    QCOMPARE(m_recorder->FileCounter(), 3);
    QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("0003"))));
    QVERIFY(m_timer.isActive());
    QCOMPARE(m_timer.interval(), 5000);
}

void TestRecording::emptyStoreSavesNothing()
{
    QVERIFY(Save());
    QCOMPARE(m_recorder->FileCounter(), 0);
    QVERIFY(!m_timer.isActive());
    QVERIFY(QDir(m_dir->path()).isEmpty());
}

void TestRecording::overflowPrompt_data()
{
    QTest::addColumn<bool>("answered");
    QTest::addColumn<QString>("typed");

    QTest::newRow("cancelled") << false << QString();
    QTest::newRow("answered") << true << QStringLiteral("extra.dat");
    QTest::newRow("answered with an existing file") << true << QStringLiteral("9999");
}

void TestRecording::overflowPrompt()
{
    QFETCH(bool, answered);
    QFETCH(QString, typed);
    QFile existing(m_dir->filePath(QStringLiteral("9999")));
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("older data");
    existing.close();

    m_recorder->SetFileCounter(10000);
    QStringList promptTexts;
    m_prompts.prompt = [&](QDialog &prompt) {
        promptTexts << prompt.windowTitle();
        if (!answered)
            return int(QDialog::Rejected);
        TemplateControl<QLineEdit>(&prompt, 1027)->setText(typed);
        prompt.accept();
        return prompt.result();
    };
    Fill(4);
    m_nInterval = 7;
    QVERIFY(Save());

    QCOMPARE(promptTexts, QStringList {QStringLiteral("Dialog")});
    QCOMPARE(m_recorder->FileCounter(), 10000);
    QVERIFY(m_timer.isActive());
    QCOMPARE(m_timer.interval(), 7000);
    if (!answered) {
        QCOMPARE(m_mark, nullptr);
        QCOMPARE(ReadAll(existing.fileName()), QByteArray("older data"));
        QCOMPARE(m_recorder->ReferenceTime().wHour, 12); // untouched
        return;
    }
    QCOMPARE(m_mark, m_store.GetAt(0));
    QCOMPARE(ReadAll(m_dir->filePath(typed)).count('\n'), 5);
}

void TestRecording::fileThatCannotBeOpened()
{
    // A record folder that is a plain file: nothing can be created in it.
    const QString notAFolder = m_dir->filePath(QStringLiteral("plain"));
    QFile plain(notAFolder);
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    m_recorder->SetFolder(notAFolder);
    Fill(5);
    const TempSample *mark = m_store.GetAt(3);
    m_mark = mark;

    QVERIFY(!Save());
    QCOMPARE(m_mark, mark);
    QCOMPARE(m_recorder->FileCounter(), 1);
    QVERIFY2(m_recorder->ReferenceTime().wYear != 2027, "the reference time was not moved to now");
    QCOMPARE(m_recorder->ReferenceTime().wMilliseconds, 0);
    QVERIFY(m_timer.isActive());

    m_recorder->SetFolder(m_dir->path());
    QVERIFY(Save());
    const QByteArray again = ReadAll(m_dir->filePath(QStringLiteral("0001")));
    QCOMPARE(again.count('\n'), 4); // the same three readings, after a new header
    QVERIFY(again.endsWith(" 1004\r\n"));
}

void TestRecording::writeFailingInTheMiddle()
{
    if (!QFile::exists(QStringLiteral("/dev/full")))
        QSKIP("no /dev/full here");
    QVERIFY(QFile::link(QStringLiteral("/dev/full"), m_dir->filePath(QStringLiteral("0000"))));
    Fill(50);
    QVERIFY(!Save());
    QCOMPARE(m_mark, nullptr);
    QVERIFY(m_timer.isActive());
    QVERIFY(Save()); // "0001" is a real file
    QCOMPARE(ReadAll(m_dir->filePath(QStringLiteral("0001"))).count('\n'), 51);
}

void TestRecording::savingPeriodIsAtLeastOneSecond_data()
{
    QTest::addColumn<int>("seconds");
    QTest::addColumn<int>("period");
    QTest::newRow("0 s") << 0 << 1000;
    QTest::newRow("negative") << -5 << 1000;
    QTest::newRow("300 s") << 300 << 300000;
    QTest::newRow("beyond a timer's range") << 3000000 << std::numeric_limits<int>::max();
}

void TestRecording::savingPeriodIsAtLeastOneSecond()
{
    QFETCH(int, seconds);
    QTEST(SavingPeriodMs(seconds), "period");
}

void TestRecording::commentFile_data()
{
    QTest::addColumn<QString>("comment");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("two lines") << "ab\ncd" << QByteArray("ab\r\r\ncd");
    QTest::newRow("two lines with CR LF") << "ab\r\ncd" << QByteArray("ab\r\r\ncd");
    QTest::newRow("empty") << "" << QByteArray();
    QTest::newRow("nothing added at the end") << "x\n" << QByteArray("x\r\r\n");
    QTest::newRow("Cyrillic in the 8-bit encoding") << "печь 3" << QStringLiteral("печь 3").toLocal8Bit();
}

void TestRecording::commentFile()
{
    QFETCH(QString, comment);
    QVERIFY(WriteCommentFile(m_dir->path(), comment));
    QTEST(ReadAll(m_dir->filePath(QStringLiteral("dirinfo"))), "bytes");
}

void TestRecording::configFile_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("size");

    QTest::newRow("empty path") << "" << 24;
    QTest::newRow("10-byte path") << "/data/run1" << 34;
}

void TestRecording::configFile()
{
    QFETCH(QString, folder);
    QFETCH(int, size);
    ThermoSettings settings;
    settings.nBaudRate = 115200;
    settings.nPort = 2;
    settings.nSaveInterval = -1;
    settings.strFolder = folder;
    settings.nMinT = -40;
    settings.nMaxT = 1500;
    QVERIFY(WriteConfigFile(m_dir->path(), settings));

    const QByteArray bytes = ReadAll(m_dir->filePath(QStringLiteral("conf.cnfg")));
    QCOMPARE(bytes.size(), size);
    QCOMPARE(Int32MakeTime(bytes, 0), 115200);
    QCOMPARE(Int32MakeTime(bytes, 4), 2);
    QCOMPARE(Int32MakeTime(bytes, 8), -1);
    QCOMPARE(Int32MakeTime(bytes, 12), static_cast<qint32>(folder.size()));
    QCOMPARE(bytes.mid(16, folder.size()), folder.toLocal8Bit());
    QCOMPARE(Int32MakeTime(bytes, size - 8), -40);
    QCOMPARE(Int32MakeTime(bytes, size - 4), 1500);
}

void TestRecording::configFileInUnwritableFolder()
{
    // A start-up "folder" that is a plain file: even root cannot create in it.
    const QString notAFolder = m_dir->filePath(QStringLiteral("plain"));
    QFile plain(notAFolder);
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    QVERIFY(!WriteConfigFile(notAFolder, ThermoSettings {}));
    if (QFile::exists(QStringLiteral("/proc/self"))) // a folder nobody may create files in
        QVERIFY(!WriteConfigFile(QStringLiteral("/proc/self"), ThermoSettings {}));
}

void TestRecording::folderLockJudgesWhatItFinds_data()
{
    QTest::addColumn<QByteArray>("lock"); // what is found in the lock file; "-" none
    QTest::addColumn<int>("minutesAhead"); // its date against this computer's clock
    QTest::addColumn<int>("hold");

    const int held = int(RecordFolderLock::Hold::Held);
    const int other = int(RecordFolderLock::Hold::HeldByOther);
    QTest::newRow("no lock") << QByteArray("-") << 0 << held;
    QTest::newRow("a process of this computer that is gone") << QByteArray("999999999\ncalorivista\n")
                                                              + QSysInfo::machineHostName().toUtf8() + "\n" << 0 << held;
    // The other computer's clock runs 11 minutes ahead: its lock is no older for that.
    QTest::newRow("another computer's, dated ahead") << QByteArray("4242\ncalorivista\nfurnace-2\n") << 11 << other;
    QTest::newRow("another computer's, dated long ago") << QByteArray("4242\ncalorivista\nfurnace-2\n") << -60 << other;
    // A copy that died while it made the lock: stale within seconds, not ten minutes.
    QTest::newRow("empty") << QByteArray() << 0 << held;
}

void TestRecording::folderLockJudgesWhatItFinds()
{
    QFETCH(QByteArray, lock);
    QFETCH(int, minutesAhead);
    QFETCH(int, hold);
    const QString path = m_dir->filePath(RecordFolderLock::kFileName);
    if (lock != "-") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(lock);
        file.close();
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(minutesAhead * 60), QFileDevice::FileModificationTime));
    }
    RecordFolderLock folderLock;
    QElapsedTimer took;
    took.start();
    QCOMPARE(int(folderLock.Take(m_dir->path())), hold);
    QVERIFY(took.elapsed() < 5000);
    if (hold == int(RecordFolderLock::Hold::Held)) {
        folderLock.Release();
        QVERIFY(!QFile::exists(path));
    } else {
        QCOMPARE(QFileInfo(path).size(), qint64(lock.size())); // left as it was
    }
}

void TestRecording::folderLockIsNeverClaimedOnAFullDisk()
{
    const QByteArray folder = QFile::encodeName(m_dir->filePath(QStringLiteral("full")));
    SmallDisk disk(folder, 64 * 1024);
    if (!disk.Mounted())
        QSKIP("mounting a small tmpfs needs root");
    disk.Fill();
    RecordFolderLock folderLock;
    QCOMPARE(folderLock.Take(QFile::decodeName(folder)), RecordFolderLock::Hold::NotMade);
    QVERIFY(!folderLock.Reason().isEmpty());
    QVERIFY(!QFile::exists(QFile::decodeName(folder) + QLatin1Char('/') + RecordFolderLock::kFileName));
}

QTEST_MAIN(TestRecording)
#include "tst_recording.moc"
