#pragma once

#include "alarmlimits.h"
#include "publishsettings.h"
#include "settingsevents.h"

// The serial line a run reads, as its Start opened it.
struct RunLineSettings
{
    int port = 1;         // "COM<port>"
    QString device;       // what that port stands for here
    int baudRate = 0;
    int saveInterval = 0; // as the settings store keeps it
};

// Every setting that shapes a run's record, by the settings store's key
// names, in one fixed order: the line, the saving interval, the chart's
// range, every alarm key, the station's name and whether it publishes.
SettingsInForce RunSettings(const RunLineSettings &line, int chartLowest, int chartHighest, const AlarmLimits &limits,
                            const PublishSettings &publishing, const QString &station);
