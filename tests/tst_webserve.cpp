// The pages' web server against hostile clients on real sockets on
// 127.0.0.1: heads that never end, clients that drip or idle, more
// connections than it takes, viewers that never read, and a process out of
// descriptors. Whatever they do, its memory and its CPU stay bounded and an
// honest request is answered soon after.
#include "tokenwebserver.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <ctime>
#include <vector>

namespace {

const QString kToken = QStringLiteral("0123456789abcdef");

// A sanitizer's allocator holds freed memory back on purpose: the resident
// size then says nothing of what the server keeps.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kResidentSizeTells = false;
#else
constexpr bool kResidentSizeTells = true;
#endif

// A client socket of its own, so that the test controls every byte and
// never reads unless asked to.
class Client
{
public:
    explicit Client(int port, int receiveBuffer = 0)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(quint16(port));
        // Never waits: a server whose queue is full leaves the connection pending.
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 || errno == EINPROGRESS;
    }
    ~Client() { ::close(m_fd); }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    bool Connected() const { return m_connected; }
    // What the socket takes now, without waiting: false once the server has closed it.
    bool Send(const QByteArray &bytes)
    {
        qsizetype sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
            if (n < 0)
                return errno == EAGAIN || errno == EWOULDBLOCK;
            sent += n;
        }
        return true;
    }
    // Reads what has come; true once the server closed the connection.
    bool Closed()
    {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                m_received.append(buffer, n);
                continue;
            }
            return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        }
    }
    QByteArray Received() const { return m_received; }

private:
    int m_fd = -1;
    bool m_connected = false;
    QByteArray m_received;
};

qint64 ResidentKB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

double ProcessCpuSeconds()
{
    timespec t {};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

QByteArray Get(const QByteArray &target)
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

// An honest request, answered within `ms`.
QByteArray HonestAnswer(int port, int ms)
{
    Client client(port);
    if (!client.Connected() || !client.Send(Get("/page?token=" + kToken.toUtf8())))
        return {};
    QElapsedTimer waited;
    waited.start();
    while (!client.Closed() && waited.elapsed() < ms)
        QTest::qWait(10);
    return client.Received();
}

QByteArray Handshake()
{
    return "GET /live?token=" + kToken.toUtf8()
        + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
          "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
}

} // namespace

class TestWebServe : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void answersOnlyTheTokensGet_data();
    void answersOnlyTheTokensGet();
    void hostileClientsAreCutOffInBoundedTimeAndMemory_data();
    void hostileClientsAreCutOffInBoundedTimeAndMemory();
    void moreConnectionsThanItTakesWaitTheirTurn();
    void viewerThatNeverReadsIsDropped();
    void outOfDescriptorsItPausesInsteadOfSpinning();

private:
    std::unique_ptr<TokenWebServer> m_server;
    QByteArray m_frame = "{}";
};

void TestWebServe::init()
{
    m_server = std::make_unique<TokenWebServer>(
        [](const QString &path, const QUrlQuery &) -> std::optional<WebReply> {
            if (path == QLatin1String("/page"))
                return WebReply {"page", "text/plain"};
            return std::nullopt;
        },
        [this](qint64 &mark) {
            ++mark;
            return m_frame;
        },
        50);
    QString error;
    QVERIFY2(m_server->Listen(QStringLiteral("127.0.0.1"), 0, kToken, &error), qPrintable(error));
}

void TestWebServe::cleanup()
{
    m_server.reset();
}

void TestWebServe::answersOnlyTheTokensGet_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("status");
    const QByteArray token = kToken.toUtf8();
    QTest::newRow("the page") << Get("/page?token=" + token) << QByteArray("200");
    QTest::newRow("no token") << Get("/page") << QByteArray("403");
    QTest::newRow("a wrong token") << Get("/page?token=0123456789abcdeF") << QByteArray("403");
    QTest::newRow("a WebSocket without the token")
        << QByteArray("GET /live HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n") << QByteArray("403");
    QTest::newRow("a POST") << QByteArray("POST /page?token=" + token + " HTTP/1.1\r\nContent-Length: 0\r\n\r\n")
                            << QByteArray("405");
    QTest::newRow("no such page") << Get("/other?token=" + token) << QByteArray("404");
    QTest::newRow("no request line") << QByteArray("hello\r\n\r\n") << QByteArray("400");
    QTest::newRow("HTTP/2 preface") << QByteArray("PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n") << QByteArray("400");
}

