#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <map>
#include <optional>

// Asks stations for the readings the archive lacks, one request per station
// at a time: a request without an answer within a minute is asked again,
// after waits that double up to a quarter of an hour, and so is one whose
// answer brought nothing. A station that comes online is asked at once.
class ResendAsker : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        qint64 run = 0;
        qint64 from = 0;
        qint64 to = 0;
        bool operator==(const Request &) const = default;
    };
    static constexpr qint64 kAnswerWaitMs = 60000;
    static constexpr qint64 kLongestWaitMs = 15 * 60000;
    static constexpr qint64 kLargestRequest = 1000000;

    // `next` says what a station is to be asked for now, if anything.
    explicit ResendAsker(std::function<std::optional<Request>(const QString &station)> next, QObject *parent = nullptr);

    // Something may be missing at this station: asked now unless a request
    // waits for its answer or a wait is not over; `now` drops the wait (the
    // station came online, or the collector started).
    void Wake(const QString &station, bool now = false);
    // The station's answer came: the next request soon after.
    void Answered(const QString &station, const Request &request, bool broughtSomething);
    // Without the broker nothing can be asked; once back, everyone is woken.
    void SetConnected(bool connected);
    bool IsWaitingFor(const QString &station) const { return m_stations.count(station) && m_stations.at(station).asked; }

signals:
    void Ask(const QString &station, const ResendAsker::Request &request);

private:
    struct Station
    {
        std::optional<Request> asked;   // waiting for its answer
        std::optional<Request> previous; // the last one asked, for "again"
        qint64 askedAtMs = 0;
        qint64 notBeforeMs = 0;          // a wait after an answer without progress
        qint64 waitMs = kAnswerWaitMs;
    };

    void Check();
    void AskNow(const QString &station, Station &state);

    std::function<std::optional<Request>(const QString &)> m_next;
    std::map<QString, Station> m_stations;
    QTimer m_timer;
    bool m_bConnected = false;
};
