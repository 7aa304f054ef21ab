// What keeps a run's readings and events whatever happens to it, on the real
// dialog and the simulated instrument: the journal, full disks, a flood, a
// line that hangs up or falls silent, the alarms and marks in events.csv, the
// export from the menu.
#include "stationkey.h"
#include "dialogtest.h"

#include <QProcess>

class TestRunRecords : public DialogTest
{
    Q_OBJECT

private slots:
    void init() { SetUp(); }
    void cleanup() { TearDown(); }

    void cleanEndLeavesNoJournal_data();
    void cleanEndLeavesNoJournal();
    void failedSavesKeepTheReadingsInTheJournal();
    void diskFullInAFileLeavesWholeLinesAndOneBox();
    void fullJournalDiskNeverKeepsSavedReadingsAndCountsTruly();
    void unreadableSettingsStillGiveAWorkingChart();
    void floodIsSavedWholeAndItsMemoryGivenBack();
    void runThroughTwoHangUpsKeepsEveryFrame();
    void limitCrossedAndLeftIsOneAlarmInTheEvents();
    void pausedInstrumentAndASecondRunInTheEvents();
    void silentOrGoneLineIsMarkedAndStopEndsTheWait();
    void exportFromTheMenuWritesTheRunAsCsv();
    void quitSignalStopsAndSavesTheRun();
    void quitWhileABoxIsOpenSavesTheWholeRun_data();
    void quitWhileABoxIsOpenSavesTheWholeRun();
    void everyCloseEndsTheRun();
};

void TestRunRecords::cleanEndLeavesNoJournal_data()
{
    QTest::addColumn<bool>("close");
    QTest::newRow("Stop") << false;
    QTest::newRow("Close") << true;
}

void TestRunRecords::cleanEndLeavesNoJournal()
{
    QFETCH(bool, close);
    WriteSettings(m_sim->DevicePath(), 300);
    MakeDialog();
    m_dlg->accept();
    Send(4, 30.0);
    QTRY_COMPARE(Journal().readings.size(), size_t(4)); // on disk within about a second
    if (close)
        m_dlg->close();
    else
        m_dlg->OnStop();
    QCOMPARE(ReadDataFiles(Records()).size(), 4);
    // The station's signing key stays; no journal does.
    QCOMPARE(QDir(Journals()).entryList(QDir::Files | QDir::Hidden), QStringList {QLatin1String(StationKey::kFileName)});
}

void TestRunRecords::failedSavesKeepTheReadingsInTheJournal()
{
    WriteSettings(m_sim->DevicePath(), 300);
    MakeDialog();
    m_dlg->accept();
    Send(4, 30.0);
    QTest::qWait(200);
    BreakRecords();
    m_dlg->OnSavingTick(); // fails: "0000" used up
    MendRecords();
    // The line under the controls leads with it, whatever else it has no room for.
    QVERIFY2(m_dlg->findChild<RunLine *>()->ShownText().startsWith(QStringLiteral("Сохранение не удалось · запись 00:00:")),
             qPrintable(m_dlg->findChild<RunLine *>()->ShownText()));
    QCOMPARE(Journal().readings.size(), size_t(4));
    QCOMPARE(Journal().header.nextFile, 1);

    Send(2, 40.0);
    QTest::qWait(200);
    m_dlg->OnSavingTick(); // "0001" takes all six; the journal forgets them
    QCOMPARE(Journal().readings.size(), size_t(0));
    QCOMPARE(Journal().header.nextFile, 2);

    // The last save fails: the operator is told where the readings wait.
    Send(3, 50.0);
    QTest::qWait(200);
    BreakRecords();
    m_dlg->OnStop();
    const JournalContents kept = Journal();
    QCOMPARE(kept.readings.size(), size_t(3));
    QCOMPARE(m_messages->shown.size(), 2);
    QVERIFY(m_messages->shown[1].text.startsWith(QStringLiteral("Не удалось сохранить данные")));
    QVERIFY(m_messages->shown[1].text.contains(QDir::toNativeSeparators(Journals())));

    // The next start writes them as the run's next file. (The run's hold was
    // left in the folder while it stood aside; this process still lives, so
    // it would count as held.)
    MendRecords();
    QFile::remove(QDir(Records()).filePath(RecordFolderLock::kFileName));
    m_dlg->RecoverInterruptedRuns();
    QCOMPARE(Temperatures(ReadDataFile(QDir(Records()).filePath(QStringLiteral("0003")))), Sent(3, 50.0));
    QCOMPARE(Temperatures(ReadDataFiles(Records())), Sent(4, 30.0) + Sent(2, 40.0) + Sent(3, 50.0));
    QCOMPARE(QDir(Journals()).entryList({QStringLiteral("*.journal")}, QDir::Files), QStringList());
}

