#include "payloadreader.h"

#include <simdjson.h>

#include <charconv>
#include <cmath>
#include <cstring>

using namespace simdjson;

namespace {

constexpr qsizetype kMaxText = 4096;
constexpr qsizetype kMaxLostRanges = 1000;
constexpr qint64 kMaxRequest = 1000000;

PayloadReader::Refusal Bad(QString *why, const char *what)
{
    *why = QString::fromLatin1(what);
    return PayloadReader::Refusal::Field;
}

// A JSON number's own text: the temperature as the station wrote it.
bool NumberText(ondemand::value value, std::string_view *text, double *number)
{
    std::string_view token = value.raw_json_token();
    while (!token.empty() && (token.back() == ' ' || token.back() == '\t' || token.back() == '\n' || token.back() == '\r'))
        token.remove_suffix(1);
    if (token.empty() || token.size() > 32)
        return false;
    const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), *number);
    if (error != std::errc() || end != token.data() + token.size() || !std::isfinite(*number))
        return false;
    *text = token;
    return true;
}

bool Text(ondemand::value value, QString *out, qsizetype longest)
{
    std::string_view text;
    if (value.get_string().get(text) || qsizetype(text.size()) > longest * 4)
        return false;
    *out = QString::fromUtf8(text.data(), qsizetype(text.size()));
    return out->size() <= longest;
}

bool NullOr(ondemand::value value, bool *null)
{
    return !value.is_null().get(*null);
}

} // namespace

struct PayloadReader::Parser
{
    ondemand::parser parser;
    std::vector<char> padded;

    simdjson_result<ondemand::document> Iterate(QByteArrayView payload)
    {
        // simdjson reads a little past the end: a copy with room behind it.
        padded.resize(size_t(payload.size()) + SIMDJSON_PADDING);
        std::memcpy(padded.data(), payload.data(), size_t(payload.size()));
        std::memset(padded.data() + payload.size(), 0, SIMDJSON_PADDING);
        return parser.iterate(padded.data(), size_t(payload.size()), padded.size());
    }
};

PayloadReader::PayloadReader()
    : m_parser(std::make_unique<Parser>())
{
}

PayloadReader::~PayloadReader() = default;

PayloadReader::Refusal PayloadReader::ReadBatch(QByteArrayView payload, qint64 nowMs, Batch *batch, QString *why)
{
    *batch = Batch {};
    if (payload.size() > kMaxPayloadBytes) {
        *why = QStringLiteral("%1 bytes").arg(payload.size());
        return Refusal::TooLarge;
    }
    ondemand::document document;
    ondemand::object object;
    if (m_parser->Iterate(payload).get(document) || document.get_object().get(object)) {
        *why = QStringLiteral("no JSON object");
        return Refusal::NotJson;
    }
    std::int64_t version = -1, run = -1, seq = -1;
    bool haveReadings = false;
    // Offsets into the texts, made views once the buffer no longer grows.
    std::vector<std::pair<std::uint32_t, std::uint16_t>> places;
    for (auto field : object) {
        std::string_view key;
        ondemand::value value;
        if (field.unescaped_key().get(key) || field.value().get(value)) {
            *why = QStringLiteral("no JSON object");
            return Refusal::NotJson;
        }
        if (key == "v") {
            if (value.get_int64().get(version))
                return Bad(why, "\"v\" is no integer");
        } else if (key == "run") {
            if (value.get_int64().get(run))
                return Bad(why, "\"run\" is no integer");
        } else if (key == "seq") {
            if (value.get_int64().get(seq))
                return Bad(why, "\"seq\" is no integer");
        } else if (key == "resent") {
            bool resent = false;
            if (value.get_bool().get(resent))
                return Bad(why, "\"resent\" is no boolean");
            batch->resent = resent;
        } else if (key == "readings") {
            ondemand::array list;
            if (value.get_array().get(list))
                return Bad(why, "\"readings\" is no array");
            haveReadings = true;
            for (auto item : list) {
                if (qsizetype(batch->readings.size()) >= kMaxReadings) {
                    *why = QStringLiteral("more than %1 readings").arg(kMaxReadings);
                    return Refusal::TooLarge;
                }
                ondemand::array pair;
                if (item.get_array().get(pair))
                    return Bad(why, "a reading is no [time, temperature]");
                Reading reading;
                int index = 0;
                std::string_view text;
                for (auto element : pair) {
                    ondemand::value part;
                    if (element.get(part))
                        return Bad(why, "a reading is no [time, temperature]");
                    if (index == 0) {
                        std::int64_t ms = 0;
                        if (part.get_int64().get(ms))
                            return Bad(why, "a reading's time is no integer");
                        reading.utcMs = ms;
                    } else if (index == 1) {
                        if (!NumberText(part, &text, &reading.celsius))
                            return Bad(why, "a reading's temperature is no finite number");
                    }
                    ++index;
                }
                if (index != 2)
                    return Bad(why, "a reading is no [time, temperature]");
                places.emplace_back(std::uint32_t(batch->texts.size()), std::uint16_t(text.size()));
                batch->texts.append(text);
                batch->readings.push_back(reading);
            }
        }
    }
    if (version != 1) {
        *why = QStringLiteral("version %1").arg(version);
        return Refusal::LaterVersion;
    }
    if (run < kEarliestRunMs || run > nowMs + kAheadMs)
        return Bad(why, "\"run\" is no run's start");
    if (seq < 0 || seq >= kLargestSeq || !haveReadings)
        return Bad(why, "\"seq\" is out of its range, or no readings");
    batch->run = run;
    batch->seq = seq;
    for (size_t i = 0; i < batch->readings.size(); ++i) {
        Reading &reading = batch->readings[i];
        if (reading.utcMs < run - kBeforeRunMs || reading.utcMs > nowMs + kAheadMs) {
            *why = QStringLiteral("a reading dated %1 ms from its run's start").arg(reading.utcMs - run);
            return Refusal::Field;
        }
        reading.text = std::string_view(batch->texts).substr(places[i].first, places[i].second);
    }
    return Refusal::None;
}

