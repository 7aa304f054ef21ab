#pragma once

#include "mqttendpoint.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>
#include <optional>

struct mosquitto;

// A connection to an MQTT broker (MQTT 3.1.1, libmosquitto) that keeps itself
// up: it connects, and after a failure or a lost connection tries again after
// a wait that doubles from half a second to 30 s. A refusal of the name and
// password, or of the TLS handshake, is told once and tried again only every
// minute. The socket is served by the owner thread's event loop, so every
// signal comes on that thread.
//
// Each connection is a fresh client: what was in flight on a broken one is
// forgotten, and the owner sends it again.
class MqttLink : public QObject
{
    Q_OBJECT

public:
    enum class Refusal {
        Credentials, // the broker refused the name or password
        Tls,         // the TLS handshake failed (certificate, authority, protocol)
    };

    static constexpr int kFirstRetryMs = 500;
    static constexpr int kLongestRetryMs = 30000;
    static constexpr int kRefusedRetryMs = 60000;
    static constexpr int kConnackWaitMs = 10000;

    explicit MqttLink(QObject *parent = nullptr);
    ~MqttLink() override;

    // Starts connecting to `endpoint`, dropping any connection there was.
    void Open(const MqttEndpoint &endpoint);
    // Says goodbye (no last will) and stays closed.
    void Close();

    bool IsOpen() const { return m_bOpen; }
    bool IsConnected() const { return m_bConnected; }
    // When the next attempt is due, in ms from now; -1 while none waits.
    int NextAttemptInMs() const;
    // An attempt waiting for its back-off is made at once.
    void AttemptNow();

    // Queues a message on the current connection; its message id, or -1 when
    // there is no connection. QoS 1 messages are acknowledged by Acknowledged.
    int Publish(const QByteArray &topic, const QByteArray &payload, int qos, bool retain);
    bool Subscribe(const QByteArray &pattern, int qos);
    // Bytes queued for the socket and not yet written.
    bool WantsWrite() const;

signals:
    void Connected(bool sessionPresent);
    // The connection ended or an attempt failed; `reason` says why, in words.
    void Disconnected(const QString &reason);
    // Once per run of refusals: the same refusal again says nothing.
    void Refused(MqttLink::Refusal refusal, const QString &reason);
    void Acknowledged(int messageId);
    void Message(const QByteArray &topic, const QByteArray &payload);

private:
    struct ClientDeleter
    {
        void operator()(mosquitto *client) const;
    };

    void Attempt();
    void Serve();
    void ServeRead();
    void ServeWrite();
    void Check(int rc);
    void Fail(const QString &reason, std::optional<Refusal> refusal);
    void DropClient();
    void WatchSocket();
    void ScheduleRetry(int delayMs);

    static void OnConnect(mosquitto *client, void *self, int rc, int flags);
    static void OnPublish(mosquitto *client, void *self, int mid);
    static void OnMessage(mosquitto *client, void *self, const struct mosquitto_message *message);

    MqttEndpoint m_endpoint;
    std::unique_ptr<mosquitto, ClientDeleter> m_client;
    std::unique_ptr<QSocketNotifier> m_readable;
    std::unique_ptr<QSocketNotifier> m_writable;
    QTimer m_misc;      // keep-alive and the socket's wish to write
    QTimer m_retry;
    QTimer m_connack;   // a broker that takes the connection and never answers
    bool m_bOpen = false;
    bool m_bConnected = false;
    int m_refusedConnack = 0; // a refusal seen inside the client's call, acted on after it
    int m_nBackoffMs = kFirstRetryMs;
    std::optional<Refusal> m_lastRefusal;
};
