// calorivista-collect: archives what every station publishes to a broker.
#include "collector.h"
#include "csvarchive.h"
#include "overviewserver.h"
#include "quitsignals.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QSysInfo>

#include <cstdio>

namespace {

const char kHelp[] = R"(NAME
    calorivista-collect - archive every Calorivista station's readings from an MQTT broker

SYNOPSIS
    calorivista-collect --broker HOST[:PORT] --out DIR [--tls CA] [--user U --password-file F]
                        [--topic calorivista] [--id NAME]
                        [--http PORT (--token T | --token-file F) [--http-bind ADDR]]

DESCRIPTION
    Subscribes to TOPIC/+/readings and TOPIC/+/events at QoS 1 with a persistent
    session (a fixed client id, clean session off), so the broker keeps what the
    stations publish while the collector is away, and writes for each station
    and run:

    DIR/<station>/<run id>.csv
        time,elapsed_s,temperature_c,file - the columns and time format of
        calorivista-export (the file column is empty), in the run's order,
        each reading once however often the broker delivers it.
    DIR/<station>/<run id>.events.csv
        The run's events as the record folder's events.csv has them.
    DIR/<station>/<run id>.gaps.csv
        first_seq,last_seq,readings - readings of the run that never came.
        The MQTT library acknowledges a message to the broker just before it
        hands the message over; if the collector dies in between, that batch
        is gone from the broker, and the next one shows the hole here. The
        readings are still in the station's data files.

    A run's id is its start in milliseconds since 1970 (UTC). Every write is
    made durable before the next message is taken. One line on standard output
    tells of each run that starts or finishes and of each gap.

    With --http it also serves every station on one page,
    http://HOST:PORT/?token=T: a tile per station with its newest value, its
    state (online; offline, grey, once the station said goodbye or its Last
    Will came; silent, its instrument sends nothing; gone, its instrument's
    port is gone), its alarm and the last ten minutes as a sparkline. It
    follows the retained TOPIC/+/status and TOPIC/+/last for that. A request
    without the token gets 403. There is no TLS: beyond the lab, put a
    reverse proxy with TLS in front of it.

OPTIONS
    --broker HOST[:PORT]   The broker (port 1883, or 8883 with --tls).
    --out DIR              Where the archive goes; made if missing.
    --tls CA               TLS, with the broker's certificate checked against
                           the authority in the PEM file CA.
    --user U               The name to log in with.
    --password-file F      The password, the first line of the file F (kept
                           off the command line, where others could read it).
    --topic T              The stations' topic prefix (default: calorivista).
    --id NAME              The client id of the persistent session (default:
                           calorivista-collect-<host name>). A second collector
                           needs its own.
    --http PORT            Serve the overview page at this port (off without it).
    --token T              The token every request to the page must carry.
    --token-file F         The token, the first line of the file F.
    --http-bind ADDR       The address to serve on (default: every address of
                           this computer).
    --help                 This text.

EXIT STATUS
    0 after SIGTERM or SIGINT, 1 when the page's port cannot be taken, 2 for a
    wrong command line.
)";

