// The main dialog's flows with the simulated instrument on a pseudo-terminal,
// a settings file and record folders in a temporary folder.
#include "datafileformat.h"
#include "journalformat.h"
#include "dialogtemplate.h"
#include "framedecoder.h"
#include "instrumentsimulator.h"
#include "quitsignals.h"
#include "scriptedmessages.h"
#include "settingsstore.h"
#include "testsupport.h"
#include "thermodlg.h"
#include "runline.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QtEndian>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QInputDialog>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

#include <csignal>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int kStart = 1, kCancel = 2, kMinT = 1024, kTemperature = 1026, kStop = 1029;

// The temperatures that Send(count, first) puts on the line, as data files
// write them (six significant digits).
QList<double> Sent(int count, double first)
{
    QList<double> out;
    for (int i = 0; i < count; ++i)
        out.append(QByteArray::number(WireValue(first + i * 0.1), 'g', 6).toDouble());
    return out;
}

QPushButton *Button(QWidget *dialog, int id)
{
    return TemplateControl<QPushButton>(dialog, id);
}

} // namespace

class TestThermoDlg : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void wholeRunSavesEveryFrameOnceInOrder();
    void stopWithinTheFirstSecondLosesNothing();
    void missingFolder_data();
    void missingFolder();
    void missingParentFolder();
    void startStopStartContinuesTheNumbering();
    void oldDataFilesAskBeforeTheFirstStart_data();
    void oldDataFilesAskBeforeTheFirstStart();
    void portThatCannotBeOpened();
    void closeWhileRunningSavesEverything();
    void escapeWhileRunningIsIgnored();
    void chartLimitHoldingText();
    void displayTickShowsTheNewestAndKeepsTheMarkNull();
    void failingSaveIsReported();
    void savingIntervalBelowOneSecond();
    void quitSignalStopsAndSavesTheRun();
    void realMessageBoxIsShown();
    void showChart_data();
    void showChart();
    void settingsConfirmedWritesTheConfigurationFile_data();
    void settingsConfirmedWritesTheConfigurationFile();
    void aboutBox();
    void temperatureShownFromItsFirstDigit_data();
    void temperatureShownFromItsFirstDigit();
    void eachOverflowPromptStartsEmpty();
    void idleIntervalStillGetsItsFile();
    void quitWhileABoxIsOpenSavesTheWholeRun_data();
    void quitWhileABoxIsOpenSavesTheWholeRun();
    void lineHeldByAnotherProcessIsRefused();
    void portNumberOpensOnlyItsOwnDevice_data();
    void portNumberOpensOnlyItsOwnDevice();
    void chartStaysUsableWhileABoxIsOpen();
    void commentAndConfigurationFilesAsWritten();
    void everyCloseEndsTheRun();
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

private:
    void WriteSettings(const QString &device, int interval = 1, const QString &folder = QString());
    void MakeDialog();
    void Send(int frames, double first);
    QString Records() const { return m_dir->filePath(QStringLiteral("records")); }
    QString Journals() const { return m_dir->filePath(QStringLiteral("journal")); }
    JournalContents Journal() const;
    void BreakRecords() const;
    void MendRecords() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<InstrumentSimulator> m_sim;
    std::unique_ptr<ScriptedMessages> m_messages;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<CThermoDlg> m_dlg;
    QString m_settingsFile;
    int m_nSettingsFiles = 0;
    int m_nRings = 0; // the alarm sound's plays
};

void TestThermoDlg::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("start"))));
    QVERIFY(QDir().mkpath(Records()));
    QVERIFY(QDir::setCurrent(m_dir->filePath(QStringLiteral("start"))));
    m_sim = std::make_unique<InstrumentSimulator>();
    QString error;
    QVERIFY2(m_sim->OpenPseudoTerminal(&error), qPrintable(error));
    m_messages = std::make_unique<ScriptedMessages>();
    WriteSettings(m_sim->DevicePath());
}

void TestThermoDlg::cleanup()
{
    // A run still going ends with the dialog; the test's answers are gone by then.
    m_messages->prompt = nullptr;
    m_messages->whileShown = nullptr;
    m_dlg.reset();
    m_store.reset();
    m_sim.reset();
    QDir::setCurrent(QDir::tempPath());
}

