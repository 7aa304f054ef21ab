// calorivista-export on a record folder that the program's own writer made,
// across the hour that repeats when daylight saving ends.
#include "datarecorder.h"
#include "journalformat.h"
#include "journalrecovery.h"
#include "datafileformat.h"
#include "messageseam.h"
#include "nativefs.h"
#include "nativename.h"
#include "testsupport.h"
#include "samplelist.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <ctime>

#include <sys/stat.h>

namespace {

// 2026-10-25 in Berlin: at 01:00 UTC the clocks go from 03:00 CEST back to 02:00 CET.
const qint64 kFirstUtcMs = QDateTime(QDate(2026, 10, 25), QTime(0, 10), Qt::UTC).toMSecsSinceEpoch();
constexpr int kReadings = 300; // every 20 s: 00:10 to 01:50 UTC, 02:10 CEST to 02:50 CET
constexpr qint64 kStepMs = 20000;

// The local clock's reading of an instant, as the reader thread stamps it.
SYSTEMTIME LocalStamp(qint64 utcMs)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC).toTimeZone(QTimeZone("Europe/Berlin"));
    SYSTEMTIME st {};
    st.wYear = static_cast<std::uint16_t>(local.date().year());
    st.wMonth = static_cast<std::uint16_t>(local.date().month());
    st.wDay = static_cast<std::uint16_t>(local.date().day());
    st.wHour = static_cast<std::uint16_t>(local.time().hour());
    st.wMinute = static_cast<std::uint16_t>(local.time().minute());
    st.wSecond = static_cast<std::uint16_t>(local.time().second());
    st.wMilliseconds = static_cast<std::uint16_t>(local.time().msec());
    return st;
}

QString Temperature(int i)
{
    return QString::number(1000 + i * 0.5, 'g', 6);
}

} // namespace

class TestExport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void folderAcrossTheRepeatedHour();
    void readingsEverySecondAcrossTheChange_data();
    void readingsEverySecondAcrossTheChange();
    void damagedFilesAndBadRequestsAreNamed_data();
    void damagedFilesAndBadRequestsAreNamed();
    void outputThatCannotBeWrittenIsAFailure_data();
    void outputThatCannotBeWrittenIsAFailure();
    void folderOfAnyNameWithFilesNamedAfterTheLast();
    void pictureShowsTheRunsMarksAndAlarms();
};

void TestExport::initTestCase()
{
    qputenv("TZ", "Europe/Berlin");
    tzset();
}

