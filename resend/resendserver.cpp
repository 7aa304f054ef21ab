#include "resendserver.h"

#include "localtimeline.h"
#include "nativefs.h"
#include "publisher.h"
#include "recordfolder.h"

#include <QFile>

#include <algorithm>
#include <limits>

namespace {

QString Numbered(int file)
{
    return QStringLiteral("%1").arg(file, 4, 10, QLatin1Char('0'));
}

} // namespace

ResendServer::ResendServer(Publisher &publisher, const RunRegistry &registry, QObject *parent)
    : QObject(parent)
    , m_publisher(publisher)
    , m_registry(registry)
{
    m_step.setSingleShot(true);
    connect(&m_step, &QTimer::timeout, this, &ResendServer::Step);
    connect(&m_publisher, &Publisher::ResendRequested, this, &ResendServer::Take);
    connect(&m_publisher, &Publisher::ResentAcknowledged, this, [this] {
        if (m_job)
            Schedule(0);
    });
    connect(&m_publisher, &Publisher::LinkLost, this, &ResendServer::Abandon);
    m_refill.start();
}

void ResendServer::Take(const QByteArray &payload)
{
    PayloadReader::ResendRequest request;
    QString why;
    if (m_reader.ReadResendRequest(payload, &request, &why) != PayloadReader::Refusal::None) {
        emit Said(QStringLiteral("a request for readings refused: %1").arg(why));
        return;
    }
    const auto same = [&](const PayloadReader::ResendRequest &other) {
        return other.run == request.run && other.from == request.from && other.to == request.to;
    };
    if ((m_job && same(m_job->request)) || std::any_of(m_waiting.begin(), m_waiting.end(), same))
        return; // asked again while it is served or waits
    if (m_waiting.size() >= kWaitingRequests) {
        if (!m_bQueueFullSaid)
            emit Said(QStringLiteral("requests for readings come faster than they are served: the newest are left"));
        m_bQueueFullSaid = true;
        return;
    }
    m_bQueueFullSaid = false;
    m_waiting.push_back(request);
    if (!m_job)
        Schedule(0);
}

void ResendServer::Schedule(int ms)
{
    if (!m_step.isActive() || ms == 0)
        m_step.start(ms);
}

void ResendServer::Abandon()
{
    // Over another connection the collector asks again.
    m_job.reset();
    m_waiting.clear();
    m_step.stop();
}

qint64 ResendServer::Budget()
{
    const qint64 elapsed = m_refill.restart();
    m_nBudget = std::min(kReadingsPerMinute, m_nBudget + elapsed * kReadingsPerMinute / 60000);
    return m_nBudget;
}

void ResendServer::Step()
{
    if (!m_job) {
        if (m_waiting.empty())
            return;
        Job job;
        job.request = m_waiting.front();
        m_waiting.pop_front();
        const qint64 size = job.request.to - job.request.from;
        job.found.resize(size_t(size));
        job.have.assign(size_t(size), false);
        job.next = job.request.from;
        m_job = std::move(job);
    }
    Job &job = *m_job;
    switch (job.stage) {
    case Job::Stage::Outbox:
        LookInOutbox(job);
        break;
    case Job::Stage::DataFiles:
        LookInDataFiles(job);
        break;
    case Job::Stage::Sending:
        Send(job);
        return; // it schedules itself
    case Job::Stage::Summary:
        Finish(job);
        return;
    }
    Schedule(0);
}

void ResendServer::Found(Job &job, qint64 seq, const publishpayloads::Reading &reading)
{
    if (seq < job.request.from || seq >= job.request.to)
        return;
    const size_t at = size_t(seq - job.request.from);
    job.found[at] = reading;
    job.have[at] = true;
}

void ResendServer::Lost(Job &job, qint64 from, qint64 to, const QString &why)
{
    // Only what was not found: a range a request asks for, split where found.
    from = std::max(from, job.request.from);
    to = std::min(to, job.request.to);
    for (qint64 seq = from; seq < to;) {
        while (seq < to && job.have[size_t(seq - job.request.from)])
            ++seq;
        const qint64 start = seq;
        while (seq < to && !job.have[size_t(seq - job.request.from)])
            ++seq;
        if (seq > start) {
            if (!job.lost.empty() && job.lost.back().to == start && job.lost.back().why == why)
                job.lost.back().to = seq;
            else
                job.lost.push_back({start, seq, why});
        }
    }
}

void ResendServer::LookInOutbox(Job &job)
{
    const Outbox &outbox = m_publisher.GetOutbox();
    const std::vector<qint64> &segments = outbox.Segments();
    if (job.segment >= segments.size() || std::all_of(job.have.begin(), job.have.end(), [](bool have) { return have; })) {
        job.stage = Job::Stage::DataFiles;
        job.run = m_registry.Find(job.request.run);
        return;
    }
    const QString station = m_publisher.Station();
    outbox.ForEachItem(segments[job.segment++], [&](const OutboxItem &item) {
        if (item.kind != OutboxItem::Kind::Readings || item.run != job.request.run)
            return;
        if (!item.station.isEmpty() && item.station != station)
            return; // recorded for the station under another name: not this one's
        if (item.seq >= job.request.to || item.seq + qint64(item.readings.size()) <= job.request.from)
            return;
        for (size_t i = 0; i < item.readings.size(); ++i)
            Found(job, item.seq + qint64(i), item.readings[i]);
    });
}

