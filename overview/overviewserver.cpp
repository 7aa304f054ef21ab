#include "overviewserver.h"

#include <QDateTime>

OverviewServer::OverviewServer(const StationBoard &board, QObject *parent)
    : QObject(parent)
    , m_board(board)
    , m_server([this](const QString &path) { return Reply(path); },
               [this](qint64 &sentChange) { return m_board.Frame(sentChange, QDateTime::currentMSecsSinceEpoch()); },
               kPushMs)
{
}

std::optional<WebReply> OverviewServer::Reply(const QString &path) const
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
    return std::nullopt;
}