// A fresh settings file each time: QSettings caches files by name.
void TestThermoDlg::WriteSettings(const QString &device, int interval, const QString &folder)
{
    m_settingsFile = m_dir->filePath(QStringLiteral("settings%1.conf").arg(++m_nSettingsFiles));
    QSettings settings(m_settingsFile, QSettings::IniFormat);
    settings.setValue(QStringLiteral("BaudRate"), 115200);
    settings.setValue(QStringLiteral("PortNumber"), 1);
    settings.setValue(QStringLiteral("TimeBetweenSaving"), interval);
    settings.setValue(QStringLiteral("SavingPath"), folder.isEmpty() ? Records() : folder);
    settings.setValue(QStringLiteral("MinT"), 0);
    settings.setValue(QStringLiteral("MaxT"), 1000);
    settings.setValue(QStringLiteral("PortDevice1"), device);
    settings.sync();
}

void TestThermoDlg::MakeDialog()
{
    m_store = std::make_unique<SettingsStore>(m_settingsFile);
    m_dlg = std::make_unique<CThermoDlg>(*m_messages, *m_store, Journals());
    m_nRings = 0;
    m_dlg->m_bell.SetPlayer([this] { ++m_nRings; });
    m_dlg->show();
}

void TestThermoDlg::Send(int frames, double first)
{
    std::string bytes;
    for (int i = 0; i < frames; ++i)
        bytes += InstrumentSimulator::EncodeFrame(first + i * 0.1);
    QVERIFY(m_sim->Write(bytes));
}

void TestThermoDlg::wholeRunSavesEveryFrameOnceInOrder()
{
    MakeDialog();
    QTest::mouseClick(Button(m_dlg.get(), kStart), Qt::LeftButton);
    QVERIFY(m_dlg->IsRunning());
    QVERIFY(!Button(m_dlg.get(), kStart)->isEnabled());
    QVERIFY(Button(m_dlg.get(), kStop)->isEnabled());
    QVERIFY(!Button(m_dlg.get(), kCancel)->isEnabled());

    // 200 frames over 4 s while the saving timer (1 s) saves several files.
    QList<qint64> sentAt;
    SimulatorOptions options;
    options.framesPerSecond = 50;
    options.frameCount = 200;
    options.profile = TemperatureProfile::Ramp(500, 700, 4);
    options.onFrame = [&sentAt](long long, const std::string &, double) { sentAt.append(NowMs()); };
    const std::atomic_bool stop {false};
    std::thread sender([&] { m_sim->Run(options, stop); });
    QTest::qWait(4300);
    sender.join();
    QTest::mouseClick(Button(m_dlg.get(), kStop), Qt::LeftButton);
    QVERIFY(!m_dlg->IsRunning());
    QVERIFY(Button(m_dlg.get(), kCancel)->isEnabled());

    int files = 0;
    const QList<DataLine> lines = ReadDataFiles(Records(), &files);
    QVERIFY2(files >= 3, qPrintable(QStringLiteral("%1 data files").arg(files)));
    QCOMPARE(lines.size(), 200);
    for (int i = 0; i < lines.size(); ++i) {
        QCOMPARE(lines[i].temperature, WireValue(options.profile.At(i, i / 50.0)));
        // header + offset is the reading's own time: at or after its frame was sent.
        QVERIFY2(lines[i].msSinceEpoch >= sentAt[i] && lines[i].msSinceEpoch < sentAt[i] + 1000,
                 qPrintable(QStringLiteral("reading %1 at %2, sent at %3").arg(i).arg(lines[i].msSinceEpoch).arg(sentAt[i])));
    }
}

void TestThermoDlg::stopWithinTheFirstSecondLosesNothing()
{
    WriteSettings(m_sim->DevicePath(), 300);
    MakeDialog();
    m_dlg->accept();
    QVERIFY(m_dlg->IsRunning());
    Send(3, 20.0);
    QTest::qWait(100);
    m_dlg->OnStop();
    QCOMPARE(ReadDataFiles(Records()).size(), 3);
}

void TestThermoDlg::missingFolder_data()
{
    QTest::addColumn<bool>("create");
    QTest::newRow("Yes creates it") << true;
    QTest::newRow("No leaves the dialog idle") << false;
}

