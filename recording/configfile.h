#pragma once

#include "thermosettings.h"

#include <QByteArray>
#include <QString>

// The binary copy of the settings, written to "conf.cnfg" and never read
// back: baud rate, port, saving interval, the folder path's length L and its
// bytes (8-bit encoding, no terminator), lower and upper chart limit; signed
// 32-bit little-endian integers, 24 + L bytes.
QByteArray ConfigFileBytes(const ThermoSettings &settings);

// Writes "conf.cnfg" into the start-up folder. True only when the file was
// opened, fully written and closed.
bool WriteConfigFile(const QString &startDir, const ThermoSettings &settings);
