// The lab's archive in a real PostgreSQL (started by the test): the real
// programs on simulated instruments through a real mosquitto, several
// collectors on one database, collectors killed, a database that goes away.
#include "archiveopener.h"
#include "grafanamacros.h"
#include "mosquittobroker.h"
#include "pgruncatalog.h"
#include "postgresserver.h"
#include "runwindow.h"
#include "scriptedmessages.h"
#include "siteprocesses.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>

class TestPgArchive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void twoCollectorsKilledInTurnKeepEachReadingOnce();
    void databaseAwayForTwentySecondsLosesNothing();
    void newerTablesAreRefused();
    void dashboardQueriesRunAsTheReader();

private:
    // The run of a station as the database holds it, by seq.
    ArchivedRun DatabaseRun(const QString &station) const;
    // Empty once the station's one run is whole in the database: each reading
    // of its data files there once, its count in runs, no gap, each reading
    // counted once into readings_1s.
    QString WholeInDatabase(const StationProcess &station) const;
    QStringList Collector(const QString &id) const;
    // The archived run opened in the run window has the figures of its record folder.
    void CheckArchivedRunInTheWindow(const StationProcess &station, qint64 run);
    // The overview's CSV of the run has the readings of its data files.
    void CheckOverviewCsv(int port, const StationProcess &station, qint64 run);

    std::unique_ptr<PostgresServer> m_db;
    int m_nBroker = 0;
};

void TestPgArchive::initTestCase()
{
    m_db = std::make_unique<PostgresServer>();
    if (!m_db->Start())
        QFAIL("PostgreSQL did not start (postgresql-15 installed?)");
}

QStringList TestPgArchive::Collector(const QString &id) const
{
    return {QStringLiteral("--broker"), QStringLiteral("127.0.0.1:%1").arg(m_nBroker), QStringLiteral("--db"), m_db->Conninfo(),
            QStringLiteral("--id"), id};
}

ArchivedRun TestPgArchive::DatabaseRun(const QString &station) const
{
    ArchivedRun run;
    const QString rows = m_db->Query(QStringLiteral("SELECT seq, round(extract(epoch FROM time) * 1000)::bigint, temperature_c "
                                                    "FROM readings WHERE station = '%1' ORDER BY seq")
                                         .arg(station));
    for (const QString &row : rows.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList fields = row.split(QLatin1Char('|'));
        if (fields.size() != 3)
            continue;
        ++run.rows;
        run.readings[fields[0].toLongLong()] = {fields[1].toLongLong(), fields[2].toDouble()};
    }
    return run;
}

QString TestPgArchive::WholeInDatabase(const StationProcess &station) const
{
    const QString name = station.Name();
    const QString runs = m_db->Query(QStringLiteral("SELECT count(*), min(readings) FROM runs WHERE station = '%1'").arg(name));
    if (!runs.startsWith(QStringLiteral("1|")) || runs == QStringLiteral("1|"))
        return QStringLiteral("runs: ") + runs;
    const QString gaps = m_db->Query(QStringLiteral("SELECT count(*) FROM gaps WHERE station = '%1'").arg(name));
    if (gaps != QStringLiteral("0"))
        return QStringLiteral("%1 gaps").arg(gaps);
    const QString problem = ArchiveAgainstDataFiles(DatabaseRun(name), station.Records());
    if (!problem.isEmpty())
        return problem;
    const QString counted = m_db->Query(QStringLiteral("SELECT (SELECT sum(n) FROM readings_1s WHERE station = '%1') = "
                                                       "(SELECT count(*) FROM readings WHERE station = '%1')")
                                            .arg(name));
    return counted == QStringLiteral("t") ? QString() : QStringLiteral("readings_1s counts differ");
}

