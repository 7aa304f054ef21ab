#pragma once

#include "stationview.h"
#include "tokenwebserver.h"
#include "websettings.h"

#include <QObject>

// Serves the station's live page to any browser that has its token:
// "/?token=…" (the page with its script, compiled into the program), "/api/state" (the
// publisher's "last" message), "/api/history" (the page's state with the ten
// minutes) and a WebSocket at "/live" that pushes the page's state every
// 400 ms, each time with only the chart's slots that viewer lacks.
class StationServer : public QObject
{
    Q_OBJECT

public:
    static constexpr int kPushMs = 400;

    explicit StationServer(const StationView &view, QObject *parent = nullptr);

    // Listens as the settings say (or stops); false with the reason when the
    // address or port cannot be taken.
    bool Configure(const WebSettings &settings, QString *error);
    bool IsListening() const { return m_server.IsListening(); }
    int Port() const { return m_server.Port(); }
    int Viewers() const { return m_server.Viewers(); }

private:
    std::optional<WebReply> Reply(const QString &path) const;
    QByteArray Frame(qint64 &sentChange) const;

    const StationView &m_view;
    WebSettings m_settings;
    TokenWebServer m_server;
};
