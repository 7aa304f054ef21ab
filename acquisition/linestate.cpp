#include "linestate.h"

#include <chrono>

qint64 LineClockMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

LineStatus LineStatus::Of(const LineState &state, qint64 nowMs)
{
    LineStatus status;
    status.nonFrameBytes = state.nonFrameBytes;
    status.hasRun = state.runStartMs != 0;
    if (!state.reading)
        return status;
    const qint64 since = state.lastFrameMs >= 0 ? state.lastFrameMs : state.runStartMs;
    const qint64 silentMs = std::max<qint64>(0, nowMs - since);
    status.silentSeconds = silentMs / 1000;
    if (state.deviceGone)
        status.kind = Kind::Gone;
    else if (silentMs >= kSilentAfterMs)
        status.kind = Kind::Silent;
    return status;
}

QString LineStatus::Mark() const
{
    switch (kind) {
    case Kind::Gone:
        return QStringLiteral("нет связи с прибором");
    case Kind::Silent:
        return QStringLiteral("нет данных %1 с").arg(silentSeconds);
    case Kind::Live:
        break;
    }
    return QString();
}

QString LineStatus::Details() const
{
    if (!hasRun)
        return QString();
    QString text = Mark();
    if (!text.isEmpty())
        text += QLatin1Char('\n');
    return text + QStringLiteral("Байтов вне кадров за сеанс: %1").arg(nonFrameBytes);
}
