#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Reads the payloads that other programs publish, as a collector or a
// station takes them: anything a client of the broker may send, so every
// field is checked and bounded before it is believed. Made for speed
// (simdjson): a collector reads every station's every batch.
class PayloadReader
{
public:
    static constexpr qsizetype kMaxPayloadBytes = 1024 * 1024;
    static constexpr qsizetype kMaxReadings = 4096;
    // Readings may lie this far before their run's start (a clock set back
    // during the run) and this far ahead of the reader's own clock.
    static constexpr qint64 kBeforeRunMs = 24LL * 3600 * 1000;
    static constexpr qint64 kAheadMs = 60 * 1000;
    // The earliest run a station can have: 2000-01-01.
    static constexpr qint64 kEarliestRunMs = 946684800000LL;
    static constexpr qint64 kLargestSeq = qint64(1) << 40;

    PayloadReader();
    ~PayloadReader();
    PayloadReader(const PayloadReader &) = delete;
    PayloadReader &operator=(const PayloadReader &) = delete;

    // Why a payload was not taken.
    enum class Refusal {
        None,
        LaterVersion, // "v" is not 1: for a later reader, not a fault
        NotJson,
        TooLarge,     // more bytes, or more readings, than a station sends
        Field,        // a field missing, of the wrong kind, or out of its range
    };

    // A batch of readings: {"v":1,"run":…,"seq":…,"readings":[[ms,°C],…],"resent":true?}.
    struct Reading
    {
        qint64 utcMs = 0;
        double celsius = 0;
        std::string_view text; // the temperature as it came, into the batch's own buffer
    };
    struct Batch
    {
        qint64 run = 0;
        qint64 seq = 0;
        bool resent = false;
        std::vector<Reading> readings;
        std::string texts; // what the readings' texts point into
    };
    // `nowMs` is the reader's clock, against which the readings' times are bounded.
    Refusal ReadBatch(QByteArrayView payload, qint64 nowMs, Batch *batch, QString *why);

    // An event: {"v":1,"t":…,"event":…,"c":…|null,"text":…,"run":…|null,"n":…,"user":…}.
    struct Event
    {
        qint64 t = 0;
        QString event;
        std::optional<double> c;
        QString text;
        bool runGiven = false;   // older stations send no "run": filed by time then
        std::optional<qint64> run;
        std::optional<qint64> n; // a run-stop's readings
        QString user;
    };
    Refusal ReadEvent(QByteArrayView payload, qint64 nowMs, Event *event, QString *why);

    // A line of a station's record chain: {"v":1,"folder":…,"line":…}; at most 4 KiB.
    struct ChainEntry
    {
        QString folder;
        QString line;
    };
    Refusal ReadChainEntry(QByteArrayView payload, ChainEntry *entry, QString *why);

    // A resend request: {"v":1,"run":…,"from":…,"to":…}.
    struct ResendRequest
    {
        qint64 run = 0;
        qint64 from = 0;
        qint64 to = 0;
    };
    Refusal ReadResendRequest(QByteArrayView payload, ResendRequest *request, QString *why);

    // The answer's summary: {"v":1,"run":…,"from":…,"to":…,"sent":…,"n":…|null,"lost":[[from,to,"why"],…]}.
    struct LostRange
    {
        qint64 from = 0;
        qint64 to = 0;
        QString why;
    };
    struct Resent
    {
        qint64 run = 0;
        qint64 from = 0;
        qint64 to = 0;
        qint64 sent = 0;
        std::optional<qint64> n;
        std::vector<LostRange> lost;
    };
    Refusal ReadResent(QByteArrayView payload, Resent *resent, QString *why);

private:
    struct Parser;
    std::unique_ptr<Parser> m_parser;
};
