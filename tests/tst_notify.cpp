// The collector as the lab's alarm desk, end to end: the real dialog on the
// simulated instrument publishes to a real mosquitto, the real collector with
// --notify mails a real SMTP server (aiosmtpd) and posts to a local HTTP
// receiver; a second mail server that refuses every connection fails.
#include "dialogtest.h"
#include "alarmdesk.h"
#include "mosquittobroker.h"
#include "notifyconfig.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

// Each POST's body, answered 200.
class HttpReceiver : public QObject
{
public:
    HttpReceiver()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    m_pending[socket] += socket->readAll();
                    const QByteArray &bytes = m_pending[socket];
                    const qsizetype end = bytes.indexOf("\r\n\r\n");
                    const QRegularExpression length(QStringLiteral("(?i)content-length:\\s*(\\d+)"));
                    const qsizetype wanted = length.match(QString::fromLatin1(bytes.left(end))).captured(1).toLongLong();
                    if (end < 0 || bytes.size() < end + 4 + wanted)
                        return;
                    bodies << bytes.mid(end + 4, wanted);
                    socket->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                    socket->disconnectFromHost();
                    m_pending.remove(socket);
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    int Port() const { return m_server.serverPort(); }
    QList<QByteArray> bodies;

private:
    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_pending;
};

// The mails the server took, as "To: …" headers and their decoded bodies.
struct Mail
{
    QByteArray to;
    QString subject;
    QString body;
};
QList<Mail> Mails(const QString &maildir)
{
    QList<Mail> mails;
    for (const QFileInfo &info : QDir(maildir + QStringLiteral("/new")).entryInfoList(QDir::Files, QDir::Time | QDir::Reversed)) {
        QFile file(info.filePath());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = file.readAll();
        const qsizetype split = text.indexOf("\n\n");
        Mail mail;
        for (QByteArray line : text.left(split).split('\n')) {
            if (line.startsWith("To: "))
                mail.to = line.mid(4).trimmed();
            if (line.startsWith("Subject: ") || (line.startsWith(' ') && !mail.subject.isEmpty() && mail.body.isEmpty())) {
                const QRegularExpression word(QStringLiteral("=\\?UTF-8\\?B\\?([^?]*)\\?="));
                for (const QRegularExpressionMatch &m : word.globalMatch(QString::fromLatin1(line)))
                    mail.subject += QString::fromUtf8(QByteArray::fromBase64(m.captured(1).toLatin1()));
            }
        }
        mail.body = QString::fromUtf8(QByteArray::fromBase64(text.mid(split + 2).replace('\n', "").replace('\r', "")));
        mails << mail;
    }
    return mails;
}

} // namespace

class TestNotify : public DialogTest
{
    Q_OBJECT

private slots:
    void init() { SetUp(); }
    void cleanup() { TearDown(); }
    void alarmIsMailedEscalatedAcknowledgedAndAFailureTold();
    void floodOfFiftyAlarmsIsThreeMessages();
    void notifyFileIsReadOrRefusedAtItsLine_data();
    void notifyFileIsReadOrRefusedAtItsLine();
};

// One station's alarm flapping fifty times within a second (raised, cleared,
// raised again): its first message, one of the flood, and one when the flood
// has been quiet for its minutes (here 3 s); the clears in between are
// grouped and then swallowed by the flood.
void TestNotify::floodOfFiftyAlarmsIsThreeMessages()
{
    HttpReceiver hook;
    QString error;
    std::optional<NotifyConfig> config = NotifyConfig::Parse(QStringLiteral("[general]\nflood = 10/0.05\n[webhook:chat]\nurl = http://127.0.0.1:%1/\n"
                                                                           "[rule:all]\nevents = alarm-high\nnotify = chat\n")
                                                                 .arg(hook.Port())
                                                                 .toUtf8(),
                                                             &error);
    QVERIFY2(config, qPrintable(error));
    AlarmDesk desk(std::move(*config), m_dir->filePath(QStringLiteral("notifications.csv")));
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (int i = 0; i < 50; ++i) {
        desk.TakeEvent(QStringLiteral("печь-2"), QStringLiteral("alarm-high"), now + 20 * i, 1501.0 + i, QStringLiteral("Выше 1500 °C"), {});
        desk.TakeEvent(QStringLiteral("печь-2"), QStringLiteral("alarm-clear"), now + 20 * i + 10, 1490.0, QStringLiteral("Выше 1500 °C"), {});
    }
    QTRY_COMPARE_WITH_TIMEOUT(hook.bodies.size(), 3, 10000);
    QTest::qWait(1000);
    QStringList events;
    for (const QByteArray &body : hook.bodies)
        events << QJsonDocument::fromJson(body).object().value(QLatin1String("event")).toString();
    QCOMPARE(events, QStringList({"alarm-high", "flood", "flood-end"}));
    QVERIFY2(QJsonDocument::fromJson(hook.bodies[1]).object().value(QLatin1String("text")).toString().startsWith(QStringLiteral("Поток тревог: 11 ")),
             hook.bodies[1].constData());
}

