// Publishing through a local mosquitto: the publisher's CPU at 1280 readings/s,
// the catch-up of a 10-minute outage, and 100 stations into one collector.
#include "benchsite.h"
#include "procuse.h"
#include "cpuclock.h"
#include "outbox.h"
#include "publishpayloads.h"

namespace {

using namespace benchsite;

// The CPU the publisher adds to the program: the same 1280 readings/s fed
// with publishing on (a broker on this machine) and off.
void BM_PublisherCpuAt1280(benchmark::State &state)
{
    Site site;
    if (!site.Start(state, {}))
        return;
    const int seconds = int(state.range(0));
    double share[2] = {0, 0};
    for (auto _ : state) {
        for (int on = 0; on < 2; ++on) {
            Publisher publisher(site.feed, site.dir.filePath(QStringLiteral("outbox%1").arg(on)));
            if (on) {
                publisher.Configure(site.Settings(QStringLiteral("cpu")));
                WaitFor([&] { return publisher.IsConnected(); }, 5000);
            }
            publisher.TakeEvent(RunStart(QDateTime::currentMSecsSinceEpoch()));
            qint64 fed = 0;
            QTimer ticks;
            QObject::connect(&ticks, &QTimer::timeout, [&] {
                publisher.TakeReadings(Tick(fed, QDateTime::currentMSecsSinceEpoch()));
                fed += kPerTick;
            });
            ticks.start(kTickMs);
            const double cpu = ProcessCpuSeconds();
            QElapsedTimer wall;
            wall.start();
            Wait(seconds * 1000);
            share[on] = (ProcessCpuSeconds() - cpu) / (double(wall.nsecsElapsed()) * 1e-9);
        }
        state.SetIterationTime(seconds);
    }
    state.counters["cpu_off_%"] = share[0] * 100;
    state.counters["cpu_on_%"] = share[1] * 100;
    state.counters["publisher_%"] = (share[1] - share[0]) * 100;
}
BENCHMARK(BM_PublisherCpuAt1280)->Arg(20)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// Ten minutes at 1280 readings/s waiting in the outbox (as they arrived, a
// tenth of a second apart), then the broker comes: how long until the broker
// has them all, and until the collector has written them all.
void BM_CatchUpAfterTenMinutes(benchmark::State &state)
{
    Site site;
    if (!site.Start(state, {QStringLiteral("--out"), site.dir.filePath(QStringLiteral("archive"))}))
        return;
    const QString folder = site.dir.filePath(QStringLiteral("outbox"));
    const qint64 run = QDateTime::currentMSecsSinceEpoch() - 600000;
    constexpr qint64 kReadings = 600LL * kRate;
    {
        Outbox outbox;
        outbox.Open(folder, 2048LL * 1024 * 1024);
        // Ten minutes that waited for the broker: recorded for where the publisher sends now.
        const OutboxAddress here;
        outbox.AppendEvent(here, publishpayloads::Event(RunStart(run)));
        const qint64 steadyStart = LineClockMs() - 600000;
        for (qint64 seq = 0; seq < kReadings; seq += kPerTick) {
            const FeedReadings tick = Tick(seq, run + (seq / kPerTick + 1) * kTickMs);
            outbox.AppendReadings(here, run, seq, steadyStart + (seq / kPerTick + 1) * kTickMs, tick.readings);
        }
        outbox.Sync();
    }
    for (auto _ : state) {
        Publisher publisher(site.feed, folder);
        QElapsedTimer timer;
        timer.start();
        publisher.Configure(site.Settings(QStringLiteral("catchup")));
        const double acknowledged = WaitFor([&] { return publisher.GetOutbox().IsEmpty(); }, 120000);
        RowCounter rows(site.RunCsv(QStringLiteral("catchup"), run));
        WaitFor([&] { return rows.Rows() >= kReadings; }, 120000);
        const double collected = double(timer.nsecsElapsed()) * 1e-9;
        state.SetIterationTime(collected);
        state.counters["readings"] = double(kReadings);
        state.counters["acknowledged_s"] = acknowledged;
        state.counters["collected_s"] = collected;
        state.counters["collected_rows"] = double(rows.Rows());
    }
}
BENCHMARK(BM_CatchUpAfterTenMinutes)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

void benchsite::HundredStations(benchmark::State &state, Site &site, qint64 run, const ArchiveCounts &counts)
{
    const int stations = int(state.range(0));
    const int seconds = int(state.range(1));
    std::vector<std::unique_ptr<Publisher>> publishers;
    for (int i = 0; i < stations; ++i) {
        publishers.push_back(std::make_unique<Publisher>(site.feed, site.dir.filePath(QStringLiteral("outbox/%1").arg(i))));
        publishers.back()->Configure(site.Settings(QStringLiteral("s%1").arg(i)));
    }
    WaitFor([&] { return std::all_of(publishers.begin(), publishers.end(), [](auto &p) { return p->IsConnected(); }); }, 20000);
    for (auto &publisher : publishers)
        publisher->TakeEvent(RunStart(run));
    qint64 fed = 0;
    std::vector<std::pair<qint64, qint64>> handed; // (ms, readings per station)
    QElapsedTimer clock;
    clock.start();
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        const FeedReadings tick = Tick(fed, QDateTime::currentMSecsSinceEpoch());
        for (auto &publisher : publishers)
            publisher->TakeReadings(tick);
        fed += kPerTick;
        handed.emplace_back(clock.elapsed(), fed);
    });
    double worstBehind = 0;
    double sumBehind = 0;
    int samples = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        for (const qint64 have : counts.rows()) {
            // Behind: since when the station had been handed the readings the collector has not written.
            qint64 since = now;
            for (auto it = handed.rbegin(); it != handed.rend() && it->second > have; ++it)
                since = it->first;
            const double behind = double(now - since) * 1e-3;
            worstBehind = std::max(worstBehind, behind);
            sumBehind += behind;
            ++samples;
        }
    });
    // The bare subscriber beside the collector: mosquitto_sub on the same
    // topics at the same QoS, its output thrown away.
    QProcess bare;
    bare.setStandardOutputFile(QProcess::nullDevice());
    bare.start(QStringLiteral("mosquitto_sub"), {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                                                 QString::number(site.broker.Port()), QStringLiteral("-q"), QStringLiteral("1"),
                                                 QStringLiteral("-i"), QStringLiteral("bench-bare"),
                                                 QStringLiteral("-t"), QStringLiteral("calorivista/+/readings"),
                                                 QStringLiteral("-t"), QStringLiteral("calorivista/+/events"),
                                                 QStringLiteral("-t"), QStringLiteral("calorivista/+/resent"),
                                                 QStringLiteral("-t"), QStringLiteral("calorivista/+/status")});
    const bool bareStarted = bare.waitForStarted();
    Wait(500); // subscribed
    ticks.start(kTickMs);
    sampler.start(1000);
    const double cpu = ProcessCpuSeconds();
    const ProcessUse collectorBefore = UseOf(site.collector.processId());
    const ProcessUse bareBefore = bareStarted ? UseOf(bare.processId()) : ProcessUse {};
    Wait(seconds * 1000);
    ticks.stop();
    sampler.stop();
    const double publishersCpu = ProcessCpuSeconds() - cpu;
    // Taken once the collector has written everything (below): its CPU per
    // million readings, beside the bare subscriber's for the same messages.
    const auto perMillion = [&](const ProcessUse &use) { return use.cpuSeconds / (double(fed) * stations * 1e-6); };
    const double drained = WaitFor([&] {
        const std::vector<qint64> rows = counts.rows();
        return qsizetype(rows.size()) == stations && std::all_of(rows.begin(), rows.end(), [&](qint64 r) { return r >= fed; });
    }, 60000);
    const ProcessUse collectorUse = UseOf(site.collector.processId()) - collectorBefore;
    const ProcessUse bareUse = bareStarted ? UseOf(bare.processId()) - bareBefore : ProcessUse {};
    bare.terminate();
    bare.waitForFinished(5000);
    qint64 lost = 0;
    qint64 twice = 0;
    counts.check(fed, &lost, &twice);
    state.SetIterationTime(seconds);
    state.counters["stations"] = stations;
    state.counters["readings_per_station"] = double(fed);
    state.counters["lost"] = double(lost);
    state.counters["twice_or_misplaced"] = double(twice);
    state.counters["behind_worst_s"] = worstBehind;
    state.counters["behind_mean_s"] = samples ? sumBehind / samples : 0;
    state.counters["drain_after_stop_s"] = drained;
    state.counters["publishers_cpu_%"] = publishersCpu / seconds * 100;
    state.counters["collector_cpu_s_per_million"] = perMillion(collectorUse);
    if (bareStarted)
        state.counters["bare_sub_cpu_s_per_million"] = perMillion(bareUse);
}

