#pragma once

// A real browser for the tests: headless Chromium, driven through its DevTools
// protocol over a WebSocket (the page's own scripts run as in any browser).
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QUrl>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebSocket>

class HeadlessBrowser
{
public:
    ~HeadlessBrowser()
    {
        m_devtools.close();
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    // Starts the browser on `url`; false with the reason in `error`.
    bool Open(const QString &url, QString *error)
    {
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start(QStringLiteral("chromium"),
                        {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                         QStringLiteral("--no-first-run"), QStringLiteral("--remote-debugging-port=0"),
                         QStringLiteral("--window-size=1000,800"), QStringLiteral("--user-data-dir=") + m_profile.path(), url});
        if (!m_process.waitForStarted(10000)) {
            *error = QStringLiteral("chromium does not start: ") + m_process.errorString();
            return false;
        }
        // It says where its DevTools listen on its standard error.
        static const QRegularExpression listening(QStringLiteral("DevTools listening on ws://127\\.0\\.0\\.1:(\\d+)/"));
        QByteArray said;
        QRegularExpressionMatch match;
        for (int i = 0; i < 200 && !(match = listening.match(QString::fromUtf8(said))).hasMatch(); ++i) {
            m_process.waitForReadyRead(100);
            said += m_process.readAllStandardError();
        }
        if (!match.hasMatch()) {
            *error = QStringLiteral("chromium gives no DevTools address: ") + QString::fromUtf8(said.right(400));
            return false;
        }
        const QString port = match.captured(1);
        QString page;
        for (int i = 0; i < 50 && page.isEmpty(); ++i) {
            const QJsonArray targets = QJsonDocument::fromJson(Get(QStringLiteral("http://127.0.0.1:%1/json/list").arg(port))).array();
            for (const QJsonValue &target : targets)
                if (target[QLatin1String("type")].toString() == QLatin1String("page"))
                    page = target[QLatin1String("webSocketDebuggerUrl")].toString();
            if (page.isEmpty())
                Wait(100);
        }
        if (page.isEmpty()) {
            *error = QStringLiteral("chromium shows no page");
            return false;
        }
        QObject::connect(&m_devtools, &QWebSocket::textMessageReceived, [this](const QString &message) {
            const QJsonObject reply = QJsonDocument::fromJson(message.toUtf8()).object();
            if (reply.contains(QLatin1String("id")))
                m_replies[reply[QLatin1String("id")].toInt()] = reply;
        });
        m_devtools.open(QUrl(page));
        for (int i = 0; i < 100 && m_devtools.state() != QAbstractSocket::ConnectedState; ++i)
            Wait(50);
        if (m_devtools.state() != QAbstractSocket::ConnectedState) {
            *error = QStringLiteral("chromium's DevTools do not answer at %1: %2").arg(page, m_devtools.errorString());
            return false;
        }
        return true;
    }

    // The value of a JavaScript expression in the page, as a string; empty when it fails.
    QString Evaluate(const QString &expression)
    {
        const QJsonObject reply = Call(QStringLiteral("Runtime.evaluate"),
                                       {{QStringLiteral("expression"), QStringLiteral("String(") + expression + QLatin1Char(')')},
                                        {QStringLiteral("returnByValue"), true}});
        return reply[QLatin1String("result")][QLatin1String("result")][QLatin1String("value")].toString();
    }

    // A picture of the page, PNG.
    QByteArray Screenshot()
    {
        const QJsonObject reply = Call(QStringLiteral("Page.captureScreenshot"), {});
        return QByteArray::fromBase64(reply[QLatin1String("result")][QLatin1String("data")].toString().toLatin1());
    }

    // A plain HTTP GET of a URL on this computer, served by the event loop
    // (the server may live on this thread) and without Qt's network access
    // manager, which would bring a thread of its own.
    static QByteArray Get(const QString &url, int *status = nullptr)
    {
        const QUrl address(url);
        QTcpSocket socket;
        QByteArray response;
        QEventLoop loop;
        QObject::connect(&socket, &QTcpSocket::connected, [&] {
            QByteArray target = address.path(QUrl::FullyEncoded).toUtf8();
            if (target.isEmpty())
                target = "/";
            if (address.hasQuery())
                target += "?" + address.query(QUrl::FullyEncoded).toUtf8();
            socket.write("GET " + target + " HTTP/1.1\r\nHost: " + address.authority().toUtf8() + "\r\nConnection: close\r\n\r\n");
        });
        QObject::connect(&socket, &QTcpSocket::readyRead, [&] {
            response += socket.readAll();
            // A server that keeps the connection open is done once its body is whole.
            const qsizetype end = response.indexOf("\r\n\r\n");
            static const QRegularExpression length(QStringLiteral("(?i)\r\ncontent-length: *(\\d+)"));
            const QRegularExpressionMatch match = length.match(QString::fromLatin1(response.left(end)));
            if (end >= 0 && match.hasMatch() && response.size() - end - 4 >= match.captured(1).toLongLong())
                loop.quit();
        });
        QObject::connect(&socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
        QObject::connect(&socket, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        socket.connectToHost(address.host(), quint16(address.port(80)));
        loop.exec();
        response += socket.readAll();
        const qsizetype end = response.indexOf("\r\n\r\n");
        if (status)
            *status = response.mid(9, 3).toInt(); // "HTTP/1.1 403 …"
        return end < 0 ? QByteArray() : response.mid(end + 4);
    }

private:
    static void Wait(int ms)
    {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    }

    QJsonObject Call(const QString &method, const QJsonObject &parameters)
    {
        const int id = ++m_nLastId;
        m_devtools.sendTextMessage(QString::fromUtf8(
            QJsonDocument(QJsonObject {{QStringLiteral("id"), id}, {QStringLiteral("method"), method},
                                       {QStringLiteral("params"), parameters}})
                .toJson(QJsonDocument::Compact)));
        // Back as soon as the reply is (the benchmark times the page by these calls).
        QEventLoop loop;
        const QMetaObject::Connection replied =
            QObject::connect(&m_devtools, &QWebSocket::textMessageReceived, &loop, [&] {
                if (m_replies.contains(id))
                    loop.quit();
            });
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        if (!m_replies.contains(id))
            loop.exec();
        QObject::disconnect(replied);
        return m_replies.take(id);
    }

    QTemporaryDir m_profile;
    QProcess m_process;
    QWebSocket m_devtools;
    QMap<int, QJsonObject> m_replies;
    int m_nLastId = 0;
};
