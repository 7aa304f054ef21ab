#include "notifyconfig.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <functional>
#include <map>

namespace {

QStringList List(const QString &value, QChar separator = QLatin1Char(','))
{
    QStringList items;
    for (const QString &item : value.split(separator, Qt::SkipEmptyParts))
        if (!item.trimmed().isEmpty())
            items << item.trimmed();
    return items;
}

std::optional<double> Minutes(const QString &value)
{
    bool ok = false;
    const double minutes = value.toDouble(&ok);
    return ok && minutes >= 0 && minutes <= 7 * 24 * 60 ? std::optional<double>(minutes) : std::nullopt;
}

const QStringList kEvents {QStringLiteral("alarm-high"), QStringLiteral("alarm-low"), QStringLiteral("alarm-rate"),
                           QStringLiteral("alarm-silence"), QStringLiteral("station-lost"),
                           QStringLiteral("collector-broker-lost"), QStringLiteral("notify-failed")};

} // namespace

bool NotifyRule::Matches(const QString &station, const QString &event) const
{
    if (!events.contains(event))
        return false;
    return std::any_of(stations.begin(), stations.end(), [&](const QString &pattern) {
        // Anchored: "ofen-*" is every name that starts so.
        return QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern)).match(station).hasMatch();
    });
}

const NotifyChannel *NotifyConfig::Channel(const QString &name) const
{
    for (const NotifyChannel &channel : channels)
        if (channel.name == name)
            return &channel;
    return nullptr;
}

std::optional<NotifyConfig> NotifyConfig::Read(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    if (file.size() > 1024 * 1024) {
        *error = QStringLiteral("%1: larger than any such file").arg(path);
        return std::nullopt;
    }
    return Parse(file.readAll(), error);
}