int Usage(const char *problem)
{
    std::fprintf(stderr, "calorivista-collect: %s\nSee calorivista-collect --help.\n", problem);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    CollectorOptions options;
    options.endpoint.cleanSession = false;
    options.endpoint.clientId = QStringLiteral("calorivista-collect-") + QSysInfo::machineHostName();
    QString broker;
    QString outFolder;
    QString passwordFile;
    QString httpPort;
    QString httpBind;
    QString token;
    QString tokenFile;
    const QStringList arguments = app.arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &option = arguments[i];
        if (option == QLatin1String("--help") || option == QLatin1String("-h")) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (i + 1 >= arguments.size())
            return Usage(qPrintable(QStringLiteral("%1 needs a value, or is no option").arg(option)));
        const QString value = arguments[++i];
        if (option == QLatin1String("--broker"))
            broker = value;
        else if (option == QLatin1String("--out"))
            outFolder = value;
        else if (option == QLatin1String("--tls")) {
            options.endpoint.tls = true;
            options.endpoint.caFile = value;
        } else if (option == QLatin1String("--user"))
            options.endpoint.user = value;
        else if (option == QLatin1String("--password-file"))
            passwordFile = value;
        else if (option == QLatin1String("--topic"))
            options.topic = value;
        else if (option == QLatin1String("--id"))
            options.endpoint.clientId = value;
        else if (option == QLatin1String("--http"))
            httpPort = value;
        else if (option == QLatin1String("--http-bind"))
            httpBind = value;
        else if (option == QLatin1String("--token"))
            token = value;
        else if (option == QLatin1String("--token-file"))
            tokenFile = value;
        else
            return Usage(qPrintable(QStringLiteral("unknown option %1").arg(option)));
    }
    if (broker.isEmpty() || outFolder.isEmpty())
        return Usage("--broker and --out are needed");
    // HOST, HOST:PORT, an IPv6 address alone, or [IPv6]:PORT.
    options.endpoint.port = options.endpoint.tls ? 8883 : 1883;
    options.endpoint.host = broker;
    QString port;
    if (broker.startsWith(QLatin1Char('['))) {
        const qsizetype close = broker.indexOf(QLatin1Char(']'));
        if (close < 0 || (close + 1 < broker.size() && broker.at(close + 1) != QLatin1Char(':')))
            return Usage("the broker is HOST, HOST:PORT or [IPv6]:PORT");
        options.endpoint.host = broker.mid(1, close - 1);
        port = broker.mid(close + 2);
    } else if (broker.count(QLatin1Char(':')) == 1) {
        options.endpoint.host = broker.section(QLatin1Char(':'), 0, 0);
        port = broker.section(QLatin1Char(':'), 1);
    }
    if (!port.isEmpty()) {
        bool number = false;
        options.endpoint.port = port.toInt(&number);
        if (!number || options.endpoint.port < 1 || options.endpoint.port > 65535)
            return Usage("the broker's port is no number from 1 to 65535");
    }
    if (!passwordFile.isEmpty()) {
        QFile file(passwordFile);
        if (!file.open(QIODevice::ReadOnly))
            return Usage(qPrintable(QStringLiteral("cannot read %1").arg(passwordFile)));
        options.endpoint.password = QString::fromUtf8(file.readLine()).trimmed();
    }

    int pagePort = 0;
    if (!httpPort.isEmpty()) {
        bool number = false;
        pagePort = httpPort.toInt(&number);
        if (!number || pagePort < 1 || pagePort > 65535)
            return Usage("the page's port is no number from 1 to 65535");
        if (!tokenFile.isEmpty()) {
            QFile file(tokenFile);
            if (!file.open(QIODevice::ReadOnly))
                return Usage(qPrintable(QStringLiteral("cannot read %1").arg(tokenFile)));
            token = QString::fromUtf8(file.readLine()).trimmed();
        }
        if (token.isEmpty())
            return Usage("--http needs a token (--token or --token-file)");
        options.followStations = true;
    } else if (!token.isEmpty() || !tokenFile.isEmpty() || !httpBind.isEmpty()) {
        return Usage("--token, --token-file and --http-bind go with --http");
    }

    // The archive folder is one collector's.
    CsvArchive archive(outFolder);
    QString archiveError;
    if (!archive.Take(&archiveError)) {
        std::fprintf(stderr, "calorivista-collect: %s\n", archiveError.toUtf8().constData());
        return 2;
    }
    Collector collector(options, archive);
    StationBoard board;
    OverviewServer overview(board);
    if (pagePort > 0) {
        QString error;
        if (!overview.Listen(httpBind, pagePort, token, &error)) {
            std::fprintf(stderr, "calorivista-collect: the page: %s\n", error.toUtf8().constData());
            return 1;
        }
        QObject::connect(&collector, &Collector::StatusHeard, [&board](const QString &station, const QByteArray &payload) {
            board.TakeStatus(station, payload, QDateTime::currentMSecsSinceEpoch());
        });
        QObject::connect(&collector, &Collector::BrokerChanged, [&board](bool connected) {
            board.SetBrokerConnected(connected, QDateTime::currentMSecsSinceEpoch());
        });
        QObject::connect(&collector, &Collector::LastHeard, [&board](const QString &station, const QByteArray &payload) {
            board.TakeLast(station, payload);
        });
        QObject::connect(&collector, &Collector::ReadingsHeard,
                         [&board](const QString &station, std::span<const PayloadReader::Reading> readings) {
                             board.TakeReadings(station, readings);
                         });
        std::fprintf(stdout, "page: http://%s:%d/?token=…\n",
                     httpBind.isEmpty() ? QSysInfo::machineHostName().toUtf8().constData() : httpBind.toUtf8().constData(),
                     overview.Port());
    }
    QObject::connect(&collector, &Collector::Said, [](const QString &line) {
        std::fprintf(stdout, "%s\n", line.toUtf8().constData());
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
