#pragma once

#include "alarmmonitor.h"
#include "eventlog.h"
#include "runfeed.h"

#include <QObject>

// Writes what happens during a run into its record folder's "events.csv":
// its start (with the comment and the first data file's number), its stop,
// the alarms, the line's loss (no whole frame for 3 s, or no device) and
// return, failed saves and the operator's marks, each with the newest reading.
class RunEventRecorder : public QObject
{
    Q_OBJECT

public:
    explicit RunEventRecorder(QObject *parent = nullptr);

    void Begin(const QString &folder, const QString &comment, int firstFile);
    void End();
    QString Path() const { return m_log.Path(); }

    void TakeReadings(const FeedReadings &readings);
    void TakeLine(const LineState &line);
    void Alarm(const AlarmChange &change, const QString &wording, std::optional<double> temperature);
    void SaveFailed(const QString &file);
    // A mark made at `utcMs` with the operator's text (may be empty).
    void Mark(qint64 utcMs, const QString &text);

signals:
    // An event could not be written: once a run.
    void Failing(const QString &path);

private:
    void Write(qint64 utcMs, const QString &event, const QString &text);
    void Write(qint64 utcMs, const QString &event, std::optional<double> temperature, const QString &text);

    EventLog m_log;
    bool m_bRunning = false;
    bool m_bLineLost = false;
    bool m_bFailureTold = false;
    std::optional<double> m_newest;
};
