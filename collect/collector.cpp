#include "collector.h"

#include "publishpayloads.h"

#include <QDateTime>

#include <algorithm>
#include <chrono>

namespace {

// A station's name as a folder name: what a file system would not take goes.
bool UsableStationName(const QString &name)
{
    return !name.isEmpty() && name.size() <= 200 && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0))
        && !name.startsWith(QLatin1Char('.'));
}

qint64 NowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

qint64 SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Disconnected this soon after connecting, this many times in a row: another
// client with the same id takes the connection each time.
constexpr qint64 kQuickLossMs = 5000;
constexpr int kQuickLossesToGiveUp = 5;

} // namespace

Collector::Collector(CollectorOptions options, Archive &archive, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_archive(archive)
    , m_asker([this](const QString &station) { return NextRequest(station); })
{
    connect(&m_link, &MqttLink::Connected, this, &Collector::OnConnected);
    connect(&m_link, &MqttLink::Message, this, &Collector::OnMessage);
    connect(&m_link, &MqttLink::Disconnected, this, &Collector::OnDisconnected);
    connect(&m_link, &MqttLink::Refused, this,
            [this](MqttLink::Refusal, const QString &reason) { emit Said(QStringLiteral("broker: refused (%1)").arg(reason)); });
    connect(&m_asker, &ResendAsker::Ask, this, &Collector::Ask);
    m_flush.setInterval(kFlushMs);
    connect(&m_flush, &QTimer::timeout, this, &Collector::Flush);
    // A station another collector asks is looked at again now and then: that
    // collector may be gone.
    m_askAgain.setInterval(kAskAgainMs);
    connect(&m_askAgain, &QTimer::timeout, this, [this] {
        const QSet<QString> waiting = m_waitingToAsk;
        for (const QString &station : waiting)
            m_asker.Wake(station);
    });
}

Collector::~Collector()
{
    Flush();
}

void Collector::Start()
{
    // The runs left open by the last session: asked for once the broker is there.
    for (Archive::RunRecord &record : m_archive.OpenRuns()) {
        Station *station = StationOf(record.station);
        if (!station)
            continue;
        auto state = std::make_unique<OpenRun>();
        state->ledger = std::move(record.ledger);
        state->stopped = record.stopped;
        state->probeTail = !state->stopped; // what came after the last it has, and whether it stopped
        station->runs[record.run] = std::move(state);
        station->starts.try_emplace(record.run, std::nullopt);
        m_asker.Wake(record.station, true);
    }
    m_flush.start();
    m_askAgain.start();
    m_link.Open(m_options.endpoint);
}

void Collector::Stop()
{
    m_link.Close();
    Flush();
}

void Collector::OnConnected()
{
    m_nConnectedAtMs = SteadyMs();
    const QByteArray topic = m_options.topic.toUtf8();
    m_link.Subscribe(topic + "/+/readings", 1);
    m_link.Subscribe(topic + "/+/events", 1);
    m_link.Subscribe(topic + "/+/resent", 1);
    m_link.Subscribe(topic + "/+/chain", 1);
    // Only the newest matters: nothing of them is kept for the collector
    // while it is away. A station that comes online is asked what it lacks.
    m_link.Subscribe(topic + "/+/status", 0);
    if (m_options.followStations)
        m_link.Subscribe(topic + "/+/last", 0);
    emit BrokerChanged(true);
    emit Said(QStringLiteral("broker: connected to %1:%2").arg(m_options.endpoint.host).arg(m_options.endpoint.port));
    m_asker.SetConnected(true);
}

void Collector::OnDisconnected(const QString &reason)
{
    m_asker.SetConnected(false);
    emit BrokerChanged(false);
    const bool quick = m_nConnectedAtMs >= 0 && SteadyMs() - m_nConnectedAtMs < kQuickLossMs;
    m_nConnectedAtMs = -1;
    m_nQuickLosses = quick ? m_nQuickLosses + 1 : 0;
    if (m_nQuickLosses >= 2) {
        emit Said(QStringLiteral("broker: disconnected (%1): another client with the id %2 takes the connection")
                      .arg(reason, m_options.endpoint.clientId));
    } else {
        emit Said(QStringLiteral("broker: disconnected (%1)").arg(reason));
    }
    if (m_nQuickLosses >= kQuickLossesToGiveUp) {
        m_link.Close();
        emit GaveUp(QStringLiteral("another client with the id %1 keeps taking the connection; give each collector its own --id")
                        .arg(m_options.endpoint.clientId));
    }
}

void Collector::OnMessage(const QByteArray &topic, const QByteArray &payload)
{
    const QByteArray prefix = m_options.topic.toUtf8() + '/';
    if (!topic.startsWith(prefix))
        return;
    const QList<QByteArray> levels = topic.mid(prefix.size()).split('/');
    if (levels.size() != 2)
        return;
    const QString station = QString::fromUtf8(levels[0]);
    if (levels[1] == "readings")
        TakeReadings(station, payload);
    else if (levels[1] == "events")
        TakeEvent(station, payload);
    else if (levels[1] == "resent")
        TakeResent(station, payload);
    else if (levels[1] == "chain")
        TakeChainLine(station, payload);
    else if (levels[1] == "status") {
        emit StatusHeard(station, payload);
        if (payload.trimmed() == "online" && m_stations.count(station)) {
            // Back: what its runs lack can be asked now, and how its unfinished ones went on.
            for (auto &[run, state] : m_stations[station].runs)
                state->probeTail = !state->stopped;
            m_asker.Wake(station, true);
        }
    } else if (levels[1] == "last")
        emit LastHeard(station, payload);
}

Collector::Station *Collector::StationOf(const QString &name)
{
    if (!UsableStationName(name))
        return nullptr;
    auto found = m_stations.find(name);
    if (found != m_stations.end())
        return &found->second;
    if (m_stations.size() >= kMaxStations) {
        if (!m_bStationsFullSaid)
            emit Said(QStringLiteral("stations: more than %1 publish; the others are not archived").arg(kMaxStations));
        m_bStationsFullSaid = true;
        return nullptr;
    }
    return &m_stations[name];
}

Collector::OpenRun *Collector::RunOf(const QString &name, Station &station, qint64 run)
{
    auto found = station.runs.find(run);
    if (found != station.runs.end())
        return found->second.get();
    QString error;
    std::optional<Archive::RunRecord> record = m_archive.Run(name, run, &error);
    if (!record) {
        emit Said(QStringLiteral("%1: cannot be archived: %2").arg(RunWords(name, run), error));
        return nullptr;
    }
    auto state = std::make_unique<OpenRun>();
    state->ledger = std::move(record->ledger);
    state->stopped = record->stopped;
    state->wholeSaid = state->ledger.Whole();
    if (state->ledger.Held() == 0 && !state->stopped)
        emit Said(RunWords(name, run) + QStringLiteral(" started"));
    station.starts.try_emplace(run, std::nullopt);
    return station.runs.emplace(run, std::move(state)).first->second.get();
}

QString Collector::RunWords(const QString &station, qint64 run) const
{
    return QStringLiteral("%1: run %2 (%3)")
        .arg(station)
        .arg(run)
        .arg(QDateTime::fromMSecsSinceEpoch(run).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

void Collector::SayOnce(const QString &name, Station &station, const QString &kind, const QString &line)
{
    if (station.said.contains(kind))
        return;
    station.said.insert(kind);
    emit Said(QStringLiteral("%1: %2 (said once)").arg(name, line));
}

void Collector::TakeReadings(const QString &name, const QByteArray &payload)
{
    Station *station = StationOf(name);
    if (!station)
        return;
    PayloadReader::Batch batch;
    QString why;
    switch (m_reader.ReadBatch(payload, NowMs(), &batch, &why)) {
    case PayloadReader::Refusal::None:
        break;
    case PayloadReader::Refusal::LaterVersion:
        SayOnce(name, *station, QStringLiteral("version"), QStringLiteral("readings of a later format left alone (%1)").arg(why));
        return;
    default:
        SayOnce(name, *station, QStringLiteral("readings"), QStringLiteral("a batch of readings refused: %1").arg(why));
        return;
    }
    OpenRun *state = RunOf(name, *station, batch.run);
    if (!state)
        return;
    const qint64 from = batch.seq, to = batch.seq + qint64(batch.readings.size());
    // No line brings more than so many readings a second: a seq far ahead of
    // what the time since the last reading can bring is forged.
    const qint64 end = std::max(state->ledger.End(), state->ledger.Count().value_or(0));
    const qint64 sinceMs = std::max<qint64>(0, batch.readings.front().utcMs - (state->lastMs > 0 ? state->lastMs : batch.run));
    const qint64 reachable = end + sinceMs * kMaxReadingsPerSecond / 1000 + 2 * PayloadReader::kMaxReadings;
    if (to > reachable) {
        SayOnce(name, *station, QStringLiteral("seq"),
                QStringLiteral("a batch refused: seq %1 is further ahead than %2 ms can bring").arg(from).arg(sinceMs));
        return;
    }
    if (!batch.resent)
        emit ReadingsHeard(name, batch.readings);
    const qint64 holeBefore = state->ledger.End();
    if (Repeats(*state, batch, from, to) && !state->conflictSaid) {
        state->conflictSaid = true;
        emit Said(RunWords(name, batch.run)
                  + QStringLiteral(": readings sent again differ from the ones archived (seq %1 to %2); the archived ones are kept")
                        .arg(from)
                        .arg(to - 1));
    }
    const std::vector<std::pair<qint64, qint64>> fresh = state->ledger.Take(from, to);
    for (const auto &[freshFrom, freshTo] : fresh) {
        const auto part = std::span(batch.readings).subspan(size_t(freshFrom - from), size_t(freshTo - freshFrom));
        if (!m_archive.AddReadings(name, batch.run, freshFrom, part, state->ledger)) {
            // Not written: still missing, and asked for again later.
            state->ledger.Release(freshFrom, freshTo);
            SayOnce(name, *station, QStringLiteral("write"), RunWords(name, batch.run) + QStringLiteral(": readings cannot be written"));
        }
    }
    Remember(*state, batch);
    state->lastMs = std::max(state->lastMs, batch.readings.back().utcMs);
    if (from > holeBefore && !fresh.empty()) {
        emit Said(QStringLiteral("%1 gap: readings %2 to %3 (%4) missing, asked for")
                      .arg(RunWords(name, batch.run))
                      .arg(holeBefore)
                      .arg(from - 1)
                      .arg(from - holeBefore));
        m_asker.Wake(name);
    }
    CheckWhole(name, batch.run, *state);
}

namespace {

// What a reading said, in eight bytes: enough to tell a repeat that differs.
quint64 Fingerprint(const PayloadReader::Reading &reading)
{
    return qHash(QByteArrayView(reading.text.data(), qsizetype(reading.text.size())), quint64(reading.utcMs)) ^ quint64(reading.utcMs);
}

} // namespace

bool Collector::Repeats(OpenRun &state, const PayloadReader::Batch &batch, qint64 from, qint64 to)
{
    // Readings held and still remembered: a repeat must say what they said.
    if (state.recent.empty() || from >= state.recent.back().seq + 1 || to <= state.recent.front().seq)
        return false;
    const qint64 first = state.recent.front().seq;
    for (qint64 seq = std::max(from, first); seq < to && seq <= state.recent.back().seq; ++seq) {
        const Recent &held = state.recent[size_t(seq - first)];
        if (held.seq == seq && held.fingerprint != Fingerprint(batch.readings[size_t(seq - from)]))
            return true;
    }
    return false;
}

void Collector::Remember(OpenRun &state, const PayloadReader::Batch &batch)
{
    // Only a run of consecutive readings is kept: the newest of them.
    qint64 seq = batch.seq;
    for (const PayloadReader::Reading &reading : batch.readings) {
        if (!state.recent.empty() && seq != state.recent.back().seq + 1) {
            if (seq <= state.recent.back().seq) {
                ++seq;
                continue;
            }
            state.recent.clear();
        }
        state.recent.push_back({seq++, Fingerprint(reading)});
        if (state.recent.size() > kRecentReadings)
            state.recent.pop_front();
    }
}

void Collector::CheckWhole(const QString &name, qint64 run, OpenRun &state)
{
    if (!state.ledger.Whole())
        return;
    if (state.wholeSaid) {
        ForgetIfDone(name, run, state);
        return;
    }
    state.wholeSaid = true;
    qint64 lost = 0;
    for (const RunLedger::Gap &gap : state.ledger.Gaps())
        lost += gap.Readings();
    QString words = RunWords(name, run) + QStringLiteral(" complete: %1 readings").arg(state.ledger.Held());
    if (lost > 0)
        words += QStringLiteral(", %1 lost for good").arg(lost);
    // Said once the archive has it all, in order and durable.
    m_wholeToSay.push_back(words);
    ForgetIfDone(name, run, state);
}

void Collector::ForgetIfDone(const QString &name, qint64 run, OpenRun &state)
{
    // A run stopped and whole needs no memory here: the archive has it all.
    if (!state.stopped)
        return;
    auto station = m_stations.find(name);
    if (station != m_stations.end())
        station->second.runs.erase(run); // `state` goes with it
}

void Collector::TakeChainLine(const QString &name, const QByteArray &payload)
{
    Station *station = StationOf(name);
    if (!station)
        return;
    PayloadReader::ChainEntry entry;
    QString why;
    const PayloadReader::Refusal refusal = m_reader.ReadChainEntry(payload, &entry, &why);
    if (refusal == PayloadReader::Refusal::LaterVersion) {
        SayOnce(name, *station, QStringLiteral("version"), QStringLiteral("a chain line of a later format left alone (%1)").arg(why));
        return;
    }
    const std::optional<ChainLine> line = refusal == PayloadReader::Refusal::None ? ChainLine::Parse(entry.line.toLatin1()) : std::nullopt;
    if (!line) {
        SayOnce(name, *station, QStringLiteral("chain"), QStringLiteral("a chain line refused: %1").arg(why.isEmpty() ? QStringLiteral("it does not read") : why));
        return;
    }
    bool failed = false;
    m_archive.AddChainLine(name, entry.folder, *line, &failed);
    if (failed)
        SayOnce(name, *station, QStringLiteral("chain-write"), QStringLiteral("its chain lines cannot be written"));
}

void Collector::TakeEvent(const QString &name, const QByteArray &payload)
{
    Station *station = StationOf(name);
    if (!station)
        return;
    PayloadReader::Event parsed;
    QString why;
    switch (m_reader.ReadEvent(payload, NowMs(), &parsed, &why)) {
    case PayloadReader::Refusal::None:
        break;
    case PayloadReader::Refusal::LaterVersion:
        SayOnce(name, *station, QStringLiteral("version"), QStringLiteral("an event of a later format left alone (%1)").arg(why));
        return;
    default:
        SayOnce(name, *station, QStringLiteral("events"), QStringLiteral("an event refused: %1").arg(why));
        return;
    }
    emit EventHeard(name, parsed);
    RunEvent event {parsed.t, parsed.event, parsed.c, parsed.text, parsed.user};
    // The run it belongs to, as the station says; a station of an older
    // version says none, and its event is filed by time.
    std::optional<qint64> run = parsed.run;
    if (parsed.event == QLatin1String("run-start"))
        run = parsed.run.value_or(parsed.t);
    else if (!parsed.runGiven) {
        auto after = station->starts.upper_bound(parsed.t);
        if (after != station->starts.begin()) {
            --after;
            if (!after->second || *after->second >= parsed.t)
                run = after->first;
        }
    }
    OpenRun *state = run ? RunOf(name, *station, *run) : nullptr;
    if (run && !state)
        return;
    bool failed = false;
    const bool added = m_archive.AddEvent(name, run, event, &failed);
    if (failed)
        SayOnce(name, *station, QStringLiteral("events-write"), QStringLiteral("its events cannot be written"));
    if (added || failed) // once: an event the broker delivers again is not news
        emit NewEvent(name, parsed);
    if (!state || parsed.event != QLatin1String("run-stop"))
        return;
    station->starts[*run] = parsed.t;
    state->stopped = true;
    if (parsed.n && state->ledger.Count() != parsed.n) {
        state->ledger.SetCount(*parsed.n);
        m_archive.SetLedger(name, *run, state->ledger);
    }
    if (added) {
        QString words = RunWords(name, *run) + QStringLiteral(" finished: %1 readings").arg(state->ledger.Held());
        const qint64 missing = state->ledger.Missing();
        if (missing > 0)
            words += QStringLiteral(", %1 missing").arg(missing);
        emit Said(words);
    }
    if (state->ledger.FirstAsked(1))
        m_asker.Wake(name);
    CheckWhole(name, *run, *state);
}

void Collector::TakeResent(const QString &name, const QByteArray &payload)
{
    Station *station = StationOf(name);
    if (!station)
        return;
    PayloadReader::Resent resent;
    QString why;
    if (m_reader.ReadResent(payload, &resent, &why) != PayloadReader::Refusal::None) {
        SayOnce(name, *station, QStringLiteral("resent"), QStringLiteral("an answer to a request refused: %1").arg(why));
        return;
    }
    OpenRun *state = RunOf(name, *station, resent.run);
    if (!state)
        return;
    const qint64 missingBefore = state->ledger.Missing();
    const bool lostBefore = !state->ledger.FirstAsked(ResendAsker::kLargestRequest);
    for (const PayloadReader::LostRange &lost : resent.lost) {
        state->ledger.MarkLost(lost.from, lost.to, lost.why);
        emit Said(QStringLiteral("%1: readings %2 to %3 (%4) lost for good: %5")
                      .arg(RunWords(name, resent.run))
                      .arg(lost.from)
                      .arg(lost.to - 1)
                      .arg(lost.to - lost.from)
                      .arg(lost.why));
    }
    if (resent.n && state->ledger.Count() != resent.n) {
        state->ledger.SetCount(*resent.n);
        state->stopped = true; // a count is the stop's
    }
    m_archive.SetLedger(name, resent.run, state->ledger);
    const bool progress = resent.sent > 0 || !resent.lost.empty() || state->ledger.Missing() != missingBefore || lostBefore;
    m_asker.Answered(name, {resent.run, resent.from, resent.to}, progress);
    CheckWhole(name, resent.run, *state);
}

std::optional<ResendAsker::Request> Collector::NextRequest(const QString &name)
{
    // The oldest run that lacks anything not yet given up, its first range.
    auto found = m_stations.find(name);
    if (found == m_stations.end())
        return std::nullopt;
    if (!m_archive.MayAsk(name)) {
        m_waitingToAsk.insert(name); // another collector of a shared archive asks it; looked at again
        return std::nullopt;
    }
    m_waitingToAsk.remove(name);
    // What another collector of a shared archive has written is not asked for.
    std::vector<qint64> refreshed;
    for (const auto &[run, state] : found->second.runs) {
        bool changed = false;
        for (int look = 0; look < 8; ++look) {
            const auto range = state->ledger.FirstAsked(ResendAsker::kLargestRequest);
            const auto held = range ? m_archive.HeldWithin(name, run, range->first, range->second)
                                    : std::vector<std::pair<qint64, qint64>> {};
            if (held.empty())
                break;
            for (const auto &[from, to] : held)
                state->ledger.Take(from, to);
            changed = true;
        }
        if (changed) {
            m_archive.SetLedger(name, run, state->ledger);
            refreshed.push_back(run);
        }
    }
    for (const qint64 run : refreshed) {
        found = m_stations.find(name);
        if (found == m_stations.end())
            break;
        if (auto state = found->second.runs.find(run); state != found->second.runs.end())
            CheckWhole(name, run, *state->second); // may forget it
    }
    found = m_stations.find(name);
    if (found == m_stations.end())
        return std::nullopt;
    for (const auto &[run, state] : found->second.runs) {
        if (const auto range = state->ledger.FirstAsked(ResendAsker::kLargestRequest))
            return ResendAsker::Request {run, range->first, range->second};
    }
    // No hole: a run that has not said it stopped may have gone on (or
    // stopped) while the collector was away; its answer tells.
    for (auto &[run, state] : found->second.runs) {
        if (state->probeTail && !state->stopped) {
            state->probeTail = false;
            const qint64 end = state->ledger.End();
            return ResendAsker::Request {run, end, end + ResendAsker::kLargestRequest};
        }
    }
    return std::nullopt;
}

void Collector::Ask(const QString &name, const ResendAsker::Request &request)
{
    m_link.Publish(publishpayloads::Topic(m_options.topic, name, "resend"),
                   publishpayloads::ResendRequest(request.run, request.from, request.to), 1, false);
    emit Said(QStringLiteral("%1: asked for readings %2 to %3").arg(RunWords(name, request.run)).arg(request.from).arg(request.to - 1));
}

void Collector::Flush()
{
    QString error;
    if (m_archive.Flush(&error)) {
        if (m_bFlushFailureSaid)
            emit Said(QStringLiteral("archive: written again"));
        m_bFlushFailureSaid = false;
        if (m_archive.Waiting() == 0) {
            for (const QString &words : m_wholeToSay)
                emit Said(words);
            m_wholeToSay.clear();
        }
        return;
    }
    if (!m_bFlushFailureSaid)
        emit Said(QStringLiteral("archive: %1").arg(error));
    m_bFlushFailureSaid = true;
}