void TestThermoDlg::missingFolder()
{
    QFETCH(bool, create);
    const QString folder = m_dir->filePath(QStringLiteral("records/new"));
    WriteSettings(m_sim->DevicePath(), 1, folder);
    MakeDialog();
    m_messages->answers = {create ? QMessageBox::Yes : QMessageBox::No};
    TemplateControl<QLineEdit>(m_dlg.get(), kMinT)->setText(QStringLiteral("-20"));
    m_dlg->accept();

    QCOMPARE(m_messages->shown.size(), 1);
    QCOMPARE(m_messages->shown[0].text, QStringLiteral("Папка, которую вы задали не существует. Хотите ли вы её создать?"));
    QCOMPARE(m_messages->shown[0].caption, QApplication::applicationName());
    QCOMPARE(m_messages->shown[0].buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(QFileInfo(folder).isDir(), create);
    QCOMPARE(m_dlg->IsRunning(), create);
    QCOMPARE(QFile::exists(QDir(folder).filePath(QStringLiteral("dirinfo"))), create);
    // The settings were saved before the question, whatever the answer.
    QCOMPARE(QSettings(m_settingsFile, QSettings::IniFormat).value(QStringLiteral("MinT")).toInt(), -20);
}

void TestThermoDlg::missingParentFolder()
{
    WriteSettings(m_sim->DevicePath(), 1, m_dir->filePath(QStringLiteral("no/such/folder")));
    MakeDialog();
    m_dlg->accept();
    QCOMPARE(m_messages->shown.size(), 1);
    QCOMPARE(m_messages->shown[0].text, QStringLiteral("Не удалось сменить папку."));
    QCOMPARE(m_messages->shown[0].caption, QStringLiteral("Ошибка"));
    QCOMPARE(m_messages->shown[0].icon, QMessageBox::Critical);
    QVERIFY(!m_dlg->IsRunning());
}

void TestThermoDlg::startStopStartContinuesTheNumbering()
{
    WriteSettings(m_sim->DevicePath(), 300);
    MakeDialog();
    for (int run = 0; run < 2; ++run) {
        m_dlg->accept();
        QVERIFY(m_dlg->IsRunning());
        Send(2, 100.0 * (run + 1));
        QTest::qWait(200);
        m_dlg->OnStop();
    }
    QVERIFY(m_messages->shown.isEmpty()); // no question about "0000" the second time
    const QList<DataLine> lines = ReadDataFiles(Records());
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[2].temperature, 200.0);
}

void TestThermoDlg::oldDataFilesAskBeforeTheFirstStart_data()
{
    QTest::addColumn<QString>("existing");
    QTest::addColumn<bool>("asks");
    QTest::addColumn<QMessageBox::StandardButton>("answer");

    QTest::newRow("0000, Yes") << "0000" << true << QMessageBox::Yes;
    QTest::newRow("0000, No") << "0000" << true << QMessageBox::No;
    QTest::newRow("0042 will be overwritten too") << "0042" << true << QMessageBox::No;
    QTest::newRow("only the comment file") << "dirinfo" << false << QMessageBox::Yes;
    QTest::newRow("five digits is no data file") << "00000" << false << QMessageBox::Yes;
}

void TestThermoDlg::oldDataFilesAskBeforeTheFirstStart()
{
    QFETCH(QString, existing);
    QFETCH(bool, asks);
    QFETCH(QMessageBox::StandardButton, answer);
    QFile old(QDir(Records()).filePath(existing));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.close();
    MakeDialog();
    m_messages->answers = {answer};
    m_dlg->accept();

    QCOMPARE(m_messages->shown.size(), asks ? 1 : 0);
    if (asks) {
        QVERIFY(m_messages->shown[0].text.startsWith(QStringLiteral("Возможно, в этой папки имеются данные")));
        QCOMPARE(m_messages->shown[0].caption, QStringLiteral("Предупреждение"));
    }
    QCOMPARE(m_dlg->IsRunning(), answer == QMessageBox::Yes);
}

void TestThermoDlg::portThatCannotBeOpened()
{
    WriteSettings(m_dir->filePath(QStringLiteral("no-such-line")));
    QFile comment(QDir(Records()).filePath(QStringLiteral("dirinfo")));
    QVERIFY(comment.open(QIODevice::WriteOnly));
    comment.write("the last run's comment");
    comment.close();
    MakeDialog();
    m_dlg->accept();
    QCOMPARE(m_messages->shown.size(), 1);
    QVERIFY(m_messages->shown[0].text.startsWith(QStringLiteral("Не удалось открыть порт!\n")));
    // A Start that fails changes no file: the comment there stays.
    QVERIFY(comment.open(QIODevice::ReadOnly));
    QCOMPARE(comment.readAll(), QByteArray("the last run's comment"));
    QVERIFY(!m_dlg->IsRunning());
    QVERIFY(Button(m_dlg.get(), kStart)->isEnabled());
    QVERIFY(!Button(m_dlg.get(), kStop)->isEnabled());
    QVERIFY(Button(m_dlg.get(), kCancel)->isEnabled());
    QVERIFY(QFile::exists(QDir(Records()).filePath(QStringLiteral("dirinfo"))));
    QTest::qWait(1300); // the armed saving timer fires and does nothing while idle
    QVERIFY(ReadDataFiles(Records()).isEmpty());
}

