#pragma once

#include "folderseries.h"
#include "foldercheck.h"
#include "runstatistics.h"

#include <QString>

#include <vector>

// What a one-page report shows of a record folder.
struct RunReportContent
{
    const FolderSeries *run = nullptr;
    qint64 fromMs = 0;          // the span reported
    qint64 toMs = 0;
    RunStatistics statistics;
    std::vector<double> limits; // today's alarm limits, drawn for a run recorded without its own
    FolderCheck check;          // the folder's files against its chain
};

// The comments of a folder's runs: "dirinfo"'s, then each run start's that differs.
QStringList RunComments(const FolderSeries &run);

// The figures as rows of two texts ("Минимум", "1234.5 °C в 12:03:04"), in
// the order the window and the report show them.
QList<std::pair<QString, QString>> StatisticsRows(const RunStatistics &statistics);

// Writes one A4 page as PDF (Qt's QPdfWriter): the folder, the comments of
// its runs, the span, where, by whom and with what it was recorded and
// whether its files are unchanged (see ReportHeaderRows), the chart with its
// limits' legend, the statistics table, the events of the span and lines for
// the operator's and the checker's signatures. False with the reason when the file cannot be written.
bool WriteRunReport(const QString &pdfPath, const RunReportContent &content, QString *error);
