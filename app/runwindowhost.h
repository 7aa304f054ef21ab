#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <utility>
#include <vector>

class MessageSeam;
class RunWindow;
class Station;

// The main program's "Просмотр записи": the run window, made when it is first
// asked for, opened on the folder the dialog shows. While it shows the
// folder of the run going on it grows with it: between saves from the
// station's readings, after each save from the files written.
class RunWindowHost : public QObject
{
    Q_OBJECT

public:
    RunWindowHost(MessageSeam &messages, Station &station, QObject *parent = nullptr);
    ~RunWindowHost() override;

    // Shows the window on `folder`, or asks for one when it is no folder.
    // Opened on the run going on, it shows its readings not yet in a file,
    // `unsaved` (oldest first), too.
    void Open(const QString &folder, const std::vector<std::pair<qint64, float>> &unsaved = {});
    // The folder a run records into (empty: none).
    void SetRunFolder(const QString &folder) { m_strRunFolder = folder; }
    // A save of the run wrote its files.
    void FilesWritten();

    RunWindow *Window() const { return m_pWindow.get(); }
    // Also while the run ends: its last save comes after the reader stopped.
    bool ShowsTheRun() const;

private:
    void TakeLive(const std::vector<std::pair<qint64, float>> &readings);

    MessageSeam &m_messages;
    Station &m_station;
    QString m_strRunFolder;
    std::unique_ptr<RunWindow> m_pWindow;
};
