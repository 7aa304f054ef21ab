#include "runwindowhost.h"

#include "nativefs.h"
#include "runwindow.h"
#include "station.h"

RunWindowHost::RunWindowHost(MessageSeam &messages, Station &station, QObject *parent)
    : QObject(parent)
    , m_messages(messages)
    , m_station(station)
{
    connect(&m_station, &Station::LiveReadings, this, &RunWindowHost::TakeLive);
    connect(&m_station, &Station::EventsChanged, this, [this] {
        if (ShowsTheRun())
            m_pWindow->EventsChanged();
    });
}

RunWindowHost::~RunWindowHost() = default;

void RunWindowHost::Open(const QString &folder, const std::vector<std::pair<qint64, float>> &unsaved)
{
    if (!m_pWindow) {
        m_pWindow = std::make_unique<RunWindow>(m_messages);
        std::vector<double> limits;
        for (const std::optional<double> &limit : {m_station.Limits().high, m_station.Limits().low})
            if (limit)
                limits.push_back(*limit);
        m_pWindow->SetLimits(limits);
    }
    m_pWindow->show();
    m_pWindow->raise();
    m_pWindow->activateWindow();
    if (IsFolder(folder) && FolderSeries::SameFolder(folder, m_pWindow->Folder()))
        return;
    if (!IsFolder(folder) || !m_pWindow->OpenFolder(folder))
        m_pWindow->OnOpen();
    else if (ShowsTheRun() && !unsaved.empty())
        m_pWindow->TakeLiveReadings(unsaved); // from the run's start, not from now
}

void RunWindowHost::FilesWritten()
{
    if (ShowsTheRun())
        m_pWindow->FilesWritten();
}

bool RunWindowHost::ShowsTheRun() const
{
    return m_pWindow && !m_strRunFolder.isEmpty() && FolderSeries::SameFolder(m_pWindow->Folder(), m_strRunFolder);
}

void RunWindowHost::TakeLive(const std::vector<std::pair<qint64, float>> &readings)
{
    if (ShowsTheRun())
        m_pWindow->TakeLiveReadings(readings);
}
