#include "tokenwebserver.h"

#include "requesthead.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketServer>

#include <algorithm>
#include <cctype>

namespace {

// What a viewer may send: nothing is read from it, but a frame must fit.
constexpr quint64 kMaxViewerMessage = 4096;
constexpr qint64 kViewerReadBuffer = 64 * 1024;
// A request's head is never copied from the socket before it is whole.
const char *const kDeadline = "calorivista-deadline";

QByteArray StatusLine(int status)
{
    switch (status) {
    case 200:
        return QByteArrayLiteral("200 OK");
    case 400:
        return QByteArrayLiteral("400 Bad Request");
    case 403:
        return QByteArrayLiteral("403 Forbidden");
    case 404:
        return QByteArrayLiteral("404 Not Found");
    case 405:
        return QByteArrayLiteral("405 Method Not Allowed");
    case 431:
        return QByteArrayLiteral("431 Request Header Fields Too Large");
    }
    return QByteArray::number(status);
}

// Aborts the socket when the deadline passes, until the timer is stopped.
void ArmDeadline(QTcpSocket *socket, int ms)
{
    auto *deadline = socket->findChild<QTimer *>(QLatin1String(kDeadline), Qt::FindDirectChildrenOnly);
    if (!deadline) {
        deadline = new QTimer(socket);
        deadline->setObjectName(QLatin1String(kDeadline));
        deadline->setSingleShot(true);
        QObject::connect(deadline, &QTimer::timeout, socket, &QTcpSocket::abort);
    }
    deadline->start(ms);
}

void DisarmDeadline(QTcpSocket *socket)
{
    delete socket->findChild<QTimer *>(QLatin1String(kDeadline), Qt::FindDirectChildrenOnly);
}

} // namespace

TokenWebServer::TokenWebServer(Pages pages, Frames frames, int pushMs, QObject *parent)
    : QObject(parent)
    , m_pages(std::move(pages))
    , m_frames(std::move(frames))
{
    m_push.setInterval(pushMs);
    connect(&m_push, &QTimer::timeout, this, &TokenWebServer::Push);
    m_resumeAccepting.setSingleShot(true);
    m_resumeAccepting.setInterval(kAcceptPauseMs);
    connect(&m_resumeAccepting, &QTimer::timeout, this, [this] {
        m_bOutOfDescriptors = false;
        if (m_listener && m_nOpen < kMaxConnections)
            m_listener->resumeAccepting();
    });
}

TokenWebServer::~TokenWebServer()
{
    Close();
}

bool TokenWebServer::Authorised(const QString &given) const
{
    // Every character compared, so the time taken tells nothing of the token.
    const QByteArray offered = given.toUtf8();
    const QByteArray token = m_strToken.toUtf8();
    if (token.isEmpty() || offered.size() != token.size())
        return false;
    char difference = 0;
    for (qsizetype i = 0; i < offered.size(); ++i)
        difference |= char(offered[i] ^ token[i]);
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
    auto listener = std::make_unique<QTcpServer>();
    if (!listener->listen(address, quint16(port))) {
        *error = QStringLiteral("порт %1 на адресе %2 занят или недоступен").arg(port).arg(address.toString());
        return false;
    }
    connect(listener.get(), &QTcpServer::newConnection, this, &TokenWebServer::Accept);
    // Out of descriptors (or another failure to accept): a pause, not a storm of retries.
    connect(listener.get(), &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError) {
        if (!m_listener)
            return;
        m_listener->pauseAccepting();
        if (!m_bAcceptFailureSaid)
            qWarning("The page's server cannot accept connections (%s): it pauses a second each time", qPrintable(m_listener->errorString()));
        m_bAcceptFailureSaid = true;
        m_bOutOfDescriptors = true;
        m_resumeAccepting.start();
    });
    m_webSockets = std::make_unique<QWebSocketServer>(QStringLiteral("Calorivista"), QWebSocketServer::NonSecureMode);
    m_webSockets->setHandshakeTimeout(kHeadTimeoutMs);
    connect(m_webSockets.get(), &QWebSocketServer::newConnection, this, &TokenWebServer::TakeWebSockets);
    m_strToken = token;
    m_bAcceptFailureSaid = false;
    m_nPort = listener->serverPort();
    m_listener = std::move(listener);
    m_push.start();
    return true;
}

void TokenWebServer::Close()
{
    m_push.stop();
    m_resumeAccepting.stop();
    m_viewers.clear();
    m_webSockets.reset();
    m_listener.reset();
    // Requests still being read or answered.
    for (QTcpSocket *socket : findChildren<QTcpSocket *>(Qt::FindDirectChildrenOnly)) {
        socket->disconnect(this);
        socket->abort();
        delete socket;
    }
    m_nOpen = 0;
    m_nPort = 0;
    m_strToken.clear();
}

void TokenWebServer::Accept()
{
    while (m_listener && m_listener->hasPendingConnections() && m_nOpen < kMaxConnections) {
        QTcpSocket *socket = m_listener->nextPendingConnection();
        socket->setParent(this);
        // Qt keeps no more of it than a head may be long.
        socket->setReadBufferSize(kMaxHeadBytes + 1);
        ++m_nOpen;
        connect(socket, &QObject::destroyed, this, &TokenWebServer::Closed);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::errorOccurred, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { ReadHead(socket); });
        ArmDeadline(socket, kHeadTimeoutMs);
        ReadHead(socket);
    }
    // The rest wait in the system's queue until a connection closes.
    if (m_listener && m_nOpen >= kMaxConnections)
        m_listener->pauseAccepting();
}