void TestExport::folderAcrossTheRepeatedHour()
{
    QTemporaryDir dir;
    const QString records = dir.filePath(QStringLiteral("records"));
    QVERIFY(QDir().mkpath(records));

    // Four saves as a run would make them, all in the repeated hour: the
    // second goes on past the change, the third starts at a local time that
    // the clock showed an hour earlier too.
    MessageSeam prompts;
    DataRecorder recorder(prompts);
    recorder.SetFolder(records);
    SampleList store;
    const TempSample *mark = nullptr;
    const QList<int> savesAfter {60, 180, 270, kReadings};
    int next = 0;
    for (const int end : savesAfter) {
        SYSTEMTIME reference = LocalStamp(kFirstUtcMs + next * kStepMs);
        reference.wMilliseconds = 0;
        recorder.SetReferenceTime(reference);
        for (; next < end; ++next)
            store.Append({LocalStamp(kFirstUtcMs + next * kStepMs + 250), Temperature(next).toDouble()});
        QVERIFY(recorder.WriteData(*recorder.TakeFileName(), store, mark));
    }
    // A damaged line, a stray file and the comment.
    QFile damaged(QDir(records).filePath(QStringLiteral("0001")));
    QVERIFY(damaged.open(QIODevice::Append));
    damaged.write("61.2 10\xff" "0\r\n");
    damaged.close();
    QFile stray(QDir(records).filePath(QStringLiteral("notes.txt")));
    QVERIFY(stray.open(QIODevice::WriteOnly));
    stray.close();
    QFile comment(QDir(records).filePath(QStringLiteral("dirinfo")));
    QVERIFY(comment.open(QIODevice::WriteOnly));
    comment.write("Obrazec 7");
    comment.close();

    QProcess exporter;
    exporter.start(QStringLiteral(CALORIVISTA_EXPORT),
                   {records, QStringLiteral("-o"), dir.filePath(QStringLiteral("run.csv")), QStringLiteral("--png"),
                    dir.filePath(QStringLiteral("run.png")), QStringLiteral("--size"), QStringLiteral("800x500")});
    QVERIFY(exporter.waitForFinished(30000));
    const QString errors = QString::fromUtf8(exporter.readAllStandardError());
    QCOMPARE(exporter.exitCode(), 1); // something damaged was skipped
    QVERIFY2(errors.contains(QStringLiteral("0001, line 122")), qPrintable(errors));
    QVERIFY2(errors.contains(QStringLiteral("notes.txt: not a data file")), qPrintable(errors));
    QVERIFY2(errors.contains(QStringLiteral("comment: Obrazec 7")), qPrintable(errors));

    QFile csv(dir.filePath(QStringLiteral("run.csv")));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    QCOMPARE(lines.first(), QByteArray("time,elapsed_s,temperature_c,file\r"));
    QCOMPARE(lines.size(), kReadings + 2); // the header, the readings, the end
    for (int i = 0; i < kReadings; ++i) {
        const QList<QByteArray> fields = lines[i + 1].trimmed().split(',');
        QCOMPARE(fields.size(), 4);
        // Every reading at its own instant, whatever the clock showed.
        const QDateTime time = QDateTime::fromString(QString::fromLatin1(fields[0]), Qt::ISODateWithMs);
        QVERIFY2(time.isValid(), fields[0].constData());
        QCOMPARE(time.toMSecsSinceEpoch(), kFirstUtcMs + i * kStepMs + 250);
        const bool summer = kFirstUtcMs + i * kStepMs < QDateTime(QDate(2026, 10, 25), QTime(1, 0), Qt::UTC).toMSecsSinceEpoch();
        QVERIFY2(fields[0].endsWith(summer ? "+02:00" : "+01:00"), fields[0].constData());
        QCOMPARE(fields[1], QByteArray::number(i * 20) + ".000");
        QCOMPARE(QString::fromLatin1(fields[2]), Temperature(i));
        QCOMPARE(fields[3].toInt(), int(std::upper_bound(savesAfter.begin(), savesAfter.end(), i) - savesAfter.begin()));
    }
    const QImage picture(dir.filePath(QStringLiteral("run.png")));
    QCOMPARE(picture.size(), QSize(800, 500));
}

void TestExport::readingsEverySecondAcrossTheChange_data()
{
    QTest::addColumn<bool>("olderFile");
    QTest::newRow("saved and recovered by this version") << false;
    QTest::newRow("one file of an older version") << true;
}