void TestNotify::notifyFileIsReadOrRefusedAtItsLine_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("refusal"); // empty: read
    QFile example(QStringLiteral(CALORIVISTA_NOTIFY_EXAMPLE));
    QVERIFY(example.open(QIODevice::ReadOnly));
    QTest::newRow("the installed example") << example.readAll() << QString();
    const QByteArray mail = "[email:duty]\nhost = m\nfrom = a@b\nto = c@d\n";
    QTest::newRow("unknown key") << QByteArray(mail + "colour = red\n") << QStringLiteral("line 5: no key colour in this section");
    QTest::newRow("unknown section") << QByteArray(mail + "\n[sms:x]\n") << QStringLiteral("line 6: no section [sms:x]");
    QTest::newRow("a rule's unknown channel") << QByteArray(mail + "[rule:r]\nevents = alarm-high\nnotify = duty+pager\n")
                                            << QStringLiteral("rule r: no channel pager");
    QTest::newRow("an event never told") << QByteArray(mail + "[rule:r]\nevents = mark\n") << QStringLiteral("line 6: no event mark");
    QTest::newRow("escalation without minutes") << QByteArray(mail + "[rule:r]\nescalate = soon:duty\n") << QStringLiteral("line 6: escalate is");
}

void TestNotify::notifyFileIsReadOrRefusedAtItsLine()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, refusal);
    QString error;
    const std::optional<NotifyConfig> config = NotifyConfig::Parse(text, &error);
    if (refusal.isEmpty()) {
        QVERIFY2(config, qPrintable(error));
        QCOMPARE(config->rules.front().escalate.back().channels, QStringList({"duty", "head", "chat"}));
        QCOMPARE(config->heartbeat, QTime(8, 0));
    } else {
        QVERIFY(!config);
        QVERIFY2(error.startsWith(refusal), qPrintable(error));
    }
}

