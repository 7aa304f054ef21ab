#include "thermodlg.h"

#include "aboutdlg.h"
#include "appicon.h"
#include "commentfile.h"
#include "configfile.h"
#include "desktopnotice.h"
#include "dialogtemplate.h"
#include "exportcommand.h"
#include "folderdlg.h"
#include "integertext.h"
#include "journalrecovery.h"
#include "linemarks.h"
#include "messageseam.h"
#include "nativefs.h"
#include "runstatetext.h"
#include "runwindow.h"
#include "subfoldername.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopedValueRollback>

#include <algorithm>
#include <optional>

namespace {

constexpr int kTemplateId = 102;
constexpr int kStartButton = 1;
constexpr int kCancelButton = 2;
constexpr int kSettingsButton = 1000;
constexpr int kFolderButton = 1002;
constexpr int kFolderEdit = 1003;
constexpr int kCommentEdit = 1005;
constexpr int kChartButton = 1006;
constexpr int kMinTEdit = 1024;
constexpr int kMaxTEdit = 1025;
constexpr int kTemperatureEdit = 1026;
constexpr int kStopButton = 1029;

constexpr int kDisplayPeriodMs = 1000;
// A silent line is marked within this much of its third second.
constexpr int kLinePeriodMs = 200;
// How long Stop and Close wait for the reader's end (it ends within ~500 ms).
constexpr int kReaderEndWaitMs = 5000;
// How long a close waits for the broker to take the last of the outbox.
constexpr int kPublishFinishWaitMs = 3000;

Message Question(const QString &text, const QString &caption)
{
    return WarningMessage(text, caption, QMessageBox::Yes | QMessageBox::No);
}

} // namespace