void TestThermoDlg::closeWhileRunningSavesEverything()
{
    WriteSettings(m_sim->DevicePath(), 300);
    MakeDialog();
    m_dlg->accept();
    QVERIFY(m_dlg->IsRunning());
    Send(5, 40.0);
    QTest::qWait(200);
    TemplateControl<QLineEdit>(m_dlg.get(), kMinT)->setText(QStringLiteral("12"));
    m_dlg->close();

    QVERIFY(!m_dlg->IsRunning());
    QVERIFY(!m_dlg->isVisible());
    QCOMPARE(m_dlg->result(), int(QDialog::Rejected));
    QCOMPARE(ReadDataFiles(Records()).size(), 5);
    QVERIFY(QFile::exists(m_dir->filePath(QStringLiteral("start/conf.cnfg"))));
    QCOMPARE(QSettings(m_settingsFile, QSettings::IniFormat).value(QStringLiteral("MinT")).toInt(), 12);
}

void TestThermoDlg::escapeWhileRunningIsIgnored()
{
    MakeDialog();
    m_dlg->accept();
    QVERIFY(m_dlg->IsRunning());
    QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
    QVERIFY(m_dlg->IsRunning());
    QVERIFY(m_dlg->isVisible());
    m_dlg->OnStop();
    QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
    QVERIFY(!m_dlg->isVisible());
}

void TestThermoDlg::chartLimitHoldingText()
{
    MakeDialog();
    auto *minT = TemplateControl<QLineEdit>(m_dlg.get(), kMinT);
    minT->setText(QStringLiteral("abc"));
    m_dlg->accept();
    QCOMPARE(m_messages->shown.size(), 1);
    QVERIFY(!m_dlg->IsRunning());
    QCOMPARE(m_dlg->focusWidget(), minT);
    QCOMPARE(QSettings(m_settingsFile, QSettings::IniFormat).value(QStringLiteral("MinT")).toInt(), 0);
}

void TestThermoDlg::displayTickShowsTheNewestAndKeepsTheMarkNull()
{
    MakeDialog();
    m_dlg->accept();
    Send(2, 16.0);
    QTest::qWait(200);
    m_dlg->OnDisplayTick();
    QCOMPARE(TemplateControl<QLineEdit>(m_dlg.get(), kTemperature)->text(), QStringLiteral("16.100000"));
    QCOMPARE(m_dlg->m_pSaveMark, nullptr); // the first reading stays unsaved, not marked
    m_dlg->OnStop();
    QCOMPARE(ReadDataFiles(Records()).size(), 2);
}

void TestThermoDlg::failingSaveIsReported()
{
    WriteSettings(m_sim->DevicePath(), 300);
    MakeDialog();
    m_dlg->accept();
    Send(2, 16.0);
    QTest::qWait(200);
    // The run's folder is gone (replaced by a plain file).
    QVERIFY(QDir(Records()).removeRecursively());
    QFile plain(Records());
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    m_dlg->OnSavingTick();
    QCOMPARE(m_messages->shown.size(), 1);
    QCOMPARE(m_messages->shown[0].text, QStringLiteral("Не удалось сохранить данные"));
    QCOMPARE(m_messages->shown[0].caption, QStringLiteral("Ошибка"));
    QCOMPARE(m_dlg->m_pSaveMark, nullptr);
}

void TestThermoDlg::savingIntervalBelowOneSecond()
{
    WriteSettings(m_sim->DevicePath(), 0);
    MakeDialog();
    m_dlg->accept();
    QVERIFY(m_dlg->m_savingTimer.isActive());
    QCOMPARE(m_dlg->m_savingTimer.interval(), 1000);
    QCOMPARE(m_dlg->m_dlgSettings.m_nSaveInterval, 0);
    QCOMPARE(QSettings(m_settingsFile, QSettings::IniFormat).value(QStringLiteral("TimeBetweenSaving")).toInt(), 0);
}

