#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include <optional>
#include <string_view>

class LocalTimeLine;

// The rows of a run's CSV in the collector's archive: the exporter's columns
// (its time format, the file column empty) and the reading's index in its
// run: "time,elapsed_s,temperature_c,file,seq". The temperature is written
// as the station published it.
namespace archiverows {

inline constexpr char kHeader[] = "time,elapsed_s,temperature_c,file,seq\r\n";
// The header of archives written before the seq column.
inline constexpr char kOlderHeader[] = "time,elapsed_s,temperature_c,file\r\n";

// A row; without a seq, a row of the exporter's own four columns (kOlderHeader).
void AppendRow(QByteArray &out, LocalTimeLine &timeLine, qint64 utcMs, qint64 firstMs, std::string_view temperature,
               std::optional<qint64> seq);

// What a row says: its instant, its seq (none in an older row) and its temperature's text.
struct Row
{
    qint64 utcMs = 0;
    std::optional<qint64> seq;
    QByteArrayView temperature;
};
// A row without its line end; none for the header or a damaged line.
std::optional<Row> ParseRow(QByteArrayView line);

} // namespace archiverows
