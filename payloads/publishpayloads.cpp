#include "publishpayloads.h"

#include <charconv>

namespace publishpayloads {

QByteArray Topic(const QString &topic, const QString &station, const char *leaf)
{
    return topic.toUtf8() + '/' + station.toUtf8() + '/' + leaf;
}

void AppendTemperature(QByteArray &out, double celsius)
{
    char text[32];
    const char *end = std::to_chars(text, text + sizeof text, celsius, std::chars_format::general, 6).ptr;
    out.append(text, end - text);
}

namespace {

void AppendInteger(QByteArray &out, qint64 value)
{
    char text[24];
    const char *end = std::to_chars(text, text + sizeof text, value).ptr;
    out.append(text, end - text);
}

} // namespace

void AppendJsonString(QByteArray &out, const QString &text)
{
    out += '"';
    for (char c : text.toUtf8()) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

QByteArray Readings(qint64 run, qint64 seq, std::span<const Reading> readings, bool resent)
{
    QByteArray out;
    out.reserve(48 + qsizetype(readings.size()) * 26);
    out += "{\"v\":1,\"run\":";
    AppendInteger(out, run);
    out += ",\"seq\":";
    AppendInteger(out, seq);
    out += ",\"readings\":[";
    for (size_t i = 0; i < readings.size(); ++i) {
        if (i > 0)
            out += ',';
        out += '[';
        AppendInteger(out, readings[i].utcMs);
        out += ',';
        AppendTemperature(out, readings[i].temperature);
        out += ']';
    }
    out += resent ? "],\"resent\":true}" : "]}";
    return out;
}

QByteArray LastPayload(const Last &last)
{
    QByteArray out = "{\"v\":1,\"t\":";
    AppendInteger(out, last.t);
    out += ",\"c\":";
    if (last.c)
        AppendTemperature(out, *last.c);
    else
        out += "null";
    out += ",\"line\":";
    AppendJsonString(out, last.line);
    out += ",\"alarm\":";
    if (last.alarm.isEmpty())
        out += "null";
    else
        AppendJsonString(out, last.alarm);
    out += ",\"run\":";
    if (last.run)
        AppendInteger(out, *last.run);
    else
        out += "null";
    out += '}';
    return out;
}

QByteArray Event(const RunEvent &event, std::optional<qint64> run, std::optional<qint64> readings)
{
    QByteArray out = "{\"v\":1,\"t\":";
    AppendInteger(out, event.utcMs);
    out += ",\"event\":";
    AppendJsonString(out, event.event);
    out += ",\"c\":";
    if (event.temperature)
        out += QByteArray::number(*event.temperature, 'f', 1);
    else
        out += "null";
    out += ",\"text\":";
    AppendJsonString(out, event.text);
    if (!event.user.isEmpty()) {
        out += ",\"user\":";
        AppendJsonString(out, event.user);
    }
    out += ",\"run\":";
    if (run)
        AppendInteger(out, *run);
    else
        out += "null";
    if (readings) {
        out += ",\"n\":";
        AppendInteger(out, *readings);
    }
    out += '}';
    return out;
}

QByteArray Resent(qint64 run, qint64 from, qint64 to, qint64 sent, std::optional<qint64> readings, std::span<const LostRange> lost)
{
    QByteArray out = "{\"v\":1,\"run\":";
    AppendInteger(out, run);
    out += ",\"from\":";
    AppendInteger(out, from);
    out += ",\"to\":";
    AppendInteger(out, to);
    out += ",\"sent\":";
    AppendInteger(out, sent);
    out += ",\"n\":";
    if (readings)
        AppendInteger(out, *readings);
    else
        out += "null";
    out += ",\"lost\":[";
    for (size_t i = 0; i < lost.size(); ++i) {
        if (i > 0)
            out += ',';
        out += '[';
        AppendInteger(out, lost[i].from);
        out += ',';
        AppendInteger(out, lost[i].to);
        out += ',';
        AppendJsonString(out, lost[i].why);
        out += ']';
    }
    out += "]}";
    return out;
}

QByteArray ChainLine(const QString &folder, const QByteArray &line)
{
    QByteArray out = "{\"v\":1,\"folder\":";
    AppendJsonString(out, folder);
    out += ",\"line\":";
    AppendJsonString(out, QString::fromLatin1(line));
    out += '}';
    return out;
}

QByteArray StationKey(const QByteArray &publicKeyHex, const QString &fingerprint)
{
    QByteArray out = "{\"v\":1,\"key\":";
    AppendJsonString(out, QString::fromLatin1(publicKeyHex));
    out += ",\"fingerprint\":";
    AppendJsonString(out, fingerprint);
    out += '}';
    return out;
}

QByteArray ResendRequest(qint64 run, qint64 from, qint64 to)
{
    QByteArray out = "{\"v\":1,\"run\":";
    AppendInteger(out, run);
    out += ",\"from\":";
    AppendInteger(out, from);
    out += ",\"to\":";
    AppendInteger(out, to);
    out += '}';
    return out;
}

} // namespace publishpayloads
