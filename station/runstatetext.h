#pragma once

#include <QString>
#include <QtGlobal>

// The run's state as the line under the controls says it.
struct RunStateSummary
{
    bool running = false;
    qint64 elapsedMs = 0;     // since the run's start
    int files = 0;            // data files written in this run
    qint64 nextSaveMs = -1;   // until the next save; -1: not known
    bool lastSaveFailed = false;
};

// "Запись 01:23:45 · файлов 17 · сохранение через 2:10" during a run (led by
// "Сохранение не удалось ·" after a failed save); "Последний сеанс: 01:23:45 ·
// файлов 17" for a run that has ended.
QString RunStateText(const RunStateSummary &state);
