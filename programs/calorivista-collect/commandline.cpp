#include "commandline.h"

#include "pgconnection.h"

#include <QFile>
#include <QSysInfo>

const char kCollectHelp[] = R"(NAME
    calorivista-collect - archive every Calorivista station's readings from an MQTT broker

SYNOPSIS
    calorivista-collect --broker HOST[:PORT] (--out DIR | --db CONNINFO | both)
                        [--db-password-file F] [--keep-months N]
                        [--tls CA] [--user U --password-file F]
                        [--topic calorivista] [--id NAME]
                        [--http PORT (--token T | --token-file F) [--http-bind ADDR]]
                        [--notify FILE]

DESCRIPTION
    Subscribes to TOPIC/+/readings, TOPIC/+/events and TOPIC/+/resent at QoS 1
    with a persistent session (a fixed client id, clean session off), so the
    broker keeps what the stations publish while the collector is away. Each
    reading is archived once, in its run by its seq; what a run lacks is asked
    of its station on TOPIC/<station>/resend, one request at a time, and the
    station sends it again from its outbox or its data files, or says it is
    lost for good. Whatever a client of the broker sends is checked first.

    With --out DIR, for each station and run:
    DIR/<station>/<run id>.csv
        time,elapsed_s,temperature_c,file,seq - the columns and time format of
        calorivista-export (the file column is empty) and the reading's seq.
    DIR/<station>/<run id>.events.csv
        The run's events as the record folder's events.csv has them.
    DIR/<station>/<run id>.gaps.csv
        first_seq,last_seq,readings,state,reason - what the run lacks: asked
        for, or lost for good and why. No file: nothing is missing.
    DIR/<station>/runs.csv
        run,started,stopped,comment,readings - the station's runs.
    The folder is one collector's (a lock file keeps a second one out).

    With --db CONNINFO, into the lab's PostgreSQL (libpq's keyword/value
    string or URI, e.g. "host=db.lab dbname=calorivista user=collect"): the
    tables stations, runs, readings (by month), readings_1s, events and gaps,
    made at first use. Any number of collectors (each with its own --id) may
    write one database at once; each reading is kept once, and one of them at
    a time asks a station for what it lacks. While the database is away the
    collector holds what comes (up to 4 million readings) and writes it once
    the database is back.

    A run's id is its start in milliseconds since 1970 (UTC). What comes is
    made durable in groups, five times a second. One line on standard output
    tells of each run that starts, finishes or becomes whole, of each gap and
    of each refusal.

    With --http it also serves every station on one page,
    http://HOST:PORT/?token=T: a tile per station with its newest value, its
    state, its alarm, the last ten minutes as a sparkline and its last runs,
    each with its readings as CSV (/api/run.csv?station=S&run=R&token=T). It
    follows the retained TOPIC/+/status and TOPIC/+/last for that. A request
    without the token gets 403. There is no TLS: beyond the lab, put a
    reverse proxy with TLS in front of it.

OPTIONS
    --broker HOST[:PORT]   The broker (port 1883, or 8883 with --tls).
    --out DIR              An archive of CSV files; made if missing.
    --db CONNINFO          An archive in PostgreSQL. A password does not
                           belong here: ~/.pgpass, PGPASSFILE or
    --db-password-file F   the first line of the file F.
    --keep-months N        Readings older than N whole months are dropped, a
                           month at a time (default: all are kept).
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
    --notify FILE          Tells people of the stations' alarms by e-mail and
                           webhooks, with escalation, as the INI file FILE
                           says (see the README and notify.example.ini);
                           every message sent is kept in notifications.csv
                           beside the archive.
    --help                 This text.

EXIT STATUS
    0 after SIGTERM or SIGINT, 1 when the page's port cannot be taken, 2 for a
    wrong command line, an archive another collector holds, a database that
    cannot be reached or whose tables are newer than this collector knows, or
    an id that another client keeps taking.
)";

namespace {

std::optional<QString> FirstLine(const QString &path, QString *problem)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = QStringLiteral("cannot read %1").arg(path);
        return std::nullopt;
    }
    return QString::fromUtf8(file.readLine(4096)).trimmed();
}

bool ReadBroker(const QString &broker, MqttEndpoint &endpoint, QString *problem)
{
    // HOST, HOST:PORT, an IPv6 address alone, or [IPv6]:PORT.
    endpoint.port = endpoint.tls ? 8883 : 1883;
    endpoint.host = broker;
    QString port;
    if (broker.startsWith(QLatin1Char('['))) {
        const qsizetype close = broker.indexOf(QLatin1Char(']'));
        if (close < 0 || (close + 1 < broker.size() && broker.at(close + 1) != QLatin1Char(':'))) {
            *problem = QStringLiteral("the broker is HOST, HOST:PORT or [IPv6]:PORT");
            return false;
        }
        endpoint.host = broker.mid(1, close - 1);
        port = broker.mid(close + 2);
    } else if (broker.count(QLatin1Char(':')) == 1) {
        endpoint.host = broker.section(QLatin1Char(':'), 0, 0);
        port = broker.section(QLatin1Char(':'), 1);
    }
    if (port.isEmpty())
        return true;
    bool number = false;
    endpoint.port = port.toInt(&number);
    if (!number || endpoint.port < 1 || endpoint.port > 65535) {
        *problem = QStringLiteral("the broker's port is no number from 1 to 65535");
        return false;
    }
    return true;
}

} // namespace

