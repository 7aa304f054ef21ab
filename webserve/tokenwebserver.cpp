#include "tokenwebserver.h"

#include <QAbstractHttpServer>
#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QWebSocket>

// A router of its own, because only here can a WebSocket's upgrade without
// the token be refused before it happens (Qt 6.4's server offers no hook for that).
class TokenHttpServer : public QAbstractHttpServer
{
public:
    explicit TokenHttpServer(TokenWebServer &owner) : m_owner(owner) {}

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
        if (const std::optional<WebReply> reply = m_owner.m_pages(path))
            responder.write(reply->body, reply->contentType);
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
    TokenWebServer &m_owner;
};

TokenWebServer::TokenWebServer(Pages pages, Frames frames, int pushMs, QObject *parent)
    : QObject(parent)
    , m_pages(std::move(pages))
    , m_frames(std::move(frames))
{
    m_push.setInterval(pushMs);
    connect(&m_push, &QTimer::timeout, this, &TokenWebServer::Push);
}

TokenWebServer::~TokenWebServer() = default;

bool TokenWebServer::Authorised(const QHttpServerRequest &request) const
{
    // Every character compared, so the time taken tells nothing of the token.
    const QByteArray given = request.query().queryItemValue(QStringLiteral("token")).toUtf8();
    const QByteArray token = m_strToken.toUtf8();
    if (token.isEmpty() || given.size() != token.size())
        return false;
    char difference = 0;
    for (qsizetype i = 0; i < given.size(); ++i)
        difference |= char(given[i] ^ token[i]);
    return difference == 0;
}

bool TokenWebServer::Listen(const QString &bind, int port, const QString &token, QString *error)
{
    Close();
    if (token.isEmpty()) {
        *error = QStringLiteral("нет ключа доступа");
        return false;
    }
    const QHostAddress address = bind.trimmed().isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(bind.trimmed());
    if (address.isNull()) {
        *error = QStringLiteral("адрес %1 не является IP-адресом").arg(bind);
        return false;
    }
    auto http = std::make_unique<TokenHttpServer>(*this);
    connect(http.get(), &QAbstractHttpServer::newWebSocketConnection, this, &TokenWebServer::TakeWebSockets);
    const quint16 taken = http->listen(address, quint16(port));
    if (taken == 0) {
        *error = QStringLiteral("порт %1 на адресе %2 занят или недоступен").arg(port).arg(address.toString());
        return false;
    }
    m_strToken = token;
    m_nPort = taken;
    m_http = std::move(http);
    m_push.start();
    return true;
}

void TokenWebServer::Close()
{
    m_push.stop();
    m_viewers.clear();
    m_http.reset();
    m_nPort = 0;
    m_strToken.clear();
}

void TokenWebServer::TakeWebSockets()
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

void TokenWebServer::Push()
{
    for (Viewer &viewer : m_viewers)
        viewer.socket->sendTextMessage(QString::fromUtf8(m_frames(viewer.mark)));
}

QByteArray TokenWebServer::PageWithScript(const QString &pageResource, const QString &scriptResource,
                                          const QByteArray &scriptTag)
{
    const auto read = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QByteArray page = read(pageResource);
    page.replace(scriptTag, "<script>\n" + read(scriptResource) + "</script>");
    return page;
}
