// The exporter's reading of data files, its CSV and its picture on any bytes
// a record folder may hold. A NUL byte (which no data file holds) starts the
// next file, so that one input can be several files in a row.
#include "csvwriter.h"
#include "localtimeline.h"
#include "recordfolder.h"
#include "runpicture.h"

#include <QBuffer>
#include <QGuiApplication>

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The picture's text needs fonts; the clock change needs a zone that has one.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("TZ", "Europe/Berlin");
    static int argc = 1;
    static char name[] = "fuzz_datafile";
    static char *argv[] = {name, nullptr};
    static QGuiApplication application(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    RecordFolder folder(QStringLiteral("fuzz"));
    LocalTimeLine timeLine;
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    CsvWriter csv(out, timeLine);
    csv.Header();
    RunPicture picture(QSize(200, 150));
    std::vector<std::pair<qint64, double>> readings;
    const QList<QByteArray> files = bytes.split('\0');
    for (qsizetype i = 0; i < files.size() && i < 10000; ++i) {
        folder.ReadBytes(QString::asprintf("%04d", static_cast<int>(i)), files[i], timeLine,
                         [&](const FolderReading &reading) {
                             csv.Row(reading);
                             picture.Measure(reading.utcMs, reading.celsius);
                             readings.emplace_back(reading.utcMs, reading.celsius);
                         });
    }
    if (!csv.Finish() || csv.Rows() != static_cast<qint64>(readings.size()))
        std::abort();
    if (!picture.IsEmpty()) {
        picture.StartDrawing();
        for (const auto &[utcMs, celsius] : readings)
            picture.Draw(utcMs, celsius);
        LocalTimeLine drawLine;
        if (picture.Finish(drawLine).isNull())
            std::abort();
    }
    return 0;
}
