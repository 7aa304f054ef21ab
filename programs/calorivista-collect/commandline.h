#pragma once

#include "collector.h"

#include <QString>
#include <QStringList>

#include <optional>

// What calorivista-collect is told to do, from its command line.
struct CollectCommandLine
{
    CollectorOptions collector;
    QString outFolder;
    QString db;          // libpq's conninfo; empty: no database
    QString dbPassword;  // from --db-password-file
    int keepMonths = 0;
    int httpPort = 0;    // 0: no page
    QString httpBind;
    QString token;
    QString notifyFile;  // the alarm desk's settings; empty: no notifications
    bool help = false;
};

// The command line read, or none with what is wrong with it.
std::optional<CollectCommandLine> ReadCollectCommandLine(const QStringList &arguments, QString *problem);

extern const char kCollectHelp[];