std::optional<CollectCommandLine> ReadCollectCommandLine(const QStringList &arguments, QString *problem)
{
    CollectCommandLine line;
    line.collector.endpoint.cleanSession = false;
    line.collector.endpoint.clientId = QStringLiteral("calorivista-collect-") + QSysInfo::machineHostName();
    QString broker, passwordFile, dbPasswordFile, httpPort, tokenFile, keepMonths;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &option = arguments[i];
        if (option == QLatin1String("--help") || option == QLatin1String("-h")) {
            line.help = true;
            return line;
        }
        if (i + 1 >= arguments.size()) {
            *problem = QStringLiteral("%1 needs a value, or is no option").arg(option);
            return std::nullopt;
        }
        const QString value = arguments[++i];
        if (option == QLatin1String("--broker"))
            broker = value;
        else if (option == QLatin1String("--out"))
            line.outFolder = value;
        else if (option == QLatin1String("--db"))
            line.db = value;
        else if (option == QLatin1String("--db-password-file"))
            dbPasswordFile = value;
        else if (option == QLatin1String("--keep-months"))
            keepMonths = value;
        else if (option == QLatin1String("--tls")) {
            line.collector.endpoint.tls = true;
            line.collector.endpoint.caFile = value;
        } else if (option == QLatin1String("--user"))
            line.collector.endpoint.user = value;
        else if (option == QLatin1String("--password-file"))
            passwordFile = value;
        else if (option == QLatin1String("--topic"))
            line.collector.topic = value;
        else if (option == QLatin1String("--id"))
            line.collector.endpoint.clientId = value;
        else if (option == QLatin1String("--http"))
            httpPort = value;
        else if (option == QLatin1String("--http-bind"))
            line.httpBind = value;
        else if (option == QLatin1String("--token"))
            line.token = value;
        else if (option == QLatin1String("--token-file"))
            tokenFile = value;
        else if (option == QLatin1String("--notify"))
            line.notifyFile = value;
        else {
            *problem = QStringLiteral("unknown option %1").arg(option);
            return std::nullopt;
        }
    }
    if (broker.isEmpty() || (line.outFolder.isEmpty() && line.db.isEmpty())) {
        *problem = QStringLiteral("--broker and --out or --db (or both) are needed");
        return std::nullopt;
    }
    if (!ReadBroker(broker, line.collector.endpoint, problem))
        return std::nullopt;
    if (!passwordFile.isEmpty()) {
        const std::optional<QString> password = FirstLine(passwordFile, problem);
        if (!password)
            return std::nullopt;
        line.collector.endpoint.password = *password;
    }
    if (!line.db.isEmpty() && !PgConnection::CheckConninfo(line.db, problem))
        return std::nullopt;
    if (!dbPasswordFile.isEmpty() || !keepMonths.isEmpty()) {
        if (line.db.isEmpty()) {
            *problem = QStringLiteral("--db-password-file and --keep-months go with --db");
            return std::nullopt;
        }
        if (!dbPasswordFile.isEmpty()) {
            const std::optional<QString> password = FirstLine(dbPasswordFile, problem);
            if (!password)
                return std::nullopt;
            line.dbPassword = *password;
        }
        if (!keepMonths.isEmpty()) {
            bool number = false;
            line.keepMonths = keepMonths.toInt(&number);
            if (!number || line.keepMonths < 1 || line.keepMonths > 1200) {
                *problem = QStringLiteral("--keep-months is a number of months from 1 to 1200");
                return std::nullopt;
            }
        }
    }
    if (!httpPort.isEmpty()) {
        bool number = false;
        line.httpPort = httpPort.toInt(&number);
        if (!number || line.httpPort < 1 || line.httpPort > 65535) {
            *problem = QStringLiteral("the page's port is no number from 1 to 65535");
            return std::nullopt;
        }
        if (!tokenFile.isEmpty()) {
            const std::optional<QString> token = FirstLine(tokenFile, problem);
            if (!token)
                return std::nullopt;
            line.token = *token;
        }
        if (line.token.isEmpty()) {
            *problem = QStringLiteral("--http needs a token (--token or --token-file)");
            return std::nullopt;
        }
        line.collector.followStations = true;
    } else if (!line.token.isEmpty() || !tokenFile.isEmpty() || !line.httpBind.isEmpty()) {
        *problem = QStringLiteral("--token, --token-file and --http-bind go with --http");
        return std::nullopt;
    }
    return line;
}