namespace {

// 100 stations at 1280 readings/s each through one local mosquitto into the
// collector's CSV folder for a minute.
void BM_HundredStations(benchmark::State &state)
{
    Site site;
    if (!site.Start(state, {QStringLiteral("--out"), site.dir.filePath(QStringLiteral("archive"))}))
        return;
    const int stations = int(state.range(0));
    const qint64 run = QDateTime::currentMSecsSinceEpoch();
    std::vector<RowCounter> rows;
    for (int i = 0; i < stations; ++i)
        rows.emplace_back(site.RunCsv(QStringLiteral("s%1").arg(i), run));
    ArchiveCounts counts;
    counts.rows = [&] {
        std::vector<qint64> have;
        for (RowCounter &counter : rows)
            have.push_back(counter.Rows());
        return have;
    };
    // Each station's CSV holds its readings in seq order, each once.
    counts.check = [&](qint64 fed, qint64 *lost, qint64 *twice) {
        for (int i = 0; i < stations; ++i) {
            QFile csv(site.RunCsv(QStringLiteral("s%1").arg(i), run));
            csv.open(QIODevice::ReadOnly);
            const QList<QByteArray> lines = csv.readAll().split('\n');
            qint64 expected = 0;
            for (qsizetype l = 1; l < lines.size(); ++l) {
                const QList<QByteArray> fields = lines[l].trimmed().split(',');
                if (fields.size() != 5) // time,elapsed_s,temperature_c,file,seq
                    continue;
                if (fields[4].toLongLong() == expected && std::abs(fields[2].toDouble() - TemperatureOf(expected)) < 1e-6)
                    ++expected;
                else
                    ++*twice; // anything but the next reading is a repeat or out of place
            }
            *lost += fed - expected;
        }
    };
    for (auto _ : state)
        HundredStations(state, site, run, counts);
}
BENCHMARK(BM_HundredStations)->Args({100, 60})->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace
