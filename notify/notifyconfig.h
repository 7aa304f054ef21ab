#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTime>

#include <optional>
#include <vector>

// A channel a message goes out on: e-mail through an SMTP server, or an HTTP POST.
struct NotifyChannel
{
    enum class Kind { Email, Webhook };
    enum class Security { None, StartTls, Tls };
    enum class Format { Json, Ntfy, Telegram };
    Kind kind = Kind::Email;
    QString name;
    // E-mail.
    QString host;
    int port = 587;
    Security security = Security::StartTls;
    QString user;
    QString passwordFile;
    QString from;
    QStringList to;
    // Webhook.
    QString url;
    Format format = Format::Json;
    QStringList headers;
    QString tokenFile;
};

// Who is told of what: stations by name or shell pattern, the events, the
// channels told at once and those told when it stays unacknowledged.
struct NotifyRule
{
    struct Step
    {
        double minutes = 0;
        QStringList channels;
    };
    QString name;
    QStringList stations;
    QStringList events;
    QStringList notify;
    std::vector<Step> escalate; // in order of their minutes

    bool Matches(const QString &station, const QString &event) const;
};

// The collector's --notify file: an INI file whose sections and keys are
// fixed (see the README); anything else is refused with its line's number.
struct NotifyConfig
{
    double groupMinutes = 5;
    int floodCount = 10;
    double floodMinutes = 10;
    std::optional<QTime> heartbeat;
    QString overview;
    std::vector<NotifyChannel> channels;
    std::vector<NotifyRule> rules;

    const NotifyChannel *Channel(const QString &name) const;

    // The file's settings, or none with "line N: why".
    static std::optional<NotifyConfig> Parse(const QByteArray &text, QString *error);
    static std::optional<NotifyConfig> Read(const QString &path, QString *error);
};
