// calorivista-export: one CSV (and a picture) from a record folder.
#include "exportjob.h"
#include "folderseries.h"
#include "nativefs.h"
#include "nativename.h"
#include "foldercheck.h"
#include "runreport.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTextStream>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// A bound of --from or --to; a bound that is not a time makes `ok` false.
std::optional<qint64> ParseTime(const QString &text, bool *ok)
{
    if (text.isEmpty())
        return std::nullopt;
    const QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    *ok = *ok && time.isValid();
    return time.toMSecsSinceEpoch(); // without an offset: local time
}

} // namespace

int main(int argc, char *argv[])
{
    // Drawing text needs a platform; no display is needed for it.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    // Qt's own arguments() turn bytes of a name that are not UTF-8 into
    // U+FFFD; a folder so named must still be found.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << FromNativeName(QByteArray(argv[i]));
    QCoreApplication::setApplicationName(QStringLiteral("calorivista-export"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CALORIVISTA_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Joins the numbered data files of a Calorivista record folder into one CSV\n"
        "(time,elapsed_s,temperature_c,file) and, with --png, draws the whole run;\n"
        "with --pdf it writes a one-page report (then the CSV only with -o).\n"
        "Exit status: 0 all read, 1 something damaged was skipped, 2 nothing exported\n"
        "(no readings, a usage error, or the output could not be written)."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FOLDER"), QStringLiteral("The record folder."));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Write the CSV here instead of to standard output."),
                                    QStringLiteral("FILE.csv"));
    const QCommandLineOption png(QStringLiteral("png"), QStringLiteral("Also draw the whole run into this picture."),
                                 QStringLiteral("FILE.png"));
    const QCommandLineOption size(QStringLiteral("size"), QStringLiteral("The picture's size (default 1600x900)."),
                                  QStringLiteral("WxH"), QStringLiteral("1600x900"));
    const QCommandLineOption from(QStringLiteral("from"),
                                  QStringLiteral("Leave out readings before this time (ISO 8601, local unless it "
                                                 "has an offset)."),
                                  QStringLiteral("T"));
    const QCommandLineOption to(QStringLiteral("to"), QStringLiteral("Leave out readings after this time."),
                                QStringLiteral("T"));
    const QCommandLineOption pdf(QStringLiteral("pdf"),
                                 QStringLiteral("Write a one-page A4 report: the folder, the comments, the chart, the "
                                                "statistics and the events."),
                                 QStringLiteral("FILE.pdf"));
    const QCommandLineOption threshold(QStringLiteral("threshold"),
                                       QStringLiteral("With --pdf: also the time above this temperature."),
                                       QStringLiteral("°C"));
    parser.addOptions({output, png, size, from, to, pdf, threshold});
    parser.process(arguments);

    QTextStream err(stderr);
    const QStringList folders = parser.positionalArguments();
    if (folders.size() != 1) {
        err << "calorivista-export: give one record folder (see --help)\n";
        return 2;
    }
    ExportRequest request;
    request.folder = folders.first();
    request.pngPath = parser.value(png);
    bool ok = true;
    const QStringList wh = parser.value(size).split(QLatin1Char('x'));
    request.pngSize = QSize(wh.value(0).toInt(), wh.value(1).toInt());
    if (request.pngSize.width() < 200 || request.pngSize.height() < 150 || request.pngSize.width() > 20000
        || request.pngSize.height() > 20000) {
        err << "calorivista-export: --size wants WxH, from 200x150 to 20000x20000\n";
        return 2;
    }
    request.fromMs = ParseTime(parser.value(from), &ok);
    request.toMs = ParseTime(parser.value(to), &ok);
    if (parser.isSet(from) && parser.value(from).isEmpty())
        ok = false;
    if (parser.isSet(to) && parser.value(to).isEmpty())
        ok = false;
    if (!ok) {
        err << "calorivista-export: --from and --to want ISO 8601 times, such as 2026-12-09T14:30:00\n";
        return 2;
    }

    std::optional<double> above;
    if (parser.isSet(threshold)) {
        bool number = false;
        above = QString(parser.value(threshold)).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&number);
        if (!number) {
            err << "calorivista-export: --threshold wants a temperature, such as 1200 or 1200,5\n";
            return 2;
        }
    }
    // The report: 0 written, 1 written with something damaged skipped, 2 not written.
    const auto report = [&]() -> int {
        FolderSeries run(request.folder);
        QString error;
        if (!run.ReadNew(&error)) {
            err << "calorivista-export: " << error << '\n';
            return 2;
        }
        run.ReadEvents();
        if (run.Series().IsEmpty()) {
            err << "calorivista-export: no readings to report\n";
            return 2;
        }
        RunReportContent content;
        content.run = &run;
        const auto [first, last] = run.WholeSpan();
        content.fromMs = std::max(first, request.fromMs.value_or(first));
        content.toMs = std::min(last, request.toMs.value_or(last));
        content.statistics = FolderStatistics(run, content.fromMs, content.toMs, above);
        content.check = CheckFolder(request.folder);
        if (!WriteRunReport(parser.value(pdf), content, &error)) {
            err << "calorivista-export: " << parser.value(pdf) << ": " << error << '\n';
            return 2;
        }
        err << content.statistics.readings << " readings reported from " << run.FilesRead() << " data files\n";
        return run.Problems().isEmpty() ? 0 : 1;
    };
    if (parser.isSet(pdf) && !parser.isSet(output) && !parser.isSet(png))
        return report(); // the report alone

    QFile csv;
    const bool toFile = parser.isSet(output);
    if (toFile) {
        if (!OpenNamedFile(csv, parser.value(output), QIODevice::WriteOnly | QIODevice::Truncate)) {
            err << "calorivista-export: " << parser.value(output) << ": " << QString::fromLocal8Bit(std::strerror(errno))
                << '\n';
            return 2;
        }
    } else if (!csv.open(stdout, QIODevice::WriteOnly)) {
        err << "calorivista-export: cannot write to standard output\n";
        return 2;
    }
    request.csv = &csv;

    // A progress line for folders of many files, where an export takes a while.
    int shownPercent = -1;
    const auto progress = [&](int done, int total) {
        if (total < 100)
            return true;
        const int percent = static_cast<int>(qint64(done) * 100 / total);
        if (percent != shownPercent) {
            shownPercent = percent;
            err << "\rexporting: " << percent << " % (" << done << " of " << total << " files read)" << Qt::flush;
            if (done == total)
                err << '\n';
        }
        return true;
    };
    const ExportResult result = ExportRecordFolder(request, progress);
    csv.close(); // closing writes what is buffered: its failure counts too
    const bool csvWritten = csv.error() == QFileDevice::NoError;

    if (!result.comment.isEmpty())
        err << "comment: " << result.comment.trimmed() << '\n';
    for (const QString &other : result.otherFiles)
        err << "skipped " << QDir::toNativeSeparators(QDir(request.folder).filePath(other)) << ": not a data file\n";
    for (const ExportProblem &problem : result.problems) {
        err << QDir::toNativeSeparators(QDir(request.folder).filePath(problem.file));
        if (problem.line > 0)
            err << ", line " << problem.line;
        err << ": " << problem.what << '\n';
    }
    QString failure = result.error;
    if (failure.isEmpty() && !csvWritten)
        failure = QStringLiteral("the CSV could not be written: ") + csv.errorString();
    if (failure.isEmpty() && result.rows == 0)
        failure = QStringLiteral("no readings to export");
    if (!failure.isEmpty()) {
        if (toFile && IsRegularFile(parser.value(output)))
            RemoveFile(parser.value(output)); // half an export is no export (a device such as /dev/full stays)
        err << "calorivista-export: " << failure << '\n';
        return 2;
    }
    err << result.rows << " readings from " << result.dataFiles << " data files\n";
    if (parser.isSet(pdf)) {
        const int reported = report();
        if (reported == 2)
            return 2;
    }
    return result.Skipped() ? 1 : 0;
}