// Two stations at 1280 readings a second, two collectors on one database:
// one is killed outright mid-run and started again, then the other.
void TestPgArchive::twoCollectorsKilledInTurnKeepEachReadingOnce()
{
    QTemporaryDir dir;
    MosquittoBroker broker(dir.filePath(QStringLiteral("broker")));
    QVERIFY(broker.Start());
    m_nBroker = broker.Port();
    CollectorProcess first(Collector(QStringLiteral("first")));
    CollectorProcess second(Collector(QStringLiteral("second")));
    QVERIFY(first.Start() && second.Start());
    QTRY_VERIFY_WITH_TIMEOUT(first.Said().contains(QStringLiteral("broker: connected")) &&
                                 second.Said().contains(QStringLiteral("broker: connected")),
                             20000);
    std::vector<std::unique_ptr<StationProcess>> stations;
    for (const char *name : {"ofen-1", "ofen-2"}) {
        stations.push_back(std::make_unique<StationProcess>(dir.filePath(QString::fromLatin1(name)), QString::fromLatin1(name),
                                                            broker.Port(), 3));
        stations.back()->StartSending(1280, 600, 1600, 120);
        QVERIFY(stations.back()->Start());
    }
    QTest::qWait(6000);
    first.Kill();
    QTest::qWait(6000);
    QVERIFY(first.Start());
    QTest::qWait(6000);
    second.Kill();
    QTest::qWait(6000);
    for (const auto &station : stations) {
        QVERIFY(station->Stop());
        station->StopSending();
    }
    // Back with its overview, which offers the archived runs.
    const int page = FreeLocalPort();
    CollectorProcess withPage(Collector(QStringLiteral("second")) + QStringList {QStringLiteral("--http"), QString::number(page),
                                                                                  QStringLiteral("--token"), QStringLiteral("t0ken")});
    QVERIFY(withPage.Start());
    for (const auto &station : stations)
        QTRY_VERIFY2_WITH_TIMEOUT(WholeInDatabase(*station).isEmpty(), qPrintable(station->Name() + QStringLiteral(": ") + WholeInDatabase(*station)),
                                  120000);
    // The chain table witnesses each folder: untouched it matches; with its
    // last data file and that file's chain line removed it no longer does.
    const auto verify = [&](const QString &folder, QByteArray *output) {
        QProcess verifier;
        verifier.setProcessChannelMode(QProcess::MergedChannels);
        verifier.start(QStringLiteral(CALORIVISTA_VERIFY), {folder, QStringLiteral("--db"), m_db->Conninfo()});
        verifier.waitForFinished(30000);
        *output = verifier.readAll();
        return verifier.exitCode();
    };
    QByteArray said;
    for (const auto &station : stations)
        QTRY_VERIFY2_WITH_TIMEOUT(verify(station->Records(), &said) == 0 && said.contains("the witness holds the same chain"),
                                  said.constData(), 20000);
    const QString cut = stations.back()->Records();
    QFile chain(QDir(cut).filePath(QStringLiteral("calorivista.chain")));
    QVERIFY(chain.open(QIODevice::ReadWrite));
    QList<QByteArray> lines = chain.readAll().split('\n');
    lines.removeLast(); // after the last line end
    const QRegularExpression dataFileLine(QStringLiteral("^\\d+,[^,]+,\\d{4},"));
    while (!lines.isEmpty() && !dataFileLine.match(QString::fromLatin1(lines.last())).hasMatch())
        lines.removeLast(); // back to the last data file's line
    const QString lastFile = QString::fromLatin1(lines.last().split(',').value(2));
    lines.removeLast();
    QVERIFY(chain.resize(0) && chain.seek(0) && chain.write(lines.join('\n') + '\n') > 0);
    chain.close();
    QVERIFY(QFile::remove(QDir(cut).filePath(lastFile)));
    QCOMPARE(verify(cut, &said), 1);
    QVERIFY2(said.contains("removed"), said.constData());

    const qint64 run = m_db->Query(QStringLiteral("SELECT run FROM runs WHERE station = 'ofen-1'")).toLongLong();
    CheckArchivedRunInTheWindow(*stations.front(), run);
    CheckOverviewCsv(page, *stations.front(), run);
    QVERIFY(first.Stop() && withPage.Stop());
}

