#include "thermodlg.h"
#include "thermodlgcontrols.h"

#include "appicon.h"
#include "commentfile.h"
#include "configfile.h"
#include "dialogtemplate.h"
#include "integertext.h"
#include "journalrecovery.h"
#include "linemarks.h"
#include "messageseam.h"
#include "nativefs.h"
#include "publishingfinish.h"
#include "recordfolderentry.h"
#include "runline.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>

#include <optional>

using namespace thermodlg;

namespace {

constexpr int kDisplayPeriodMs = 1000;
// How long Stop and Close wait for the reader's end (it ends within ~500 ms).
constexpr int kReaderEndWaitMs = 5000;

} // namespace

CThermoDlg::CThermoDlg(MessageSeam &messages, const SettingsStore &settingsStore, const QString &dataFolder,
                       QWidget *parent)
    : QDialog(parent)
    , m_messages(messages)
    , m_settingsStore(settingsStore)
    , m_dlgSettings(messages, this)
    , m_reader(messages)
    , m_wndChart(*this)
    , m_recorder(messages, this)
    , m_station(m_reader, dataFolder, settingsStore.Station())
    , m_runWindow(messages, m_station)
{
    m_messages.SetOwner(this);
    BuildFromTemplate(this, Template(kTemplateId));
    if (!m_station.Name().isEmpty()) {
        setWindowTitle(windowTitle() + QStringLiteral(" — ") + m_station.Name());
        m_dlgSettings.SetDefaultStationName(DefaultStationName(m_station.Name()));
    }
    m_pRunLine = RunLine::AddUnder(*this, m_messages);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    setWindowIcon(AppIcon());

    connect(TemplateControl<QPushButton>(this, kFolderButton), &QPushButton::clicked, this, &CThermoDlg::OnChooseFolder);
    connect(TemplateControl<QPushButton>(this, kSettingsButton), &QPushButton::clicked, this, &CThermoDlg::OnSettings);
    connect(TemplateControl<QPushButton>(this, kChartButton), &QPushButton::clicked, this, &CThermoDlg::OnShowChart);
    connect(&m_displayTimer, &QTimer::timeout, this, &CThermoDlg::OnDisplayTick);
    connect(&m_savingTimer, &QTimer::timeout, this, &CThermoDlg::OnSavingTick);
    connect(TemplateControl<QPushButton>(this, kStopButton), &QPushButton::clicked, this, &CThermoDlg::OnStop);

    // The station's news on the dialog's controls.
    m_station.SetSavingTimer(&m_savingTimer);
    connect(&m_station, &Station::AlarmChanged, m_pRunLine, &RunLine::ShowAlarm);
    connect(&m_station, &Station::StateChanged, m_pRunLine, &RunLine::ShowState);
    connect(&m_station, &Station::LineStatusChanged, this, &CThermoDlg::ShowLine);
    connect(&m_station, &Station::AlarmRaised, this, [this] { QApplication::alert(this); });
    connect(&m_station, &Station::Failure, this, [this](const QString &text) {
        if (!m_bQuitting)
            m_messages.Show(WarningMessage(text));
    });
    connect(m_pRunLine, &RunLine::AcknowledgeClicked, &m_station, &Station::Acknowledge);
    connect(m_pRunLine, &RunLine::Marked, &m_station, &Station::AddMark);

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
    m_station.SetPublishing(m_settingsStore.LoadPublishSettings());
    m_station.SetPage(m_settingsStore.LoadWebSettings());
    m_displayTimer.start(kDisplayPeriodMs);
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
        m_station.SetChartRange(m_nMinT, m_nMaxT);
        return true;
    }
    m_strFolder = folder->text();
    m_strComment = comment->toPlainText();
    const auto taken = qScopeGuard([this] { m_station.SetChartRange(m_nMinT, m_nMaxT); });
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
    m_station.Prepare();
    m_pSaveMark = nullptr;
    if (!m_bFolderStarted)
        m_recorder.SetFileCounter(0);
    if (!EnterRecordFolder(m_strFolder, !m_bFolderStarted, m_folderLock, m_messages))
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
    m_runWindow.SetRunFolder(m_recorder.Folder());
    SetRunningButtons(true);
    const RunLineSettings line {m_dlgSettings.m_nPort, m_settingsStore.PortDevice(CurrentSettings(), m_dlgSettings.m_nPort),
                                m_dlgSettings.m_nBaudRate, m_dlgSettings.m_nSaveInterval};
    m_station.BeginRun({m_recorder.Folder(), m_strComment, NextSave(), m_settingsStore.LoadAlarmLimits(), line});
    m_pRunLine->SetRunning(true);
}