void TestThermoDlg::quitSignalStopsAndSavesTheRun()
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

void TestThermoDlg::realMessageBoxIsShown()
{
    // The seam as the program uses it: a real QMessageBox, answered by a click.
    MessageSeam realMessages;
    WriteSettings(m_sim->DevicePath(), 1, m_dir->filePath(QStringLiteral("no/such/folder")));
    m_store = std::make_unique<SettingsStore>(m_settingsFile);
    CThermoDlg dialog(realMessages, *m_store, Journals());
    dialog.show();
    QString seenText, seenTitle;
    QMessageBox::Icon seenIcon = QMessageBox::NoIcon;
    QTimer::singleShot(200, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        seenText = box->text();
        seenTitle = box->windowTitle();
        seenIcon = box->icon();
        box->button(QMessageBox::Ok)->click();
    });
    dialog.accept();
    QCOMPARE(seenText, QStringLiteral("Не удалось сменить папку."));
    QCOMPARE(seenTitle, QStringLiteral("Ошибка"));
    QCOMPARE(seenIcon, QMessageBox::Critical);
}

void TestThermoDlg::showChart_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QString>("shownFrom");
    QTest::addColumn<QString>("shownTo");

    QTest::newRow("in order") << "100" << "900" << true << "100" << "900";
    QTest::newRow("\"От\" above \"До\" swaps") << "900" << "100" << true << "100" << "900";
    QTest::newRow("equal limits refused") << "500" << "500" << false << "500" << "500";
}

void TestThermoDlg::showChart()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(bool, shown);
    MakeDialog();
    TemplateControl<QLineEdit>(m_dlg.get(), kMinT)->setText(from);
    TemplateControl<QLineEdit>(m_dlg.get(), 1025)->setText(to);
    QTest::mouseClick(Button(m_dlg.get(), 1006), Qt::LeftButton);

    QCOMPARE(m_dlg->m_wndChart.isVisible(), shown);
    QCOMPARE(m_dlg->m_bChartVisible, shown);
    QCOMPARE(m_messages->shown.size(), shown ? 0 : 1);
    if (!shown)
        QCOMPARE(m_messages->shown[0].text, QStringLiteral("Значение \"От\" не должно быть равным \"До\"!"));
    QTEST(TemplateControl<QLineEdit>(m_dlg.get(), kMinT)->text(), "shownFrom");
    QTEST(TemplateControl<QLineEdit>(m_dlg.get(), 1025)->text(), "shownTo");
    if (shown) {
        m_dlg->m_wndChart.close();
        QVERIFY(!m_dlg->m_bChartVisible);
    }
}

void TestThermoDlg::settingsConfirmedWritesTheConfigurationFile_data()
{
    QTest::addColumn<bool>("confirmed");
    QTest::newRow("OK") << true;
    QTest::newRow("Cancel") << false;
}

void TestThermoDlg::settingsConfirmedWritesTheConfigurationFile()
{
    QFETCH(bool, confirmed);
    MakeDialog();
    m_messages->prompt = [&](QDialog &prompt) {
        prompt.show();
        TemplateControl<QLineEdit>(&prompt, 1028)->setText(QStringLiteral("77"));
        if (confirmed)
            prompt.accept();
        else
            prompt.reject();
        return prompt.result();
    };
    m_dlg->OnSettings();
    const QString config = m_dir->filePath(QStringLiteral("start/conf.cnfg"));
    QCOMPARE(QFile::exists(config), confirmed);
    QCOMPARE(m_dlg->m_dlgSettings.m_nSaveInterval, confirmed ? 77 : 1);
    if (confirmed) {
        QFile file(config);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QCOMPARE(qFromLittleEndian<qint32>(bytes.constData() + 8), 77);
    }
}

void TestThermoDlg::aboutBox()
{
    MakeDialog();
    QString title;
    QStringList texts;
    m_messages->prompt = [&](QDialog &prompt) {
        title = prompt.windowTitle();
        for (const QLabel *label : prompt.findChildren<QLabel *>())
            texts << label->text();
        return int(QDialog::Accepted);
    };
    m_dlg->OnAbout();
    QCOMPARE(title, QStringLiteral("About Calorivista"));
    QVERIFY(texts.contains(QStringLiteral("Calorivista Version 1.0")));
}

void TestThermoDlg::temperatureShownFromItsFirstDigit_data()
{
    QTest::addColumn<double>("celsius");
    QTest::newRow("1234.5") << 1234.5;
    QTest::newRow("4500.0") << 4500.0;
}

