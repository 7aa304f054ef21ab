#include "overviewserver.h"

#include "runlist.h"

#include <QDateTime>

OverviewServer::OverviewServer(const StationBoard &board, QObject *parent)
    : QObject(parent)
    , m_board(board)
    , m_server([this](const QString &path, const QUrlQuery &query) { return Reply(path, query); },
               [this](qint64 &sentChange) { return m_board.Frame(sentChange, QDateTime::currentMSecsSinceEpoch()); },
               kPushMs)
{
}

std::optional<WebReply> OverviewServer::Reply(const QString &path, const QUrlQuery &query)
{
    if (path == QLatin1String("/")) {
        return WebReply {TokenWebServer::PageWithScript(QStringLiteral(":/overview/index.html"), QStringLiteral(":/overview/overview.js"),
                                                        "<script src=\"overview.js\"></script>"),
                         "text/html; charset=utf-8"};
    }
    if (path == QLatin1String("/api/stations")) {
        qint64 everything = -1;
        return WebReply {m_board.Frame(everything, QDateTime::currentMSecsSinceEpoch()), "application/json"};
    }
    if (!m_catalog)
        return std::nullopt;
    if (path == QLatin1String("/api/runs")) {
        // Any viewer may ask as often as it likes: the archive is asked at most every few seconds.
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        if (m_nRunsAtMs < 0 || now - m_nRunsAtMs >= kRunsKeptMs || now < m_nRunsAtMs) {
            QString error;
            m_runs = runlist::RunsJson(m_catalog->Runs(runlist::kRunsPerStation, &error));
            m_nRunsAtMs = now;
        }
        return WebReply {m_runs, "application/json"};
    }
    if (path == QLatin1String("/api/run.csv")) {
        bool number = false;
        const qint64 run = query.queryItemValue(QStringLiteral("run")).toLongLong(&number);
        const QString station = query.queryItemValue(QStringLiteral("station"), QUrl::FullyDecoded);
        if (!number || station.isEmpty())
            return std::nullopt;
        return runlist::RunCsv(*m_catalog, station, run);
    }
    return std::nullopt;
}