// A reading every second from 01:55 CEST to 03:05 CET. This version saves up
// to 02:25 CET, then is killed; the recovery writes the rest under a header
// ("2:25:0") that the clock showed an hour earlier too. Offsets are real
// seconds, and the export puts each reading at its own instant. An older
// version's file (offsets reckoned from calendar times: back by an hour at
// 02:00 CET, forward again at 03:00 CET) exports as exactly.
void TestExport::readingsEverySecondAcrossTheChange()
{
    QFETCH(bool, olderFile);
    QTemporaryDir dir;
    const QString records = dir.filePath(QStringLiteral("records"));
    const QString journals = dir.filePath(QStringLiteral("journals"));
    QVERIFY(QDir().mkpath(records) && QDir().mkpath(journals));
    const qint64 firstMs = QDateTime(QDate(2026, 10, 24), QTime(23, 55), Qt::UTC).toMSecsSinceEpoch();
    const qint64 changeMs = QDateTime(QDate(2026, 10, 25), QTime(1, 0), Qt::UTC).toMSecsSinceEpoch();
    constexpr int kCount = 130 * 60 + 1;
    constexpr int kSaved = 90 * 60; // up to 02:25 CET
    std::vector<TempSample> readings;
    for (int i = 0; i < kCount; ++i)
        readings.push_back({LocalStamp(firstMs + i * 1000LL), 1000.0 + i % 500, firstMs + i * 1000LL});

    if (olderFile) {
        QByteArray text = "25.10.2026 1:55:0\r\n";
        for (int i = 0; i < kCount; ++i) {
            const qint64 at = firstMs + i * 1000LL;
            const bool secondPass = at >= changeMs && at < changeMs + 3600 * 1000;
            text += DataFileLine(i - (secondPass ? 3600 : 0), readings[size_t(i)].temperature);
        }
        QFile file(QDir(records).filePath(QStringLiteral("0000")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    } else {
        MessageSeam prompts;
        DataRecorder recorder(prompts);
        recorder.SetFolder(records);
        recorder.SetReferenceTime(LocalStamp(firstMs), firstMs);
        SampleList store;
        for (int i = 0; i < kSaved; ++i)
            store.Append(readings[size_t(i)]);
        const TempSample *mark = nullptr;
        QVERIFY(recorder.WriteData(*recorder.TakeFileName(), store, mark));
        const qint64 savedAtMs = firstMs + kSaved * 1000LL;
        const JournalHeader header {records, 1, LocalStamp(savedAtMs), savedAtMs};
        QCOMPARE(header.reference.wHour, 2); // the repeated hour's second pass
        QFile journal(journals + QStringLiteral("/run-1-1.journal"));
        QVERIFY(journal.open(QIODevice::WriteOnly));
        journal.write(journalformat::FileStart() + journalformat::HeaderRecord(header)
                      + journalformat::ReadingsRecords(std::span(readings).subspan(kSaved)));
        journal.close();
        const QList<RecoveredRun> runs = RecoverJournals(journals, prompts, nullptr);
        QCOMPARE(runs.size(), 1);
        QCOMPARE(runs[0].fileName, QStringLiteral("0001"));
        // In each file the offsets rise by one second a line.
        for (const QString &name : {QStringLiteral("0000"), QStringLiteral("0001")}) {
            QFile file(QDir(records).filePath(name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QList<QByteArray> lines = file.readAll().split('\n');
            for (int line = 1; line < lines.size() - 1; ++line)
                QCOMPARE(lines[line].split(' ').first(), QByteArray::number(line - 1));
        }
    }

    QProcess exporter;
    exporter.start(QStringLiteral(CALORIVISTA_EXPORT), {records, QStringLiteral("-o"), dir.filePath(QStringLiteral("run.csv"))});
    QVERIFY(exporter.waitForFinished(30000));
    QCOMPARE(exporter.exitCode(), 0);
    QFile csv(dir.filePath(QStringLiteral("run.csv")));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    QCOMPARE(lines.size(), kCount + 2);
    for (int i = 0; i < kCount; ++i) {
        const QList<QByteArray> fields = lines[i + 1].trimmed().split(',');
        const QDateTime time = QDateTime::fromString(QString::fromLatin1(fields[0]), Qt::ISODateWithMs);
        QCOMPARE(time.toMSecsSinceEpoch(), firstMs + i * 1000LL);
        QVERIFY2(fields[0].endsWith(firstMs + i * 1000LL < changeMs ? "+02:00" : "+01:00"), fields[0].constData());
        QCOMPARE(fields[1], QByteArray::number(i) + ".000");
    }
}

void TestExport::damagedFilesAndBadRequestsAreNamed_data()
{
    QTest::addColumn<QByteArray>("file"); // "0000"; empty: none
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said");
    QTest::addColumn<int>("rows");

    const QByteArray header = "9.12.2026 14:0:0\r\n";
    const QByteArray good = header + "0 912.4\r\n1 912.5\r\n";
    QTest::newRow("whole") << good << QStringList() << 0 << QString() << 2;
    QTest::newRow("last line cut by a power cut") << good + "0.452 12" << QStringList() << 1
                                                  << QStringLiteral("0000, line 4: cut short") << 2;
    QTest::newRow("no such day") << QByteArray("31.2.2026 10:0:0\r\n0 1\r\n") << QStringList() << 2
                                 << QStringLiteral("no start time") << 0;
    QTest::newRow("negative year") << QByteArray("1.1.-5 10:0:0\r\n0 1\r\n") << QStringList() << 2
                                   << QStringLiteral("no start time") << 0;
    QTest::newRow("offset far beyond any save") << header + "1e16 5\r\n2 912.5\r\n" << QStringList() << 1
                                                << QStringLiteral("0000, line 2: not a reading") << 1;
    QTest::newRow("nothing to export") << QByteArray() << QStringList() << 2 << QStringLiteral("no readings") << 0;
    QTest::newRow("--from that is no time") << good << QStringList {QStringLiteral("--from"), QStringLiteral("yesterday"),
                                                                   QStringLiteral("--to"), QStringLiteral("2026-12-09T15:00:00")}
                                            << 2 << QStringLiteral("want ISO 8601 times") << -1;
}

// Damage is skipped and named; a request that cannot be met exits 2.
void TestExport::damagedFilesAndBadRequestsAreNamed()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, options);
    QFETCH(int, status);
    QFETCH(QString, said);
    QFETCH(int, rows);
    QTemporaryDir dir;
    const QString records = dir.filePath(QStringLiteral("records"));
    QVERIFY(QDir().mkpath(records));
    if (!file.isEmpty()) {
        QFile data(QDir(records).filePath(QStringLiteral("0000")));
        QVERIFY(data.open(QIODevice::WriteOnly));
        data.write(file);
    }
    // The exporter's own earlier output in the folder is no damage.
    QFile earlier(QDir(records).filePath(QStringLiteral("records.csv")));
    QVERIFY(earlier.open(QIODevice::WriteOnly));
    earlier.close();
    const QString csvPath = dir.filePath(QStringLiteral("out.csv"));
    QProcess exporter;
    exporter.start(QStringLiteral(CALORIVISTA_EXPORT), QStringList {records, QStringLiteral("-o"), csvPath} + options);
    QVERIFY(exporter.waitForFinished(30000));
    const QString errors = QString::fromUtf8(exporter.readAllStandardError());
    QCOMPARE(exporter.exitCode(), status);
    QVERIFY2(errors.contains(said), qPrintable(errors));
    QVERIFY2(!errors.contains(QStringLiteral("records.csv")), qPrintable(errors));
    if (rows >= 0) {
        QFile csv(csvPath);
        QCOMPARE(csv.open(QIODevice::ReadOnly), status < 2);
        if (status < 2)
            QCOMPARE(csv.readAll().count('\n'), rows + 1);
    }
}

void TestExport::outputThatCannotBeWrittenIsAFailure_data()
{
    QTest::addColumn<QString>("output"); // "-o" target; "stdout": standard output to /dev/full
    QTest::newRow("-o /dev/full") << QStringLiteral("/dev/full");
    QTest::newRow("> /dev/full") << QStringLiteral("stdout");
    QTest::newRow("a full folder") << QStringLiteral("full");
}

void TestExport::outputThatCannotBeWrittenIsAFailure()
{
    QFETCH(QString, output);
    QTemporaryDir dir;
    const QString records = dir.filePath(QStringLiteral("records"));
    QVERIFY(QDir().mkpath(records));
    QFile data(QDir(records).filePath(QStringLiteral("0000")));
    QVERIFY(data.open(QIODevice::WriteOnly));
    data.write("9.12.2026 14:0:0\r\n");
    for (int i = 0; i < 20000; ++i)
        data.write(QByteArray::number(i) + " 912.4\r\n");
    data.close();
    std::unique_ptr<SmallDisk> disk;
    QString target = output;
    if (output == QStringLiteral("full")) {
        disk = std::make_unique<SmallDisk>(QFile::encodeName(dir.filePath(QStringLiteral("full"))), 64 * 1024);
        if (!disk->Mounted())
            QSKIP("mounting a small tmpfs needs root");
        target = dir.filePath(QStringLiteral("full/run.csv"));
    }
    QProcess exporter;
    QStringList arguments {records};
    if (output == QStringLiteral("stdout"))
        exporter.setStandardOutputFile(QStringLiteral("/dev/full"));
    else
        arguments << QStringLiteral("-o") << target;
    exporter.start(QStringLiteral(CALORIVISTA_EXPORT), arguments);
    QVERIFY(exporter.waitForFinished(30000));
    const QString errors = QString::fromUtf8(exporter.readAllStandardError());
    QCOMPARE(exporter.exitCode(), 2);
    QVERIFY2(errors.contains(QStringLiteral("could not be written")), qPrintable(errors));
    QVERIFY2(!errors.contains(QStringLiteral("20000 readings")), qPrintable(errors));
    if (output == QStringLiteral("full"))
        QVERIFY(!QFile::exists(target));
    QVERIFY(QFileInfo(QStringLiteral("/dev/full")).exists());
}

// A folder made under CP1251 ("Печь") with its output beside it, named so
// too; after "9999" the operator named two more files, out of time order.
void TestExport::folderOfAnyNameWithFilesNamedAfterTheLast()
{
    QTemporaryDir dir;
    // Qt's own removal cannot name what is inside.
    const auto removal = qScopeGuard([&dir] { QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), dir.path()}); });
    const QByteArray folder = QFile::encodeName(dir.path()) + "/\xcf\xe5\xf7\xfc";
    QCOMPARE(::mkdir(folder.constData(), 0777), 0);
    const auto write = [&folder](const QByteArray &name, const QByteArray &bytes) {
        QFile file;
        return OpenNamedFile(file, FromNativeName(folder + '/' + name), QIODevice::WriteOnly)
            && file.write(bytes) == bytes.size();
    };
    QVERIFY(write("0000", "9.12.2026 14:0:0\r\n0 900\r\n1 901\r\n"));
    QVERIFY(write("9999", "9.12.2026 15:0:0\r\n0 902\r\n"));
    QVERIFY(write("\xea\xee\xed\xe5\xf6,1", "9.12.2026 15:0:20\r\n0 904\r\n")); // "конец,1"
    QVERIFY(write("later", "9.12.2026 15:0:10\r\n0 903\r\n"));
    QVERIFY(write("notes.txt", "the furnace was opened at 14:30\r\n"));

    // The names go to the exporter as the bytes they are.
    QProcess exporter;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("EXPORTER"), QStringLiteral(CALORIVISTA_EXPORT));
    environment.insert(QStringLiteral("BASE"), dir.path());
    exporter.setProcessEnvironment(environment);
    exporter.start(QStringLiteral("/bin/sh"),
                   {QStringLiteral("-c"), QStringLiteral("exec \"$EXPORTER\" \"$BASE/$(printf '\\317\\345\\367\\374')\" "
                                                         "-o \"$BASE/$(printf '\\317\\345\\367\\374').csv\"")});
    QVERIFY(exporter.waitForFinished(30000));
    const QString errors = QString::fromUtf8(exporter.readAllStandardError());
    QCOMPARE(exporter.exitCode(), 0);
    QVERIFY2(errors.contains(QStringLiteral("5 readings from 4 data files")), qPrintable(errors));
    QVERIFY2(errors.contains(QStringLiteral("notes.txt: not a data file")), qPrintable(errors));

    QFile csv;
    QVERIFY(OpenNamedFile(csv, FromNativeName(folder + ".csv"), QIODevice::ReadOnly));
    QList<QByteArray> lines = csv.readAll().split('\n');
    QCOMPARE(lines.size(), 7);
    QStringList files;
    QList<double> temperatures;
    for (int i = 1; i <= 5; ++i) {
        const QByteArray row = lines[i].trimmed();
        temperatures << row.split(',').at(2).toDouble();
        files << QString::fromUtf8(row.mid(row.indexOf(',', row.indexOf(',', row.indexOf(',') + 1) + 1) + 1));
    }
    QCOMPARE(temperatures, QList<double>({900, 901, 902, 903, 904}));
    QCOMPARE(files, QStringList({QStringLiteral("0000"), QStringLiteral("0000"), QStringLiteral("9999"),
                                 QStringLiteral("later"), QStringLiteral("\"\ufffd\ufffd\ufffd\ufffd\ufffd,1\"")}));
}

