#include "stationserver.h"

#include <QDateTime>

StationServer::StationServer(const StationView &view, QObject *parent)
    : QObject(parent)
    , m_view(view)
    , m_server([this](const QString &path, const QUrlQuery &) { return Reply(path); },
               [this](qint64 &sentTenth) { return Frame(sentTenth); }, kPushMs)
{
}

bool StationServer::Configure(const WebSettings &settings, QString *error)
{
    if (settings == m_settings && (IsListening() || !settings.IsOn()))
        return true;
    m_server.Close();
    m_settings = settings;
    if (!settings.IsOn())
        return true;
    return m_server.Listen(settings.bind, settings.port, settings.token, error);
}

std::optional<WebReply> StationServer::Reply(const QString &path) const
{
    if (path == QLatin1String("/")) {
        return WebReply {TokenWebServer::PageWithScript(QStringLiteral(":/webpage/index.html"), QStringLiteral(":/webpage/page.js"),
                                                        "<script src=\"page.js\"></script>"),
                         "text/html; charset=utf-8"};
    }
    if (path == QLatin1String("/api/state"))
        return WebReply {m_view.StateJson(), "application/json"};
    if (path == QLatin1String("/api/history"))
        return WebReply {m_view.PageJson(-1, QDateTime::currentMSecsSinceEpoch()), "application/json"};
    return std::nullopt;
}

QByteArray StationServer::Frame(qint64 &sentChange) const
{
    QByteArray frame = m_view.PageJson(sentChange, QDateTime::currentMSecsSinceEpoch());
    sentChange = m_view.Change();
    return frame;
}