void TestWebServe::answersOnlyTheTokensGet()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, status);
    Client client(m_server->Port());
    QVERIFY(client.Connected());
    QVERIFY(client.Send(request));
    QTRY_VERIFY_WITH_TIMEOUT(client.Closed(), 3000);
    QVERIFY2(client.Received().startsWith("HTTP/1.1 " + status + ' '), client.Received().constData());
    if (status != "200")
        QVERIFY(client.Received().endsWith("Content-Length: 0\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n"));
    QTRY_COMPARE(m_server->Connections(), 0);
}

void TestWebServe::hostileClientsAreCutOffInBoundedTimeAndMemory_data()
{
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QByteArray>("drip");  // sent every 100 ms after the start
    QTest::addColumn<qint64>("flood");     // bytes sent at once after the start
    QTest::addColumn<int>("closedAfterMs"); // at least
    QTest::addColumn<QByteArray>("status"); // the answer, or empty for a plain close
    const QByteArray start = "GET /page?token=" + kToken.toUtf8() + " HTTP/1.1\r\nX-Long: ";
    QTest::newRow("a header that never ends") << start << QByteArray() << qint64(600) * 1024 * 1024 << 0 << QByteArray("431");
    QTest::newRow("more header fields than allowed")
        << start + "a\r\n" + QByteArray("X: b\r\n").repeated(200) << QByteArray() << qint64(0) << 0 << QByteArray("431");
    // (Qt's timers may fire up to a twentieth early.)
    const int deadline = TokenWebServer::kHeadTimeoutMs * 9 / 10;
    QTest::newRow("half a head, then nothing") << start << QByteArray() << qint64(0) << deadline << QByteArray();
    QTest::newRow("a byte every 100 ms") << start << QByteArray("a") << qint64(0) << deadline << QByteArray();
    QTest::newRow("nothing at all") << QByteArray() << QByteArray() << qint64(0) << deadline << QByteArray();
}

void TestWebServe::hostileClientsAreCutOffInBoundedTimeAndMemory()
{
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, drip);
    QFETCH(qint64, flood);
    QFETCH(int, closedAfterMs);
    QFETCH(QByteArray, status);
    const qint64 residentBefore = ResidentKB();
    Client client(m_server->Port());
    QVERIFY(client.Connected());
    QElapsedTimer open;
    open.start();
    QVERIFY(client.Send(start));
    const QByteArray block(1024 * 1024, 'a');
    qint64 flooded = 0;
    bool closed = false;
    while (!closed && open.elapsed() < TokenWebServer::kHeadTimeoutMs + 3000) {
        if (flooded < flood) {
            if (!client.Send(block))
                break; // the server has closed it
            flooded += block.size();
        }
        if (!drip.isEmpty() && !client.Send(drip))
            break;
        QTest::qWait(drip.isEmpty() ? 1 : 100);
        closed = client.Closed();
    }
    QTRY_VERIFY_WITH_TIMEOUT(client.Closed(), 3000);
    const qint64 closedAt = open.elapsed();
    QVERIFY2(closedAt >= closedAfterMs && closedAt < TokenWebServer::kHeadTimeoutMs + 1500,
             qPrintable(QStringLiteral("closed after %1 ms").arg(closedAt)));
    if (status.isEmpty())
        QCOMPARE(client.Received(), QByteArray());
    else
        QVERIFY2(client.Received().startsWith("HTTP/1.1 " + status + ' '), client.Received().left(80).constData());
    // What it kept of the flood is the bounded head, not the flood.
    QVERIFY2(!kResidentSizeTells || ResidentKB() - residentBefore < 8 * 1024,
             qPrintable(QStringLiteral("%1 KB more after %2 MB sent").arg(ResidentKB() - residentBefore).arg(flooded >> 20)));
    QTRY_COMPARE(m_server->Connections(), 0);
    QCOMPARE(HonestAnswer(m_server->Port(), 2000).left(12), QByteArray("HTTP/1.1 200"));
}

