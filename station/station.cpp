#include "station.h"

#include "comreader.h"
#include "runstatetext.h"

#include "foldercheck.h"
#include "publishpayloads.h"

#include <QDir>
#include <QMetaMethod>

Station::Station(CComReader &reader, const QString &dataFolder, const QString &name, QObject *parent)
    : QObject(parent)
    , m_strName(name)
    , m_feed(reader)
    , m_journal(reader, dataFolder)
    , m_runEvents(m_feed)
    , m_chain(dataFolder)
    , m_publisher(m_feed, dataFolder + QStringLiteral("/outbox"), name)
    , m_registry(dataFolder)
    , m_reader(reader)
{
    // Queued: the journal may fail while the store's lock is held, and no box
    // is ever shown under it.
    connect(&m_journal, &RunJournal::Failing, this, [this](const QString &folder) {
        emit Failure(QStringLiteral("Не удаётся вести журнал сеанса в папке %1. Запись идёт, но при сбое программы или "
                                    "компьютера будут потеряны показания, полученные после последнего сохранения.")
                         .arg(QDir::toNativeSeparators(folder)));
    }, Qt::QueuedConnection);
    connect(&m_chain, &RunChain::Failing, this, &Station::Failure, Qt::QueuedConnection);
    // Every chain line goes to the lab's witness too.
    connect(&m_chain, &RunChain::Entered, this, [this](const QString &folder, const ChainLine &line) {
        m_publisher.TakeChainLine(folder, line.Text());
    });

    // What the feed hands on, in this order: the journal first.
    connect(&m_feed, &RunFeed::Readings, &m_journal, &RunJournal::Take);
    connect(&m_feed, &RunFeed::Readings, &m_runEvents, &RunEventRecorder::TakeReadings);
    connect(&m_feed, &RunFeed::Readings, &m_alarms, &AlarmWatch::TakeReadings);
    connect(&m_feed, &RunFeed::Readings, &m_publisher, &Publisher::TakeReadings);
    connect(&m_feed, &RunFeed::Readings, this, &Station::OnReadings);
    connect(&m_feed, &RunFeed::Line, &m_runEvents, &RunEventRecorder::TakeLine);
    connect(&m_feed, &RunFeed::Line, &m_alarms, &AlarmWatch::TakeLine);
    connect(&m_feed, &RunFeed::Line, &m_publisher, &Publisher::TakeLine);
    connect(&m_feed, &RunFeed::Line, this, &Station::OnLine);
    connect(&m_feed, &RunFeed::Event, &m_publisher, &Publisher::TakeEvent);
    connect(&m_feed, &RunFeed::Event, this, [this](const RunEvent &event) {
        m_pageView.TakeEvent(event);
        if (event.event == QLatin1String("run-start")) {
            // Where the run's readings can be found again, long after the outbox let them go.
            m_runId = event.utcMs;
            m_registry.RunStarted(event.utcMs, m_strRunFolder, m_nFirstFile);
        }
        emit EventsChanged();
    });

    connect(&m_alarms, &AlarmWatch::Changed, &m_runEvents, &RunEventRecorder::Alarm);
    connect(&m_alarms, &AlarmWatch::Changed, this, &Station::OnAlarm);
    connect(&m_publisher, &Publisher::StateChanged, this, &Station::RefreshState);
    connect(&m_resends, &ResendServer::Said, this, [](const QString &line) { qInfo("resend: %s", qPrintable(line)); });
}

Station::~Station() = default;

void Station::SetAlarmLimits(const AlarmLimits &limits)
{
    m_alarms.SetLimits(limits);
    UpdatePageChart();
    RefreshAlarm();
    NoteSettings();
}

void Station::SetPublishing(const PublishSettings &settings)
{
    m_publisher.Configure(settings);
    m_publishSettings = settings;
    // The key its chain lines are signed with, made now if there is none yet.
    if (settings.IsOn()) {
        const QByteArray key = m_chain.PublicKeyHex();
        if (!key.isEmpty())
            m_publisher.SetStationKey(publishpayloads::StationKey(key, m_chain.Fingerprint()));
    }
    RefreshState();
    NoteSettings();
}

void Station::SetPage(const WebSettings &settings)
{
    QString error;
    m_strPageProblem = m_pageServer.Configure(settings, &error) ? QString() : QStringLiteral("Страница: ") + error;
    RefreshState();
}

void Station::SetChartRange(int lowest, int highest)
{
    m_nChartLowest = lowest;
    m_nChartHighest = highest;
    UpdatePageChart();
    NoteSettings();
}

