#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TokenHttpServer;
class QHttpServerRequest;
class QWebSocket;

// What a GET of a path answers.
struct WebReply
{
    QByteArray body;
    QByteArray contentType;
};

// Serves a read-only live page to any browser that has its token: the paths
// the owner answers, and a WebSocket at "/live" that is sent a frame at a
// fixed interval. Only GET is answered and nothing a request says changes
// anything. A request without the right token, a WebSocket's too, gets 403
// and nothing else.
class TokenWebServer : public QObject
{
    Q_OBJECT

public:
    // The reply to a GET of `path` (with the token), or none for 404.
    using Pages = std::function<std::optional<WebReply>(const QString &path)>;
    // The frame for one viewer; `mark` is the viewer's own, -1 for a new one,
    // so that a frame need carry only what that viewer has not had yet.
    using Frames = std::function<QByteArray(qint64 &mark)>;

    TokenWebServer(Pages pages, Frames frames, int pushMs, QObject *parent = nullptr);
    ~TokenWebServer() override;

    // Listens on `bind` (empty: every address of this computer) at `port`
    // (0: any free one); false with the reason when it cannot.
    bool Listen(const QString &bind, int port, const QString &token, QString *error);
    void Close();
    bool IsListening() const { return m_http != nullptr; }
    int Port() const { return m_nPort; }
    int Viewers() const { return int(m_viewers.size()); }

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

    friend class TokenHttpServer;
    bool Authorised(const QHttpServerRequest &request) const;
    void TakeWebSockets();
    void Push();

    Pages m_pages;
    Frames m_frames;
    std::unique_ptr<TokenHttpServer> m_http;
    QString m_strToken;
    int m_nPort = 0;
    std::vector<Viewer> m_viewers;
    QTimer m_push;
};