void TestWebServe::moreConnectionsThanItTakesWaitTheirTurn()
{
    // 100 clients hold half a head each: at most 64 are taken, none kept
    // past its deadline, and an honest request gets its answer meanwhile.
    std::vector<std::unique_ptr<Client>> holders;
    for (int i = 0; i < 100; ++i) {
        holders.push_back(std::make_unique<Client>(m_server->Port()));
        holders.back()->Send("GET /page?token=" + kToken.toUtf8() + " HTTP/1.1\r\n");
    }
    QTRY_COMPARE(m_server->Connections(), TokenWebServer::kMaxConnections);
    QTest::qWait(300);
    QCOMPARE(m_server->Connections(), TokenWebServer::kMaxConnections);
    const QByteArray answer = HonestAnswer(m_server->Port(), 3 * TokenWebServer::kHeadTimeoutMs);
    QVERIFY2(answer.startsWith("HTTP/1.1 200"), answer.constData());
    holders.clear();
    QTRY_COMPARE_WITH_TIMEOUT(m_server->Connections(), 0, 3 * TokenWebServer::kHeadTimeoutMs);
}

void TestWebServe::viewerThatNeverReadsIsDropped()
{
    m_frame = QByteArray(64 * 1024, 'x'); // 1.3 MB a second at one frame each 50 ms
    const qint64 residentBefore = ResidentKB();
    std::vector<std::unique_ptr<Client>> viewers;
    for (int i = 0; i < 5; ++i) {
        viewers.push_back(std::make_unique<Client>(m_server->Port(), 4096));
        QVERIFY(viewers.back()->Send(Handshake()));
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_server->Viewers(), 5, 3000);
    // None of them reads: each is dropped once a megabyte waits for it.
    QTRY_COMPARE_WITH_TIMEOUT(m_server->Viewers(), 0, 30000);
    if (kResidentSizeTells)
        QVERIFY2(ResidentKB() - residentBefore < 32 * 1024, qPrintable(QString::number(ResidentKB() - residentBefore)));
    QTRY_COMPARE(m_server->Connections(), 0);
    // A viewer that reads is served all along.
    m_frame = "{}";
    Client reader(m_server->Port());
    QVERIFY(reader.Send(Handshake()));
    QTRY_COMPARE(m_server->Viewers(), 1);
    QTest::qWait(500);
    reader.Closed();
    QCOMPARE(m_server->Viewers(), 1);
    QVERIFY(reader.Received().startsWith("HTTP/1.1 101"));
    QVERIFY2(reader.Received().count("{}") >= 5, reader.Received().constData());
}

void TestWebServe::outOfDescriptorsItPausesInsteadOfSpinning()
{
    // Twenty connections the kernel has queued before the server takes any,
    // then no descriptor left for the process to take them with.
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 20; ++i)
        clients.push_back(std::make_unique<Client>(m_server->Port()));
    rlimit before {};
    QVERIFY(::getrlimit(RLIMIT_NOFILE, &before) == 0);
    int open = 0;
    for (int fd = 0; fd < 65536 && fd < int(before.rlim_cur); ++fd)
        open += ::fcntl(fd, F_GETFD) != -1;
    rlimit tight = before;
    tight.rlim_cur = rlim_t(open);
    QVERIFY(::setrlimit(RLIMIT_NOFILE, &tight) == 0);
    {
        const auto restore = qScopeGuard([&] { ::setrlimit(RLIMIT_NOFILE, &before); });
        const double cpuBefore = ProcessCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        QTest::qWait(2000);
        const double share = (ProcessCpuSeconds() - cpuBefore) / (double(wall.elapsed()) / 1000.0);
        QVERIFY2(share < 0.2, qPrintable(QStringLiteral("%1 % of a core while out of descriptors").arg(share * 100)));
        QVERIFY(m_server->Connections() < 20);
    }
    // With descriptors again it takes them after its pause, and answers.
    QTRY_COMPARE_WITH_TIMEOUT(m_server->Connections(), 20, 3000);
    clients.clear();
    const QByteArray answer = HonestAnswer(m_server->Port(), 3 * TokenWebServer::kHeadTimeoutMs);
    QVERIFY2(answer.startsWith("HTTP/1.1 200"), answer.constData());
}

QTEST_MAIN(TestWebServe)
#include "tst_webserve.moc"