void TestPgArchive::CheckArchivedRunInTheWindow(const StationProcess &station, qint64 run)
{
    ScriptedMessages messages;
    PgRunCatalog catalog(m_db->Conninfo(), QString(), QStringLiteral("tst_pgarchive"));
    ArchiveOpener opener(catalog, messages);
    const std::optional<QString> folder = opener.Fetch(station.Name(), run, nullptr);
    QVERIFY2(folder, messages.shown.isEmpty() ? "" : qPrintable(messages.shown.front().text));
    RunWindow archived(messages), recorded(messages);
    QVERIFY(archived.OpenFolder(*folder) && recorded.OpenFolder(station.Records()));
    const RunStatistics &a = archived.Statistics();
    const RunStatistics &b = recorded.Statistics();
    QCOMPARE(a.readings, b.readings);
    QCOMPARE(a.lowest, b.lowest);
    QCOMPARE(a.highest, b.highest);
    QCOMPARE(a.mean, b.mean);
    QCOMPARE(a.DurationMs(), b.DurationMs()); // from the run's start to its stop
    QCOMPARE(a.alarms, b.alarms);
    // The data files keep their offsets to six digits: a reading's time there
    // is within 50 ms of the instant the archive keeps.
    QVERIFY2(std::abs(a.highestMs - b.highestMs) <= 50, qPrintable(QString::number(a.highestMs - b.highestMs)));
    QVERIFY(messages.shown.isEmpty());
}

void TestPgArchive::CheckOverviewCsv(int port, const StationProcess &station, qint64 run)
{
    const auto get = [port](const QByteArray &target) {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
        if (!socket.waitForConnected(5000))
            return QByteArray();
        socket.write("GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n");
        QByteArray answer;
        while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(10000))
            answer += socket.readAll();
        answer += socket.readAll();
        return answer.mid(answer.indexOf("\r\n\r\n") + 4);
    };
    const QByteArray runs = get("/api/runs?token=t0ken");
    QVERIFY2(runs.contains("\"station\":\"ofen-1\"") && runs.contains(QByteArray::number(run)), runs.constData());
    const QList<QByteArray> rows = get("/api/run.csv?station=ofen-1&run=" + QByteArray::number(run) + "&token=t0ken").split('\n');
    const QList<DataLine> lines = ReadDataFiles(station.Records());
    QCOMPARE(rows.value(0), QByteArray("time,elapsed_s,temperature_c,file\r"));
    QCOMPARE(rows.size(), lines.size() + 2); // the header, and nothing after the last line end
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QList<QByteArray> fields = rows[i + 1].trimmed().split(',');
        const qint64 ms = QDateTime::fromString(QString::fromLatin1(fields.value(0)), Qt::ISODateWithMs).toMSecsSinceEpoch();
        if (fields.size() != 4 || ms != lines[i].msSinceEpoch || fields[2].toDouble() != lines[i].temperature)
            QFAIL(qPrintable(QStringLiteral("row %1: %2").arg(i + 1).arg(QString::fromLatin1(rows[i + 1]))));
    }
}

// The database stops for 20 s during a run: the collector says so, holds
// what comes, and writes it once the database is back.
void TestPgArchive::databaseAwayForTwentySecondsLosesNothing()
{
    QTemporaryDir dir;
    MosquittoBroker broker(dir.filePath(QStringLiteral("broker")));
    QVERIFY(broker.Start());
    m_nBroker = broker.Port();
    CollectorProcess collector(Collector(QStringLiteral("away")));
    QVERIFY(collector.Start());
    QTRY_VERIFY_WITH_TIMEOUT(collector.Said().contains(QStringLiteral("broker: connected")), 20000);
    StationProcess station(dir.filePath(QStringLiteral("ofen-away")), QStringLiteral("ofen-away"), broker.Port(), 3);
    station.StartSending(1280, 500, 1500, 60);
    QVERIFY(station.Start());
    QTest::qWait(4000);
    m_db->Stop();
    QTest::qWait(20000);
    QVERIFY(m_db->Resume());
    QTest::qWait(3000);
    QVERIFY(station.Stop());
    station.StopSending();
    QTRY_VERIFY2_WITH_TIMEOUT(WholeInDatabase(station).isEmpty(), qPrintable(WholeInDatabase(station)), 60000);
    QVERIFY2(collector.Said().contains(QStringLiteral("held")), qPrintable(collector.Said().right(2000)));
    // Said after the commit the test has just seen: its line may still be on its way.
    QTRY_VERIFY_WITH_TIMEOUT(collector.Said().contains(QStringLiteral("archive: written again")), 5000);
    QVERIFY(collector.Stop());
}

