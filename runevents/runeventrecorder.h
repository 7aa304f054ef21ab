#pragma once

#include "alarmmonitor.h"
#include "eventlog.h"
#include "runfeed.h"

#include <QObject>

// The run's events: what happens during a run becomes an event posted to the
// run's feed (its start with the comment and the first data file's number,
// its stop, the alarms, the line's loss, no whole frame for 3 s or no device,
// and return, failed saves and the operator's marks, each with the newest
// reading and the operating system's user; the settings in force at the start
// and each change of them), and every event the feed hands on is written into
// the record folder's "events.csv".
class RunEventRecorder : public QObject
{
    Q_OBJECT

public:
    explicit RunEventRecorder(RunFeed &feed, QObject *parent = nullptr);

    void Begin(const QString &folder, const QString &comment, int firstFile);
    void End();
    QString Path() const { return m_log.Path(); }

    void TakeReadings(const FeedReadings &readings);
    void TakeLine(const LineState &line);
    void Alarm(const AlarmChange &change, const QString &wording, std::optional<double> temperature);
    void SaveFailed(const QString &file);
    // The settings in force, just after the start, and a change of them
    // during the run (see SettingsInForce).
    void Settings(const QString &text);
    void SettingsChanged(const QString &changes);
    // The reason the operator gave for the next acknowledgement (empty: none).
    void SetAcknowledgementReason(const QString &reason) { m_strAckReason = reason; }
    // A mark made at `utcMs` with the operator's text (may be empty).
    void Mark(qint64 utcMs, const QString &text);
    // An event from the feed into the file.
    void Write(const RunEvent &event);

private:
    void Post(qint64 utcMs, const QString &event, const QString &text);
    void Post(qint64 utcMs, const QString &event, std::optional<double> temperature, const QString &text);

    RunFeed &m_feed;
    EventLog m_log;
    bool m_bRunning = false;
    bool m_bLineLost = false;
    bool m_bFailureTold = false;
    std::optional<double> m_newest;
    QString m_strAckReason;
    const QString m_strUser;
};
