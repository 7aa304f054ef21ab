#pragma once

#include "stationboard.h"
#include "tokenwebserver.h"

#include <QObject>

// Serves the overview of every station to any browser that has its token:
// "/?token=…" (the page with its script), "/api/stations" (every station with
// its whole sparkline) and a WebSocket at "/live" that pushes the stations
// every 500 ms, each time with only the sparkline seconds that viewer lacks.
class OverviewServer : public QObject
{
    Q_OBJECT

public:
    static constexpr int kPushMs = 500;

    explicit OverviewServer(const StationBoard &board, QObject *parent = nullptr);

    bool Listen(const QString &bind, int port, const QString &token, QString *error)
    {
        return m_server.Listen(bind, port, token, error);
    }
    int Port() const { return m_server.Port(); }
    int Viewers() const { return m_server.Viewers(); }

private:
    std::optional<WebReply> Reply(const QString &path) const;

    const StationBoard &m_board;
    TokenWebServer m_server;
};