CThermoDlg::CThermoDlg(MessageSeam &messages, const SettingsStore &settingsStore, const QString &journalFolder,
                       QWidget *parent)
    : QDialog(parent)
    , m_messages(messages)
    , m_settingsStore(settingsStore)
    , m_dlgSettings(messages, this)
    , m_reader(messages)
    , m_wndChart(*this)
    , m_recorder(messages, this)
    , m_feed(m_reader)
    , m_journal(m_reader, journalFolder)
    , m_runEvents(m_feed)
    , m_publisher(m_feed, journalFolder + QStringLiteral("/outbox"))
{
    m_messages.SetOwner(this);
    BuildFromTemplate(this, Template(kTemplateId));
    // One line more under the controls, which keep their places.
    m_pRunLine = new RunLine(this);
    const int lineHeight = m_pRunLine->sizeHint().height();
    const int margin = DialogUnitsToPixels(this, QRect(0, 0, 7, 7)).width();
    m_pRunLine->setGeometry(margin, height(), width() - 2 * margin, lineHeight);
    setFixedSize(width(), height() + lineHeight + margin / 2);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    setWindowIcon(AppIcon());

    connect(TemplateControl<QPushButton>(this, kFolderButton), &QPushButton::clicked, this, &CThermoDlg::OnChooseFolder);
    connect(TemplateControl<QPushButton>(this, kSettingsButton), &QPushButton::clicked, this, &CThermoDlg::OnSettings);
    connect(TemplateControl<QPushButton>(this, kChartButton), &QPushButton::clicked, this, &CThermoDlg::OnShowChart);
    connect(&m_displayTimer, &QTimer::timeout, this, &CThermoDlg::OnDisplayTick);
    connect(&m_savingTimer, &QTimer::timeout, this, &CThermoDlg::OnSavingTick);
    connect(&m_lineTimer, &QTimer::timeout, this, &CThermoDlg::OnLineTick);
    connect(TemplateControl<QPushButton>(this, kStopButton), &QPushButton::clicked, this, &CThermoDlg::OnStop);
    // Queued: the journal may fail while the store's lock is held, and no box
    // is ever shown under it.
    connect(&m_journal, &RunJournal::Failing, this, &CThermoDlg::OnJournalFailing, Qt::QueuedConnection);
    connect(&m_feed, &RunFeed::Readings, &m_journal, &RunJournal::Take);
    connect(&m_feed, &RunFeed::Readings, &m_runEvents, &RunEventRecorder::TakeReadings);
    connect(&m_feed, &RunFeed::Readings, &m_alarms, &AlarmWatch::TakeReadings);
    connect(&m_feed, &RunFeed::Line, &m_runEvents, &RunEventRecorder::TakeLine);
    connect(&m_feed, &RunFeed::Line, &m_alarms, &AlarmWatch::TakeLine);
    connect(&m_alarms, &AlarmWatch::Changed, &m_runEvents, &RunEventRecorder::Alarm);
    connect(&m_alarms, &AlarmWatch::Changed, this, &CThermoDlg::OnAlarmChanged);
    connect(&m_alarms, &AlarmWatch::Changed, this, &CThermoDlg::RefreshRunLine);
    connect(&m_feed, &RunFeed::Line, this, &CThermoDlg::RefreshRunLine);
    connect(&m_feed, &RunFeed::Readings, &m_publisher, &Publisher::TakeReadings);
    connect(&m_feed, &RunFeed::Line, &m_publisher, &Publisher::TakeLine);
    connect(&m_feed, &RunFeed::Event, &m_publisher, &Publisher::TakeEvent);
    connect(&m_alarms, &AlarmWatch::Changed, this, [this] { m_publisher.SetAlarm(m_alarms.Text()); });
    connect(&m_publisher, &Publisher::StateChanged, this, &CThermoDlg::RefreshRunLine);
    connect(&m_feed, &RunFeed::Readings, this, [this](const FeedReadings &readings) { m_pageView.TakeReadings(readings); });
    connect(&m_feed, &RunFeed::Line, this, [this](const LineState &line) { m_pageView.TakeLine(line); });
    connect(&m_feed, &RunFeed::Event, this, [this](const RunEvent &event) { m_pageView.TakeEvent(event); });
    connect(&m_alarms, &AlarmWatch::Changed, this, [this] { m_pageView.SetAlarm(m_alarms.Text()); });
    // The run window, when it shows the run going on, grows with it.
    connect(&m_feed, &RunFeed::Readings, this, [this](const FeedReadings &readings) {
        if (!RunWindowShowsTheRun())
            return;
        std::vector<std::pair<qint64, float>> live;
        live.reserve(readings.readings.size());
        for (const TempSample &reading : readings.readings)
            live.emplace_back(reading.utcMs, float(reading.temperature));
        m_pRunWindow->TakeLiveReadings(live);
    });
    connect(&m_feed, &RunFeed::Event, this, [this](const RunEvent &) {
        if (RunWindowShowsTheRun())
            m_pRunWindow->EventsChanged();
    });
    connect(m_pRunLine, &RunLine::AcknowledgeClicked, &m_alarms, &AlarmWatch::Acknowledge);
    connect(m_pRunLine, &RunLine::MarkClicked, this, &CThermoDlg::OnMark);

    OnInitDialog();
}

CThermoDlg::~CThermoDlg()
{
    if (m_bRunning)
        EndRun();
}

void CThermoDlg::OnInitDialog()
{
    m_strStartDir = CurrentFolder();
    ThermoSettings settings = CurrentSettings();
    m_settingsStore.LoadSettings(settings, m_messages);
    ApplySettings(settings);
    m_publisher.Configure(m_settingsStore.LoadPublishSettings());
    ConfigurePage(m_settingsStore.LoadWebSettings());
    m_displayTimer.start(kDisplayPeriodMs);
    m_lineTimer.start(kLinePeriodMs);
    DoDataExchange(false);
}

ThermoSettings CThermoDlg::CurrentSettings() const
{
    ThermoSettings settings;
    settings.nBaudRate = m_dlgSettings.m_nBaudRate;
    settings.nPort = m_dlgSettings.m_nPort;
    settings.nSaveInterval = m_dlgSettings.m_nSaveInterval;
    settings.strFolder = m_strFolder;
    settings.nMinT = m_nMinT;
    settings.nMaxT = m_nMaxT;
    settings.strPortDevice1 = m_dlgSettings.m_strPortDevice1;
    settings.strPortDevice2 = m_dlgSettings.m_strPortDevice2;
    return settings;
}