std::optional<NotifyConfig> NotifyConfig::Parse(const QByteArray &text, QString *error)
{
    NotifyConfig config;
    enum class Section { None, General, Channel, Rule } section = Section::None;
    int number = 0;
    const auto fail = [&](const QString &why) {
        *error = QStringLiteral("line %1: %2").arg(number).arg(why);
        return std::nullopt;
    };
    for (const QByteArray &raw : text.split('\n')) {
        ++number;
        QString line = QString::fromUtf8(raw).trimmed();
        // A comment runs from " ;" or " #" (or the line's start) to its end.
        static const QRegularExpression comment(QStringLiteral("(^|\\s)[;#].*$"));
        line.remove(comment);
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            if (!line.endsWith(QLatin1Char(']')))
                return fail(QStringLiteral("a section's name ends with ]"));
            const QString name = line.mid(1, line.size() - 2).trimmed();
            const QString kind = name.section(QLatin1Char(':'), 0, 0);
            const QString own = name.section(QLatin1Char(':'), 1).trimmed();
            if (name == QLatin1String("general")) {
                section = Section::General;
            } else if ((kind == QLatin1String("email") || kind == QLatin1String("webhook")) && !own.isEmpty()) {
                if (config.Channel(own))
                    return fail(QStringLiteral("a second channel named %1").arg(own));
                NotifyChannel channel;
                channel.kind = kind == QLatin1String("email") ? NotifyChannel::Kind::Email : NotifyChannel::Kind::Webhook;
                channel.name = own;
                config.channels.push_back(channel);
                section = Section::Channel;
            } else if (kind == QLatin1String("rule") && !own.isEmpty()) {
                config.rules.push_back(NotifyRule {own, {QStringLiteral("*")}, {}, {}, {}});
                section = Section::Rule;
            } else {
                return fail(QStringLiteral("no section [%1]: [general], [email:NAME], [webhook:NAME] or [rule:NAME]").arg(name));
            }
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            return fail(QStringLiteral("not key = value"));
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        const auto unknown = [&] { return fail(QStringLiteral("no key %1 in this section").arg(key)); };
        if (section == Section::None)
            return fail(QStringLiteral("a key before any section"));
        if (section == Section::General) {
            if (key == QLatin1String("group-minutes")) {
                const std::optional<double> minutes = Minutes(value);
                if (!minutes)
                    return fail(QStringLiteral("group-minutes is minutes"));
                config.groupMinutes = *minutes;
            } else if (key == QLatin1String("flood")) {
                static const QRegularExpression flood(QStringLiteral("^(\\d{1,6})\\s*/\\s*(\\d+(\\.\\d+)?)$"));
                const QRegularExpressionMatch match = flood.match(value);
                if (!match.hasMatch() || match.captured(1).toInt() < 1)
                    return fail(QStringLiteral("flood is ALARMS/MINUTES"));
                config.floodCount = match.captured(1).toInt();
                config.floodMinutes = match.captured(2).toDouble();
            } else if (key == QLatin1String("heartbeat")) {
                if (value.isEmpty()) {
                    config.heartbeat.reset();
                } else {
                    const QTime time = QTime::fromString(value, QStringLiteral("HH:mm"));
                    if (!time.isValid())
                        return fail(QStringLiteral("heartbeat is HH:MM or empty"));
                    config.heartbeat = time;
                }
            } else if (key == QLatin1String("overview")) {
                config.overview = value;
            } else {
                return unknown();
            }
            continue;
        }
        if (section == Section::Channel) {
            NotifyChannel &channel = config.channels.back();
            const bool email = channel.kind == NotifyChannel::Kind::Email;
            if (email && key == QLatin1String("host")) {
                channel.host = value;
            } else if (email && key == QLatin1String("port")) {
                bool ok = false;
                channel.port = value.toInt(&ok);
                if (!ok || channel.port < 1 || channel.port > 65535)
                    return fail(QStringLiteral("port is 1 to 65535"));
            } else if (email && key == QLatin1String("security")) {
                static const std::map<QString, NotifyChannel::Security> kinds {
                    {QStringLiteral("none"), NotifyChannel::Security::None},
                    {QStringLiteral("starttls"), NotifyChannel::Security::StartTls},
                    {QStringLiteral("tls"), NotifyChannel::Security::Tls}};
                const auto found = kinds.find(value);
                if (found == kinds.end())
                    return fail(QStringLiteral("security is none, starttls or tls"));
                channel.security = found->second;
            } else if (email && key == QLatin1String("user")) {
                channel.user = value;
            } else if (email && key == QLatin1String("password-file")) {
                channel.passwordFile = value;
            } else if (email && key == QLatin1String("from")) {
                channel.from = value;
            } else if (email && key == QLatin1String("to")) {
                channel.to = List(value);
            } else if (!email && key == QLatin1String("url")) {
                channel.url = value;
            } else if (!email && key == QLatin1String("format")) {
                static const std::map<QString, NotifyChannel::Format> formats {
                    {QStringLiteral("json"), NotifyChannel::Format::Json},
                    {QStringLiteral("ntfy"), NotifyChannel::Format::Ntfy},
                    {QStringLiteral("telegram"), NotifyChannel::Format::Telegram}};
                const auto found = formats.find(value);
                if (found == formats.end())
                    return fail(QStringLiteral("format is json, ntfy or telegram"));
                channel.format = found->second;
            } else if (!email && key == QLatin1String("header")) {
                if (!value.contains(QLatin1Char(':')))
                    return fail(QStringLiteral("header is Name: value"));
                channel.headers << value;
            } else if (!email && key == QLatin1String("token-file")) {
                channel.tokenFile = value;
            } else {
                return unknown();
            }
            continue;
        }
        NotifyRule &rule = config.rules.back();
        if (key == QLatin1String("stations")) {
            rule.stations = List(value);
        } else if (key == QLatin1String("events")) {
            rule.events = List(value);
            for (const QString &event : rule.events)
                if (!kEvents.contains(event))
                    return fail(QStringLiteral("no event %1 to notify of").arg(event));
        } else if (key == QLatin1String("notify")) {
            rule.notify = List(value, QLatin1Char('+'));
        } else if (key == QLatin1String("escalate")) {
            rule.escalate.clear();
            for (const QString &step : List(value)) {
                const std::optional<double> minutes = Minutes(step.section(QLatin1Char(':'), 0, 0).trimmed());
                const QStringList channels = List(step.section(QLatin1Char(':'), 1), QLatin1Char('+'));
                if (!minutes || channels.isEmpty())
                    return fail(QStringLiteral("escalate is MINUTES:CHANNEL+CHANNEL, …"));
                rule.escalate.push_back({*minutes, channels});
            }
            std::stable_sort(rule.escalate.begin(), rule.escalate.end(),
                             [](const NotifyRule::Step &a, const NotifyRule::Step &b) { return a.minutes < b.minutes; });
        } else {
            return unknown();
        }
    }
    // Every channel a rule names must be there, and each channel complete.
    for (const NotifyChannel &channel : config.channels) {
        const bool email = channel.kind == NotifyChannel::Kind::Email;
        if (email ? channel.host.isEmpty() || channel.from.isEmpty() || channel.to.isEmpty() : channel.url.isEmpty()) {
            *error = QStringLiteral("channel %1: %2").arg(channel.name, email ? QStringLiteral("host, from and to are needed")
                                                                             : QStringLiteral("url is needed"));
            return std::nullopt;
        }
    }
    for (const NotifyRule &rule : config.rules) {
        QStringList named = rule.notify;
        for (const NotifyRule::Step &step : rule.escalate)
            named << step.channels;
        for (const QString &name : named) {
            if (!config.Channel(name)) {
                *error = QStringLiteral("rule %1: no channel %2").arg(rule.name, name);
                return std::nullopt;
            }
        }
    }
    return config;
}