void TestPgArchive::newerTablesAreRefused()
{
    QCOMPARE(m_db->Query(QStringLiteral("UPDATE calorivista_schema SET version = 3")), QString());
    QProcess collector;
    collector.start(QStringLiteral(CALORIVISTA_COLLECT), Collector(QStringLiteral("newer")));
    QVERIFY(collector.waitForFinished(30000));
    QCOMPARE(collector.exitCode(), 2);
    const QString said = QString::fromUtf8(collector.readAllStandardError());
    QVERIFY2(said.contains(QStringLiteral("newer than this collector knows")), qPrintable(said));
    QCOMPARE(m_db->Query(QStringLiteral("UPDATE calorivista_schema SET version = 2")), QString());
}

// The dashboard's queries and the read-only role, as the README has them
// installed: every query runs as calorivista_reader and finds the runs, and
// the role can change nothing.
void TestPgArchive::dashboardQueriesRunAsTheReader()
{
    QFile role(QStringLiteral(CALORIVISTA_GRAFANA "/reader-role.sql"));
    QVERIFY(role.open(QIODevice::ReadOnly));
    QCOMPARE(m_db->Query(QString::fromUtf8(role.readAll())), QString());
    QFile file(QStringLiteral(CALORIVISTA_GRAFANA "/calorivista.json"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject dashboard = QJsonDocument::fromJson(file.readAll()).object();
    const QString reader = QStringLiteral("calorivista_reader");
    for (const QJsonValue variable : dashboard.value(QLatin1String("templating")).toObject().value(QLatin1String("list")).toArray()) {
        const QString query = variable.toObject().value(QLatin1String("query")).toString();
        if (query.startsWith(QLatin1String("SELECT")))
        {
            const QStringList stations = m_db->Query(query, reader).split(QLatin1Char('\n'));
            QVERIFY2(stations.contains(QStringLiteral("ofen-1")) && stations.contains(QStringLiteral("ofen-2")), qPrintable(stations.join(u' ')));
        }
    }
    int queries = 0;
    for (const QJsonValue panel : dashboard.value(QLatin1String("panels")).toArray()) {
        for (const QJsonValue target : panel.toObject().value(QLatin1String("targets")).toArray()) {
            const QString sql = target.toObject().value(QLatin1String("rawSql")).toString();
            for (const qint64 span : {600LL, 24LL * 3600}) { // every reading, and the seconds' summary
                const QString expanded = grafanamacros::Expanded(sql, QDateTime::currentDateTimeUtc(), span, QStringLiteral("'ofen-1','ofen-2'"));
                QVERIFY2(!expanded.contains(QLatin1Char('$')), qPrintable(expanded)); // a macro Grafana would expand, not PostgreSQL
                const QString rows = m_db->Query(expanded, reader);
                QVERIFY2(!rows.startsWith(QLatin1String("<failed")), qPrintable(rows));
                const bool alarms = sql.contains(QLatin1String("FROM events"));
                QVERIFY2(alarms || (rows.contains(QLatin1String("|ofen-1")) && rows.contains(QLatin1String("|ofen-2"))),
                         qPrintable(QStringLiteral("%1 over %2 s: %3").arg(panel.toObject().value(QLatin1String("title")).toString()).arg(span).arg(rows.left(500))));
                ++queries;
            }
        }
    }
    QCOMPARE(queries, 6);
    QVERIFY(m_db->Query(QStringLiteral("DELETE FROM readings"), reader).startsWith(QLatin1String("<failed")));
}

QTEST_MAIN(TestPgArchive)
#include "tst_pgarchive.moc"
