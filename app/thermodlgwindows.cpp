// The main dialog's buttons and menu entries that open other windows: the
// settings, the chart, the folder chooser, the about box, the export and the
// run window.
#include "thermodlg.h"
#include "thermodlgcontrols.h"

#include "aboutdlg.h"
#include "configfile.h"
#include "dialogtemplate.h"
#include "exportcommand.h"
#include "folderdlg.h"
#include "folderpaths.h"
#include "messageseam.h"
#include "nativefs.h"
#include "subfoldername.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QLineEdit>
#include <QMenu>

#include <algorithm>

using namespace thermodlg;

void CThermoDlg::OnSettings()
{
    // Each group shows what the store holds now, so OK keeps what it did not change.
    m_dlgSettings.m_alarmLimits = m_settingsStore.LoadAlarmLimits();
    m_dlgSettings.m_publishSettings = m_settingsStore.LoadPublishSettings();
    m_dlgSettings.m_webSettings = m_settingsStore.LoadWebSettings();
    m_dlgSettings.SetKeyFingerprint(m_station.Chain().Fingerprint());
    if (m_messages.Exec(m_dlgSettings) != QDialog::Accepted)
        return;
    WriteConfigFile(m_strStartDir, CurrentSettings());
    // The alarms' limits have their own keys and apply at once, also to a run going on.
    m_settingsStore.SaveAlarmLimits(m_dlgSettings.m_alarmLimits);
    m_station.SetAlarmLimits(m_dlgSettings.m_alarmLimits);
    m_settingsStore.SavePublishSettings(m_dlgSettings.m_publishSettings);
    m_station.SetPublishing(m_dlgSettings.m_publishSettings);
    m_settingsStore.SaveWebSettings(m_dlgSettings.m_webSettings);
    m_station.SetPage(m_dlgSettings.m_webSettings);
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

void CThermoDlg::OnChooseFolder()
{
    DoDataExchange(true);
    m_bFolderStarted = false; // the next Start numbers from "0000" and looks for old data again
    m_runWindow.SetRunFolder(QString());

    // Open the chooser in the folder that holds the dated subfolders.
    m_strFolder = SettingsStore::RememberedFolder(WithoutTrailing(m_strFolder, QStringLiteral(" \t")));
    if (m_strFolder.isEmpty()) {
        m_strFolder = DefaultFolder();
        SetCurrentFolder(m_strFolder);
    } else {
        if (!IsPathSeparator(m_strFolder.back()))
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
            m_strFolder = WithSubfolder(m_strFolder, chooser.m_strSubfolderName);
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

QString CThermoDlg::RecordFolderShown() const
{
    // The run's folder, else the one in the box.
    return m_bFolderStarted ? m_recorder.Folder() : TemplateControl<QLineEdit>(this, kFolderEdit)->text();
}

void CThermoDlg::OnExportCsv()
{
    ExportFolderToCsv(m_messages, this, RecordFolderShown());
}

void CThermoDlg::OnViewRun()
{
    // The run's readings not yet in a data file: every one newer than the save mark.
    std::vector<std::pair<qint64, float>> unsaved;
    if (m_bRunning) {
        m_reader.Lock();
        const SampleList &store = m_reader.Samples();
        for (int i = 0; i < store.GetCount() && store.GetAt(i) != m_pSaveMark; ++i) // newest first
            unsaved.emplace_back(store.GetAt(i)->utcMs, float(store.GetAt(i)->temperature));
        m_reader.Unlock();
        std::reverse(unsaved.begin(), unsaved.end());
    }
    m_runWindow.Open(RecordFolderShown(), unsaved);
}