PayloadReader::Refusal PayloadReader::ReadEvent(QByteArrayView payload, qint64 nowMs, Event *event, QString *why)
{
    *event = Event {};
    if (payload.size() > 64 * 1024) {
        *why = QStringLiteral("%1 bytes").arg(payload.size());
        return Refusal::TooLarge;
    }
    ondemand::document document;
    ondemand::object object;
    if (m_parser->Iterate(payload).get(document) || document.get_object().get(object)) {
        *why = QStringLiteral("no JSON object");
        return Refusal::NotJson;
    }
    std::int64_t version = -1, t = -1;
    for (auto field : object) {
        std::string_view key;
        ondemand::value value;
        if (field.unescaped_key().get(key) || field.value().get(value)) {
            *why = QStringLiteral("no JSON object");
            return Refusal::NotJson;
        }
        bool null = false;
        if (key == "v") {
            if (value.get_int64().get(version))
                return Bad(why, "\"v\" is no integer");
        } else if (key == "t") {
            if (value.get_int64().get(t))
                return Bad(why, "\"t\" is no integer");
        } else if (key == "event") {
            if (!Text(value, &event->event, 32))
                return Bad(why, "\"event\" is no short text");
        } else if (key == "text") {
            if (!Text(value, &event->text, kMaxText))
                return Bad(why, "\"text\" is no text of its length");
        } else if (key == "user") {
            if (!Text(value, &event->user, 256))
                return Bad(why, "\"user\" is no short text");
        } else if (key == "c") {
            if (!NullOr(value, &null))
                return Bad(why, "\"c\" is no number");
            if (!null) {
                double c = 0;
                if (value.get_double().get(c) || !std::isfinite(c))
                    return Bad(why, "\"c\" is no number");
                event->c = c;
            }
        } else if (key == "run") {
            event->runGiven = true;
            if (!NullOr(value, &null))
                return Bad(why, "\"run\" is no integer");
            if (!null) {
                std::int64_t run = 0;
                if (value.get_int64().get(run) || run < kEarliestRunMs || run > nowMs + kAheadMs)
                    return Bad(why, "\"run\" is no run's start");
                event->run = run;
            }
        } else if (key == "n") {
            std::int64_t n = 0;
            if (value.get_int64().get(n) || n < 0 || n >= kLargestSeq)
                return Bad(why, "\"n\" is out of its range");
            event->n = n;
        }
    }
    if (version != 1) {
        *why = QStringLiteral("version %1").arg(version);
        return Refusal::LaterVersion;
    }
    if (t < kEarliestRunMs || t > nowMs + kAheadMs)
        return Bad(why, "\"t\" is out of its range");
    for (const QChar c : event->event)
        if (!(c.isLower() && c.unicode() < 128) && c != QLatin1Char('-'))
            return Bad(why, "\"event\" is no event's name");
    if (event->event.isEmpty())
        return Bad(why, "no \"event\"");
    event->t = t;
    return Refusal::None;
}

PayloadReader::Refusal PayloadReader::ReadChainEntry(QByteArrayView payload, ChainEntry *entry, QString *why)
{
    *entry = ChainEntry {};
    if (payload.size() > 4096) {
        *why = QStringLiteral("%1 bytes").arg(payload.size());
        return Refusal::TooLarge;
    }
    ondemand::document document;
    ondemand::object object;
    if (m_parser->Iterate(payload).get(document) || document.get_object().get(object)) {
        *why = QStringLiteral("no JSON object");
        return Refusal::NotJson;
    }
    std::int64_t version = -1;
    for (auto field : object) {
        std::string_view key;
        ondemand::value value;
        if (field.unescaped_key().get(key) || field.value().get(value)) {
            *why = QStringLiteral("no JSON object");
            return Refusal::NotJson;
        }
        if (key == "v") {
            if (value.get_int64().get(version))
                return Bad(why, "\"v\" is no integer");
        } else if (key == "folder") {
            if (!Text(value, &entry->folder, 1024))
                return Bad(why, "\"folder\" is no text of its length");
        } else if (key == "line") {
            if (!Text(value, &entry->line, 1024))
                return Bad(why, "\"line\" is no text of its length");
        }
    }
    if (version != 1) {
        *why = QStringLiteral("version %1").arg(version);
        return Refusal::LaterVersion;
    }
    if (entry->folder.isEmpty() || entry->line.isEmpty())
        return Bad(why, "no folder, or no line");
    return Refusal::None;
}

