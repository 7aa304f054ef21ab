#pragma once

#include <QString>
#include <QStringList>

class MessageSeam;

// Which instrument this start of the program is for, from its command line:
//   (nothing)         the computer's first instrument, with the usual settings and files;
//   --station NAME    another instrument, with its own settings, journals, outbox and page;
//   --ask-station     the same, the name asked for (the desktop entry's "Другой прибор…").
// A name is letters, digits, '-' and '_'. Anything else on the command line
// is refused: the reason goes to standard error and the program ends with 2.
struct StationChoice
{
    bool run = true;   // false: end at once with `exitCode`
    int exitCode = 0;
    QString name;      // empty: the first instrument
};

StationChoice ChooseStation(const QStringList &arguments, MessageSeam &messages);

// The names of the other instruments whose settings are on this computer.
QStringList KnownStations();