// A limit crossed: the duty address gets the alarm; unacknowledged for 3 s it
// goes to the head too; the station's acknowledgement stops the next step
// and is mailed to both. The refusing server's failure reaches the webhook.
void TestNotify::alarmIsMailedEscalatedAcknowledgedAndAFailureTold()
{
    MosquittoBroker broker(m_dir->filePath(QStringLiteral("broker")));
    QVERIFY(broker.Start());
    const QString maildir = m_dir->filePath(QStringLiteral("mail"));
    const int smtpPort = FreeLocalPort();
    QProcess smtp;
    smtp.setProcessChannelMode(QProcess::ForwardedChannels);
    smtp.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-m"), QStringLiteral("aiosmtpd"), QStringLiteral("-n"), QStringLiteral("-l"),
                                                    QStringLiteral("127.0.0.1:%1").arg(smtpPort), QStringLiteral("-c"),
                                                    QStringLiteral("aiosmtpd.handlers.Mailbox"), maildir});
    const auto stopSmtp = qScopeGuard([&] {
        smtp.terminate();
        smtp.waitForFinished(5000);
    });
    QTRY_VERIFY_WITH_TIMEOUT(QDir(maildir + QStringLiteral("/new")).exists() && [&] {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, quint16(smtpPort));
        return probe.waitForConnected(200);
    }(), 15000);
    HttpReceiver hook;
    const QString ini = m_dir->filePath(QStringLiteral("notify.ini"));
    {
        QFile file(ini);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("[general]\noverview = http://lab-pc:8200/?token=t\n"
                                  "[email:duty]\nhost = 127.0.0.1\nport = %1\nsecurity = none\nfrom = calorivista@lab\nto = duty@lab\n"
                                  "[email:head]\nhost = 127.0.0.1\nport = %1\nsecurity = none\nfrom = calorivista@lab\nto = head@lab\n"
                                  "[email:refused]\nhost = 127.0.0.1\nport = %2\nsecurity = none\nfrom = calorivista@lab\nto = x@lab\n"
                                  "[webhook:chat]\nurl = http://127.0.0.1:%3/hook\nformat = json\n"
                                  "[rule:furnaces]\nstations = печь-*\nevents = alarm-high, station-lost\n"
                                  "notify = duty+refused+chat\nescalate = 0.05:head, 0.25:duty+head ; 3 s, then 15 s\n"
                                  "[rule:failures]\nevents = notify-failed\nnotify = chat\n")
                       .arg(smtpPort)
                       .arg(FreeLocalPort())
                       .arg(hook.Port())
                       .toUtf8());
    }
    const QString archive = m_dir->filePath(QStringLiteral("archive"));
    QProcess collector;
    collector.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    collector.start(QStringLiteral(CALORIVISTA_COLLECT), {QStringLiteral("--broker"), QStringLiteral("127.0.0.1:%1").arg(broker.Port()),
                                                          QStringLiteral("--out"), archive, QStringLiteral("--notify"), ini});
    QByteArray said;
    connect(&collector, &QProcess::readyReadStandardOutput, this, [&] { said += collector.readAllStandardOutput(); });
    QTRY_VERIFY2_WITH_TIMEOUT(said.contains("broker: connected"), said.constData(), 10000);

    {
        QSettings settings(m_settingsFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("AlarmHigh"), 1500);
        settings.setValue(QStringLiteral("AlarmDelay"), 0);
        settings.setValue(QStringLiteral("MqttHost"), QStringLiteral("127.0.0.1"));
        settings.setValue(QStringLiteral("MqttPort"), broker.Port());
        settings.setValue(QStringLiteral("MqttStation"), QStringLiteral("печь-2"));
    }
    MakeDialog();
    auto *comment = TemplateControl<QPlainTextEdit>(m_dlg.get(), 1005);
    comment->setPlainText(QStringLiteral("отжиг, партия 7"));
    m_dlg->accept();
    QTRY_VERIFY_WITH_TIMEOUT(m_dlg->m_station.GetPublisher().IsConnected(), 10000);
    Send(5, 1523.4);
    RunLine *line = m_dlg->findChild<RunLine *>();
    QTRY_VERIFY_WITH_TIMEOUT(line->ShowsAlarm(), 5000);

    // At once to duty, with what a person acts on.
    QTRY_VERIFY_WITH_TIMEOUT(!Mails(maildir).isEmpty(), 10000);
    const Mail first = Mails(maildir).first();
    QCOMPARE(first.to, QByteArray("<duty@lab>"));
    QVERIFY2(first.subject.startsWith(QStringLiteral("печь-2: выше 1500 °C (1523.")), qPrintable(first.subject));
    for (const QString &wanted : {QStringLiteral("Станция: печь-2"), QStringLiteral("Значение: 1523."), QStringLiteral("Сеанс: отжиг, партия 7"),
                                  QStringLiteral("Квитировано: нет"), QStringLiteral("Обзор: http://lab-pc:8200/?token=t")})
        QVERIFY2(first.body.contains(wanted), qPrintable(wanted + QStringLiteral(" not in\n") + first.body));
    // Unacknowledged: the head hears of it after 3 s.
    QTRY_VERIFY_WITH_TIMEOUT(Mails(maildir).size() >= 2, 10000);
    QCOMPARE(Mails(maildir)[1].to, QByteArray("<head@lab>"));
    QVERIFY2(Mails(maildir)[1].subject.endsWith(QStringLiteral("не квитировано")), qPrintable(Mails(maildir)[1].subject));

    m_messages->prompt = [](QDialog &dialog) {
        static_cast<QInputDialog &>(dialog).setTextValue(QStringLiteral("печь осмотрена"));
        return int(QDialog::Accepted);
    };
    QTest::mouseClick(line->AcknowledgeButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(Mails(maildir).size() >= 4, 10000);
    QSet<QByteArray> told;
    for (const Mail &mail : Mails(maildir).mid(2)) {
        QVERIFY2(mail.subject.startsWith(QStringLiteral("печь-2: квитировано: выше 1500 °C")), qPrintable(mail.subject));
        QVERIFY2(mail.body.contains(QStringLiteral("): печь осмотрена")), qPrintable(mail.body));
        told << mail.to;
    }
    QCOMPARE(told, QSet<QByteArray>({"<duty@lab>", "<head@lab>"}));
    // The next step (15 s) never comes.
    QTest::qWait(16000);
    QCOMPARE(Mails(maildir).size(), 4);
    m_dlg->OnStop();

    // The webhook had the alarm, and the refusing server's failure.
    QStringList events;
    for (const QByteArray &body : hook.bodies)
        events << QJsonDocument::fromJson(body).object().value(QLatin1String("event")).toString();
    QVERIFY2(events.contains(QStringLiteral("alarm-high")) && events.contains(QStringLiteral("notify-failed")), qPrintable(events.join(' ')));
    const QJsonObject alarm = QJsonDocument::fromJson(hook.bodies.value(events.indexOf(QStringLiteral("alarm-high")))).object();
    QCOMPARE(alarm.value(QLatin1String("station")).toString(), QStringLiteral("печь-2"));
    QCOMPARE(alarm.value(QLatin1String("acknowledged")).toBool(true), false);
    // A station killed mid-run: its Last Will is one station-lost message.
    const QString configHome = m_dir->filePath(QStringLiteral("config"));
    const QString records3 = m_dir->filePath(QStringLiteral("records3"));
    QVERIFY(QDir().mkpath(records3));
    {
        QSettings settings(configHome + QStringLiteral("/Calorivista/Calorivista.conf"), QSettings::IniFormat);
        for (const auto &[key, value] : {std::pair {"BaudRate", QVariant(115200)}, {"PortNumber", 1}, {"TimeBetweenSaving", 5},
                                         {"SavingPath", records3}, {"PortDevice1", m_sim->DevicePath()}, {"MqttHost", "127.0.0.1"},
                                         {"MqttPort", broker.Port()}, {"MqttStation", QStringLiteral("печь-3")}})
            settings.setValue(QLatin1String(key), value);
    }
    QProcess station;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    environment.insert(QStringLiteral("XDG_DATA_HOME"), m_dir->filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    station.setProcessEnvironment(environment);
    station.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    station.start(QStringLiteral(CALORIVISTA_AUTOSTART), {});
    QTRY_VERIFY2_WITH_TIMEOUT(said.contains("печь-3"), said.constData(), 20000); // its run has started
    station.kill();
    QVERIFY(station.waitForFinished());
    const auto lost = [&] {
        const QList<Mail> mails = Mails(maildir);
        return std::count_if(mails.begin(), mails.end(), [](const Mail &mail) {
            return mail.to == "<duty@lab>" && mail.subject == QStringLiteral("печь-3: станция пропала во время записи");
        });
    };
    QTRY_COMPARE_WITH_TIMEOUT(lost(), 1, 10000);
    QTest::qWait(2000);
    QCOMPARE(lost(), 1);

    // Every message is in the log, the failures too.
    QFile log(QDir(archive).filePath(QStringLiteral("notifications.csv")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray logged = log.readAll();
    QVERIFY2(logged.startsWith("time,channel,recipients,station,event,outcome\r\n") && logged.contains(",duty,duty@lab,печь-2,alarm-high,sent\r\n")
                 && logged.contains(",refused,x@lab,печь-2,alarm-high,failed: "),
             logged.constData());
    collector.terminate();
    QVERIFY(collector.waitForFinished(10000));
}

QTEST_MAIN(TestNotify)
#include "tst_notify.moc"