void CThermoDlg::ApplySettings(const ThermoSettings &settings)
{
    m_dlgSettings.m_nBaudRate = settings.nBaudRate;
    m_dlgSettings.m_nPort = settings.nPort;
    m_dlgSettings.m_nSaveInterval = settings.nSaveInterval;
    m_dlgSettings.m_strPortDevice1 = settings.strPortDevice1;
    m_dlgSettings.m_strPortDevice2 = settings.strPortDevice2;
    m_strFolder = settings.strFolder;
    m_nMinT = settings.nMinT;
    m_nMaxT = settings.nMaxT;
}

bool CThermoDlg::DoDataExchange(bool bSaveAndValidate)
{
    auto *folder = TemplateControl<QLineEdit>(this, kFolderEdit);
    auto *comment = TemplateControl<QPlainTextEdit>(this, kCommentEdit);
    auto *minT = TemplateControl<QLineEdit>(this, kMinTEdit);
    auto *maxT = TemplateControl<QLineEdit>(this, kMaxTEdit);
    if (!bSaveAndValidate) {
        folder->setText(m_strFolder);
        comment->setPlainText(m_strComment);
        minT->setText(QString::number(m_nMinT));
        maxT->setText(QString::number(m_nMaxT));
        return true;
    }
    m_strFolder = folder->text();
    m_strComment = comment->toPlainText();
    for (auto [edit, member] : {std::pair {minT, &m_nMinT}, std::pair {maxT, &m_nMaxT}}) {
        if (!ParseWholeInteger(edit->text(), member)) {
            m_messages.Show(IntegerNotice());
            edit->setFocus();
            edit->selectAll();
            return false;
        }
    }
    return true;
}

void CThermoDlg::SetRunningButtons(bool bRunning)
{
    TemplateControl<QPushButton>(this, kStartButton)->setEnabled(!bRunning);
    TemplateControl<QPushButton>(this, kStopButton)->setEnabled(bRunning);
    TemplateControl<QPushButton>(this, kCancelButton)->setEnabled(!bRunning);
}

void CThermoDlg::accept()
{
    OnOK();
}

void CThermoDlg::OnOK()
{
    if (m_bRunning)
        return; // Enter while a run goes on: "OK(Start)" is disabled
    if (!DoDataExchange(true))
        return;
    m_settingsStore.SaveSettings(CurrentSettings());
    m_reader.ClearSamples();
    m_feed.Begin();
    m_pSaveMark = nullptr;
    if (!m_bFolderStarted)
        m_recorder.SetFileCounter(0);
    if (!EnterRecordFolder())
        return;

    // The run writes into the folder it entered now, wherever the working
    // directory goes later.
    m_recorder.SetFolder(CurrentFolder());
    // The line first: a Start that cannot open it changes no file.
    m_reader.SetLine(m_dlgSettings.m_nPort, m_dlgSettings.m_nBaudRate,
                     m_settingsStore.PortDevice(CurrentSettings(), m_dlgSettings.m_nPort));
    if (!m_reader.OpenPort()) {
        m_folderLock.Release();
        return;
    }
    if (!WriteCommentFile(m_recorder.Folder(), m_strComment)) {
        m_messages.Show(WarningMessage(QStringLiteral("Не удалось сохранить комментарий!")));
    }
    m_recorder.SetReferenceTimeToNow();
    m_savingTimer.start(SavingPeriodMs(m_dlgSettings.m_nSaveInterval));
    m_reader.StartReading();
    m_pSaveMark = nullptr;
    m_bRunning = true;
    m_bFolderStarted = true;
    SetRunningButtons(true);
    m_journal.Begin(NextSave());
    m_runEvents.Begin(m_recorder.Folder(), m_strComment, m_recorder.FileCounter());
    m_alarms.Begin(m_settingsStore.LoadAlarmLimits());
    m_nRunStartMs = LineClockMs();
    m_nFirstFile = m_recorder.FileCounter();
    m_pageView.SetRecordFolder(m_recorder.Folder(), m_strComment);
    m_bLastSaveFailed = false;
    m_marks.clear();
    m_bHadRun = true;
    m_pRunLine->SetRunning(true);
    RefreshRunLine();
}

