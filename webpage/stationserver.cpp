#include "stationserver.h"

#include <QDateTime>
#include <QFile>
#include <QAbstractHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QWebSocket>

// Four fixed GET paths and the WebSocket: a router of its own, because only
// here can a WebSocket's upgrade without the token be refused before it
// happens (Qt 6.4's server offers no hook for that).
class PageHttpServer : public QAbstractHttpServer
{
public:
    explicit PageHttpServer(StationServer &owner) : m_owner(owner) {}

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override
    {
        const QString path = request.url().path();
        const bool upgrade = request.value(QByteArrayLiteral("upgrade")).compare("websocket", Qt::CaseInsensitive) == 0;
        if (request.method() != QHttpServerRequest::Method::Get || !m_owner.Authorised(request))
            return false; // missingHandler answers
        if (upgrade)
            return path == QLatin1String("/live"); // the WebSocket server takes it from here
        QHttpServerResponder responder = makeResponder(request, socket);
        if (path == QLatin1String("/"))
            responder.write(Page(), "text/html; charset=utf-8");
        else if (path == QLatin1String("/api/state"))
            responder.write(m_owner.m_view.StateJson(), "application/json");
        else if (path == QLatin1String("/api/history"))
            responder.write(m_owner.m_view.PageJson(-1, QDateTime::currentMSecsSinceEpoch()), "application/json");
        else
            responder.write(QHttpServerResponder::StatusCode::NotFound);
        return true;
    }

    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override
    {
        QHttpServerResponder responder = makeResponder(request, socket);
        if (request.method() != QHttpServerRequest::Method::Get)
            responder.write(QHttpServerResponder::StatusCode::MethodNotAllowed);
        else if (!m_owner.Authorised(request))
            responder.write(QHttpServerResponder::StatusCode::Forbidden);
        else
            responder.write(QHttpServerResponder::StatusCode::NotFound);
    }

private:
    // One document with its script inside: a second request for the script
    // would need the token in its address too.
    static QByteArray Page()
    {
        QByteArray page = Resource(":/webpage/index.html");
        page.replace("<script src=\"page.js\"></script>", "<script>\n" + Resource(":/webpage/page.js") + "</script>");
        return page;
    }

    static QByteArray Resource(const char *path)
    {
        QFile file(QString::fromLatin1(path));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    StationServer &m_owner;
};

StationServer::StationServer(const StationView &view, QObject *parent)
    : QObject(parent)
    , m_view(view)
{
    m_push.setInterval(kPushMs);
    connect(&m_push, &QTimer::timeout, this, &StationServer::Push);
}

StationServer::~StationServer() = default;

bool StationServer::HasToken(const QString &given) const
{
    // Every character compared, so the time taken tells nothing of the token.
    const QByteArray a = given.toUtf8();
    const QByteArray b = m_settings.token.toUtf8();
    if (b.isEmpty() || a.size() != b.size())
        return false;
    char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= char(a[i] ^ b[i]);
    return difference == 0;
}

bool StationServer::Authorised(const QHttpServerRequest &request) const
{
    return HasToken(request.query().queryItemValue(QStringLiteral("token")));
}

bool StationServer::Configure(const WebSettings &settings, QString *error)
{
    if (settings == m_settings && (IsListening() || !settings.IsOn()))
        return true;
    m_push.stop();
    m_viewers.clear();
    m_http.reset();
    m_nPort = 0;
    m_settings = settings;
    if (!settings.IsOn())
        return true;
    auto http = std::make_unique<PageHttpServer>(*this);
    connect(http.get(), &QAbstractHttpServer::newWebSocketConnection, this, &StationServer::TakeWebSockets);
    const QHostAddress address = settings.bind.trimmed().isEmpty() ? QHostAddress(QHostAddress::Any)
                                                                   : QHostAddress(settings.bind.trimmed());
    if (address.isNull()) {
        *error = QStringLiteral("адрес %1 не является IP-адресом").arg(settings.bind);
        return false;
    }
    const quint16 port = http->listen(address, quint16(settings.port));
    if (port == 0) {
        *error = QStringLiteral("порт %1 на адресе %2 занят или недоступен").arg(settings.port).arg(address.toString());
        return false;
    }
    m_nPort = port;
    m_http = std::move(http);
    m_push.start();
    return true;
}

void StationServer::TakeWebSockets()
{
    while (m_http && m_http->hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = m_http->nextPendingWebSocketConnection();
        QWebSocket *raw = socket.get();
        connect(raw, &QWebSocket::disconnected, this, [this, raw] {
            const auto gone = std::find_if(m_viewers.begin(), m_viewers.end(),
                                           [raw](const Viewer &viewer) { return viewer.socket.get() == raw; });
            if (gone != m_viewers.end()) {
                gone->socket.release()->deleteLater();
                m_viewers.erase(gone);
            }
        });
        m_viewers.push_back({std::move(socket), -1});
        Push();
    }
}

void StationServer::Push()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (Viewer &viewer : m_viewers) {
        viewer.socket->sendTextMessage(QString::fromUtf8(m_view.PageJson(viewer.sentTenth, now)));
        viewer.sentTenth = m_view.NewestTenth();
    }
}