PayloadReader::Refusal PayloadReader::ReadResendRequest(QByteArrayView payload, ResendRequest *request, QString *why)
{
    *request = ResendRequest {};
    if (payload.size() > 4096) {
        *why = QStringLiteral("%1 bytes").arg(payload.size());
        return Refusal::TooLarge;
    }
    ondemand::document document;
    ondemand::object object;
    if (m_parser->Iterate(payload).get(document) || document.get_object().get(object)) {
        *why = QStringLiteral("no JSON object");
        return Refusal::NotJson;
    }
    std::int64_t version = -1, run = -1, from = -1, to = -1;
    for (auto field : object) {
        std::string_view key;
        ondemand::value value;
        if (field.unescaped_key().get(key) || field.value().get(value)) {
            *why = QStringLiteral("no JSON object");
            return Refusal::NotJson;
        }
        std::int64_t *target = key == "v" ? &version : key == "run" ? &run : key == "from" ? &from : key == "to" ? &to : nullptr;
        if (target && value.get_int64().get(*target))
            return Bad(why, "a field is no integer");
    }
    if (version != 1) {
        *why = QStringLiteral("version %1").arg(version);
        return Refusal::LaterVersion;
    }
    if (run < kEarliestRunMs || from < 0 || to <= from || to > kLargestSeq)
        return Bad(why, "no run, or no range of readings");
    if (to - from > kMaxRequest) {
        *why = QStringLiteral("%1 readings asked for, more than %2").arg(to - from).arg(kMaxRequest);
        return Refusal::TooLarge;
    }
    *request = {run, from, to};
    return Refusal::None;
}

PayloadReader::Refusal PayloadReader::ReadResent(QByteArrayView payload, Resent *resent, QString *why)
{
    *resent = Resent {};
    if (payload.size() > 256 * 1024) {
        *why = QStringLiteral("%1 bytes").arg(payload.size());
        return Refusal::TooLarge;
    }
    ondemand::document document;
    ondemand::object object;
    if (m_parser->Iterate(payload).get(document) || document.get_object().get(object)) {
        *why = QStringLiteral("no JSON object");
        return Refusal::NotJson;
    }
    std::int64_t version = -1, run = -1, from = -1, to = -1, sent = -1;
    for (auto field : object) {
        std::string_view key;
        ondemand::value value;
        if (field.unescaped_key().get(key) || field.value().get(value)) {
            *why = QStringLiteral("no JSON object");
            return Refusal::NotJson;
        }
        if (key == "n") {
            bool null = false;
            if (!NullOr(value, &null))
                return Bad(why, "\"n\" is no integer");
            std::int64_t n = 0;
            if (!null) {
                if (value.get_int64().get(n) || n < 0 || n > kLargestSeq)
                    return Bad(why, "\"n\" is out of its range");
                resent->n = n;
            }
            continue;
        }
        if (key == "lost") {
            ondemand::array list;
            if (value.get_array().get(list))
                return Bad(why, "\"lost\" is no array");
            for (auto item : list) {
                if (qsizetype(resent->lost.size()) >= kMaxLostRanges)
                    return Bad(why, "too many lost ranges");
                ondemand::array range;
                if (item.get_array().get(range))
                    return Bad(why, "a lost range is no [from, to, why]");
                LostRange lost;
                int index = 0;
                for (auto element : range) {
                    ondemand::value part;
                    if (element.get(part))
                        return Bad(why, "a lost range is no [from, to, why]");
                    std::int64_t number = 0;
                    if (index < 2) {
                        if (part.get_int64().get(number))
                            return Bad(why, "a lost range is no [from, to, why]");
                        (index == 0 ? lost.from : lost.to) = number;
                    } else if (index == 2 && !Text(part, &lost.why, 1024)) {
                        return Bad(why, "a lost range's reason is no text");
                    }
                    ++index;
                }
                if (index != 3 || lost.from < 0 || lost.to <= lost.from || lost.to > kLargestSeq)
                    return Bad(why, "a lost range is no [from, to, why]");
                resent->lost.push_back(lost);
            }
            continue;
        }
        std::int64_t *target = key == "v"      ? &version
            : key == "run"                     ? &run
            : key == "from"                    ? &from
            : key == "to"                      ? &to
            : key == "sent"                    ? &sent
                                               : nullptr;
        if (target && value.get_int64().get(*target))
            return Bad(why, "a field is no integer");
    }
    if (version != 1) {
        *why = QStringLiteral("version %1").arg(version);
        return Refusal::LaterVersion;
    }
    if (run < kEarliestRunMs || from < 0 || to <= from || to > kLargestSeq || sent < 0 || sent > to - from)
        return Bad(why, "no run, or no range of readings");
    resent->run = run;
    resent->from = from;
    resent->to = to;
    resent->sent = sent;
    return Refusal::None;
}
