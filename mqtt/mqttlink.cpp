#include "mqttlink.h"

#include <QRandomGenerator>

#include <mosquitto.h>

#include <cstring>
#include <mutex>
#include <utility>

namespace {

void InitLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

// Connection refused codes of MQTT 3.1.1 that say the credentials are wrong.
constexpr int kBadUserNameOrPassword = 4;
constexpr int kNotAuthorized = 5;

// A wait spread by a fifth either way, so that many stations cut off by one
// broker's restart do not all come back in the same instant.
int Spread(int delayMs)
{
    return delayMs * (80 + QRandomGenerator::global()->bounded(41)) / 100;
}

} // namespace

void MqttLink::ClientDeleter::operator()(mosquitto *client) const
{
    mosquitto_destroy(client);
}

MqttLink::MqttLink(QObject *parent)
    : QObject(parent)
{
    InitLibrary();
    m_misc.setInterval(250);
    connect(&m_misc, &QTimer::timeout, this, &MqttLink::Serve);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &MqttLink::Attempt);
    m_connack.setSingleShot(true);
    connect(&m_connack, &QTimer::timeout, this,
            [this] { Fail(QStringLiteral("брокер не ответил на подключение"), std::nullopt); });
}

MqttLink::~MqttLink()
{
    DropClient();
}

void MqttLink::Open(const MqttEndpoint &endpoint)
{
    DropClient();
    m_endpoint = endpoint;
    m_bOpen = true;
    m_nBackoffMs = kFirstRetryMs;
    m_lastRefusal.reset();
    Attempt();
}

void MqttLink::Close()
{
    m_bOpen = false;
    m_retry.stop();
    if (m_client && m_bConnected) {
        mosquitto_disconnect(m_client.get());
        // The goodbye is small: a blocking moment to write it is enough.
        for (int i = 0; i < 20 && mosquitto_want_write(m_client.get()); ++i)
            if (mosquitto_loop_write(m_client.get(), 1) != MOSQ_ERR_SUCCESS)
                break;
    }
    DropClient();
}

void MqttLink::AttemptNow()
{
    if (!m_bOpen || m_bConnected || !m_retry.isActive())
        return;
    m_retry.stop();
    Attempt();
}

int MqttLink::NextAttemptInMs() const
{
    return m_retry.isActive() ? m_retry.remainingTime() : -1;
}

void MqttLink::Attempt()
{
    DropClient();
    if (!m_bOpen)
        return;
    const QByteArray id = m_endpoint.clientId.toUtf8();
    m_client.reset(mosquitto_new(id.isEmpty() ? nullptr : id.constData(), m_endpoint.cleanSession, this));
    if (!m_client) {
        Fail(QStringLiteral("не удалось создать клиента MQTT"), std::nullopt);
        return;
    }
    mosquitto *client = m_client.get();
    mosquitto_connect_with_flags_callback_set(client, &MqttLink::OnConnect);
    mosquitto_publish_callback_set(client, &MqttLink::OnPublish);
    mosquitto_message_callback_set(client, &MqttLink::OnMessage);
    mosquitto_max_inflight_messages_set(client, 0); // the owner keeps its own window
    if (!m_endpoint.user.isEmpty()) {
        mosquitto_username_pw_set(client, m_endpoint.user.toUtf8().constData(),
                                  m_endpoint.password.isEmpty() ? nullptr : m_endpoint.password.toUtf8().constData());
    }
    if (!m_endpoint.willTopic.isEmpty()) {
        mosquitto_will_set(client, m_endpoint.willTopic.constData(), int(m_endpoint.willPayload.size()),
                           m_endpoint.willPayload.constData(), 1, m_endpoint.willRetain);
    }
    if (m_endpoint.tls) {
        const QByteArray ca = m_endpoint.caFile.toLocal8Bit();
        const int rc = mosquitto_tls_set(client, ca.isEmpty() ? nullptr : ca.constData(), nullptr, nullptr, nullptr, nullptr);
        if (rc == MOSQ_ERR_SUCCESS && ca.isEmpty())
            mosquitto_int_option(client, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        if (rc != MOSQ_ERR_SUCCESS) {
            Fail(QStringLiteral("файл центра сертификации не читается: %1").arg(m_endpoint.caFile), Refusal::Tls);
            return;
        }
    }
    const int rc = mosquitto_connect_async(client, m_endpoint.host.toUtf8().constData(), m_endpoint.port,
                                           m_endpoint.keepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        if (rc == MOSQ_ERR_TLS)
            Fail(QStringLiteral("TLS: %1").arg(QString::fromUtf8(mosquitto_strerror(rc))), Refusal::Tls);
        else
            Fail(QString::fromUtf8(mosquitto_strerror(rc)), std::nullopt);
        return;
    }
    WatchSocket();
    m_misc.start();
    m_connack.start(kConnackWaitMs);
    Serve();
}

void MqttLink::WatchSocket()
{
    const int socket = mosquitto_socket(m_client.get());
    if (socket < 0)
        return;
    m_readable = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Read);
    connect(m_readable.get(), &QSocketNotifier::activated, this, &MqttLink::ServeRead);
    m_writable = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Write);
    connect(m_writable.get(), &QSocketNotifier::activated, this, &MqttLink::ServeWrite);
}

