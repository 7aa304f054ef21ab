#pragma once

#include <QString>

// The persistent settings of the program. The values here are the ones the
// program holds before they are loaded; the store's defaults are in
// settingsstore.cpp.
struct ThermoSettings
{
    int nBaudRate = 9600;       // bits per second
    int nPort = 1;              // 1 = COM1, 2 = COM2
    int nSaveInterval = 600;    // seconds between two saves
    QString strFolder;          // record folder, after the base-path rule
    int nMinT = 0;              // chart's lower limit, °C
    int nMaxT = 0;              // chart's upper limit, °C
    // The devices that COM1 and COM2 stand for where there are no COM ports.
    QString strPortDevice1 = QStringLiteral("/dev/ttyS0");
    QString strPortDevice2 = QStringLiteral("/dev/ttyS1");
};