void TestThermoDlg::temperatureShownFromItsFirstDigit()
{
    QFETCH(double, celsius);
    MakeDialog();
    m_dlg->accept();
    Send(1, celsius);
    QTest::qWait(200);
    m_dlg->OnDisplayTick();
    auto *edit = TemplateControl<QLineEdit>(m_dlg.get(), kTemperature);
    QCOMPARE(edit->text(), QString::asprintf("%f", WireValue(celsius)));
    // The box scrolls its text when it paints, so that the cursor shows.
    const QPoint leftEdge(3, edit->height() / 2);
    const auto shownFirst = [&] {
        edit->repaint();
        return edit->cursorPositionAt(leftEdge);
    };
    edit->end(false);
    QVERIFY2(shownFirst() > 0, "the text fits the box: nothing to hide");
    m_dlg->OnDisplayTick();
    QCOMPARE(shownFirst(), 0); // the first digit is what shows at the left edge
}

void TestThermoDlg::eachOverflowPromptStartsEmpty()
{
    WriteSettings(m_sim->DevicePath(), 300);
    MakeDialog();
    m_dlg->accept();
    m_dlg->m_recorder.SetFileCounter(10000); // the numbered names are used up
    QStringList shownAtOpen;
    QStringList typed {QStringLiteral("first.dat"), QString(), QStringLiteral("second.dat")};
    m_messages->prompt = [&](QDialog &prompt) {
        prompt.show();
        auto *name = TemplateControl<QLineEdit>(&prompt, 1027);
        shownAtOpen << name->text();
        const QString next = typed.takeFirst();
        if (!next.isEmpty())
            name->setText(next);
        QTest::keyClick(name, Qt::Key_Return); // confirmed with Enter, whatever the box holds
        return prompt.result();
    };

    Send(3, 100.0);
    QTest::qWait(200);
    m_dlg->OnSavingTick();
    Send(2, 200.0);
    QTest::qWait(200);
    m_dlg->OnSavingTick(); // Enter on the box as it opens
    QCOMPARE(m_messages->shown.size(), 1);
    QCOMPARE(m_messages->shown[0].text, QStringLiteral("Не удалось сохранить данные"));
    m_dlg->OnSavingTick();

    QCOMPARE(shownAtOpen, QStringList(3, QString()));
    QCOMPARE(Temperatures(ReadDataFile(QDir(Records()).filePath(QStringLiteral("first.dat")))), Sent(3, 100.0));
    QCOMPARE(Temperatures(ReadDataFile(QDir(Records()).filePath(QStringLiteral("second.dat")))), Sent(2, 200.0));
}

void TestThermoDlg::idleIntervalStillGetsItsFile()
{
    WriteSettings(m_sim->DevicePath(), 300);
    MakeDialog();
    m_dlg->accept();
    const auto size = [this](const char *name) { return QFileInfo(QDir(Records()).filePath(QLatin1String(name))).size(); };
    m_dlg->OnSavingTick(); // no reading yet: no file
    QVERIFY(!QFile::exists(QDir(Records()).filePath(QStringLiteral("0000"))));
    Send(3, 50.0);
    QTest::qWait(200);
    m_dlg->OnSavingTick();
    m_dlg->OnSavingTick(); // nothing new: an empty file takes the next number
    m_dlg->OnStop();       // nor at Stop
    QVERIFY(size("0000") > 0);
    QCOMPARE(size("0001"), 0);
    QVERIFY(QFile::exists(QDir(Records()).filePath(QStringLiteral("0002"))));
    QCOMPARE(size("0002"), 0);
    QVERIFY(!QFile::exists(QDir(Records()).filePath(QStringLiteral("0003"))));
}

void TestThermoDlg::quitWhileABoxIsOpenSavesTheWholeRun_data()
{
    QTest::addColumn<bool>("overflow");
    QTest::newRow("the saving tick's error box") << false;
    QTest::newRow("the overflow prompt") << true;
}

void TestThermoDlg::quitWhileABoxIsOpenSavesTheWholeRun()
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