void TestRunRecords::diskFullInAFileLeavesWholeLinesAndOneBox()
{
    WriteSettings(m_sim->DevicePath(), 300);
    MakeDialog();
    m_dlg->accept();
    Send(2000, 1000.0);
    QTest::qWait(300);
    constexpr int kRoom = 10001; // somewhere inside a line
    auto full = std::make_unique<FileSizeLimit>(kRoom);
    int boxesBehind = -1;
    QString shownBehind;
    m_messages->whileShown = [&](const Message &box) {
        if (box.text != QStringLiteral("Не удалось сохранить данные") || boxesBehind >= 0)
            return;
        full.reset();
        // Later ticks fail too while the box is open, but add no box.
        BreakRecords();
        Send(5, 300.0);
        QTest::qWait(1200); // a display tick: the store's lock is free
        shownBehind = TemplateControl<QLineEdit>(m_dlg.get(), kTemperature)->text();
        m_dlg->OnSavingTick();
        m_dlg->OnSavingTick();
        boxesBehind = int(std::count_if(m_messages->shown.cbegin(), m_messages->shown.cend(), [](const Message &box) {
            return box.text == QStringLiteral("Не удалось сохранить данные");
        }));
        MendRecords();
    };
    m_dlg->OnSavingTick(); // "0000" fills the room and fails

    QCOMPARE(boxesBehind, 1);
    // The journal failed in the same save and said so once, after the lock was free.
    QCOMPARE(m_messages->shown.size(), 2);
    QVERIFY(m_messages->shown[1].text.startsWith(QStringLiteral("Не удаётся вести журнал сеанса")));
    QCOMPARE(shownBehind.toDouble(), Sent(5, 300.0).back());
    QFile cut(QDir(Records()).filePath(QStringLiteral("0000")));
    QVERIFY(cut.open(QIODevice::ReadOnly));
    const QByteArray text = cut.readAll();
    QVERIFY(text.size() > 0 && text.size() <= kRoom);
    QVERIFY2(text.endsWith("\r\n"), text.right(20).constData());
    const QList<DataLine> partial = ReadDataFile(cut.fileName());
    QVERIFY(partial.size() > 100 && partial.size() < 2000);
    QCOMPARE(Temperatures(partial), Sent(int(partial.size()), 1000.0));

    // The readings stayed unsaved, so the next save writes them all.
    m_dlg->OnSavingTick();
    QCOMPARE(Temperatures(ReadDataFile(QDir(Records()).filePath(QStringLiteral("0003")))),
             Sent(2000, 1000.0) + Sent(5, 300.0));
}

void TestRunRecords::fullJournalDiskNeverKeepsSavedReadingsAndCountsTruly()
{
    SmallDisk disk(QFile::encodeName(Journals()), 256 * 1024);
    if (!disk.Mounted())
        QSKIP("mounting a small tmpfs needs root");
    const auto journalWarnings = [this] {
        return std::count_if(m_messages->shown.cbegin(), m_messages->shown.cend(), [](const Message &box) {
            return box.text.startsWith(QStringLiteral("Не удаётся вести журнал сеанса"));
        });
    };
    WriteSettings(m_sim->DevicePath(), 300);
    MakeDialog();
    m_dlg->accept();
    Send(100, 100.0);
    QTRY_COMPARE(Journal().readings.size(), size_t(100));

    // No room for a journal written anew after the save: it forgets in place,
    // so a recovery could never write these readings a second time.
    const QString filler = disk.Fill();
    m_dlg->OnSavingTick();
    QCOMPARE(Temperatures(ReadDataFiles(Records())), Sent(100, 100.0));
    QCOMPARE(Journal().readings.size(), size_t(0));
    QCOMPARE(Journal().header.nextFile, 1);
    QTRY_COMPARE(journalWarnings(), 1); // in the window, once

    // Room for a little more, then none: the last save fails, and the box
    // counts what the journal really holds.
    QVERIFY(QFile::resize(filler, QFileInfo(filler).size() - 12 * 1024));
    Send(300, 200.0);
    QTRY_COMPARE(Journal().readings.size(), size_t(300));
    Send(2000, 300.0);
    QTest::qWait(2500);
    BreakRecords();
    m_dlg->OnStop();
    MendRecords();
    const QString box = m_messages->shown.back().text;
    QVERIFY2(box.startsWith(QStringLiteral("Не удалось сохранить данные")), qPrintable(box));
    QCOMPARE(Journal().readings.size(), size_t(300));
    QVERIFY2(box.contains(QStringLiteral("Показания (300) сохранены в журнале"))
                 && box.contains(QStringLiteral("Показания (2000) сохранить не удалось")),
             qPrintable(box));
    QCOMPARE(journalWarnings(), 1);
}