JournalHeader CThermoDlg::NextSave() const
{
    return JournalHeader {m_recorder.Folder(), m_recorder.FileCounter(), m_recorder.ReferenceTime(),
                          m_recorder.ReferenceUtcMs()};
}

void CThermoDlg::RecoverInterruptedRuns()
{
    const QList<RecoveredRun> runs = RecoverJournals(m_journal.Folder(), m_messages, this);
    if (!runs.isEmpty())
        m_messages.Show(RecoveryMessage(runs));
}

bool CThermoDlg::EnterRecordFolder()
{
    const QString folder = m_strFolder;
    if (SetCurrentFolder(folder)) {
        if (!HoldRecordFolder())
            return false;
        if (!m_bFolderStarted && FolderHoldsDataFiles()) {
            const QMessageBox::StandardButton answer = m_messages.Show(Question(
                QStringLiteral("Возможно, в этой папки имеются данные, снятые во время предыдущих сеансов работы. "
                               "В случае продолжения, эти данные будут потеряны. Продолжить?"),
                QStringLiteral("Предупреждение")));
            if (answer != QMessageBox::Yes) {
                m_folderLock.Release();
                return false;
            }
        }
        return true;
    }
    // A missing folder whose parent exists may be created; anything else is an error.
    const QString clean = QDir::cleanPath(folder);
    const bool missingWithParent = !folder.isEmpty() && !PathExists(clean) && IsFolder(QFileInfo(clean).absolutePath());
    if (!missingWithParent) {
        m_messages.Show(ErrorMessage(QStringLiteral("Не удалось сменить папку.")));
        return false;
    }
    const QMessageBox::StandardButton answer = m_messages.Show(
        Question(QStringLiteral("Папка, которую вы задали не существует. Хотите ли вы её создать?"),
                 QApplication::applicationName()));
    if (answer != QMessageBox::Yes)
        return false;
    MakeFolder(folder);
    return SetCurrentFolder(folder) && HoldRecordFolder(); // a fresh folder holds nothing to ask about
}

bool CThermoDlg::HoldRecordFolder()
{
    // Another program recording here would overwrite this run's numbered
    // files, or this run its files.
    const QString folder = QDir::toNativeSeparators(CurrentFolder());
    switch (m_folderLock.Take(CurrentFolder())) {
    case RecordFolderLock::Hold::Held:
        return true;
    case RecordFolderLock::Hold::HeldByOther:
        m_messages.Show(ErrorMessage(QStringLiteral("В папку %1 уже идёт запись другой копией программы. "
                                                    "Выберите другую папку.")
                                         .arg(folder)));
        return false;
    case RecordFolderLock::Hold::NotMade:
        // Where not even the lock file can be made, no data file can be either.
        m_messages.Show(ErrorMessage(QStringLiteral("Не удалось начать запись в папку %1: %2. Выберите другую папку.")
                                         .arg(folder, m_folderLock.Reason())));
        return false;
    }
    return false;
}

bool CThermoDlg::FolderHoldsDataFiles() const
{
    // The run overwrites from "0000" on, so any numbered data file counts.
    static const QRegularExpression numbered(QStringLiteral("^[0-9]{4}$"));
    const QStringList names = QDir(QStringLiteral(".")).entryList(QStringList {QStringLiteral("????")}, QDir::Files);
    return std::any_of(names.cbegin(), names.cend(), [](const QString &name) { return numbered.match(name).hasMatch(); });
}

