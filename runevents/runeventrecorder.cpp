#include "runeventrecorder.h"

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

RunEventRecorder::RunEventRecorder(QObject *parent)
    : QObject(parent)
{
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
    Write(Now(), QStringLiteral("run-start"), QStringLiteral("%1 %2").arg(firstFile, 4, 10, QLatin1Char('0')).arg(text));
}

void RunEventRecorder::End()
{
    if (!m_bRunning)
        return;
    Write(Now(), QStringLiteral("run-stop"), QString());
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
    Write(Now(), m_bLineLost ? QStringLiteral("line-lost") : QStringLiteral("line-back"), LossText(status));
}

void RunEventRecorder::Alarm(const AlarmChange &change, const QString &wording, std::optional<double> temperature)
{
    if (!m_bRunning)
        return;
    switch (change.type) {
    case AlarmChange::Type::Raised:
        Write(change.atMs, AlarmEventName(change.kind), temperature, wording);
        break;
    case AlarmChange::Type::Cleared:
        Write(change.atMs, QStringLiteral("alarm-clear"), temperature, wording);
        break;
    case AlarmChange::Type::Acknowledged:
        Write(change.atMs, QStringLiteral("alarm-ack"), temperature, wording);
        break;
    }
}

void RunEventRecorder::SaveFailed(const QString &file)
{
    Write(Now(), QStringLiteral("save-failed"), file);
}

void RunEventRecorder::Mark(qint64 utcMs, const QString &text)
{
    Write(utcMs, QStringLiteral("mark"), text);
}

void RunEventRecorder::Write(qint64 utcMs, const QString &event, const QString &text)
{
    Write(utcMs, event, m_newest, text);
}

void RunEventRecorder::Write(qint64 utcMs, const QString &event, std::optional<double> temperature, const QString &text)
{
    if (!m_bRunning)
        return;
    if (!m_log.Append(RunEvent {utcMs, event, temperature, text}) && !m_bFailureTold) {
        m_bFailureTold = true;
        emit Failing(m_log.Path());
    }
}