JournalHeader CThermoDlg::NextSave() const
{
    return JournalHeader {m_recorder.Folder(), m_recorder.FileCounter(), m_recorder.ReferenceTime(),
                          m_recorder.ReferenceUtcMs()};
}

void CThermoDlg::RecoverInterruptedRuns()
{
    const QList<RecoveredRun> runs = RecoverJournals(m_station.JournalFolder(), m_messages, this);
    for (const RecoveredRun &run : runs)
        if (run.outcome == RecoveredRun::Outcome::Written)
            m_station.PublishChainOf(run.folder);
    if (!runs.isEmpty())
        m_messages.Show(RecoveryMessage(runs));
}

CThermoDlg::SaveOutcome CThermoDlg::SaveData()
{
    // What a data file gets has gone to the feed's followers first, so the
    // publisher's outbox holds every reading that any file holds.
    m_station.Tick();
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
            m_station.Saved(*name, NextSave());
        else
            m_station.SaveFailed(*name, NextSave());
        m_reader.Unlock();
        if (saved)
            m_runWindow.FilesWritten();
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
    m_station.Tick();
    m_bRunning = false;
    SetRunningButtons(false);
    // With readings and nothing new since the last save, an empty file.
    const QString told = m_station.EndRun(SaveData() == SaveOutcome::Failed);
    if (!told.isEmpty() && !m_bQuitting)
        m_messages.Show(ErrorMessage(told));
    m_pRunLine->SetRunning(false);
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
    // The run's last batches reach the broker now rather than at the next start.
    FinishPublishing(m_station, m_messages, this, m_bQuitting);
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

void CThermoDlg::OnDisplayTick()
{
    if (m_bChartVisible)
        m_wndChart.update();
    m_station.Tick(); // the trim may drop saved readings: the feed has them first
    m_reader.Lock();
    SYSTEMTIME now {};
    GetLocalTime(&now);
    SampleList &store = m_reader.Samples();
    if (store.GetCount() > 0) {
        auto *temperature = TemplateControl<QLineEdit>(this, kTemperatureEdit);
        const QString text = QString::asprintf("%f", store.GetAt(0)->temperature);
        if (text != temperature->text()) // an unchanged box is not drawn again
            temperature->setText(text);
        // Shown from its first digit: "1234.500000" is wider than the box,
        // and the end of it would hide the thousands.
        temperature->setCursorPosition(0);
        store.Trim(now, m_pSaveMark);
    }
    m_reader.Unlock();
}

void CThermoDlg::ShowLine(const LineStatus &status)
{
    ShowLineStatus(*TemplateControl<QLineEdit>(this, kTemperatureEdit), status);
    if (m_bChartVisible && status.kind != m_lastLineKind)
        m_wndChart.update(); // the chart's mark comes and goes with the box's
    m_lastLineKind = status.kind;
}

ChartNotes CThermoDlg::ChartNotesNow() const
{
    ChartNotes notes;
    notes.limits = m_station.LimitLines();
    notes.alarm = m_station.AlarmText();
    for (const Station::Mark &mark : m_station.Marks())
        notes.marks.push_back({mark.utcMs, mark.text});
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
