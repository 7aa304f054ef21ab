#pragma once

#include <QString>

// Where the run's readings are published: an MQTT broker, off while no host
// is set.
struct PublishSettings
{
    QString host;            // empty: publishing is off
    int port = 1883;
    bool tls = false;
    QString caFile;          // with TLS; empty: the system's authorities
    QString user;
    QString password;
    QString station;         // empty: the computer's host name
    QString topic = QStringLiteral("calorivista");
    int outboxMB = 2048;
    int keepHours = 24;      // acknowledged readings kept in the outbox, to be sent again if asked

    bool IsOn() const { return !host.trimmed().isEmpty(); }
    bool operator==(const PublishSettings &) const = default;
};

// Why these settings cannot be used ("тема MQTT … недопустима"), or empty: a
// topic that is empty, holds the wildcards '+' or '#', or starts or ends with
// '/' can take no message; a station name with '/', '+' or '#' neither. The
// settings dialog refuses such values; a settings file may hold them all the same.
QString PublishSettingsProblem(const PublishSettings &settings);

// The station's name in topics when none is set: the host name, and for a
// second instrument on the computer (`instrument` names it) "<host>-<instrument>".
QString DefaultStationName(const QString &instrument = QString());
// The station's name in topics: the setting, else the default, with the
// characters that MQTT gives a meaning in topics ('/', '+', '#') and spaces
// replaced by '_'.
QString StationName(const PublishSettings &settings, const QString &instrument = QString());
