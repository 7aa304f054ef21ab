#pragma once

#include <QString>
#include <QtGlobal>

#include <vector>

class CComReader;
class QTimer;

// What the chart draws over the readings: the alarms' limits as dashed lines,
// the alarm shown, and the operator's marks of the run.
struct ChartNotes
{
    struct Mark
    {
        qint64 utcMs; // when it was made
        QString text;
    };
    std::vector<double> limits; // °C
    QString alarm;              // empty: none shown
    std::vector<Mark> marks;
};

// What the chart reads from the main dialog that owns it.
class ChartOwner
{
public:
    virtual ~ChartOwner() = default;

    // The chart range ("От" and "До"), read afresh at every paint.
    virtual int ChartMinT() const = 0;
    virtual int ChartMaxT() const = 0;
    // The store with its lock.
    virtual CComReader &ChartReader() = 0;
    // The display timer: stopped for each paint, armed again after it.
    virtual QTimer &DisplayTimer() = 0;
    // The user closed (hid) the chart.
    virtual void OnChartHidden() = 0;
    // Drawn over the readings at each paint.
    virtual ChartNotes ChartNotesNow() const { return {}; }
};
