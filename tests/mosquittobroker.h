#pragma once

// A real mosquitto broker for the tests, on 127.0.0.1 at a free port, with a
// configuration and persistence of its own in a given folder. It can be
// killed, started again on the same port with what it persisted, and stopped
// (SIGSTOP) as a network that hangs.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTest>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

inline int FreeLocalPort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(s, reinterpret_cast<sockaddr *>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(s);
    return port;
}

inline bool Accepts(int port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(quint16(port));
    const bool accepted = ::connect(s, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(s);
    return accepted;
}

class MosquittoBroker
{
public:
    // `extra` lines go into the configuration as they are (listeners, TLS, passwords).
    explicit MosquittoBroker(const QString &folder, const QStringList &extra = {})
        : m_folder(folder)
        , m_port(FreeLocalPort())
    {
        QDir().mkpath(folder);
        QFile conf(Path("mosquitto.conf"));
        if (conf.open(QIODevice::WriteOnly)) {
            QStringList lines {
                QStringLiteral("listener %1 127.0.0.1").arg(m_port),
                QStringLiteral("persistence true"),
                QStringLiteral("persistence_location %1/").arg(folder),
                QStringLiteral("autosave_interval 1"),
                QStringLiteral("max_queued_messages 0"),
                QStringLiteral("log_dest file %1").arg(Path("broker.log")),
                QStringLiteral("log_type error"),
                QStringLiteral("log_type warning"),
                QStringLiteral("log_type notice"),
                QStringLiteral("log_type information"),
                // Started by root it would become "mosquitto", who cannot enter the test's folder.
                QStringLiteral("user %1").arg(QString::fromLocal8Bit(::getpwuid(::getuid())->pw_name)),
            };
            if (!extra.join(QLatin1Char('\n')).contains(QStringLiteral("password_file")))
                lines.append(QStringLiteral("allow_anonymous true"));
            conf.write((lines + extra).join(QLatin1Char('\n')).toUtf8() + '\n');
        }
    }

    ~MosquittoBroker()
    {
        Resume();
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    int Port() const { return m_port; }
    QString Path(const char *name) const { return m_folder + QLatin1Char('/') + QLatin1String(name); }

    // Starts it and waits until it takes connections on every given port.
    bool Start(QList<int> ports = {})
    {
        ports.prepend(m_port);
        m_process.setProcessChannelMode(QProcess::ForwardedChannels);
        m_process.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), Path("mosquitto.conf")});
        if (!m_process.waitForStarted(5000))
            return false;
        for (int i = 0; i < 100; ++i) {
            if (std::all_of(ports.cbegin(), ports.cend(), Accepts))
                return true;
            if (m_process.state() == QProcess::NotRunning)
                return false;
            QTest::qWait(50);
        }
        return false;
    }
    // Killed as an operator or a service manager kills it (SIGTERM); it saves what it holds.
    void Terminate()
    {
        m_process.terminate();
        m_process.waitForFinished(10000);
    }
    void Pause() { ::kill(pid_t(m_process.processId()), SIGSTOP); }
    void Resume()
    {
        if (m_process.state() != QProcess::NotRunning)
            ::kill(pid_t(m_process.processId()), SIGCONT);
    }
    QString Log() const
    {
        QFile log(Path("broker.log"));
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
    }
    // How often the log says `text`.
    int CountInLog(const QString &text) const
    {
        QFile log(Path("broker.log"));
        return log.open(QIODevice::ReadOnly) ? int(QString::fromUtf8(log.readAll()).count(text)) : -1;
    }

private:
    QString m_folder;
    int m_port;
    QProcess m_process;
};
