#include "runlist.h"

#include "archiverows.h"
#include "localtimeline.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace runlist {

namespace {

QJsonValue Maybe(const std::optional<qint64> &value)
{
    return value ? QJsonValue(double(*value)) : QJsonValue(QJsonValue::Null);
}

} // namespace

QByteArray RunsJson(const std::vector<RunCatalog::Run> &runs)
{
    QJsonArray list;
    for (const RunCatalog::Run &run : runs) {
        list.append(QJsonObject {{QStringLiteral("station"), run.station},
                                 {QStringLiteral("run"), double(run.run)},
                                 {QStringLiteral("started"), Maybe(run.started)},
                                 {QStringLiteral("stopped"), Maybe(run.stopped)},
                                 {QStringLiteral("comment"), run.comment},
                                 {QStringLiteral("readings"), Maybe(run.readings)},
                                 {QStringLiteral("held"), double(run.held)},
                                 {QStringLiteral("missing"), double(run.missing)},
                                 {QStringLiteral("lost"), double(run.lost)}});
    }
    return QJsonDocument(QJsonObject {{QStringLiteral("runs"), list}}).toJson(QJsonDocument::Compact);
}

std::optional<WebReply> RunCsv(RunCatalog &catalog, const QString &station, qint64 run)
{
    QString error;
    std::shared_ptr<RunCatalog::Cursor> cursor = catalog.OpenReadings(station, run, &error);
    if (!cursor)
        return std::nullopt;
    struct Rows
    {
        std::shared_ptr<RunCatalog::Cursor> cursor;
        LocalTimeLine timeLine;
        qint64 firstMs = -1;
    };
    auto rows = std::make_shared<Rows>();
    rows->cursor = std::move(cursor);
    WebReply reply;
    reply.contentType = "text/csv; charset=utf-8";
    reply.fileName = station.toUtf8() + '-' + QByteArray::number(run) + ".csv";
    reply.body = archiverows::kOlderHeader;
    reply.more = [rows]() -> std::optional<QByteArray> {
        QString error;
        const std::vector<RunCatalog::Reading> readings = rows->cursor->Next(kReadingsPerPiece, &error);
        if (readings.empty())
            return std::nullopt;
        if (rows->firstMs < 0)
            rows->firstMs = readings.front().utcMs;
        QByteArray piece;
        piece.reserve(qsizetype(readings.size()) * 56);
        for (const RunCatalog::Reading &reading : readings)
            archiverows::AppendRow(piece, rows->timeLine, reading.utcMs, rows->firstMs,
                                   std::string_view(reading.temperature.constData(), size_t(reading.temperature.size())), std::nullopt);
        return piece;
    };
    return reply;
}

} // namespace runlist
