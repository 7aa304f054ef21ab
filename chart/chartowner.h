#pragma once

class CComReader;
class QTimer;

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
};