void TestThermoDlg::lineHeldByAnotherProcessIsRefused()
{
    // Another program holds the line with a plain open(2), as a terminal program would.
    QProcess holder;
    holder.setStandardInputFile(m_sim->DevicePath());
    holder.start(QStringLiteral("sleep"), {QStringLiteral("30")});
    QVERIFY(holder.waitForStarted());
    MakeDialog();
    m_dlg->accept();
    QCOMPARE(m_messages->shown.size(), 1);
    QVERIFY(m_messages->shown[0].text.startsWith(QStringLiteral("Не удалось открыть порт!\n")));
    QVERIFY(!m_dlg->IsRunning());

    holder.kill();
    QVERIFY(holder.waitForFinished());
    m_dlg->accept();
    QVERIFY(m_dlg->IsRunning());
    // While the run has the line, others are kept out: exclusive mode (which
    // only the superuser passes) and an advisory lock.
    const int other = ::open(QFile::encodeName(m_sim->DevicePath()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (other < 0) {
        QCOMPARE(errno, EBUSY);
    } else {
#ifdef TIOCGEXCL
        int exclusive = 0;
        QCOMPARE(::ioctl(other, TIOCGEXCL, &exclusive), 0);
        QCOMPARE(exclusive, 1);
#endif
        QCOMPARE(::flock(other, LOCK_EX | LOCK_NB), -1);
        ::close(other);
    }
    m_dlg->OnStop();
}

void TestThermoDlg::portNumberOpensOnlyItsOwnDevice_data()
{
    QTest::addColumn<bool>("stored");
    QTest::newRow("PortDevice3 stored") << true;
    QTest::newRow("no PortDevice3: never COM1's device instead") << false;
}

void TestThermoDlg::portNumberOpensOnlyItsOwnDevice()
{
    QFETCH(bool, stored);
    WriteSettings(stored ? m_dir->filePath(QStringLiteral("no-such-line")) : m_sim->DevicePath());
    {
        QSettings settings(m_settingsFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("PortNumber"), 3);
        if (stored)
            settings.setValue(QStringLiteral("PortDevice3"), m_sim->DevicePath());
    }
    MakeDialog();
    m_dlg->accept();
    QCOMPARE(m_dlg->IsRunning(), stored);
    QCOMPARE(m_messages->shown.size(), stored ? 0 : 1);
    if (!stored)
        QVERIFY(m_messages->shown[0].text.startsWith(QStringLiteral("Не удалось открыть порт!")));
}

void TestThermoDlg::chartStaysUsableWhileABoxIsOpen()
{
    // The seam as the program uses it: real boxes.
    MessageSeam realMessages;
    m_store = std::make_unique<SettingsStore>(m_settingsFile);
    CThermoDlg dialog(realMessages, *m_store, Journals());
    dialog.show();
    dialog.OnShowChart();
    CChartWnd &chart = dialog.m_wndChart;
    QVERIFY(QTest::qWaitForWindowExposed(&chart));

    // Covered by the main dialog, "Показ" brings the chart to the front.
    dialog.activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), &dialog);
    dialog.OnShowChart();
    QTRY_COMPARE(QApplication::activeWindow(), &chart);

    // Equal limits give a box with an empty caption; meanwhile the chart takes a click.
    QString title;
    qint64 marker = -1;
    QTimer::singleShot(200, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        title = box->windowTitle();
        QTest::mouseClick(chart.windowHandle(), Qt::LeftButton, {}, QPoint(chart.width() / 2, chart.height() / 2));
        marker = chart.MarkerSeconds();
        box->button(QMessageBox::Ok)->click();
    });
    TemplateControl<QLineEdit>(&dialog, kMinT)->setText(QStringLiteral("500"));
    TemplateControl<QLineEdit>(&dialog, 1025)->setText(QStringLiteral("500"));
    dialog.OnShowChart();
    QVERIFY2(marker > 0, "the click did not reach the chart while the box was open");
    // Blank: a window with an empty title would show the program's name instead.
    QVERIFY(!title.isEmpty());
    QVERIFY(title.trimmed().isEmpty());
}

void TestThermoDlg::commentAndConfigurationFilesAsWritten()
{
    WriteSettings(m_sim->DevicePath(), 300);
    MakeDialog();
    TemplateControl<QPlainTextEdit>(m_dlg.get(), 1005)->setPlainText(QStringLiteral("ab\ncd"));
    m_dlg->accept();
    QVERIFY(m_dlg->IsRunning());
    m_dlg->OnStop();

    QFile comment(QDir(Records()).filePath(QStringLiteral("dirinfo")));
    QVERIFY(comment.open(QIODevice::ReadOnly));
    QCOMPARE(comment.readAll(), QByteArray("ab\r\r\ncd"));

    const QByteArray folder = Records().toLocal8Bit();
    QByteArray expected;
    for (qint32 value : {115200, 1, 300, int(folder.size())})
        expected.append(reinterpret_cast<const char *>(&(value = qToLittleEndian(value))), 4);
    expected.append(folder);
    for (qint32 value : {0, 1000})
        expected.append(reinterpret_cast<const char *>(&(value = qToLittleEndian(value))), 4);
    QFile config(m_dir->filePath(QStringLiteral("start/conf.cnfg")));
    QVERIFY(config.open(QIODevice::ReadOnly));
    QCOMPARE(config.readAll(), expected);
}