void TestRunRecords::unreadableSettingsStillGiveAWorkingChart()
{
    m_settingsFile = m_dir->filePath(QStringLiteral("unreadable.conf"));
    QVERIFY(QDir().mkpath(m_settingsFile));
    MakeDialog();
    QCOMPARE(m_messages->shown.size(), 1); // "...выставлены настройки по умолчанию"
    QCOMPARE(m_dlg->m_dlgSettings.m_nSaveInterval, 300);
    m_dlg->OnShowChart();
    QCOMPARE(m_messages->shown.size(), 1);
    QVERIFY(m_dlg->m_wndChart.isVisible());
    QCOMPARE(TemplateControl<QLineEdit>(m_dlg.get(), kMinT)->text(), QStringLiteral("500"));
}

void TestRunRecords::floodIsSavedWholeAndItsMemoryGivenBack()
{
    WriteSettings(m_sim->DevicePath(), 300);
    MakeDialog();
    const qint64 before = ResidentBytes();
    m_dlg->accept();
    constexpr int kFrames = 2'000'000; // 46 MB of readings
    Send(kFrames, 0.0);
    const auto stored = [this] {
        m_dlg->m_reader.Lock();
        const int count = m_dlg->m_reader.Samples().GetCount();
        m_dlg->m_reader.Unlock();
        return count;
    };
    QTRY_COMPARE_WITH_TIMEOUT(stored(), kFrames, 60000);
    const qint64 during = ResidentBytes();
    m_dlg->OnStop();
    const qint64 after = ResidentBytes();
    QFile saved(QDir(Records()).filePath(QStringLiteral("0000")));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray text = saved.readAll();
    QCOMPARE(text.count('\n'), kFrames + 1);
    const QByteArray last = text.sliced(text.lastIndexOf('\n', text.size() - 2) + 1).trimmed();
    FrameDecoder decoder;
    for (const char byte : InstrumentSimulator::EncodeFrame((kFrames - 1) * 0.1))
        decoder.Feed(static_cast<unsigned char>(byte));
    QCOMPARE(last.split(' ').at(1), QByteArray::number(decoder.Reading().temperature, 'g', 6));

    qInfo("resident: %lld MB before the run, %lld MB with its readings, %lld MB after Stop", before >> 20,
          during >> 20, after >> 20);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    QSKIP("a sanitizer's allocator holds freed memory back on purpose");
#endif
    QVERIFY(during - before > 40 << 20);
    QVERIFY2(after - before < 12 << 20, "the flood's memory stayed with the program");
}

namespace {

// Pixels of the chart's line mark (its red text) in rows [top, bottom) of a
// chart painted at `size`.
int LineMarkPixels(CChartWnd &chart, QSize size = QSize(800, 500), int top = 0, int bottom = 40)
{
    QImage image(size, QImage::Format_RGB32);
    SYSTEMTIME now {};
    GetLocalTime(&now);
    chart.Render(image, now);
    int marked = 0;
    for (int y = top; y < bottom; ++y) {
        for (int x = 0; x < image.width(); ++x)
            marked += image.pixel(x, y) == qRgb(220, 0, 0);
    }
    return marked;
}

} // namespace