CThermoDlg::SaveOutcome CThermoDlg::SaveData()
{
    // What a data file gets has gone to the feed's followers first, so the
    // publisher's outbox holds every reading that any file holds.
    m_feed.Tick();
    m_reader.Lock();
    const bool empty = m_reader.Samples().GetCount() == 0;
    m_reader.Unlock();
    if (empty)
        return SaveOutcome::Saved; // nothing at all: no file, and the timer is left alone
    m_savingTimer.stop();

    // The name is asked for without the store's lock: the reader keeps handing
    // readings over while a prompt is open, and a quit answered inside the
    // prompt can end the run at once.
    const quint64 run = m_nRunSerial;
    const std::optional<QString> name = m_recorder.TakeFileName();
    if (run != m_nRunSerial)
        return SaveOutcome::Saved; // the run ended while the operator was asked, and saved itself
    SaveOutcome outcome = SaveOutcome::Cancelled;
    if (name) {
        m_reader.Lock();
        const bool saved = m_recorder.WriteData(*name, m_reader.Samples(), m_pSaveMark);
        if (saved)
            m_journal.Saved(NextSave());
        else
            m_journal.SaveFailed(NextSave());
        m_reader.Unlock();
        if (saved && RunWindowShowsTheRun())
            m_pRunWindow->FilesWritten();
        m_bLastSaveFailed = !saved;
        if (!saved)
            m_runEvents.SaveFailed(*name);
        outcome = saved ? SaveOutcome::Saved : SaveOutcome::Failed;
    }
    m_savingTimer.start(SavingPeriodMs(m_dlgSettings.m_nSaveInterval));
    return outcome;
}

void CThermoDlg::EndRun()
{
    m_bEnding = true;
    m_reader.RequestStop();
    // The last save comes after the reader's last hand-over, and so does the
    // feed's last tick.
    m_reader.WaitForStop(kReaderEndWaitMs);
    m_feed.Tick();
    m_bRunning = false;
    SetRunningButtons(false);
    // With readings and nothing new since the last save, an empty file.
    const SaveOutcome outcome = SaveData();
    if (outcome == SaveOutcome::Failed) {
        // The readings stay in the journal; the next start writes them.
        const QString journal = QDir::toNativeSeparators(m_journal.Path());
        const RunJournal::Kept kept = m_journal.Keep();
        QString text = QStringLiteral("Не удалось сохранить данные");
        if (kept.kept > 0) {
            text += QStringLiteral("\nПоказания (%1) сохранены в журнале %2 и будут записаны в папку при "
                                   "следующем запуске программы.")
                        .arg(kept.kept)
                        .arg(journal);
        }
        if (kept.lost > 0)
            text += QStringLiteral("\nПоказания (%1) сохранить не удалось.").arg(kept.lost);
        if (!m_bQuitting)
            m_messages.Show(ErrorMessage(text));
    } else {
        m_journal.End(); // a cancelled name prompt gives up the run's last readings
    }
    m_alarms.End();
    m_bell.Silence();
    m_runEvents.End();
    m_nRunElapsedMs = LineClockMs() - m_nRunStartMs;
    m_pRunLine->SetRunning(false);
    RefreshRunLine();
    m_folderLock.Release();
    ++m_nRunSerial;
    m_reader.ClearSamples();
    m_pSaveMark = nullptr;
    m_savingTimer.stop();
    m_bEnding = false;
}

void CThermoDlg::OnStop()
{
    WriteConfigFile(m_strStartDir, CurrentSettings());
    EndRun();
    if (m_bCloseAfterEnd)
        OnClose();
}

void CThermoDlg::OnClose()
{
    if (m_bEnding) {
        // A close (or a quit) while Stop waits for a file name: it closes
        // the program once that run has ended.
        m_bCloseAfterEnd = true;
        return;
    }
    EndRun();
    // The run's last batch reaches the broker now rather than at the next start.
    m_publisher.Finish(kPublishFinishWaitMs);
    DoDataExchange(true);
    WriteConfigFile(m_strStartDir, CurrentSettings());
    OnCancel();
}

void CThermoDlg::closeEvent(QCloseEvent *event)
{
    OnClose();
    event->setAccepted(!isVisible());
}

