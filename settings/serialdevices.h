#pragma once

#include <QList>
#include <QString>

// A serial device that the system offers: the path to open and what it is.
struct SerialDeviceChoice
{
    QString path;
    QString description; // the adapter's maker, product and serial number, where known
};

// The serial ports the system lists now. A port with a stable name under
// `byIdFolder` (/dev/serial/by-id, made by udev for USB adapters) is offered
// by that name first: it is the same after the adapter is pulled and plugged
// in again, which /dev/ttyUSB0 need not be. Then every port by its own path.
QList<SerialDeviceChoice> ListSerialDevices(const QString &byIdFolder = QStringLiteral("/dev/serial/by-id"));