void TestRunRecords::runThroughTwoHangUpsKeepsEveryFrame()
{
    // The program is pointed at a stable name, as at /dev/serial/by-id.
    const QString link = m_dir->filePath(QStringLiteral("usb-Instrument-if00"));
    QString error;
    QVERIFY2(m_sim->SetLink(link, &error), qPrintable(error));
    WriteSettings(link, 1);
    MakeDialog();
    // What follows the run sees every reading once, in order, numbered without a gap.
    QList<double> fed;
    qint64 fedEnd = 0;
    bool fedInOrder = true;
    connect(&m_dlg->m_station.Feed(), &RunFeed::Readings, this, [&](const FeedReadings &readings) {
        fedInOrder &= readings.first == fedEnd;
        fedEnd = readings.End();
        for (const TempSample &reading : readings.readings)
            fed.append(reading.temperature);
    });
    m_dlg->accept();
    QVERIFY(m_dlg->IsRunning());

    QList<double> sent;
    SimulatorOptions options;
    options.framesPerSecond = 100;
    options.profile = TemperatureProfile::Ramp(100, 700, 6);
    options.upSeconds = 1.5;
    options.awaySeconds = 1.5;
    options.onFrame = [&sent](long long, const std::string &, double celsius) {
        sent.append(QByteArray::number(WireValue(celsius), 'g', 6).toDouble());
    };
    std::atomic_bool stop {false};
    SimulatorCounts counts;
    std::thread sender([&] { counts = m_sim->Run(options, stop); });
    QTRY_VERIFY_WITH_TIMEOUT(TemplateControl<QLineEdit>(m_dlg.get(), kTemperature)->toolTip().startsWith(
                                 QStringLiteral("нет связи с прибором")),
                             3000); // the first hang-up is marked
    QTest::qWait(4800);
    stop = true;
    sender.join();
    QTest::qWait(1500); // the reader is back on the last pseudo-terminal
    m_dlg->OnStop();

    QCOMPARE(counts.hangUps, 2);
    QCOMPARE(qsizetype(counts.frames), sent.size());
    QVERIFY(sent.size() > 250);
    QCOMPARE(Temperatures(ReadDataFiles(Records())), sent);
    QVERIFY(fedInOrder);
    QCOMPARE(fed, sent);
}

