#include "exportjob.h"

#include "csvwriter.h"
#include "eventsfile.h"
#include "localtimeline.h"
#include "nativefs.h"
#include "runpicture.h"

#include <QDir>
#include <QFile>
#include <QImageWriter>

#include <cerrno>
#include <cstring>

ExportResult ExportRecordFolder(const ExportRequest &request, const std::function<bool(int, int)> &progress)
{
    ExportResult result;
    RecordFolder folder(request.folder);
    if (!folder.List(&result.error))
        return result;
    result.dataFiles = static_cast<int>(folder.DataFiles().size());
    result.otherFiles = folder.OtherFiles();
    result.comment = folder.Comment();

    const bool picture = !request.pngPath.isEmpty();
    const int passes = picture ? 2 : 1;
    const auto passProgress = [&](int pass) {
        return [&, pass](int done, int total) { return !progress || progress(pass * total + done, passes * total); };
    };
    const auto wanted = [&](qint64 utcMs) {
        return (!request.fromMs || utcMs >= *request.fromMs) && (!request.toMs || utcMs <= *request.toMs);
    };

    LocalTimeLine timeLine;
    QFile nowhere; // never written: the CSV's device when none is asked for
    CsvWriter csv(request.csv ? *request.csv : nowhere, timeLine);
    RunPicture run(request.pngSize);
    if (request.csv)
        csv.Header();
    bool written = true;
    qint64 rows = 0;
    const bool finished = folder.Read(
        timeLine,
        [&](const FolderReading &reading) {
            if (!wanted(reading.utcMs))
                return;
            ++rows;
            if (request.csv)
                written &= csv.Row(reading);
            if (picture)
                run.Measure(reading.utcMs, reading.celsius);
        },
        passProgress(0));
    if (request.csv) {
        written &= csv.Finish();
        // A full disk shows only when the buffered bytes are pushed out.
        if (auto *file = qobject_cast<QFileDevice *>(request.csv))
            written &= file->flush() && file->error() == QFileDevice::NoError;
    }
    result.rows = rows;
    result.problems = folder.Problems();
    if (!finished) {
        result.cancelled = true;
        return result;
    }
    if (!written) {
        result.error = QStringLiteral("the CSV could not be written: ") + request.csv->errorString();
        return result;
    }
    if (!picture)
        return result;
    if (run.IsEmpty()) {
        result.error = QStringLiteral("no readings to draw");
        return result;
    }

    // The second pass draws; its problems were noted by the first.
    run.StartDrawing();
    RecordFolder again(request.folder);
    again.List(&result.error);
    LocalTimeLine drawLine;
    if (!again.Read(
            drawLine,
            [&](const FolderReading &reading) {
                if (wanted(reading.utcMs))
                    run.Draw(reading.utcMs, reading.celsius);
            },
            passProgress(1))) {
        result.cancelled = true;
        return result;
    }
    // The folder and its comment over the picture.
    QString title = QDir::toNativeSeparators(QDir(request.folder).absolutePath());
    const QString comment = result.comment.simplified();
    if (!comment.isEmpty())
        title += QStringLiteral(" — ") + comment;
    run.SetTitle(title);
    // The operator's marks and the alarms raised, from the run's events, and the limits in force.
    const QList<FolderEvent> events = ReadFolderEvents(request.folder);
    run.SetLimits(LimitHistory(events));
    for (const FolderEvent &event : events) {
        if (event.event == QStringLiteral("mark"))
            run.Note(event.utcMs, event.text, false);
        else if (event.event.startsWith(QStringLiteral("alarm-")) && event.event != QStringLiteral("alarm-clear")
                 && event.event != QStringLiteral("alarm-ack"))
            run.Note(event.utcMs, event.text, true);
    }
    QFile png;
    if (!OpenNamedFile(png, request.pngPath, QIODevice::WriteOnly | QIODevice::Truncate)) {
        result.error = QStringLiteral("%1: %2").arg(request.pngPath, QString::fromLocal8Bit(std::strerror(errno)));
        return result;
    }
    QImageWriter writer(&png, "png");
    const bool drawn = writer.write(run.Finish(drawLine));
    png.close(); // closing writes what is buffered: its failure counts too
    if (!drawn || png.error() != QFileDevice::NoError) {
        result.error = QStringLiteral("%1: %2").arg(request.pngPath, drawn ? png.errorString() : writer.errorString());
        if (IsRegularFile(request.pngPath))
            RemoveFile(request.pngPath); // half a picture is no picture
    }
    return result;
}
