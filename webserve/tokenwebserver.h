#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrlQuery>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QTcpServer;
class QTcpSocket;
class QWebSocket;
class QWebSocketServer;
struct RequestHead;

// What a GET of a path answers.
struct WebReply
{
    WebReply() = default;
    WebReply(QByteArray body, QByteArray contentType)
        : body(std::move(body))
        , contentType(std::move(contentType))
    {
    }

    QByteArray body;
    QByteArray contentType;
    // A body too long to be made at once (a whole run's readings): its
    // pieces after `body`, each asked for once the client has taken the
    // ones before; none at its end.
    std::function<std::optional<QByteArray>()> more;
    QByteArray fileName; // offered as the name to save it under
};

// Serves a read-only live page to any browser that has its token: the paths
// the owner answers, and a WebSocket at "/live" that is sent a frame at a
// fixed interval. Only GET is answered and nothing a request says changes
// anything. A request without the right token, a WebSocket's too, gets 403
// and nothing else.
//
// Anyone on the network reaches it, so everything it takes is bounded: a
// request's head is read (without the body of a request, which a GET has
// none of) up to 16 KB and within 5 s, else 431 or the connection closes;
// each answer is the last thing on its connection, which closes once the
// answer is taken or after 5 s; at most 64 connections are open at once
// (further ones wait in the system's queue); a viewer whose unsent frames
// pass 1 MB is dropped; and when the process runs out of descriptors it stops
// accepting for a second instead of trying again at once. A run never waits
// for any of it: it all happens between the events of the loop it lives on.
class TokenWebServer : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype kMaxHeadBytes = 16 * 1024;
    static constexpr int kMaxHeadFields = 100;
    static constexpr int kHeadTimeoutMs = 5000;
    static constexpr int kAnswerTimeoutMs = 5000;
    static constexpr int kMaxConnections = 64;
    static constexpr qint64 kMaxUnsentBytes = 1024 * 1024;
    static constexpr int kAcceptPauseMs = 1000;

    // The reply to a GET of `path` with its query (the token too), or none for 404.
    using Pages = std::function<std::optional<WebReply>(const QString &path, const QUrlQuery &query)>;
    // A streamed body is given more while less than this waits to be sent.
    static constexpr qint64 kStreamLowWater = 256 * 1024;
    // The frame for one viewer; `mark` is the viewer's own, -1 for a new one,
    // so that a frame need carry only what that viewer has not had yet.
    using Frames = std::function<QByteArray(qint64 &mark)>;

    TokenWebServer(Pages pages, Frames frames, int pushMs, QObject *parent = nullptr);
    ~TokenWebServer() override;

    // Listens on `bind` (empty: every address of this computer) at `port`
    // (0: any free one); false with the reason when it cannot.
    bool Listen(const QString &bind, int port, const QString &token, QString *error);
    void Close();
    bool IsListening() const { return m_listener != nullptr; }
    int Port() const { return m_nPort; }
    int Viewers() const { return int(m_viewers.size()); }
    // Connections open now: requests being read or answered, and viewers.
    int Connections() const { return m_nOpen; }

    // A page from the program's resources with its script written into it:
    // a second request for the script would need the token in its address too.
    static QByteArray PageWithScript(const QString &pageResource, const QString &scriptResource,
                                     const QByteArray &scriptTag);

private:
    struct Viewer
    {
        std::unique_ptr<QWebSocket> socket;
        qint64 mark = -1;
    };

    void Accept();
    void ReadHead(QTcpSocket *socket);
    void Answer(QTcpSocket *socket, const RequestHead &head);
    void Reply(QTcpSocket *socket, int status, const QByteArray &body = {}, const QByteArray &contentType = {});
    void Stream(QTcpSocket *socket, WebReply reply);
    bool Authorised(const QString &given) const;
    void TakeWebSockets();
    void DropViewer(QWebSocket *socket);
    void Push();
    void Closed();

    Pages m_pages;
    Frames m_frames;
    std::unique_ptr<QTcpServer> m_listener;
    std::unique_ptr<QWebSocketServer> m_webSockets;
    QString m_strToken;
    int m_nPort = 0;
    int m_nOpen = 0;
    bool m_bOutOfDescriptors = false;
    bool m_bAcceptFailureSaid = false; // once for each time it listens
    std::vector<Viewer> m_viewers;
    QTimer m_push;
    QTimer m_resumeAccepting;
};