void CThermoDlg::reject()
{
    if (m_bRunning)
        return; // Esc while a run goes on would tear down the store under the reader
    OnCancel();
}

void CThermoDlg::OnCancel()
{
    m_settingsStore.SaveSettings(CurrentSettings());
    QDialog::reject();
}

void CThermoDlg::OnSystemQuit()
{
    m_bQuitting = true;
    if (m_bRunning || isVisible())
        OnClose();
}

void CThermoDlg::OnSettings()
{
    m_dlgSettings.m_alarmLimits = m_settingsStore.LoadAlarmLimits();
    m_dlgSettings.m_publishSettings = m_settingsStore.LoadPublishSettings();
    if (m_messages.Exec(m_dlgSettings) != QDialog::Accepted)
        return;
    WriteConfigFile(m_strStartDir, CurrentSettings());
    // The alarms' limits have their own keys and apply at once, also to a run going on.
    m_settingsStore.SaveAlarmLimits(m_dlgSettings.m_alarmLimits);
    m_alarms.SetLimits(m_dlgSettings.m_alarmLimits);
    m_settingsStore.SavePublishSettings(m_dlgSettings.m_publishSettings);
    m_publisher.Configure(m_dlgSettings.m_publishSettings);
    m_settingsStore.SaveWebSettings(m_dlgSettings.m_webSettings);
    ConfigurePage(m_dlgSettings.m_webSettings);
}

void CThermoDlg::ConfigurePage(const WebSettings &settings)
{
    QString error;
    m_strPageProblem = m_pageServer.Configure(settings, &error) ? QString() : QStringLiteral("Страница: ") + error;
    RefreshRunLine();
}

void CThermoDlg::OnShowChart()
{
    DoDataExchange(true);
    if (m_nMinT > m_nMaxT)
        std::swap(m_nMinT, m_nMaxT);
    if (m_nMinT == m_nMaxT) {
        m_messages.Show(WarningMessage(QStringLiteral("Значение \"От\" не должно быть равным \"До\"!")));
        return;
    }
    DoDataExchange(false);
    m_wndChart.show();
    m_wndChart.raise(); // a chart hidden behind other windows comes to the front
    m_wndChart.activateWindow();
    m_wndChart.repaint();
    m_bChartVisible = true;
}

namespace {

// What "C:\" stands for: the drive's root on Windows, the home folder elsewhere.
QString DefaultFolder()
{
#ifdef Q_OS_WIN
    return QStringLiteral("C:\\");
#else
    return QDir::homePath();
#endif
}

bool IsSeparator(QChar c)
{
    return c == QLatin1Char('\\') || c == QLatin1Char('/');
}

QString WithoutTrailing(QString text, const QString &characters)
{
    while (!text.isEmpty() && characters.contains(text.back()))
        text.chop(1);
    return text;
}

} // namespace

void CThermoDlg::OnChooseFolder()
{
    DoDataExchange(true);
    m_bFolderStarted = false; // the next Start numbers from "0000" and looks for old data again

    // Open the chooser in the folder that holds the dated subfolders.
    m_strFolder = SettingsStore::RememberedFolder(WithoutTrailing(m_strFolder, QStringLiteral(" \t")));
    if (m_strFolder.isEmpty()) {
        m_strFolder = DefaultFolder();
        SetCurrentFolder(m_strFolder);
    } else {
        if (!IsSeparator(m_strFolder.back()))
            m_strFolder += QDir::separator();
        if (!SetCurrentFolder(m_strFolder))
            m_strFolder = DefaultFolder();
    }
    DoDataExchange(false);
    DoDataExchange(true);
    const QString startDir = CurrentFolder();

    CFolderDlg chooser(m_messages, this);
    if (m_messages.Exec(chooser) == QDialog::Accepted) {
        m_settingsStore.SaveSettings(CurrentSettings()); // the path as it stood before the choice
        m_strFolder = QDir::toNativeSeparators(CurrentFolder());
        if (chooser.m_bSubfolder && chooser.m_strSubfolderName != kSearchFailed
            && chooser.m_strSubfolderName != kAllNamesTaken) {
            m_strFolder = WithoutTrailing(m_strFolder, QStringLiteral(" \\/")) + QDir::separator()
                + chooser.m_strSubfolderName;
        }
        DoDataExchange(false);
        return;
    }
    m_strFolder = QDir::toNativeSeparators(startDir);
    if (!SetCurrentFolder(startDir)) {
        m_messages.Show(ErrorMessage(QStringLiteral("Не удалось сменить папку")));
        return;
    }
    DoDataExchange(false);
    m_settingsStore.SaveSettings(CurrentSettings());
}

