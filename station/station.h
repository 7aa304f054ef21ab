#pragma once

#include "alarmbell.h"
#include "alarmwatch.h"
#include "desktopnotice.h"
#include "journalformat.h"
#include "linestate.h"
#include "publisher.h"
#include "resendserver.h"
#include "runchain.h"
#include "runeventrecorder.h"
#include "runfeed.h"
#include "runjournal.h"
#include "runregistry.h"
#include "runsettings.h"
#include "stationserver.h"
#include "stationview.h"
#include "websettings.h"

#include <QObject>
#include <QTimer>

#include <utility>
#include <vector>

class CComReader;

// One instrument's station: everything that follows a run beyond the main
// dialog's own flows. It owns the run's feed and every follower of it (the
// journal, the alarms, the run's events, the publisher, the web page's view
// and server, the operator's marks, the bell and the desktop notice) and wires
// them once, here. The dialog tells it when a run starts, saves and ends, and
// shows what its signals say.
class Station : public QObject
{
    Q_OBJECT

public:
    // A run's start, as the dialog's Start flow has made it.
    struct RunStart
    {
        QString folder;      // absolute
        QString comment;
        JournalHeader next;  // the first save's file and reference time
        AlarmLimits limits;
        RunLineSettings line;
    };
    struct Mark
    {
        qint64 utcMs = 0;
        QString text;
    };

    // The journals of its runs, and its outbox, live in `dataFolder`. `name`
    // names a second instrument on this computer (empty: the first).
    Station(CComReader &reader, const QString &dataFolder, const QString &name = QString(), QObject *parent = nullptr);
    ~Station() override;

    QString Name() const { return m_strName; }
    QString JournalFolder() const { return m_journal.Folder(); }

    // Settings: the alarms' limits apply at once, also to a run going on;
    // publishing and the page start, change or stop at once.
    void SetAlarmLimits(const AlarmLimits &limits);
    void SetPublishing(const PublishSettings &settings);
    void SetPage(const WebSettings &settings);
    // The chart's range ("От", "До"), which the page's chart uses too.
    void SetChartRange(int lowest, int highest);
    // The saving timer, whose remaining time the state line gives.
    void SetSavingTimer(const QTimer *timer) { m_pSavingTimer = timer; }

    // The store was just cleared for a run that may start: the feed numbers
    // its readings from 0 again.
    void Prepare();
    void BeginRun(const RunStart &start);
    // Hands on what reached the store: before anything may drop readings
    // from it, and after the reader's last hand-over.
    void Tick();
    // A save wrote every reading the store holds into `file`, or failed; the
    // next save goes by `next`. Called with the store's lock held, as the
    // journal counts what the store holds.
    void Saved(const QString &file, const JournalHeader &next);
    void SaveFailed(const QString &file, const JournalHeader &next);
    // The run ended, its last save made (or failed). With `lastSaveFailed`
    // the journal keeps the rest for the next start; returns what the
    // operator must be told then (empty otherwise).
    QString EndRun(bool lastSaveFailed);
    // Before the program ends: waits a bounded time for the broker to take
    // what the outbox holds (see Publisher::Finish); the readings left.
    qint64 Finish(int timeoutMs, const std::function<bool(qint64 pending)> &keepWaiting = {});

    // The lines of a folder's chain entered outside a run (by the recovery of
    // an interrupted one) go to the lab's witness: all of them, which it
    // takes once each.
    void PublishChainOf(const QString &folder);

    bool IsRunning() const { return m_bRunning; }
    // A mark made at `utcMs` with the operator's text.
    void AddMark(qint64 utcMs, const QString &text);
    // The operator has seen the alarms shown, for the reason given (may be empty).
    void Acknowledge(const QString &reason = QString());

    // What the dialog shows.
    QString AlarmText() const;
    bool AnyUnacknowledged() const { return m_alarms.AnyUnacknowledged(); }
    QString StateText() const { return m_strState; }
    LineStatus CurrentLineStatus() const { return m_lineStatus; }
    // What the chart draws over the readings while a run is watched.
    std::vector<double> LimitLines() const;
    const std::vector<Mark> &Marks() const { return m_marks; }
    const AlarmLimits &Limits() const { return m_alarms.Monitor().Limits(); }

    // The followers, for tests and figures that look inside.
    AlarmBell &Bell() { return m_bell; }
    AlarmWatch &Alarms() { return m_alarms; }
    RunFeed &Feed() { return m_feed; }
    Publisher &GetPublisher() { return m_publisher; }
    const StationServer &PageServer() const { return m_pageServer; }
    const DesktopNotice &Notice() const { return m_notice; }
    RunChain &Chain() { return m_chain; }
    // The settings that shape the run's record now.
    SettingsInForce SettingsNow() const;

signals:
    // The alarm line changed: its text (empty: none shown) and whether an
    // acknowledgement is wanted.
    void AlarmChanged(const QString &text, bool unacknowledged);
    // An alarm was raised: the window asks for attention.
    void AlarmRaised();
    // The state line's text changed.
    void StateChanged(const QString &text);
    // How the line looks to the operator changed (the temperature box's marks).
    void LineStatusChanged(const LineStatus &status);
    // Something the operator must be told in a box (the journal cannot be
    // written). Sent queued: it may come while the store's lock is held.
    void Failure(const QString &text);
    // The run going on, for a view of it: its new readings as
    // (ms since 1970, °C), and that its events changed.
    void LiveReadings(const std::vector<std::pair<qint64, float>> &readings);
    void EventsChanged();

private:
    void OnReadings(const FeedReadings &readings);
    void OnLine(const LineState &line);
    void OnAlarm(const AlarmChange &change, const QString &wording);
    void UpdatePageChart();
    QString NoticeTitle() const;
    void RefreshAlarm();
    void RefreshState();
    // A run's record notes each change of the settings in force.
    void NoteSettings();

    const QString m_strName;
    RunFeed m_feed; // before everything that follows it
    RunJournal m_journal;
    AlarmWatch m_alarms;
    RunEventRecorder m_runEvents;
    RunChain m_chain;
    Publisher m_publisher;
    StationView m_pageView;
    StationServer m_pageServer {m_pageView};
    RunRegistry m_registry;
    ResendServer m_resends {m_publisher, m_registry};
    AlarmBell m_bell;
    DesktopNotice m_notice;

    CComReader &m_reader;
    const QTimer *m_pSavingTimer = nullptr;
    std::optional<qint64> m_runId;  // the run's start, as its run-start event says
    QString m_strRunFolder;
    qint64 m_nSavedTotal = 0;       // the readings of the run in data files, as the feed numbers them
    bool m_bRunning = false;
    bool m_bHadRun = false;
    bool m_bLastSaveFailed = false;
    qint64 m_nRunStartMs = 0;   // line clock
    qint64 m_nRunElapsedMs = 0; // of the last run, once it ended
    int m_nFirstFile = 0;
    int m_nNextFile = 0;
    std::vector<Mark> m_marks; // of the run going on
    int m_nChartLowest = 0;
    int m_nChartHighest = 0;
    PublishSettings m_publishSettings;
    RunLineSettings m_runLine;
    SettingsInForce m_settingsInForce; // as the run's events last said them
    QString m_strPageProblem;
    QString m_strState;
    QString m_strAlarm;
    bool m_bAlarmUnacknowledged = false;
    LineStatus m_lineStatus;
};
