#pragma once

#include "chartowner.h"
#include "chartwnd.h"
#include "comreader.h"
#include "publisher.h"
#include "stationserver.h"
#include "stationview.h"
#include "datarecorder.h"
#include "alarmbell.h"
#include "alarmwatch.h"
#include "recordfolderlock.h"
#include "runeventrecorder.h"
#include "runfeed.h"
#include "runjournal.h"
#include "runline.h"
#include "settingsdlg.h"
#include "settingsstore.h"

#include <QDialog>
#include <QPointer>
#include <QTimer>

class MessageSeam;
class QMenu;

// The main dialog: the whole program. It owns the settings dialog, the
// acquisition object with the store, and the timers; its buttons start and
// stop a run, choose the record folder, open the settings and show the chart.
class RunWindow;

class CThermoDlg : public QDialog, public ChartOwner
{
    Q_OBJECT

    MessageSeam &m_messages;
    const SettingsStore &m_settingsStore;

public:
    // The journal of a running run lives in journalFolder (the user's
    // application data folder).
    CThermoDlg(MessageSeam &messages, const SettingsStore &settingsStore, const QString &journalFolder,
               QWidget *parent = nullptr);
    // Ends a run still going, so the store never goes away under the reader.
    ~CThermoDlg() override;

    // Moves the members into the controls (false) or takes them from the
    // controls (true). Taking fails when a chart-limit box holds no integer:
    // the user is told, that box gets the focus, later members keep their values.
    bool DoDataExchange(bool bSaveAndValidate);

    bool IsRunning() const { return m_bRunning; }


    // Start (the "OK(Start)" button and Enter) and Cancel (the "Cancel" button
    // and Esc; ignored while a run goes on).
    void accept() override;
    void reject() override;

public slots:
    // Writes the readings of runs that were cut short (a crash, a killed
    // program, a power cut) into their record folders and tells the operator.
    void RecoverInterruptedRuns();
    void OnStop();
    void OnClose();
    void OnSettings();
    void OnShowChart();
    void OnChooseFolder();
    void OnAbout();
    // Exports the record folder (the run's, or the one in the box) to a CSV.
    void OnExportCsv();
    // Opens the run window on the record folder (the run's, or the one in the box).
    void OnViewRun();
    bool RunWindowShowsTheRun() const;
    // The system ends the session or tells the program to quit: a run still
    // going is stopped and saved as Close does.
    void OnSystemQuit();

    void OnDisplayTick();
    void OnSavingTick();
    // Marks the temperature (and the chart) while the line is silent or gone.
    void OnLineTick();
    // Tells the operator, once a run, that its journal cannot be written.
    void OnJournalFailing(const QString &folder);
    // The line under the controls: the alarms shown, else the run's state.
    void RefreshRunLine();
    // A raised alarm is heard and seen away from the window; an acknowledged one falls silent.
    void OnAlarmChanged(const AlarmChange &change, const QString &wording);
    // A mark at this moment, with the text the operator gives.
    void OnMark();

    // What the chart reads.
    int ChartMinT() const override { return m_nMinT; }
    ChartNotes ChartNotesNow() const override;
    int ChartMaxT() const override { return m_nMaxT; }
    CComReader &ChartReader() override { return m_reader; }
    QTimer &DisplayTimer() override { return m_displayTimer; }
    void OnChartHidden() override { m_bChartVisible = false; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

public:
    // The entries of the dialog's context menu.
    void FillContextMenu(QMenu &menu);

private:
    void OnInitDialog();
    void OnOK();
    void OnCancel();
    // Makes the record folder the working directory, offering to create a
    // missing one and warning about old data files. False when Start must end here.
    bool EnterRecordFolder();
    bool FolderHoldsDataFiles() const;
    // Holds the record folder (the working directory) for this run; tells the
    // operator when another program's run holds it.
    bool HoldRecordFolder();
    void EndRun();
    enum class SaveOutcome {
        Saved,     // also when there was nothing at all to save
        Cancelled, // the operator gave no name after "9999": the readings wait
        Failed,    // the file could not be written: the readings wait
    };
    // Saves the readings newer than the mark into the next data file, taking
    // the store's lock only while it writes, and tells the journal.
    SaveOutcome SaveData();
    JournalHeader NextSave() const;
    ThermoSettings CurrentSettings() const;
    void ApplySettings(const ThermoSettings &settings);
    void SetRunningButtons(bool bRunning);
    void ConfigurePage(const WebSettings &settings);

public:
    // The dialog's state, as the flows and their tests see it.
    CSettingsDlg m_dlgSettings;
    CComReader m_reader;
    CChartWnd m_wndChart;
    const TempSample *m_pSaveMark = nullptr;
    QString m_strStartDir;
    bool m_bRunning = false;
    bool m_bFolderStarted = false;
    bool m_bChartVisible = false;
    QString m_strFolder;
    QString m_strComment;
    int m_nMinT = 0;
    int m_nMaxT = 0;
    DataRecorder m_recorder; // file counter, reference time, the run's folder
    quint64 m_nRunSerial = 0; // counts ended runs: a save that outlives its run is dropped
    bool m_bEnding = false;   // Stop or Close is ending the run
    bool m_bCloseAfterEnd = false;
    bool m_bQuitting = false; // the system ends the program: nobody to answer a box
    bool m_bSaveErrorShown = false; // the saving tick's error box is open
    RunFeed m_feed; // before everything that follows a run
    RunJournal m_journal;
    AlarmWatch m_alarms;
    RunEventRecorder m_runEvents;
    Publisher m_publisher; // the readings to the lab's broker, when one is set
    StationView m_pageView; // what the station's web page shows
    StationServer m_pageServer {m_pageView}; // the page, when a port is set
    QString m_strPageProblem;
    std::unique_ptr<RunWindow> m_pRunWindow; // "Просмотр записи", once opened
    AlarmBell m_bell;
    RunLine *m_pRunLine = nullptr;
    qint64 m_nRunStartMs = 0;  // line clock
    qint64 m_nRunElapsedMs = 0; // of the last run, once it ended
    int m_nFirstFile = 0;      // the run's first data file
    bool m_bLastSaveFailed = false;
    bool m_bHadRun = false;
    std::vector<ChartNotes::Mark> m_marks; // of the run going on
    RecordFolderLock m_folderLock;

    QTimer m_displayTimer; // timer 1
    QTimer m_savingTimer;  // timer 2
    QTimer m_lineTimer;    // looks at the line's state several times a second
    LineStatus m_lastLineStatus;
};