void CThermoDlg::OnAbout()
{
    CAboutDlg about(this);
    m_messages.Exec(about);
}

void CThermoDlg::FillContextMenu(QMenu &menu)
{
    menu.addAction(QStringLiteral("&About Calorivista..."), this, &CThermoDlg::OnAbout);
    menu.addAction(QStringLiteral("Экспорт в CSV..."), this, &CThermoDlg::OnExportCsv);
    menu.addAction(QStringLiteral("Просмотр записи..."), this, &CThermoDlg::OnViewRun);
}

void CThermoDlg::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    FillContextMenu(menu);
    menu.exec(event->globalPos());
}

void CThermoDlg::OnExportCsv()
{
    const QString folder = m_bFolderStarted ? m_recorder.Folder() : TemplateControl<QLineEdit>(this, kFolderEdit)->text();
    ExportFolderToCsv(m_messages, this, folder);
}

void CThermoDlg::OnViewRun()
{
    const QString folder = m_bFolderStarted ? m_recorder.Folder() : TemplateControl<QLineEdit>(this, kFolderEdit)->text();
    if (!m_pRunWindow) {
        m_pRunWindow = std::make_unique<RunWindow>(m_messages);
        std::vector<double> limits;
        for (const std::optional<double> &limit : {m_alarms.Monitor().Limits().high, m_alarms.Monitor().Limits().low})
            if (limit)
                limits.push_back(*limit);
        m_pRunWindow->SetLimits(limits);
    }
    m_pRunWindow->show();
    m_pRunWindow->raise();
    m_pRunWindow->activateWindow();
    if (IsFolder(folder) && FolderSeries::SameFolder(folder, m_pRunWindow->Folder()))
        return;
    if (!IsFolder(folder) || !m_pRunWindow->OpenFolder(folder))
        m_pRunWindow->OnOpen();
}

bool CThermoDlg::RunWindowShowsTheRun() const
{
    // Also while the run ends: its last save comes after the reader stopped.
    return m_pRunWindow && m_bFolderStarted && FolderSeries::SameFolder(m_pRunWindow->Folder(), m_recorder.Folder());
}

void CThermoDlg::OnDisplayTick()
{
    if (m_bChartVisible)
        m_wndChart.update();
    m_feed.Tick(); // the trim may drop saved readings: the feed has them first
    m_reader.Lock();
    SYSTEMTIME now {};
    GetLocalTime(&now);
    SampleList &store = m_reader.Samples();
    if (store.GetCount() > 0) {
        auto *temperature = TemplateControl<QLineEdit>(this, kTemperatureEdit);
        temperature->setText(QString::asprintf("%f", store.GetAt(0)->temperature));
        // Shown from its first digit: "1234.500000" is wider than the box,
        // and the end of it would hide the thousands.
        temperature->setCursorPosition(0);
        store.Trim(now, m_pSaveMark);
    }
    m_reader.Unlock();
}

void CThermoDlg::OnLineTick()
{
    m_reader.Lock();
    const LineStatus status = LineStatus::Of(m_reader.Line(), LineClockMs());
    m_reader.Unlock();
    ShowLineStatus(*TemplateControl<QLineEdit>(this, kTemperatureEdit), status);
    if (m_bChartVisible && status.kind != m_lastLineStatus.kind)
        m_wndChart.update(); // the chart's mark comes and goes with the box's
    m_lastLineStatus = status;
}