// A furnace that goes above its limit for three seconds, then back inside by
// less than the hysteresis, then by more: one alarm, raised one delay after
// the crossing and cleared at the first reading clearly inside, shown in red
// until acknowledged, then a mark; between the run's start and stop, and
// nothing else.
void TestRunRecords::limitCrossedAndLeftIsOneAlarmInTheEvents()
{
    WriteSettings(m_sim->DevicePath(), 300);
    {
        QSettings settings(m_settingsFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("AlarmHigh"), 150);
        settings.setValue(QStringLiteral("AlarmHysteresis"), 5);
        settings.setValue(QStringLiteral("AlarmDelay"), 1);
    }
    MakeDialog();
    m_dlg->accept();
    QVERIFY(m_dlg->IsRunning());
    std::vector<double> values;
    for (const auto &[frames, celsius] : {std::pair {50, 140.0}, {150, 160.0}, {50, 148.0}, {100, 140.0}})
        values.insert(values.end(), frames, celsius);
    // Written by the sender's thread; the count it publishes orders each time before it is read.
    std::vector<qint64> sentAt(values.size());
    std::atomic<qsizetype> sent {0};
    SimulatorOptions options;
    options.framesPerSecond = 50;
    options.frameCount = static_cast<long long>(values.size());
    options.profile = TemperatureProfile::Values(values);
    options.onFrame = [&](long long, const std::string &, double) {
        const qsizetype next = sent.load(std::memory_order_relaxed);
        sentAt[size_t(next)] = QDateTime::currentMSecsSinceEpoch();
        sent.store(next + 1, std::memory_order_release);
    };
    std::atomic_bool stop {false};
    std::thread sender([&] { m_sim->Run(options, stop); });
    const auto joined = qScopeGuard([&] {
        stop = true;
        if (sender.joinable())
            sender.join();
    });
    // The line under the controls says it in red while it is up.
    RunLine *line = m_dlg->findChild<RunLine *>();
    QVERIFY(line);
    QTRY_VERIFY_WITH_TIMEOUT(line->ShowsAlarm(), 10000);
    QVERIFY2(QRegularExpression(QStringLiteral("^Выше 150 °C: 160\\.0 °C с \\d\\d:\\d\\d:\\d\\d$")).match(line->Text()).hasMatch(),
             qPrintable(line->Text()));
    QVERIFY(line->AcknowledgeButton()->isVisible());
    QCOMPARE(m_nRings, 1); // at once, then every few seconds
    QTRY_COMPARE_WITH_TIMEOUT(sent.load(std::memory_order_acquire), qsizetype(values.size()), 20000);
    sender.join();
    QTest::qWait(300); // the feed's next ticks
    // Cleared but not yet acknowledged; acknowledged, the line shows the run's state.
    QVERIFY2(line->Text().endsWith(QStringLiteral(" · снято")), qPrintable(line->Text()));
    QVERIFY(m_dlg->m_station.Bell().IsRinging());
    m_messages->prompt = [](QDialog &) { return int(QDialog::Accepted); }; // no reason given
    QTest::mouseClick(line->AcknowledgeButton(), Qt::LeftButton);
    QVERIFY(!line->ShowsAlarm());
    QVERIFY(!m_dlg->m_station.Bell().IsRinging()); // acknowledged: silent
    const int rings = m_nRings;
    QVERIFY2(line->Text().startsWith(QStringLiteral("Запись 00:00:")) && line->Text().contains(QStringLiteral("· файлов 0 · сохранение через 4:")),
             qPrintable(line->Text()));
    // A mark, with the operator's text.
    m_messages->prompt = [](QDialog &dialog) {
        static_cast<QInputDialog &>(dialog).setTextValue(QStringLiteral("дверь открыта, проба 2"));
        return int(QDialog::Accepted);
    };
    QTest::keyClick(m_dlg.get(), Qt::Key_F2);
    m_dlg->OnStop();
    QCOMPARE(m_nRings, rings);
    QVERIFY2(line->Text().startsWith(QStringLiteral("Последний сеанс: 00:00:")), qPrintable(line->Text()));

    QFile file(QDir(Records()).filePath(QStringLiteral("events.csv")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.takeFirst(), QByteArray("time,event,temperature_c,text,user\r"));
    QCOMPARE(lines.takeLast(), QByteArray());
    // The settings in force follow the start (read in tst_runview); every line names its user.
    QVERIFY2(lines.value(1).contains(",settings,,PortNumber=1; ") && lines.value(1).contains("; AlarmHigh=150; "), lines.value(1).constData());
    lines.removeAt(1);
    QStringList events;
    QList<qint64> times;
    for (const QByteArray &line : std::as_const(lines)) {
        const QList<QByteArray> fields = line.trimmed().split(',');
        events << QString::fromUtf8(fields.value(1) + ' ' + fields.value(2) + ' ' + fields.value(3));
        times << QDateTime::fromString(QString::fromLatin1(fields[0]), Qt::ISODateWithMs).toMSecsSinceEpoch();
    }
    QCOMPARE(events.size(), 6);
    QVERIFY2(events[0].startsWith(QStringLiteral("run-start  0000")), qPrintable(events[0]));
    QCOMPARE(events[1], QStringLiteral("alarm-high 160.0 Выше 150 °C"));
    QCOMPARE(events[2], QStringLiteral("alarm-clear 140.0 Выше 150 °C"));
    QCOMPARE(events[3], QStringLiteral("alarm-ack 140.0 Выше 150 °C"));
    QCOMPARE(events[4], QStringLiteral("mark 140.0 \"дверь открыта"));
    QVERIFY2(lines[4].contains(",\"дверь открыта, проба 2\","), lines[4].constData());
    QVERIFY2(events[5].startsWith(QStringLiteral("run-stop 140.0")), qPrintable(events[5]));
    const qint64 raiseDue = sentAt[50] + 1000;
    QVERIFY2(times[1] >= raiseDue - 25 && times[1] < raiseDue + 500,
             qPrintable(QStringLiteral("raised %1 ms after the crossing and its delay").arg(times[1] - raiseDue)));
    QVERIFY2(times[2] >= sentAt[250] && times[2] < sentAt[250] + 500,
             qPrintable(QStringLiteral("cleared %1 ms after the first reading inside").arg(times[2] - sentAt[250])));
}

// An instrument that pauses trips the silence alarm after its length, the
// line counts as lost at 3 s, and both end when it resumes; a second run in
// the same folder appends its start and comment after the first's.
void TestRunRecords::pausedInstrumentAndASecondRunInTheEvents()
{
    WriteSettings(m_sim->DevicePath(), 300);
    {
        QSettings settings(m_settingsFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("AlarmSilence"), 2);
    }
    MakeDialog();
    auto *comment = TemplateControl<QPlainTextEdit>(m_dlg.get(), 1005);
    comment->setPlainText(QStringLiteral("первый прогон"));
    m_dlg->accept();
    Send(10, 500.0);
    RunLine *line = m_dlg->findChild<RunLine *>();
    QTRY_VERIFY_WITH_TIMEOUT(line->ShowsAlarm(), 5000);
    QVERIFY2(line->Text().startsWith(QStringLiteral("Нет данных дольше 2 с с ")), qPrintable(line->Text()));
    // The line counts as lost once the box marks it (3 s), and the feed has seen it.
    QTRY_VERIFY_WITH_TIMEOUT(TemplateControl<QLineEdit>(m_dlg.get(), kTemperature)->toolTip().startsWith(
                                 QStringLiteral("нет данных")),
                             4000);
    QTest::qWait(300);
    Send(5, 600.0);
    QTRY_VERIFY_WITH_TIMEOUT(line->Text().endsWith(QStringLiteral(" · снято")), 2000);
    m_dlg->OnStop();
    comment->setPlainText(QStringLiteral("второй прогон"));
    m_dlg->accept();
    Send(3, 700.0);
    QTest::qWait(300);
    m_dlg->OnStop();

    QFile file(QDir(Records()).filePath(QStringLiteral("events.csv")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QStringList events;
    QStringList temperatures;
    for (const QByteArray &row : file.readAll().split('\n').mid(1)) {
        const QList<QByteArray> fields = row.trimmed().split(',');
        if (fields.size() < 4 || fields[1] == "settings")
            continue; // the settings in force after each start: see limitCrossedAndLeftIsOneAlarmInTheEvents
        events << QString::fromUtf8(fields[1] + ' ' + fields[3]).trimmed();
        temperatures << QString::fromUtf8(fields[2]);
    }
    QCOMPARE(events, QStringList({QStringLiteral("run-start 0000 первый прогон"),
                                  QStringLiteral("alarm-silence Нет данных дольше 2 с"),
                                  QStringLiteral("line-lost нет данных"), QStringLiteral("line-back"),
                                  QStringLiteral("alarm-clear Нет данных дольше 2 с"), QStringLiteral("run-stop"),
                                  QStringLiteral("run-start 0001 второй прогон"), QStringLiteral("run-stop")}));
    // The newest reading then: before the pause, after it (the resumed frames
    // may reach the feed in one tick or two), at each stop.
    QCOMPARE(temperatures.mid(0, 3), QStringList({QString(), QStringLiteral("500.9"), QStringLiteral("500.9")}));
    QVERIFY2(temperatures[3].startsWith(QStringLiteral("600.")) && temperatures[4].startsWith(QStringLiteral("600.")),
             qPrintable(temperatures.join(QLatin1Char(' '))));
    QCOMPARE(temperatures.mid(5), QStringList({QStringLiteral("600.4"), QString(), QStringLiteral("700.2")}));
}

void TestRunRecords::silentOrGoneLineIsMarkedAndStopEndsTheWait()
{
    const QString link = m_dir->filePath(QStringLiteral("usb-Instrument-if00"));
    QString error;
    QVERIFY2(m_sim->SetLink(link, &error), qPrintable(error));
    WriteSettings(link, 300);
    MakeDialog();
    m_dlg->OnShowChart();
    m_dlg->accept();
    auto *temperature = TemplateControl<QLineEdit>(m_dlg.get(), kTemperature);
    const QColor usual = temperature->palette().color(QPalette::Text);
    QVERIFY(m_sim->Write("zz#12")); // noise and a broken frame: five bytes that are no frame
    Send(3, 900.0);
    QElapsedTimer silence; // from the last frame on
    silence.start();
    QTRY_VERIFY(temperature->toolTip().contains(QStringLiteral("Байтов вне кадров за сеанс: 5")));
    QVERIFY(!temperature->toolTip().contains(QStringLiteral("нет")));
    QCOMPARE(LineMarkPixels(m_dlg->m_wndChart), 0);

    // Silence: marked once three seconds have passed, in the box and on the chart.
    QTRY_VERIFY_WITH_TIMEOUT(temperature->toolTip().startsWith(QStringLiteral("нет данных 3 с")), 4000);
    QVERIFY(silence.elapsed() >= 2800);
    QCOMPARE(temperature->palette().color(QPalette::Text), QColor(220, 0, 0));
    QVERIFY(LineMarkPixels(m_dlg->m_wndChart) > 0);
    QCOMPARE(temperature->text().toDouble(), WireValue(900.2)); // the last value stays
    // In the narrowest chart, with the marker's temperature at the right, the
    // mark goes under the value instead of over that text.
    m_dlg->m_wndChart.resize(400, 300);
    QTest::mouseClick(&m_dlg->m_wndChart, Qt::LeftButton, {}, QPoint(41, 150)); // the marker at 1 s
    QCOMPARE(m_dlg->m_wndChart.MarkerSeconds(), 1);
    const int lineHeight = m_dlg->m_wndChart.fontMetrics().height();
    QCOMPARE(LineMarkPixels(m_dlg->m_wndChart, QSize(400, 300), 0, 4 + lineHeight), 0);
    QVERIFY(LineMarkPixels(m_dlg->m_wndChart, QSize(400, 300), 4 + lineHeight, 6 + 2 * lineHeight) > 0);

    // The next frame takes the marks away.
    Send(1, 950.0);
    QTRY_COMPARE_WITH_TIMEOUT(temperature->palette().color(QPalette::Text), usual, 1000);
    QCOMPARE(LineMarkPixels(m_dlg->m_wndChart), 0);

    // The device goes: said so at once; Stop ends the waiting for it.
    m_sim->HangUp();
    QTRY_VERIFY_WITH_TIMEOUT(temperature->toolTip().startsWith(QStringLiteral("нет связи с прибором")), 1000);
    QVERIFY(LineMarkPixels(m_dlg->m_wndChart) > 0);
    // The operator holds the mouse over the box and reads why.
    QHelpEvent hover(QEvent::ToolTip, QPoint(5, 5), temperature->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(temperature, &hover);
    QTRY_VERIFY(QToolTip::isVisible());
    QVERIFY(QToolTip::text().startsWith(QStringLiteral("нет связи с прибором")));
    QElapsedTimer stopping;
    stopping.start();
    m_dlg->OnStop();
    QVERIFY2(stopping.elapsed() < 1000, qPrintable(QString::number(stopping.elapsed())));
    QVERIFY(!m_dlg->IsRunning());
    QCOMPARE(ReadDataFiles(Records()).size(), 4);
    QTRY_COMPARE(temperature->palette().color(QPalette::Text), usual);
    // The open tooltip says so too, without the mouse moving.
    QTRY_COMPARE(QToolTip::text(), QStringLiteral("Байтов вне кадров за сеанс: 5"));
}

void TestRunRecords::exportFromTheMenuWritesTheRunAsCsv()
{
    WriteSettings(m_sim->DevicePath(), 300);
    MakeDialog();
    QMenu menu;
    m_dlg->FillContextMenu(menu);
    QStringList entries;
    for (const QAction *action : menu.actions())
        entries << action->text();
    QCOMPARE(entries, QStringList({QStringLiteral("&About Calorivista..."), QStringLiteral("Экспорт в CSV..."),
                                   QStringLiteral("Просмотр записи...")}));

    m_dlg->accept();
    Send(5, 700.0);
    QTest::qWait(200);
    m_dlg->OnStop();
    const QString target = m_dir->filePath(QStringLiteral("run.csv"));
    QString suggested;
    m_messages->fileToSave = [&](const QString &offered) {
        suggested = offered;
        return target;
    };
    QList<QAction *> actions = menu.actions();
    actions[1]->trigger(); // "Экспорт в CSV..."
    QCOMPARE(m_messages->asked, QStringList {QStringLiteral("Экспорт в CSV")});
    QCOMPARE(suggested, m_dir->filePath(QStringLiteral("records.csv"))); // beside the folder, named after it

    QCOMPARE(m_messages->shown.size(), 1);
    QCOMPARE(m_messages->shown[0].icon, QMessageBox::Information);
    QVERIFY(m_messages->shown[0].text.startsWith(QStringLiteral("Показаний: 5 из 1 файлов данных")));
    QFile csv(target);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    QCOMPARE(lines.size(), 7);
    QList<double> exported;
    for (int i = 1; i <= 5; ++i)
        exported << lines[i].split(',').at(2).toDouble();
    QCOMPARE(exported, Sent(5, 700.0));

    // A disk that is full is an error, never a success, and leaves no file.
    const QByteArray full = QFile::encodeName(m_dir->filePath(QStringLiteral("full")));
    SmallDisk disk(full, 64 * 1024);
    if (!disk.Mounted())
        QSKIP("mounting a small tmpfs needs root");
    disk.Fill(100);
    const QString onFullDisk = QFile::decodeName(full) + QStringLiteral("/run.csv");
    m_messages->fileToSave = [&](const QString &) { return onFullDisk; };
    actions[1]->trigger();
    QCOMPARE(m_messages->shown.size(), 2);
    QCOMPARE(m_messages->shown[1].icon, QMessageBox::Critical);
    QVERIFY2(m_messages->shown[1].text.startsWith(QStringLiteral("Экспорт не удался")), qPrintable(m_messages->shown[1].text));
    QVERIFY(!QFile::exists(onFullDisk));
}

void TestRunRecords::quitSignalStopsAndSavesTheRun()
{
    WriteSettings(m_sim->DevicePath(), 300);
    MakeDialog();
    QuitSignals quitSignals;
    connect(&quitSignals, &QuitSignals::quitRequested, m_dlg.get(), &CThermoDlg::OnSystemQuit);
    m_dlg->accept();
    Send(4, 30.0);
    QTest::qWait(200);
    std::raise(SIGTERM);
    QTRY_VERIFY(!m_dlg->IsRunning());
    QVERIFY(!m_dlg->isVisible());
    QCOMPARE(ReadDataFiles(Records()).size(), 4);
}

void TestRunRecords::quitWhileABoxIsOpenSavesTheWholeRun_data()
{
    QTest::addColumn<bool>("overflow");
    QTest::newRow("the saving tick's error box") << false;
    QTest::newRow("the overflow prompt") << true;
}

void TestRunRecords::quitWhileABoxIsOpenSavesTheWholeRun()
{
    QFETCH(bool, overflow);
    WriteSettings(m_sim->DevicePath(), 300);
    MakeDialog();
    QuitSignals quitSignals;
    connect(&quitSignals, &QuitSignals::quitRequested, m_dlg.get(), &CThermoDlg::OnSystemQuit);
    m_dlg->accept();
    Send(5, 10.0);
    QTest::qWait(200);

    // While the box is open, more readings arrive and then the quit comes.
    bool readerEnded = false;
    const auto quitInside = [&] {
        Send(3, 20.0);
        QTest::qWait(200);
        std::raise(SIGTERM);
        QTRY_VERIFY(!m_dlg->isVisible());
        readerEnded = !m_dlg->m_reader.IsReading();
    };
    int prompts = 0; // outlives the prompt's answer, which the tick below runs
    if (overflow) {
        m_dlg->m_recorder.SetFileCounter(10000);
        m_messages->prompt = [&](QDialog &prompt) {
            auto *name = TemplateControl<QLineEdit>(&prompt, 1027);
            if (++prompts == 1) {
                quitInside(); // the quit's own last save asks again, inside this prompt
                name->setText(QStringLiteral("late.dat"));
            } else {
                name->setText(QStringLiteral("last.dat"));
            }
            prompt.accept();
            return prompt.result();
        };
    } else {
        // The folder is gone at the tick and back by the time the quit saves.
        QVERIFY(QDir(Records()).removeRecursively());
        QFile plain(Records());
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        m_messages->whileShown = [&](const Message &) {
            QFile::remove(Records());
            QDir().mkdir(Records());
            quitInside();
        };
    }
    m_dlg->OnSavingTick();

    QVERIFY(readerEnded); // the quit did not wait for a reader stuck behind the box
    QVERIFY(!m_dlg->IsRunning());
    QList<double> expected = Sent(5, 10.0) + Sent(3, 20.0);
    if (overflow) {
        QCOMPARE(Temperatures(ReadDataFile(QDir(Records()).filePath(QStringLiteral("last.dat")))), expected);
        QVERIFY(!QFile::exists(QDir(Records()).filePath(QStringLiteral("late.dat"))));
    } else {
        QCOMPARE(Temperatures(ReadDataFiles(Records())), expected);
    }
}

void TestRunRecords::everyCloseEndsTheRun()
{
    // Closes at random moments of runs at 1280 frames/s, the chart shown and
    // hidden on the way, each delivered to the window as the window manager's
    // delete request is.
    QRandomGenerator random(20261209);
    for (int run = 0; run < 6; ++run) {
        WriteSettings(m_sim->DevicePath(), 1);
        MakeDialog();
        m_messages->answers = {QMessageBox::Yes}; // the earlier run's files may be overwritten
        m_dlg->accept();
        QVERIFY(m_dlg->IsRunning());
        std::atomic_bool stop {false};
        SimulatorOptions options;
        options.framesPerSecond = 1280;
        std::thread sender([&] { m_sim->Run(options, stop); });
        if (run % 2 == 0) {
            m_dlg->OnShowChart();
            QTest::qWait(random.bounded(100, 900));
            m_dlg->m_wndChart.close();
        }
        QTest::qWait(random.bounded(50, 1500));
        QCoreApplication::postEvent(m_dlg->windowHandle(), new QCloseEvent);
        QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->isVisible(), 3000);
        const bool running = m_dlg->IsRunning();
        stop = true;
        sender.join();
        QVERIFY2(!running, qPrintable(QStringLiteral("run %1 went on after its close").arg(run)));
        m_dlg.reset();
    }
}

QTEST_MAIN(TestRunRecords)
#include "tst_runrecords.moc"
