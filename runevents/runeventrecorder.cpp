#include "runeventrecorder.h"

#include "osuser.h"

#include <QDateTime>

namespace {

qint64 Now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// "нет связи с прибором", or "нет данных" without the seconds that keep counting.
QString LossText(const LineStatus &status)
{
    return status.kind == LineStatus::Kind::Gone ? status.Mark() : (status.IsLive() ? QString() : QStringLiteral("нет данных"));
}

} // namespace

RunEventRecorder::RunEventRecorder(RunFeed &feed, QObject *parent)
    : QObject(parent)
    , m_feed(feed)
    , m_strUser(OsUserName())
{
    connect(&m_feed, &RunFeed::Event, this, &RunEventRecorder::Write);
}

void RunEventRecorder::Begin(const QString &folder, const QString &comment, int firstFile)
{
    m_log.SetFolder(folder);
    m_bRunning = true;
    m_bLineLost = false;
    m_bFailureTold = false;
    m_newest.reset();
    QString text = comment;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    // The first data file's number in four digits, a space, the comment.
    Post(Now(), QStringLiteral("run-start"), QStringLiteral("%1 %2").arg(firstFile, 4, 10, QLatin1Char('0')).arg(text));
}

void RunEventRecorder::End()
{
    if (!m_bRunning)
        return;
    Post(Now(), QStringLiteral("run-stop"), QString());
    m_bRunning = false;
}

void RunEventRecorder::TakeReadings(const FeedReadings &readings)
{
    if (m_bRunning && !readings.readings.empty())
        m_newest = readings.readings.back().temperature;
}

void RunEventRecorder::TakeLine(const LineState &line)
{
    if (!m_bRunning || !line.reading)
        return;
    // Lost as the temperature box marks it: no whole frame for a while, or no device.
    const LineStatus status = LineStatus::Of(line, LineClockMs());
    if (status.IsLive() != m_bLineLost)
        return;
    m_bLineLost = !status.IsLive();
    Post(Now(), m_bLineLost ? QStringLiteral("line-lost") : QStringLiteral("line-back"), LossText(status));
}

void RunEventRecorder::Alarm(const AlarmChange &change, const QString &wording, std::optional<double> temperature)
{
    if (!m_bRunning)
        return;
    switch (change.type) {
    case AlarmChange::Type::Raised:
        Post(change.atMs, AlarmEventName(change.kind), temperature, wording);
        break;
    case AlarmChange::Type::Cleared:
        Post(change.atMs, QStringLiteral("alarm-clear"), temperature, wording);
        break;
    case AlarmChange::Type::Acknowledged:
        Post(change.atMs, QStringLiteral("alarm-ack"), temperature,
             m_strAckReason.isEmpty() ? wording : wording + QStringLiteral(" — ") + m_strAckReason);
        break;
    }
}

void RunEventRecorder::SaveFailed(const QString &file)
{
    Post(Now(), QStringLiteral("save-failed"), file);
}

void RunEventRecorder::Settings(const QString &text)
{
    Post(Now(), QStringLiteral("settings"), text);
}

void RunEventRecorder::SettingsChanged(const QString &changes)
{
    Post(Now(), QStringLiteral("settings-changed"), changes);
}

void RunEventRecorder::Mark(qint64 utcMs, const QString &text)
{
    Post(utcMs, QStringLiteral("mark"), text);
}

void RunEventRecorder::Post(qint64 utcMs, const QString &event, const QString &text)
{
    Post(utcMs, event, m_newest, text);
}

void RunEventRecorder::Post(qint64 utcMs, const QString &event, std::optional<double> temperature, const QString &text)
{
    if (m_bRunning)
        m_feed.Post(RunEvent {utcMs, event, temperature, text, m_strUser});
}

void RunEventRecorder::Write(const RunEvent &event)
{
    if (!m_bRunning)
        return;
    // A folder that takes no events takes no data files either, and the
    // saves' own box says so: here it is only logged, once a run.
    if (!m_log.Append(event) && !m_bFailureTold) {
        m_bFailureTold = true;
        qWarning("The run's events cannot be written to %s", qPrintable(m_log.Path()));
    }
}
