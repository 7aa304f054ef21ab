#pragma once

#include "stationview.h"
#include "websettings.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

class PageHttpServer;
class QHttpServerRequest;
class QWebSocket;

// Serves the station's live page to any browser that has its token:
// "/?token=…" (the page with its script, compiled into the program), "/api/state" (the
// publisher's "last" message), "/api/history" (the page's state with the ten
// minutes) and a WebSocket at "/live" that pushes the page's state every
// 400 ms. Read-only: only GET is answered, and nothing a request says changes
// the run. A request without the right token, a WebSocket's too, gets 403 and
// nothing else.
class StationServer : public QObject
{
    Q_OBJECT

public:
    static constexpr int kPushMs = 400;

    explicit StationServer(const StationView &view, QObject *parent = nullptr);
    ~StationServer() override;

    // Listens as the settings say (or stops); false with the reason when the
    // address or port cannot be taken.
    bool Configure(const WebSettings &settings, QString *error);
    bool IsListening() const { return m_http != nullptr; }
    int Port() const { return m_nPort; }
    int Viewers() const { return int(m_viewers.size()); }

private:
    struct Viewer
    {
        std::unique_ptr<QWebSocket> socket;
        qint64 sentTenth = -1;
    };

    friend class PageHttpServer;
    bool Authorised(const QHttpServerRequest &request) const;
    bool HasToken(const QString &given) const;
    void TakeWebSockets();
    void Push();

    const StationView &m_view;
    std::unique_ptr<PageHttpServer> m_http;
    WebSettings m_settings;
    int m_nPort = 0;
    std::vector<Viewer> m_viewers;
    QTimer m_push;
};
