// The lab's archive in a real PostgreSQL (started by the test): the real
// programs on simulated instruments through a real mosquitto, several
// collectors on one database, collectors killed, a database that goes away.
#include "mosquittobroker.h"
#include "postgresserver.h"
#include "siteprocesses.h"

#include <QTemporaryDir>

class TestPgArchive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void twoCollectorsKilledInTurnKeepEachReadingOnce();
    void databaseAwayForTwentySecondsLosesNothing();
    void newerTablesAreRefused();

private:
    // The run of a station as the database holds it, by seq.
    ArchivedRun DatabaseRun(const QString &station) const;
    // Empty once the station's one run is whole in the database: each reading
    // of its data files there once, its count in runs, no gap, each reading
    // counted once into readings_1s.
    QString WholeInDatabase(const StationProcess &station) const;
    QStringList Collector(const QString &id) const;

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
    QVERIFY(second.Start());
    for (const auto &station : stations)
        QTRY_VERIFY2_WITH_TIMEOUT(WholeInDatabase(*station).isEmpty(), qPrintable(station->Name() + QStringLiteral(": ") + WholeInDatabase(*station)),
                                  120000);
    QVERIFY(first.Stop() && second.Stop());
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
    QVERIFY(collector.Said().contains(QStringLiteral("archive: written again")));
    QVERIFY(collector.Stop());
}

void TestPgArchive::newerTablesAreRefused()
{
    QCOMPARE(m_db->Query(QStringLiteral("UPDATE calorivista_schema SET version = 2")), QString());
    QProcess collector;
    collector.start(QStringLiteral(CALORIVISTA_COLLECT), Collector(QStringLiteral("newer")));
    QVERIFY(collector.waitForFinished(30000));
    QCOMPARE(collector.exitCode(), 2);
    const QString said = QString::fromUtf8(collector.readAllStandardError());
    QVERIFY2(said.contains(QStringLiteral("newer than this collector knows")), qPrintable(said));
    QCOMPARE(m_db->Query(QStringLiteral("UPDATE calorivista_schema SET version = 1")), QString());
}

QTEST_MAIN(TestPgArchive)
#include "tst_pgarchive.moc"