void CThermoDlg::OnJournalFailing(const QString &folder)
{
    if (m_bQuitting)
        return;
    m_messages.Show(WarningMessage(
        QStringLiteral("Не удаётся вести журнал сеанса в папке %1. Запись идёт, но при сбое программы или "
                       "компьютера будут потеряны показания, полученные после последнего сохранения.")
            .arg(QDir::toNativeSeparators(folder))));
}

void CThermoDlg::RefreshRunLine()
{
    m_pRunLine->ShowAlarm(m_alarms.IsWatching() ? m_alarms.Text() : QString(), m_alarms.AnyUnacknowledged());
    QStringList parts;
    if (m_bHadRun) {
        RunStateSummary state;
        state.running = m_bRunning;
        state.elapsedMs = m_bRunning ? LineClockMs() - m_nRunStartMs : m_nRunElapsedMs;
        state.files = m_recorder.FileCounter() - m_nFirstFile;
        state.nextSaveMs = m_bRunning ? m_savingTimer.remainingTime() : -1;
        state.lastSaveFailed = m_bLastSaveFailed;
        parts.append(RunStateText(state));
    }
    if (!m_publisher.StateText().isEmpty())
        parts.append(m_publisher.StateText());
    if (!m_strPageProblem.isEmpty())
        parts.append(m_strPageProblem);
    if (!parts.isEmpty())
        m_pRunLine->ShowState(parts.join(QStringLiteral(" · ")));
    // The web page shows what the line shows, with the chart's scale and limits.
    m_pageView.SetRunState(parts.join(QStringLiteral(" · ")));
    m_pageView.SetChart(m_nMinT, m_nMaxT, ChartNotesNow().limits);
}

void CThermoDlg::OnAlarmChanged(const AlarmChange &change, const QString &wording)
{
    if (change.type == AlarmChange::Type::Acknowledged) {
        m_bell.Silence();
        return;
    }
    if (change.type != AlarmChange::Type::Raised)
        return;
    if (m_alarms.Monitor().Limits().sound)
        m_bell.Ring();
    NotifyDesktop(QStringLiteral("Calorivista: тревога"), m_alarms.Text().isEmpty() ? wording : m_alarms.Text());
    QApplication::alert(this);
}

void CThermoDlg::OnMark()
{
    if (!m_bRunning)
        return;
    // The moment is the press; the text may take the operator a while.
    const qint64 at = QDateTime::currentMSecsSinceEpoch();
    QInputDialog prompt(this);
    prompt.setWindowTitle(QStringLiteral("Отметка"));
    prompt.setLabelText(QStringLiteral("Текст отметки (можно оставить пустым):"));
    prompt.setTextValue(QString());
    const QString text = m_messages.Exec(prompt) == QDialog::Accepted ? prompt.textValue().trimmed() : QString();
    m_runEvents.Mark(at, text);
    m_marks.push_back({at, text});
}

ChartNotes CThermoDlg::ChartNotesNow() const
{
    ChartNotes notes;
    if (!m_alarms.IsWatching())
        return notes;
    const AlarmLimits &limits = m_alarms.Monitor().Limits();
    for (const std::optional<double> &limit : {limits.high, limits.low})
        if (limit)
            notes.limits.push_back(*limit);
    notes.alarm = m_alarms.Text();
    notes.marks = m_marks;
    return notes;
}

void CThermoDlg::OnSavingTick()
{
    if (!m_bRunning)
        return;
    // Every reading newer than the mark (all of them while it is null) is
    // unsaved; with none new, the interval still gets its (empty) file.
    // The box comes after the store's lock is released, so the display and the
    // reader go on behind it. Further failing ticks while it is open still try
    // to save, but add no box of their own.
    if (SaveData() == SaveOutcome::Failed && !m_bSaveErrorShown) {
        const QScopedValueRollback shown(m_bSaveErrorShown, true);
        m_messages.Show(ErrorMessage(QStringLiteral("Не удалось сохранить данные")));
    }
}
