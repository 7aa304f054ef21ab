#pragma once

#include "chartowner.h"
#include "chartwnd.h"
#include "comreader.h"
#include "datarecorder.h"
#include "recordfolderlock.h"
#include "runwindowhost.h"
#include "settingsdlg.h"
#include "settingsstore.h"
#include "station.h"

#include <QDialog>
#include <QTimer>

#include <memory>

class MessageSeam;
class QMenu;
class RunLine;

// The main dialog: Start, Stop, Close, Cancel, the folder choice, the settings,
// the chart and the two timers. It owns the settings dialog, the acquisition
// object with the store, and the station, whose signals it wires to its controls.
class CThermoDlg : public QDialog, public ChartOwner
{
    Q_OBJECT

    MessageSeam &m_messages;
    const SettingsStore &m_settingsStore;

public:
    // The station's journals and outbox live in dataFolder.
    CThermoDlg(MessageSeam &messages, const SettingsStore &settingsStore, const QString &dataFolder,
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
    // The entries of the dialog's context menu.
    void FillContextMenu(QMenu &menu);

public slots:
    // Writes the readings of runs cut short (a crash, a kill, a power cut)
    // into their record folders and tells the operator.
    void RecoverInterruptedRuns();
    void OnStop();
    void OnClose();
    void OnSettings();
    void OnShowChart();
    void OnChooseFolder();
    void OnAbout();
    void OnExportCsv();
    void OnViewRun();
    // The system ends the session or the program: a run is ended as Close does.
    void OnSystemQuit();
    void OnDisplayTick();
    void OnSavingTick();
    // What the chart reads.
    int ChartMinT() const override { return m_nMinT; }
    int ChartMaxT() const override { return m_nMaxT; }
    ChartNotes ChartNotesNow() const override;
    CComReader &ChartReader() override { return m_reader; }
    QTimer &DisplayTimer() override { return m_displayTimer; }
    void OnChartHidden() override { m_bChartVisible = false; }
protected:
    void closeEvent(QCloseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
private:
    void OnInitDialog();
    void OnOK();
    void OnCancel();
    void EndRun();
    enum class SaveOutcome { Saved, Cancelled, Failed };
    // The readings newer than the mark into the next data file; the store's
    // lock is held only while it writes.
    SaveOutcome SaveData();
    JournalHeader NextSave() const;
    ThermoSettings CurrentSettings() const;
    void ApplySettings(const ThermoSettings &settings);
    void SetRunningButtons(bool bRunning);
    void ShowLine(const LineStatus &status);
    QString RecordFolderShown() const;
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
    DataRecorder m_recorder;  // file counter, reference time, the run's folder
    quint64 m_nRunSerial = 0; // counts ended runs: a save that outlives its run is dropped
    bool m_bEnding = false;   // Stop or Close is ending the run
    bool m_bCloseAfterEnd = false;
    bool m_bQuitting = false; // the system ends the program: nobody to answer a box
    bool m_bSaveErrorShown = false; // the saving tick's error box is open
    RecordFolderLock m_folderLock;
    Station m_station;
    RunLine *m_pRunLine = nullptr;
    RunWindowHost m_runWindow; // "Просмотр записи"
    QTimer m_displayTimer; // timer 1
    QTimer m_savingTimer;  // timer 2
    LineStatus::Kind m_lastLineKind = LineStatus::Kind::Live;
};
