#pragma once

#include "payloadreader.h"
#include "publishpayloads.h"
#include "runregistry.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>
#include <optional>
#include <vector>

class Publisher;

// Serves a collector's requests for readings again: from the outbox while
// it keeps them, else from the run's data files (found through the run
// index), as ordinary batches marked "resent" that go after the live ones,
// then a summary that names what can never be sent again and why. One
// request at a time, and at most a million readings a minute, so that no
// client of the broker can keep the station busy: requests beyond that wait.
// It works in short steps on the owner's event loop: a segment or a data
// file a step, nothing shared with the reader thread.
class ResendServer : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 kReadingsPerMinute = 1000000;
    static constexpr size_t kWaitingRequests = 16;
    static constexpr qint64 kBatch = 4096;

    ResendServer(Publisher &publisher, const RunRegistry &registry, QObject *parent = nullptr);

    // A request as it came on the station's resend topic.
    void Take(const QByteArray &payload);
    bool IsBusy() const { return m_job.has_value(); }
    qint64 Served() const { return m_nServed; }

signals:
    // A line for the log: a request refused or served.
    void Said(const QString &line);

private:
    struct Job
    {
        PayloadReader::ResendRequest request;
        enum class Stage { Outbox, DataFiles, Sending, Summary };
        Stage stage = Stage::Outbox;
        size_t segment = 0;                 // the next outbox segment to look in
        std::optional<RunRegistry::Entry> run;
        size_t file = 0;                    // the next data file to look in
        std::vector<publishpayloads::Reading> found; // by seq - from
        std::vector<bool> have;
        std::vector<publishpayloads::LostRange> lost;
        qint64 next = 0;                    // the next seq to send
        qint64 sent = 0;
    };

    void Step();
    void LookInOutbox(Job &job);
    void LookInDataFiles(Job &job);
    void Send(Job &job);
    void Finish(Job &job);
    void Abandon();
    void Schedule(int ms);
    void Found(Job &job, qint64 seq, const publishpayloads::Reading &reading);
    void Lost(Job &job, qint64 from, qint64 to, const QString &why);
    qint64 Budget();

    Publisher &m_publisher;
    const RunRegistry &m_registry;
    PayloadReader m_reader;
    std::deque<PayloadReader::ResendRequest> m_waiting;
    std::optional<Job> m_job;
    QTimer m_step;
    QElapsedTimer m_refill;
    qint64 m_nBudget = kReadingsPerMinute;
    qint64 m_nServed = 0;
    bool m_bQueueFullSaid = false;
};