void TestThermoDlg::everyCloseEndsTheRun()
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

// The one journal of the run, read back.
JournalContents TestThermoDlg::Journal() const
{
    const QStringList journals = QDir(Journals()).entryList({QStringLiteral("*.journal")}, QDir::Files);
    if (journals.size() != 1)
        return {};
    QFile file(QDir(Journals()).filePath(journals.first()));
    return file.open(QIODevice::ReadOnly) ? ReadJournal(file.readAll()) : JournalContents {};
}

// The run's folder moved aside, a plain file in its place: nothing can be
// written there (permissions would not stop the superuser).
void TestThermoDlg::BreakRecords() const
{
    QDir().rename(Records(), Records() + QStringLiteral(".aside"));
    QFile plain(Records());
    plain.open(QIODevice::WriteOnly);
}

void TestThermoDlg::MendRecords() const
{
    QFile::remove(Records());
    QDir().rename(Records() + QStringLiteral(".aside"), Records());
}

void TestThermoDlg::cleanEndLeavesNoJournal_data()
{
    QTest::addColumn<bool>("close");
    QTest::newRow("Stop") << false;
    QTest::newRow("Close") << true;
}

void TestThermoDlg::cleanEndLeavesNoJournal()
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
    QCOMPARE(QDir(Journals()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void TestThermoDlg::failedSavesKeepTheReadingsInTheJournal()
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
    m_dlg->RefreshRunLine();
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

void TestThermoDlg::diskFullInAFileLeavesWholeLinesAndOneBox()
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

void TestThermoDlg::fullJournalDiskNeverKeepsSavedReadingsAndCountsTruly()
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

void TestThermoDlg::unreadableSettingsStillGiveAWorkingChart()
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

void TestThermoDlg::floodIsSavedWholeAndItsMemoryGivenBack()
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

void TestThermoDlg::runThroughTwoHangUpsKeepsEveryFrame()
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
    connect(&m_dlg->m_feed, &RunFeed::Readings, this, [&](const FeedReadings &readings) {
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
void TestThermoDlg::limitCrossedAndLeftIsOneAlarmInTheEvents()
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
    QList<qint64> sentAt;
    SimulatorOptions options;
    options.framesPerSecond = 50;
    options.frameCount = static_cast<long long>(values.size());
    options.profile = TemperatureProfile::Values(values);
    options.onFrame = [&sentAt](long long, const std::string &, double) { sentAt.append(QDateTime::currentMSecsSinceEpoch()); };
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
    QTRY_COMPARE_WITH_TIMEOUT(sentAt.size(), qsizetype(values.size()), 20000);
    sender.join();
    QTest::qWait(300); // the feed's next ticks
    // Cleared but not yet acknowledged; acknowledged, the line shows the run's state.
    QVERIFY2(line->Text().endsWith(QStringLiteral(" · снято")), qPrintable(line->Text()));
    QVERIFY(m_dlg->m_bell.IsRinging());
    QTest::mouseClick(line->AcknowledgeButton(), Qt::LeftButton);
    QVERIFY(!line->ShowsAlarm());
    QVERIFY(!m_dlg->m_bell.IsRinging()); // acknowledged: silent
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
    QCOMPARE(lines.takeFirst(), QByteArray("time,event,temperature_c,text\r"));
    QCOMPARE(lines.takeLast(), QByteArray());
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
    QVERIFY2(lines[4].endsWith(",\"дверь открыта, проба 2\"\r"), lines[4].constData());
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
void TestThermoDlg::pausedInstrumentAndASecondRunInTheEvents()
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
        if (fields.size() < 4)
            continue;
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

void TestThermoDlg::silentOrGoneLineIsMarkedAndStopEndsTheWait()
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

void TestThermoDlg::exportFromTheMenuWritesTheRunAsCsv()
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

QTEST_MAIN(TestThermoDlg)
#include "tst_thermodlg.moc"