void ResendServer::LookInDataFiles(Job &job)
{
    const bool all = std::all_of(job.have.begin(), job.have.end(), [](bool have) { return have; });
    if (all || !job.run) {
        if (!all)
            Lost(job, job.request.from, job.request.to, QStringLiteral("сеанс неизвестен станции"));
        job.stage = Job::Stage::Sending;
        return;
    }
    RunRegistry::Entry &run = *job.run;
    // The files the saves wrote, then any a recovery wrote after them (a run
    // killed between two saves), up to the next run's first file.
    if (job.file == run.files.size() && !run.files.empty()) {
        const RunRegistry::SavedFile &last = run.files.back();
        bool number = false;
        const int next = last.name.toInt(&number) + 1;
        const QString name = Numbered(next);
        if (number && last.name.size() == 4 && next <= 9999 && (!run.nextRunsFirstFile || next < *run.nextRunsFirstFile)
            && IsRegularFile(run.folder + QLatin1Char('/') + name)) {
            run.files.push_back({name, last.firstSeq + last.readings, -1}); // its count is its lines'
        }
    }
    if (job.file >= run.files.size()) {
        // What neither the outbox nor a file holds is lost, unless the run
        // goes on and a save may still bring it; past a run's end there is nothing.
        const qint64 saved = run.files.empty() ? 0 : run.files.back().firstSeq + std::max<qint64>(0, run.files.back().readings);
        const bool running = m_publisher.Run() == job.request.run;
        const qint64 end = running ? saved : (run.readings ? *run.readings : job.request.to);
        Lost(job, job.request.from, std::min(job.request.to, end), QStringLiteral("нет ни в очереди, ни в файлах данных"));
        job.stage = Job::Stage::Sending;
        return;
    }
    const RunRegistry::SavedFile file = run.files[job.file++];
    const qint64 end = file.readings >= 0 ? file.firstSeq + file.readings : std::numeric_limits<qint64>::max();
    if (end <= job.request.from || file.firstSeq >= job.request.to)
        return;
    const QString path = run.folder + QLatin1Char('/') + file.name;
    QFile data;
    if (!OpenNamedFile(data, path, QIODevice::ReadOnly)) {
        Lost(job, file.firstSeq, end, QStringLiteral("файл данных %1 удалён").arg(file.name));
        return;
    }
    RecordFolder folder(run.folder);
    LocalTimeLine timeLine;
    std::vector<publishpayloads::Reading> readings;
    folder.ReadBytes(file.name, data.readAll(), timeLine, [&](const FolderReading &reading) {
        // The digits as the file has them: the number they stand for, as published.
        readings.push_back({reading.utcMs, reading.celsius});
    });
    if (!folder.Problems().isEmpty() || (file.readings >= 0 && qint64(readings.size()) != file.readings)) {
        Lost(job, file.firstSeq, end,
             QStringLiteral("файл данных %1 изменён: %2 показаний вместо %3").arg(file.name).arg(readings.size()).arg(file.readings));
        return;
    }
    for (size_t i = 0; i < readings.size(); ++i)
        Found(job, file.firstSeq + qint64(i), readings[i]);
    if (file.readings < 0)
        run.files[job.file - 1].readings = qint64(readings.size());
}

void ResendServer::Send(Job &job)
{
    const qint64 from = job.request.from;
    while (job.next < job.request.to) {
        if (!job.have[size_t(job.next - from)]) {
            ++job.next;
            continue;
        }
        qint64 count = 0;
        while (count < kBatch && job.next + count < job.request.to && job.have[size_t(job.next + count - from)])
            ++count;
        if (Budget() < count) {
            // A million a minute at most: the rest when the budget is back.
            Schedule(int((count - m_nBudget) * 60000 / kReadingsPerMinute) + 1);
            return;
        }
        if (!m_publisher.SendResent(job.request.run, job.next,
                                    std::span(job.found).subspan(size_t(job.next - from), size_t(count))))
            return; // the window is full: on at the next acknowledgement
        m_nBudget -= count;
        job.sent += count;
        m_nServed += count;
        job.next += count;
    }
    job.stage = Job::Stage::Summary;
    Finish(job);
}

void ResendServer::Finish(Job &job)
{
    // The summary after every batch of it is acknowledged: the broker has them.
    if (m_publisher.ResentInFlight() > 0)
        return;
    std::optional<qint64> readings;
    if (m_publisher.Run() != job.request.run && job.run)
        readings = job.run->readings;
    const QByteArray summary =
        publishpayloads::Resent(job.request.run, job.request.from, job.request.to, job.sent, readings, job.lost);
    if (!m_publisher.SendResentSummary(summary)) {
        Abandon();
        return;
    }
    emit Said(QStringLiteral("run %1: readings %2 to %3 sent again: %4, lost %5 ranges")
                  .arg(job.request.run)
                  .arg(job.request.from)
                  .arg(job.request.to - 1)
                  .arg(job.sent)
                  .arg(job.lost.size()));
    m_job.reset();
    if (!m_waiting.empty())
        Schedule(0);
}
