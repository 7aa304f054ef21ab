#include "runstatetext.h"

namespace {

QString Clock(qint64 ms, bool hoursAlways)
{
    const qint64 seconds = std::max<qint64>(0, ms) / 1000;
    if (hoursAlways || seconds >= 3600)
        return QString::asprintf("%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
    return QString::asprintf("%lld:%02lld", seconds / 60, seconds % 60);
}

} // namespace

QString RunStateText(const RunStateSummary &state)
{
    const QString files = QStringLiteral("файлов %1").arg(state.files);
    if (!state.running)
        return QStringLiteral("Последний сеанс: %1 · %2").arg(Clock(state.elapsedMs, true), files);
    // A failed save leads: a narrow line still shows it.
    QString text = state.lastSaveFailed ? QStringLiteral("Сохранение не удалось · запись %1 · %2")
                                        : QStringLiteral("Запись %1 · %2");
    text = text.arg(Clock(state.elapsedMs, true), files);
    if (state.nextSaveMs >= 0)
        text += QStringLiteral(" · сохранение через %1").arg(Clock(state.nextSaveMs + 999, false));
    return text;
}
