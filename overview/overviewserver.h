#pragma once

#include "runcatalog.h"
#include "stationboard.h"
#include "tokenwebserver.h"

#include <QObject>

// Serves the overview of every station to any browser that has its token:
// "/?token=…" (the page with its script), "/api/stations" (every station with
// its whole sparkline) and a WebSocket at "/live" that pushes the stations
// every 500 ms, each time with only the sparkline seconds that viewer lacks.
// With the archive's catalog also "/api/runs" (each station's last runs) and
// "/api/run.csv?station=S&run=R" (a run's readings in the exporter's columns).
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
    // The archive the run list and the CSV come from; none: no runs are offered.
    void SetCatalog(RunCatalog *catalog) { m_catalog = catalog; }
    static constexpr qint64 kRunsKeptMs = 5000; // the run list is looked up at most this often

private:
    std::optional<WebReply> Reply(const QString &path, const QUrlQuery &query);

    const StationBoard &m_board;
    RunCatalog *m_catalog = nullptr;
    QByteArray m_runs;
    qint64 m_nRunsAtMs = -1;
    TokenWebServer m_server;
};