// A minute of readings; the operator marked 14:00:30 and an alarm was raised
// at 14:00:45 (and cleared, which is not drawn): the picture shows both where
// they happened.
void TestExport::pictureShowsTheRunsMarksAndAlarms()
{
    QTemporaryDir dir;
    const QString records = dir.filePath(QStringLiteral("records"));
    QVERIFY(QDir().mkpath(records));
    QFile data(QDir(records).filePath(QStringLiteral("0000")));
    QVERIFY(data.open(QIODevice::WriteOnly));
    data.write("9.12.2026 14:0:0\r\n");
    for (int i = 0; i <= 60; ++i)
        data.write(QByteArray::number(i) + ' ' + QByteArray::number(1000 + i) + "\r\n");
    data.close();
    QFile events(QDir(records).filePath(QStringLiteral("events.csv")));
    QVERIFY(events.open(QIODevice::WriteOnly));
    events.write("time,event,temperature_c,text\r\n"
                 "2026-12-09T14:00:00.000+01:00,run-start,,\"0000 печь 3\"\r\n"
                 "2026-12-09T14:00:30.000+01:00,mark,1030.0,\"дверь открыта, проба 2\"\r\n"
                 "2026-12-09T14:00:45.000+01:00,alarm-high,1045.0,Выше 1040 °C\r\n"
                 "2026-12-09T14:00:55.000+01:00,alarm-clear,1055.0,Выше 1040 °C\r\n"
                 // Two a moment apart at the right end: their labels must neither
                 // cover each other nor run past the plot.
                 "2026-12-09T14:00:59.000+01:00,alarm-rate,1059.0,Быстрее 300 °C/мин\r\n"
                 "2026-12-09T14:00:59.500+01:00,mark,1059.0,вентиль закрыт\r\n");
    events.close();
    const QString png = dir.filePath(QStringLiteral("run.png"));
    QProcess exporter;
    exporter.start(QStringLiteral(CALORIVISTA_EXPORT),
                   {records, QStringLiteral("-o"), dir.filePath(QStringLiteral("run.csv")), QStringLiteral("--png"), png});
    QVERIFY(exporter.waitForFinished(30000));
    QCOMPARE(exporter.exitCode(), 0);
    const QImage image(png);
    QCOMPARE(image.size(), QSize(1600, 900));
    // The plot spans x = 160 to 1440 for the minute: 30 s is x = 800, 45 s is 1120, 55 s is 1333.
    const auto column = [&image](int x, const QColor &colour) {
        int count = 0;
        for (int y = 120; y < 800; ++y)
            count += image.pixelColor(x, y) == colour;
        return count;
    };
    QVERIFY2(column(800, QColor(0, 0, 200)) > 500, qPrintable(QString::number(column(800, QColor(0, 0, 200)))));
    QVERIFY2(column(1120, QColor(220, 0, 0)) > 200, qPrintable(QString::number(column(1120, QColor(220, 0, 0)))));
    QCOMPARE(column(1333, QColor(220, 0, 0)), 0);

    // No label past the plot's right edge; the two late labels in rows of
    // their own (their ticks at x = 1419 and 1429 left out of the count).
    const QRect plot(160, 90, 1280, 720);
    int outside = 0;
    int redTop = 900, redBottom = -1, blueTop = 900, blueBottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            const bool red = c == QColor(220, 0, 0), blue = c == QColor(0, 0, 200);
            if (!red && !blue)
                continue;
            if (x > plot.right() + 1)
                ++outside;
            if (x < 1300 || std::abs(x - 1419) <= 1 || std::abs(x - 1429) <= 1 || y > plot.top() + 80)
                continue;
            (red ? redTop : blueTop) = std::min(red ? redTop : blueTop, y);
            (red ? redBottom : blueBottom) = std::max(red ? redBottom : blueBottom, y);
        }
    }
    QCOMPARE(outside, 0);
    QVERIFY2(redBottom >= 0 && blueBottom >= 0, "the late labels are not drawn");
    QVERIFY2(redBottom < blueTop || blueBottom < redTop,
             qPrintable(QStringLiteral("red text rows %1-%2, blue %3-%4").arg(redTop).arg(redBottom).arg(blueTop).arg(blueBottom)));
    // The folder and its comment as the title, over the plot.
    int title = 0;
    for (int y = 4; y < plot.top() - 4; ++y)
        for (int x = plot.left(); x <= plot.right(); ++x)
            title += qGray(image.pixel(x, y)) < 128; // text, smoothed or not
    QVERIFY2(title > 100, qPrintable(QString::number(title)));
}

QTEST_GUILESS_MAIN(TestExport)
#include "tst_export.moc"
