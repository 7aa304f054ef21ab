#include "collector.h"

#include "durablefile.h"
#include "eventlog.h"

#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {

// At most this many runs of a station keep their files open.
constexpr size_t kOpenRunsPerStation = 4;

// A station's name as a folder name: what a file system would not take goes.
bool UsableStationName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0));
}

} // namespace

Collector::Collector(CollectorOptions options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
{
    connect(&m_link, &MqttLink::Connected, this, &Collector::OnConnected);
    connect(&m_link, &MqttLink::Message, this, &Collector::OnMessage);
    connect(&m_link, &MqttLink::Disconnected, this, [this](const QString &reason) {
        emit BrokerChanged(false);
        emit Said(QStringLiteral("broker: disconnected (%1)").arg(reason));
    });
    connect(&m_link, &MqttLink::Refused, this,
            [this](MqttLink::Refusal, const QString &reason) { emit Said(QStringLiteral("broker: refused (%1)").arg(reason)); });
}

void Collector::Start()
{
    m_link.Open(m_options.endpoint);
}

void Collector::Stop()
{
    m_link.Close();
}

void Collector::OnConnected()
{
    const QByteArray topic = m_options.topic.toUtf8();
    m_link.Subscribe(topic + "/+/readings", 1);
    m_link.Subscribe(topic + "/+/events", 1);
    if (m_options.followStations) {
        // Only the newest matters: nothing of them is kept for the collector while it is away.
        m_link.Subscribe(topic + "/+/status", 0);
        m_link.Subscribe(topic + "/+/last", 0);
    }
    emit BrokerChanged(true);
    emit Said(QStringLiteral("broker: connected to %1:%2").arg(m_options.endpoint.host).arg(m_options.endpoint.port));
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
    else if (levels[1] == "status")
        emit StatusHeard(station, payload);
    else if (levels[1] == "last")
        emit LastHeard(station, payload);
}

Collector::Station *Collector::StationOf(const QString &name)
{
    if (!UsableStationName(name))
        return nullptr;
    auto found = m_stations.find(name);
    if (found != m_stations.end())
        return &found->second;
    Station station;
    station.folder = QDir(m_options.outFolder).filePath(name);
    if (!QDir().mkpath(station.folder)) {
        emit Said(QStringLiteral("%1: cannot make the folder %2").arg(name, station.folder));
        return nullptr;
    }
    // The runs already collected, so that events find their run after a restart.
    static const QRegularExpression runFile(QStringLiteral("^(\\d+)\\.csv$"));
    for (const QString &file : QDir(station.folder).entryList(QDir::Files)) {
        const QRegularExpressionMatch match = runFile.match(file);
        if (match.hasMatch())
            station.known.emplace(match.captured(1).toLongLong(), std::nullopt);
    }
    return &m_stations.emplace(name, std::move(station)).first->second;
}

QString Collector::RunWords(const QString &station, qint64 run) const
{
    return QStringLiteral("%1: run %2 (%3)")
        .arg(station)
        .arg(run)
        .arg(QDateTime::fromMSecsSinceEpoch(run).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

RunArchive *Collector::ArchiveOf(const QString &name, Station &station, qint64 run)
{
    auto open = station.runs.find(run);
    if (open != station.runs.end())
        return open->second.get();
    const bool isNew = !QFile::exists(QStringLiteral("%1/%2.csv").arg(station.folder).arg(run));
    auto archive = std::make_unique<RunArchive>(station.folder, run);
    QString error;
    if (!archive->Open(&error)) {
        emit Said(QStringLiteral("%1: cannot write %2: %3").arg(RunWords(name, run), archive->CsvPath(), error));
        return nullptr;
    }
    if (isNew)
        emit Said(RunWords(name, run) + QStringLiteral(" started: ") + QDir::toNativeSeparators(archive->CsvPath()));
    station.known[run] = archive->StopMs();
    if (station.runs.size() >= kOpenRunsPerStation)
        station.runs.erase(station.runs.begin()); // the oldest: it reopens if anything more comes for it
    return station.runs.emplace(run, std::move(archive)).first->second.get();
}

void Collector::TakeReadings(const QString &name, const QByteArray &payload)
{
    const QJsonObject batch = QJsonDocument::fromJson(payload).object();
    if (batch.value(QLatin1String("v")).toInt() != 1)
        return; // a later format: left to a later collector
    Station *station = StationOf(name);
    if (!station)
        return;
    const qint64 run = batch.value(QLatin1String("run")).toInteger(-1);
    const qint64 seq = batch.value(QLatin1String("seq")).toInteger(-1);
    if (run < 0 || seq < 0)
        return;
    const QJsonArray list = batch.value(QLatin1String("readings")).toArray();
    std::vector<CollectedReading> readings;
    readings.reserve(size_t(list.size()));
    for (const QJsonValue &item : list) {
        const QJsonArray pair = item.toArray();
        readings.push_back({pair.at(0).toInteger(), pair.at(1).toDouble()});
    }
    emit ReadingsHeard(name, readings);
    RunArchive *archive = ArchiveOf(name, *station, run);
    if (!archive)
        return;
    const RunArchive::Added added = archive->AddReadings(seq, readings);
    if (added.gap) {
        emit Said(QStringLiteral("%1 gap: readings %2 to %3 (%4) never came")
                      .arg(RunWords(name, run))
                      .arg(added.gap->first)
                      .arg(added.gap->second)
                      .arg(added.gap->second - added.gap->first + 1));
    }
    if (added.failed)
        emit Said(RunWords(name, run) + QStringLiteral(": cannot write ") + archive->CsvPath());
}

void Collector::TakeEvent(const QString &name, const QByteArray &payload)
{
    const QJsonObject object = QJsonDocument::fromJson(payload).object();
    if (object.value(QLatin1String("v")).toInt() != 1)
        return;
    Station *station = StationOf(name);
    if (!station)
        return;
    RunEvent event;
    event.utcMs = object.value(QLatin1String("t")).toInteger();
    event.event = object.value(QLatin1String("event")).toString();
    if (object.value(QLatin1String("c")).isDouble())
        event.temperature = object.value(QLatin1String("c")).toDouble();
    event.text = object.value(QLatin1String("text")).toString();

    // An event belongs to the run it happened in: the latest that began at
    // or before it and had not stopped before it.
    std::optional<qint64> run;
    if (event.event == QLatin1String("run-start")) {
        run = event.utcMs;
        station->known.try_emplace(*run, std::nullopt);
    } else {
        auto after = station->known.upper_bound(event.utcMs);
        if (after != station->known.begin()) {
            --after;
            if (!after->second || *after->second >= event.utcMs)
                run = after->first;
        }
    }
    if (!run) {
        // Between runs: the station's own events file.
        const QString path = QDir(station->folder).filePath(QString::fromLatin1(EventLog::kFileName));
        QFile file(path);
        LocalTimeLine timeLine;
        QByteArray line = EventLog::Line(event, timeLine);
        if (file.open(QIODevice::ReadWrite | QIODevice::Append)) {
            if (file.size() == 0)
                line.prepend(EventLog::kHeader);
            file.write(line);
            file.flush();
            SyncData(file);
        }
        return;
    }
    RunArchive *archive = ArchiveOf(name, *station, *run);
    if (!archive)
        return;
    bool failed = false;
    const bool added = archive->AddEvent(event, &failed);
    if (failed)
        emit Said(RunWords(name, *run) + QStringLiteral(": cannot write its events"));
    if (added && event.event == QLatin1String("run-stop")) {
        station->known[*run] = event.utcMs;
        QString words = RunWords(name, *run) + QStringLiteral(" finished: %1 readings").arg(archive->NextSeq() - archive->Missing());
        if (archive->Missing() > 0)
            words += QStringLiteral(", %1 never came").arg(archive->Missing());
        emit Said(words);
    }
}