void MqttLink::DropClient()
{
    m_misc.stop();
    m_connack.stop();
    m_readable.reset();
    m_writable.reset();
    m_client.reset();
    m_bConnected = false;
    m_refusedConnack = 0;
}

void MqttLink::ServeRead()
{
    if (!m_client)
        return;
    Check(mosquitto_loop_read(m_client.get(), 1));
    Serve();
}

void MqttLink::ServeWrite()
{
    if (!m_client)
        return;
    Check(mosquitto_loop_write(m_client.get(), 1));
    Serve();
}

void MqttLink::Serve()
{
    if (!m_client)
        return;
    Check(mosquitto_loop_misc(m_client.get()));
    if (m_client && m_writable)
        m_writable->setEnabled(mosquitto_want_write(m_client.get()));
}

bool MqttLink::WantsWrite() const
{
    return m_client && mosquitto_want_write(m_client.get());
}

void MqttLink::Check(int rc)
{
    if (!m_client)
        return;
    if (m_refusedConnack != 0) {
        const int code = std::exchange(m_refusedConnack, 0);
        const bool credentials = code == kBadUserNameOrPassword || code == kNotAuthorized;
        Fail(QString::fromUtf8(mosquitto_connack_string(code)),
             credentials ? std::optional(Refusal::Credentials) : std::nullopt);
        return;
    }
    if (rc == MOSQ_ERR_SUCCESS)
        return;
    if (rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_TLS_HANDSHAKE)
        Fail(QStringLiteral("TLS: рукопожатие не удалось"), m_bConnected ? std::nullopt : std::optional(Refusal::Tls));
    else if (rc == MOSQ_ERR_KEEPALIVE)
        Fail(QStringLiteral("брокер не отвечает"), std::nullopt);
    else if (rc == MOSQ_ERR_ERRNO)
        Fail(QString::fromLocal8Bit(std::strerror(errno)), std::nullopt);
    else
        Fail(QString::fromUtf8(mosquitto_strerror(rc)), std::nullopt);
}

void MqttLink::Fail(const QString &reason, std::optional<Refusal> refusal)
{
    const bool wasConnected = m_bConnected;
    DropClient();
    if (wasConnected)
        m_nBackoffMs = kFirstRetryMs; // a connection that worked: the next try comes soon
    if (refusal) {
        if (m_lastRefusal != refusal)
            emit Refused(*refusal, reason);
        m_lastRefusal = refusal;
        ScheduleRetry(kRefusedRetryMs);
    } else {
        ScheduleRetry(m_nBackoffMs);
        m_nBackoffMs = std::min(m_nBackoffMs * 2, kLongestRetryMs);
    }
    emit Disconnected(reason);
}

void MqttLink::ScheduleRetry(int delayMs)
{
    if (m_bOpen)
        m_retry.start(Spread(delayMs));
}

int MqttLink::Publish(const QByteArray &topic, const QByteArray &payload, int qos, bool retain)
{
    if (!m_client || !m_bConnected)
        return -1;
    int mid = 0;
    const int rc = mosquitto_publish(m_client.get(), &mid, topic.constData(), int(payload.size()), payload.constData(),
                                     qos, retain);
    if (rc != MOSQ_ERR_SUCCESS)
        return -1;
    if (m_writable)
        m_writable->setEnabled(true);
    return mid;
}

bool MqttLink::Subscribe(const QByteArray &pattern, int qos)
{
    if (!m_client || !m_bConnected)
        return false;
    const bool queued = mosquitto_subscribe(m_client.get(), nullptr, pattern.constData(), qos) == MOSQ_ERR_SUCCESS;
    if (m_writable)
        m_writable->setEnabled(true);
    return queued;
}

void MqttLink::OnConnect(mosquitto *, void *self, int rc, int flags)
{
    auto *link = static_cast<MqttLink *>(self);
    link->m_connack.stop();
    if (rc != 0) {
        // The client is inside its own call and cannot go yet: Check ends it.
        link->m_refusedConnack = rc;
        return;
    }
    link->m_bConnected = true;
    link->m_nBackoffMs = kFirstRetryMs;
    link->m_lastRefusal.reset();
    emit link->Connected((flags & 1) != 0);
}

void MqttLink::OnPublish(mosquitto *, void *self, int mid)
{
    emit static_cast<MqttLink *>(self)->Acknowledged(mid);
}

void MqttLink::OnMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    emit static_cast<MqttLink *>(self)->Message(
        QByteArray(message->topic), QByteArray(static_cast<const char *>(message->payload), message->payloadlen));
}
