#pragma once

#include "foldercheck.h"
#include "folderseries.h"
#include "runchart.h"
#include "runstatistics.h"

#include <QFutureWatcher>
#include <QMainWindow>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <span>

class MessageSeam;
class QLabel;
class QLineEdit;

// "Просмотр записи": a whole record folder, the current run's as it grows or
// any other, with the cursor's reading, the statistics of the run or of the
// selected span, its export, a one-page report, and a second folder over it.
class RunWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit RunWindow(MessageSeam &messages, QWidget *parent = nullptr);
    ~RunWindow() override;

    // Reads a folder, with a progress dialog that can cancel; false (said in
    // a box) when it cannot be read or was cancelled.
    bool OpenFolder(const QString &folder);
    // A second folder over the first: aligned on the starts, or on a mark of
    // each (their texts; empty: the first mark).
    enum class Align { Starts, Marks };
    bool CompareWith(const QString &folder, Align align, const QString &ownMark = {}, const QString &otherMark = {});

    // A run going on in the folder shown: its readings not in a file yet, and
    // after each save the files written.
    void TakeLiveReadings(std::span<const std::pair<qint64, float>> readings);
    void FilesWritten();
    void EventsChanged();

    QString Folder() const { return m_pRun ? m_pRun->Folder() : QString(); }
    const FolderSeries *Run() const { return m_pRun.get(); }
    RunChart &Chart() { return *m_pChart; }
    const RunStatistics &Statistics() const { return m_statistics; }
    // The span the statistics, the export and the report take: the selection, or the whole run.
    std::pair<qint64, qint64> Span() const;
    QString Readout() const;
    // The folder's files against its chain, as the status bar says it
    // ("записи не изменялись", or what changed); checked on a thread of its
    // own when the folder is opened, after each save of a run going on and at its stop.
    QString RecordState() const;
    void SetLimits(std::vector<double> limits);
    void SetThreshold(std::optional<double> celsius);

    // Where "Открыть" and "Сравнить с…" find a folder: the folder chooser,
    // or this (the runs of the lab's archive, say); none: nothing chosen.
    void SetFolderSource(std::function<std::optional<QString>(QWidget *parent)> source) { m_folderSource = std::move(source); }

    // The commands, as the toolbar has them.
    void OnOpen();
    void OnCompare();
    bool ExportCsv(const QString &path);
    bool ExportPng(const QString &path);
    bool WriteReport(const QString &path, QString *error = nullptr);

private:
    void OnExportCsv();
    void OnExportPng();
    void OnReport();
    // Asks for a file beside the folder and writes it; a failure is said.
    void AskAndWrite(const QString &caption, const QString &suffix, const std::function<bool(const QString &, QString *)> &write);
    void ShowCursor(std::optional<qint64> utcMs);
    void RefreshStatistics();
    // Checks the folder once the program is back in its event loop: a save
    // or a stop enters its files into the chain before that.
    void CheckRecords() { m_recordCheckDelay.start(); }
    void StartRecordCheck();
    void AlignCompared();
    std::optional<QString> ChooseFolder();
    std::unique_ptr<FolderSeries> ReadFolder(const QString &folder);
    // A folder to compare with: none, and said, when it holds no readings.
    std::unique_ptr<FolderSeries> ReadCompared(const QString &folder);

    MessageSeam &m_messages;
    std::function<std::optional<QString>(QWidget *)> m_folderSource;
    std::unique_ptr<FolderSeries> m_pRun;
    std::unique_ptr<FolderSeries> m_pCompared;
    Align m_align = Align::Starts;
    QString m_strOwnMark, m_strOtherMark;
    std::vector<std::pair<qint64, float>> m_tail; // readings of the run not in a file yet
    std::vector<double> m_limits;
    std::optional<double> m_threshold;
    RunStatistics m_statistics;
    QString m_strReadout;

    RunChart *m_pChart;
    QLabel *m_pReadout;
    QLabel *m_pStatistics;
    QLabel *m_pRecordState;
    QFutureWatcher<FolderCheck> m_recordCheck;
    QTimer m_recordCheckDelay;
    bool m_bCheckAgain = false; // a save came while a check was going on
    QLineEdit *m_pThreshold;
    QTimer m_statisticsDelay; // a dragged selection is reckoned once it rests
};
