#pragma once

#include <QByteArray>
#include <QString>

// Where and how a link connects: the broker, its credentials, and what the
// broker says for the client when the link breaks without a goodbye.
struct MqttEndpoint
{
    QString host;
    int port = 1883;
    bool tls = false;
    QString caFile;     // with TLS: the authority the broker's certificate must come from
    QString user;       // empty: none
    QString password;
    QString clientId;
    bool cleanSession = true; // false: the broker keeps what arrives for the client while it is away
    int keepAliveSeconds = 10;
    QByteArray willTopic;     // empty: no last will
    QByteArray willPayload;
    bool willRetain = false;
};
