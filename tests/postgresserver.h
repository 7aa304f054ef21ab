#pragma once

// A real PostgreSQL for the tests: a cluster made by initdb in a folder of its
// own, served on 127.0.0.1 at a free port, with a database "calorivista".
// PostgreSQL refuses to run as root: started by root, it runs as the user
// "postgres". It can be stopped and started again on the same port.
#include "mosquittobroker.h" // FreeLocalPort, Accepts

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

class PostgresServer
{
public:
    // Durable: as a lab runs it (every commit synced), for the figures; the
    // tests need no durability and run with fsync off.
    explicit PostgresServer(bool durable = false)
        : m_port(FreeLocalPort()), m_bDurable(durable)
    {
        m_folder.setAutoRemove(true);
        const passwd *user = ::getuid() == 0 ? ::getpwnam("postgres") : nullptr;
        if (user) {
            m_uid = user->pw_uid;
            m_gid = user->pw_gid;
            // The user must reach its folder: the temporary one is root's alone.
            if (::chown(QFile::encodeName(m_folder.path()).constData(), m_uid, m_gid) != 0)
                qWarning("the database's folder cannot be given to postgres");
        }
        const QStringList versions = QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        if (!versions.isEmpty())
            m_bin = QStringLiteral("/usr/lib/postgresql/%1/bin/").arg(versions.last());
    }
    ~PostgresServer() { Stop(); }

    int Port() const { return m_port; }
    QString Conninfo(const QString &user = QStringLiteral("postgres")) const
    {
        return QStringLiteral("host=127.0.0.1 port=%1 dbname=calorivista user=%2").arg(m_port).arg(user);
    }

    // initdb, the server, and the database: false if any fails.
    bool Start()
    {
        if (m_bin.isEmpty())
            return false;
        const QString data = Data();
        if (!QFile::exists(data + QStringLiteral("/PG_VERSION"))) {
            QProcess initdb;
            AsOwner(initdb);
            initdb.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            initdb.start(m_bin + QStringLiteral("initdb"), {QStringLiteral("-D"), data, QStringLiteral("-A"), QStringLiteral("trust"),
                                                            QStringLiteral("-U"), QStringLiteral("postgres"), QStringLiteral("-E"),
                                                            QStringLiteral("UTF8"), QStringLiteral("--locale=C"), QStringLiteral("--no-sync")});
            initdb.setStandardOutputFile(QProcess::nullDevice());
            if (!initdb.waitForFinished(120000) || initdb.exitCode() != 0)
                return false;
            m_bCreate = true;
        }
        if (!Resume())
            return false;
        if (m_bCreate) {
            QProcess createdb;
            AsOwner(createdb);
            createdb.start(m_bin + QStringLiteral("createdb"),
                           {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(m_port),
                            QStringLiteral("-U"), QStringLiteral("postgres"), QStringLiteral("calorivista")});
            if (!createdb.waitForFinished(60000) || createdb.exitCode() != 0)
                return false;
            m_bCreate = false;
        }
        return true;
    }
    // The server again on its port, with what it holds.
    bool Resume()
    {
        AsOwner(m_server);
        m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_server.setStandardOutputFile(QProcess::nullDevice());
        QStringList options {QStringLiteral("-D"), Data(), QStringLiteral("-p"), QString::number(m_port), QStringLiteral("-k"), m_folder.path(),
                             QStringLiteral("-c"), QStringLiteral("listen_addresses=127.0.0.1"), QStringLiteral("-c"),
                             QStringLiteral("logging_collector=off"), QStringLiteral("-c"), QStringLiteral("log_min_messages=fatal")};
        if (m_bDurable)
            options << QStringLiteral("-c") << QStringLiteral("shared_buffers=512MB") << QStringLiteral("-c") << QStringLiteral("max_wal_size=4GB");
        else
            options << QStringLiteral("-c") << QStringLiteral("fsync=off");
        m_server.start(m_bin + QStringLiteral("postgres"), options);
        if (!m_server.waitForStarted(10000))
            return false;
        for (int i = 0; i < 300; ++i) {
            if (Accepts(m_port) && Ready())
                return true;
            if (m_server.state() == QProcess::NotRunning)
                return false;
            QTest::qWait(100);
        }
        return false;
    }
    // A fast shutdown: every connection is cut.
    void Stop()
    {
        if (m_server.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(m_server.processId()), SIGINT);
        if (!m_server.waitForFinished(30000)) {
            m_server.kill();
            m_server.waitForFinished(5000);
        }
    }

    // A query's output through psql, for the tests to compare: rows of
    // fields separated by '|'.
    QString Query(const QString &sql, const QString &user = QStringLiteral("postgres")) const
    {
        QProcess psql;
        psql.start(m_bin + QStringLiteral("psql"), {QStringLiteral("-X"), QStringLiteral("-A"), QStringLiteral("-t"), QStringLiteral("-q"),
                                                    QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-c"), sql,
                                                    Conninfo(user)});
        if (!psql.waitForFinished(120000) || psql.exitCode() != 0)
            return QStringLiteral("<failed: %1>").arg(QString::fromUtf8(psql.readAllStandardError()));
        return QString::fromUtf8(psql.readAllStandardOutput()).trimmed();
    }

private:
    QString Data() const { return m_folder.path() + QStringLiteral("/data"); }
    bool Ready() const
    {
        QProcess ready;
        ready.start(m_bin + QStringLiteral("pg_isready"),
                    {QStringLiteral("-q"), QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(m_port),
                     QStringLiteral("-U"), QStringLiteral("postgres"), QStringLiteral("-d"), QStringLiteral("postgres")});
        return ready.waitForFinished(10000) && ready.exitCode() == 0;
    }
    void AsOwner(QProcess &process) const
    {
        if (m_uid == 0)
            return;
        const uid_t uid = m_uid;
        const gid_t gid = m_gid;
        process.setChildProcessModifier([uid, gid] {
            if (::setgid(gid) != 0 || ::setuid(uid) != 0)
                ::_exit(127);
        });
    }

    QTemporaryDir m_folder;
    int m_port;
    bool m_bDurable;
    QString m_bin;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
    bool m_bCreate = false;
    QProcess m_server;
};