SettingsInForce Station::SettingsNow() const
{
    // The name it publishes under, or would once publishing is switched on.
    const QString station = m_publisher.Station().isEmpty() ? DefaultStationName(m_strName) : m_publisher.Station();
    return RunSettings(m_runLine, m_nChartLowest, m_nChartHighest, Limits(), m_publishSettings, station);
}

void Station::NoteSettings()
{
    if (!m_bRunning)
        return;
    const SettingsInForce now = SettingsNow();
    const QString changes = now.ChangesFrom(m_settingsInForce);
    if (changes.isEmpty())
        return;
    m_runEvents.SettingsChanged(changes);
    m_settingsInForce = now;
}

void Station::UpdatePageChart()
{
    // The page's chart has the chart window's scale and limits.
    m_pageView.SetChart(m_nChartLowest, m_nChartHighest, LimitLines());
}

void Station::Prepare()
{
    m_feed.Begin();
}

void Station::BeginRun(const RunStart &start)
{
    m_strRunFolder = start.folder;
    m_nFirstFile = start.next.nextFile;
    m_nNextFile = start.next.nextFile;
    m_nSavedTotal = 0;
    m_runId.reset();
    m_journal.Begin(start.next);
    m_bRunning = true;
    m_runEvents.Begin(start.folder, start.comment, start.next.nextFile); // its run-start names the run
    m_chain.Begin(start.folder);
    m_alarms.Begin(start.limits);
    m_runLine = start.line;
    m_settingsInForce = SettingsNow();
    m_runEvents.Settings(m_settingsInForce.Text());
    m_nRunStartMs = LineClockMs();
    m_pageView.SetRecordFolder(start.folder, start.comment);
    m_pageView.SetRunning(true);
    m_bLastSaveFailed = false;
    m_marks.clear();
    m_bHadRun = true;
    UpdatePageChart();
    RefreshAlarm();
    RefreshState();
}

void Station::Tick()
{
    m_feed.Tick();
}

void Station::Saved(const QString &file, const JournalHeader &next)
{
    // The store's count says which of the run's readings the file took.
    const qint64 total = m_reader.Samples().TotalAppended();
    if (m_runId)
        m_registry.Saved(*m_runId, file, m_nSavedTotal, total - m_nSavedTotal);
    m_nSavedTotal = total;
    m_journal.Saved(next);
    m_chain.Saved(file);
    m_nNextFile = next.nextFile;
    m_bLastSaveFailed = false;
    RefreshState();
}

void Station::SaveFailed(const QString &file, const JournalHeader &next)
{
    m_journal.SaveFailed(next);
    m_nNextFile = next.nextFile;
    m_bLastSaveFailed = true;
    m_runEvents.SaveFailed(file);
    m_chain.Saved(QString()); // the failure's event
    RefreshState(); // the line leads with the failure at once
}

QString Station::EndRun(bool lastSaveFailed)
{
    QString told;
    if (lastSaveFailed) {
        // The readings stay in the journal; the next start writes them.
        const QString journal = QDir::toNativeSeparators(m_journal.Path());
        const RunJournal::Kept kept = m_journal.Keep();
        told = QStringLiteral("Не удалось сохранить данные");
        if (kept.kept > 0) {
            told += QStringLiteral("\nПоказания (%1) сохранены в журнале %2 и будут записаны в папку при "
                                   "следующем запуске программы.")
                        .arg(kept.kept)
                        .arg(journal);
        }
        if (kept.lost > 0)
            told += QStringLiteral("\nПоказания (%1) сохранить не удалось.").arg(kept.lost);
    } else {
        m_journal.End(); // a cancelled name prompt gives up the run's last readings
    }
    m_alarms.End();
    m_bell.Silence();
    m_notice.Withdraw();
    m_runEvents.End();
    m_chain.End();
    if (m_runId)
        m_registry.RunStopped(*m_runId, m_publisher.RunReadings());
    m_nRunElapsedMs = LineClockMs() - m_nRunStartMs;
    m_bRunning = false;
    // The page no longer shows the run's alarm, nor a line it no longer reads.
    m_pageView.SetRunning(false);
    m_pageView.SetAlarm(QString());
    m_publisher.SetAlarm(QString());
    UpdatePageChart();
    RefreshAlarm();
    RefreshState();
    return told;
}

qint64 Station::Finish(int timeoutMs, const std::function<bool(qint64 pending)> &keepWaiting)
{
    return m_publisher.Finish(timeoutMs, keepWaiting);
}

