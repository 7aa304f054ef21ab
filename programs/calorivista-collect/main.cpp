// calorivista-collect: archives what every station publishes to a broker.
#include "alarmdesk.h"
#include "collector.h"
#include "commandline.h"
#include "csvarchive.h"
#include "csvruncatalog.h"
#include "overviewserver.h"
#include "pgarchive.h"
#include "pgruncatalog.h"
#include "quitsignals.h"
#include "teearchive.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QSysInfo>

#include <cstdio>
#include <memory>

namespace {

int Usage(const QString &problem)
{
    std::fprintf(stderr, "calorivista-collect: %s\nSee calorivista-collect --help.\n", problem.toUtf8().constData());
    return 2;
}

void FollowOnBoard(Collector &collector, StationBoard &board)
{
    QObject::connect(&collector, &Collector::StatusHeard, [&board](const QString &station, const QByteArray &payload) {
        board.TakeStatus(station, payload, QDateTime::currentMSecsSinceEpoch());
    });
    QObject::connect(&collector, &Collector::BrokerChanged,
                     [&board](bool connected) { board.SetBrokerConnected(connected, QDateTime::currentMSecsSinceEpoch()); });
    QObject::connect(&collector, &Collector::LastHeard,
                     [&board](const QString &station, const QByteArray &payload) { board.TakeLast(station, payload); });
    QObject::connect(&collector, &Collector::ReadingsHeard,
                     [&board](const QString &station, std::span<const PayloadReader::Reading> readings) {
                         board.TakeReadings(station, readings);
                     });
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QString problem;
    const std::optional<CollectCommandLine> line = ReadCollectCommandLine(app.arguments(), &problem);
    if (!line)
        return Usage(problem);
    if (line->help) {
        std::fputs(kCollectHelp, stdout);
        return 0;
    }

    // A folder of CSV files, the lab's database, or both.
    std::unique_ptr<CsvArchive> folder;
    std::unique_ptr<PgArchive> database;
    std::unique_ptr<TeeArchive> both;
    Archive *archive = nullptr;
    if (!line->outFolder.isEmpty())
        archive = (folder = std::make_unique<CsvArchive>(line->outFolder)).get();
    if (!line->db.isEmpty()) {
        PgArchive::Options options;
        options.conninfo = line->db;
        options.password = line->dbPassword;
        options.id = line->collector.endpoint.clientId;
        options.keepMonths = line->keepMonths;
        archive = (database = std::make_unique<PgArchive>(options)).get();
        if (folder)
            archive = (both = std::make_unique<TeeArchive>(*database, *folder)).get();
    }
    QString archiveError;
    if (!archive->Take(&archiveError)) {
        std::fprintf(stderr, "calorivista-collect: %s\n", archiveError.toUtf8().constData());
        return 2;
    }
    Collector collector(line->collector, *archive);
    // The alarm desk follows the events the collector hears.
    std::unique_ptr<AlarmDesk> desk;
    if (!line->notifyFile.isEmpty()) {
        QString error;
        std::optional<NotifyConfig> config = NotifyConfig::Read(line->notifyFile, &error);
        if (!config)
            return Usage(QStringLiteral("--notify %1: %2").arg(line->notifyFile, error));
        const QString log = QDir(line->outFolder.isEmpty() ? QDir::currentPath() : line->outFolder).filePath(QStringLiteral("notifications.csv"));
        desk = std::make_unique<AlarmDesk>(std::move(*config), log);
        QObject::connect(&collector, &Collector::NewEvent, desk.get(), [&desk](const QString &station, const PayloadReader::Event &event) {
            desk->TakeEvent(station, event.event, event.t, event.c, event.text, event.user);
        });
        QObject::connect(&collector, &Collector::StatusHeard, desk.get(), &AlarmDesk::TakeStatus);
        QObject::connect(desk.get(), &AlarmDesk::Said, [](const QString &said) {
            std::fprintf(stdout, "%s\n", said.toUtf8().constData());
            std::fflush(stdout);
        });
    }
    StationBoard board;
    std::unique_ptr<RunCatalog> catalog;
    OverviewServer overview(board);
    if (line->httpPort > 0) {
        QString error;
        if (!overview.Listen(line->httpBind, line->httpPort, line->token, &error)) {
            std::fprintf(stderr, "calorivista-collect: the page: %s\n", error.toUtf8().constData());
            return 1;
        }
        FollowOnBoard(collector, board);
        // The runs offered for download come from the archive itself.
        if (database)
            catalog = std::make_unique<PgRunCatalog>(line->db, line->dbPassword, line->collector.endpoint.clientId + QStringLiteral("-page"));
        else
            catalog = std::make_unique<CsvRunCatalog>(line->outFolder);
        overview.SetCatalog(catalog.get());
        std::fprintf(stdout, "page: http://%s:%d/?token=…\n",
                     (line->httpBind.isEmpty() ? QSysInfo::machineHostName() : line->httpBind).toUtf8().constData(), overview.Port());
    }
    QObject::connect(&collector, &Collector::Said, [](const QString &said) {
        std::fprintf(stdout, "%s\n", said.toUtf8().constData());
        std::fflush(stdout);
    });
    QObject::connect(&collector, &Collector::GaveUp, &app, [&](const QString &reason) {
        std::fprintf(stderr, "calorivista-collect: %s\n", reason.toUtf8().constData());
        collector.Stop();
        QCoreApplication::exit(2);
    });
    QuitSignals quit;
    QObject::connect(&quit, &QuitSignals::quitRequested, &app, [&] {
        collector.Stop();
        QCoreApplication::quit();
    });
    collector.Start();
    return app.exec();
}
