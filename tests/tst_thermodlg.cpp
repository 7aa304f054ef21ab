// The main dialog's flows (Start, Stop, Close, the folder, the settings, the
// chart, the boxes) with the simulated instrument on a pseudo-terminal, a
// settings file and record folders in a temporary folder.
#include "dialogtest.h"

class TestThermoDlg : public DialogTest
{
    Q_OBJECT

private slots:
    void init() { SetUp(); }
    void cleanup() { TearDown(); }

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
    void lineHeldByAnotherProcessIsRefused();
    void portNumberOpensOnlyItsOwnDevice_data();
    void portNumberOpensOnlyItsOwnDevice();
    void chartStaysUsableWhileABoxIsOpen();
    void commentAndConfigurationFilesAsWritten();
};

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

QTEST_MAIN(TestThermoDlg)
#include "tst_thermodlg.moc"