void Station::PublishChainOf(const QString &folder)
{
    for (const ChainLine &line : ChainLinesOf(folder))
        m_publisher.TakeChainLine(folder, line.Text());
}

void Station::AddMark(qint64 utcMs, const QString &text)
{
    if (!m_bRunning)
        return;
    m_runEvents.Mark(utcMs, text);
    m_marks.push_back({utcMs, text});
}

void Station::Acknowledge(const QString &reason)
{
    m_runEvents.SetAcknowledgementReason(reason);
    m_alarms.AcknowledgeShown();
    m_runEvents.SetAcknowledgementReason(QString());
}

QString Station::AlarmText() const
{
    return m_alarms.IsWatching() ? m_alarms.Text() : QString();
}

std::vector<double> Station::LimitLines() const
{
    std::vector<double> lines;
    if (!m_alarms.IsWatching())
        return lines;
    for (const std::optional<double> &limit : {Limits().high, Limits().low})
        if (limit)
            lines.push_back(*limit);
    return lines;
}

void Station::OnReadings(const FeedReadings &readings)
{
    m_pageView.TakeReadings(readings);
    // Converted only for a view that follows the run.
    if (!isSignalConnected(QMetaMethod::fromSignal(&Station::LiveReadings)))
        return;
    std::vector<std::pair<qint64, float>> live;
    live.reserve(readings.readings.size());
    for (const TempSample &reading : readings.readings)
        live.emplace_back(reading.utcMs, float(reading.temperature));
    emit LiveReadings(live);
}

void Station::OnLine(const LineState &line)
{
    m_pageView.TakeLine(line);
    const LineStatus status = LineStatus::Of(line, LineClockMs());
    if (!(status == m_lineStatus)) {
        m_lineStatus = status;
        emit LineStatusChanged(status);
    }
    RefreshAlarm(); // the wording follows the device's loss
    RefreshState();
}

void Station::OnAlarm(const AlarmChange &change, const QString &wording)
{
    m_publisher.SetAlarm(m_alarms.Text());
    m_pageView.SetAlarm(m_alarms.Text());
    switch (change.type) {
    case AlarmChange::Type::Acknowledged:
        // Quiet, and no stale notice, once nothing waits for acknowledgement;
        // else the notice names the next one.
        if (!m_alarms.AnyUnacknowledged()) {
            m_bell.Silence();
            m_notice.Withdraw();
        } else {
            m_notice.Show(NoticeTitle(), m_alarms.Text());
        }
        break;
    case AlarmChange::Type::Raised:
        if (Limits().sound)
            m_bell.Ring();
        m_notice.Show(NoticeTitle(), m_alarms.Text().isEmpty() ? wording : m_alarms.Text());
        emit AlarmRaised();
        break;
    case AlarmChange::Type::Cleared:
        break;
    }
    RefreshAlarm();
}

QString Station::NoticeTitle() const
{
    return m_strName.isEmpty() ? QStringLiteral("Calorivista: тревога")
                               : QStringLiteral("Calorivista — %1: тревога").arg(m_strName);
}

void Station::RefreshAlarm()
{
    const QString text = AlarmText();
    const bool unacknowledged = m_alarms.AnyUnacknowledged();
    if (text == m_strAlarm && unacknowledged == m_bAlarmUnacknowledged)
        return;
    m_strAlarm = text;
    m_bAlarmUnacknowledged = unacknowledged;
    emit AlarmChanged(text, unacknowledged);
}

void Station::RefreshState()
{
    QStringList parts;
    if (m_bHadRun) {
        RunStateSummary state;
        state.running = m_bRunning;
        state.elapsedMs = m_bRunning ? LineClockMs() - m_nRunStartMs : m_nRunElapsedMs;
        state.files = m_nNextFile - m_nFirstFile;
        state.nextSaveMs = m_bRunning && m_pSavingTimer ? m_pSavingTimer->remainingTime() : -1;
        state.lastSaveFailed = m_bLastSaveFailed;
        parts.append(RunStateText(state));
    }
    if (!m_publisher.StateText().isEmpty())
        parts.append(m_publisher.StateText());
    if (!m_strPageProblem.isEmpty())
        parts.append(m_strPageProblem);
    const QString text = parts.join(QStringLiteral(" · "));
    if (text == m_strState)
        return;
    m_strState = text;
    // The web page shows what the line shows.
    m_pageView.SetRunState(text);
    emit StateChanged(text);
}