void TokenWebServer::Closed()
{
    --m_nOpen;
    if (m_listener && m_nOpen < kMaxConnections && !m_bOutOfDescriptors) {
        m_listener->resumeAccepting();
        if (m_listener->hasPendingConnections())
            QMetaObject::invokeMethod(this, &TokenWebServer::Accept, Qt::QueuedConnection);
    }
}

void TokenWebServer::ReadHead(QTcpSocket *socket)
{
    if (socket->bytesAvailable() == 0)
        return;
    // Looked at, not taken: a WebSocket's handshake is read again by its server.
    const QByteArray bytes = socket->peek(kMaxHeadBytes + 1);
    RequestHead head;
    switch (ParseRequestHead(bytes, kMaxHeadBytes, kMaxHeadFields, &head)) {
    case HeadParse::Incomplete:
        return; // the deadline bounds the wait
    case HeadParse::TooLarge:
        Reply(socket, 431);
        return;
    case HeadParse::Malformed:
        Reply(socket, 400);
        return;
    case HeadParse::Complete:
        break;
    }
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    Answer(socket, head);
}

void TokenWebServer::Answer(QTcpSocket *socket, const RequestHead &head)
{
    if (head.method != "GET") {
        Reply(socket, 405);
        return;
    }
    if (!Authorised(head.token)) {
        Reply(socket, 403);
        return;
    }
    if (head.webSocket) {
        if (head.path != QLatin1String("/live")) {
            Reply(socket, 404);
            return;
        }
        // The WebSocket server reads the handshake that is still in the
        // socket and owns the socket from now on.
        DisarmDeadline(socket);
        socket->setReadBufferSize(kViewerReadBuffer);
        socket->setParent(nullptr);
        disconnect(socket, &QTcpSocket::disconnected, socket, nullptr);
        disconnect(socket, &QTcpSocket::errorOccurred, socket, nullptr);
        m_webSockets->handleConnection(socket);
        return;
    }
    socket->read(head.length);
    std::optional<WebReply> reply = m_pages(head.path, head.query);
    if (!reply)
        Reply(socket, 404);
    else if (reply->more)
        Stream(socket, std::move(*reply));
    else
        Reply(socket, 200, reply->body, reply->contentType);
}

void TokenWebServer::Stream(QTcpSocket *socket, WebReply reply)
{
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    // No length: the body ends where the connection closes.
    QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: " + reply.contentType + "\r\n";
    if (!reply.fileName.isEmpty()) {
        QByteArray name = reply.fileName; // nothing in it may end the field or the quotes
        for (char &c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_')
                c = '_';
        head += "Content-Disposition: attachment; filename=\"" + name + "\"\r\n";
    }
    head += "Cache-Control: no-store\r\nConnection: close\r\n\r\n";
    socket->write(head + reply.body);
    auto more = std::make_shared<std::function<std::optional<QByteArray>()>>(std::move(reply.more));
    const auto feed = [socket, more] {
        // A client that takes nothing for a while is cut off; one that reads keeps its connection.
        ArmDeadline(socket, kAnswerTimeoutMs);
        while (*more && socket->bytesToWrite() < kStreamLowWater) {
            std::optional<QByteArray> piece = (*more)();
            if (!piece) {
                *more = nullptr; // what it holds (a cursor, a file) goes now
                socket->disconnectFromHost();
                return;
            }
            socket->write(*piece);
        }
    };
    connect(socket, &QTcpSocket::bytesWritten, socket, feed);
    feed();
}

void TokenWebServer::Reply(QTcpSocket *socket, int status, const QByteArray &body, const QByteArray &contentType)
{
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    QByteArray answer = "HTTP/1.1 " + StatusLine(status) + "\r\n";
    if (!contentType.isEmpty())
        answer += "Content-Type: " + contentType + "\r\n";
    answer += "Content-Length: " + QByteArray::number(body.size()) + "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
    socket->write(answer + body);
    // Closed once the answer is taken; a client that never takes it is cut off.
    ArmDeadline(socket, kAnswerTimeoutMs);
    socket->disconnectFromHost();
}

void TokenWebServer::TakeWebSockets()
{
    while (m_webSockets && m_webSockets->hasPendingConnections()) {
        std::unique_ptr<QWebSocket> socket(m_webSockets->nextPendingConnection());
        QWebSocket *raw = socket.get();
        raw->setMaxAllowedIncomingFrameSize(kMaxViewerMessage);
        raw->setMaxAllowedIncomingMessageSize(kMaxViewerMessage);
        connect(raw, &QWebSocket::disconnected, this, [this, raw] { DropViewer(raw); });
        m_viewers.push_back({std::move(socket), -1});
        Push();
    }
}

void TokenWebServer::DropViewer(QWebSocket *socket)
{
    const auto gone = std::find_if(m_viewers.begin(), m_viewers.end(),
                                   [socket](const Viewer &viewer) { return viewer.socket.get() == socket; });
    if (gone == m_viewers.end())
        return;
    gone->socket->disconnect(this);
    gone->socket->abort();
    gone->socket.release()->deleteLater();
    m_viewers.erase(gone);
}

void TokenWebServer::Push()
{
    std::vector<QWebSocket *> stuck;
    for (Viewer &viewer : m_viewers) {
        // A viewer that takes nothing would make the program keep every frame for it.
        if (viewer.socket->bytesToWrite() > kMaxUnsentBytes) {
            stuck.push_back(viewer.socket.get());
            continue;
        }
        viewer.socket->sendTextMessage(QString::fromUtf8(m_frames(viewer.mark)));
    }
    for (QWebSocket *socket : stuck)
        DropViewer(socket);
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
