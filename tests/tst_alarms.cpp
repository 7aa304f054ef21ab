// The alarms driven by readings and times alone.
#include "alarmmonitor.h"

#include <QTest>

#include <functional>
#include <random>

namespace {

QString Name(AlarmKind kind)
{
    return AlarmEventName(kind).mid(6); // "high", "low", "rate", "silence"
}

QString Describe(const AlarmChange &change, bool withTime)
{
    static const char *const types[] = {"raised", "cleared", "acknowledged"};
    QString text = Name(change.kind) + QLatin1Char(' ') + QLatin1String(types[static_cast<int>(change.type)]);
    if (withTime)
        text += QLatin1Char(' ') + QString::number(change.atMs);
    return text;
}

using Profile = std::function<double(qint64 ms)>;

} // namespace

class TestAlarms : public QObject
{
    Q_OBJECT

private slots:
    void readingsRaiseAndClear_data();
    void readingsRaiseAndClear();
    void silentOrGoneLine();
};

void TestAlarms::readingsRaiseAndClear_data()
{
    QTest::addColumn<double>("high");   // NaN: off
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("rate");
    QTest::addColumn<int>("seconds");   // of readings
    QTest::addColumn<int>("stepMs");    // between readings
    QTest::addColumn<Profile>("profile");
    QTest::addColumn<QStringList>("changes"); // "kind type ms"; a time of "*" is not compared

    const double off = qQNaN();
    QTest::newRow("a step above the limit, back inside by the hysteresis")
        << 1500.0 << off << off << 25 << 100 << Profile([](qint64 ms) { return ms < 5000 ? 1400.0 : ms < 15000 ? 1510.0 : ms < 20000 ? 1497.0 : 1490.0; })
        << QStringList {"high raised 7000", "high cleared 20000"};
    QTest::newRow("above for less than the delay")
        << 1500.0 << off << off << 10 << 100 << Profile([](qint64 ms) { return ms >= 5000 && ms < 6900 ? 1510.0 : 1400.0; })
        << QStringList {};
    auto noise = std::make_shared<std::mt19937>(7);
    QTest::newRow("noise of 3 °C around the limit with a hysteresis of 5")
        << 1500.0 << off << off << 25 << 100
        << Profile([noise](qint64 ms) {
               return ms < 20000 ? 1500.0 + std::uniform_real_distribution<double>(-3, 3)(*noise) : 1490.0;
           })
        << QStringList {"high raised *", "high cleared 20000"};
    QTest::newRow("a cold start raises no low alarm; a fall does")
        << off << 100.0 << off << 20 << 100
        << Profile([](qint64 ms) { return ms < 5000 ? 20.0 : ms < 10000 ? 150.0 : ms < 15000 ? 90.0 : 110.0; })
        << QStringList {"low raised 12000", "low cleared 15000"};
    QTest::newRow("100 °C/min trips a limit of 50 °C/min")
        << off << off << 50.0 << 120 << 100 << Profile([](qint64 ms) { return 500 + ms / 600.0; })
        << QStringList {"rate raised *"};
    QTest::newRow("30 °C/min does not")
        << off << off << 50.0 << 120 << 100 << Profile([](qint64 ms) { return 500 + ms / 2000.0; })
        << QStringList {};
    QTest::newRow("a falling 100 °C/min trips it too, and clears when the furnace holds")
        << off << off << 50.0 << 200 << 100 << Profile([](qint64 ms) { return ms < 90000 ? 1500 - ms / 600.0 : 1350.0; })
        << QStringList {"rate raised *", "rate cleared *"};
    // Once a second, where a least-squares slope over the window would take
    // one reading 900 °C off for 90 °C/min while it is near the window's end.
    QTest::newRow("one reading far off trips no rate")
        << off << off << 50.0 << 120 << 1000 << Profile([](qint64 ms) { return ms == 60000 ? 1900.0 : 1000.0; })
        << QStringList {};
}

void TestAlarms::readingsRaiseAndClear()
{
    QFETCH(double, high);
    QFETCH(double, low);
    QFETCH(double, rate);
    QFETCH(int, seconds);
    QFETCH(int, stepMs);
    QFETCH(Profile, profile);
    QFETCH(QStringList, changes);
    AlarmLimits limits;
    if (!qIsNaN(high))
        limits.high = high;
    if (!qIsNaN(low))
        limits.low = low;
    if (!qIsNaN(rate))
        limits.rate = rate;
    AlarmMonitor monitor;
    monitor.Start(limits);
    const qint64 startMs = 1796822070000; // a reading's instant: ms since 1970
    QStringList seen;
    QStringList seenWithTimes;
    for (qint64 ms = 0; ms < seconds * 1000; ms += stepMs) {
        for (const AlarmChange &change : monitor.Reading(startMs + ms, profile(ms))) {
            AlarmChange relative = change;
            relative.atMs -= startMs;
            seen << Describe(relative, false);
            seenWithTimes << Describe(relative, true);
        }
    }
    QStringList expected;
    for (const QString &change : changes)
        expected << (change.endsWith(QLatin1Char('*')) ? change.chopped(2) : change);
    QStringList compared = seenWithTimes;
    for (qsizetype i = 0; i < changes.size() && i < compared.size(); ++i)
        if (changes[i].endsWith(QLatin1Char('*')))
            compared[i] = seen[i];
    QCOMPARE(compared, expected);

    // What was raised stays shown until the operator acknowledges it.
    const bool anyRaised = !changes.isEmpty();
    const AlarmKind kind = !qIsNaN(high) ? AlarmKind::High : !qIsNaN(low) ? AlarmKind::Low : AlarmKind::Rate;
    QCOMPARE(monitor.IsShown(kind), anyRaised);
    const std::vector<AlarmChange> acknowledged = monitor.Acknowledge(startMs + seconds * 1000);
    QCOMPARE(acknowledged.size(), size_t(anyRaised ? 1 : 0));
    QCOMPARE(monitor.IsShown(kind), monitor.IsRaised(kind));
    QVERIFY(monitor.Acknowledge(startMs + seconds * 1000).empty());
}

void TestAlarms::silentOrGoneLine()
{
    AlarmLimits limits;
    limits.silenceSeconds = 10;
    AlarmMonitor monitor;
    monitor.Start(limits);
    const auto tick = [&monitor](qint64 now, qint64 lastFrame, bool gone) {
        QStringList seen;
        for (const AlarmChange &change : monitor.Line(now, 1000, lastFrame, gone))
            seen << Describe(change, true);
        return seen;
    };
    // A line that pauses: raised when the silence reaches its length, ended by the next frame.
    QCOMPARE(tick(5000, -1, false), QStringList());
    QCOMPARE(tick(10900, -1, false), QStringList());
    QCOMPARE(tick(11000, -1, false), QStringList {"silence raised 11000"});
    QCOMPARE(tick(12000, -1, false), QStringList());
    QCOMPARE(tick(13000, 12950, false), QStringList {"silence cleared 13000"});
    QVERIFY(monitor.IsUnacknowledged(AlarmKind::Silence));
    monitor.Acknowledge(13500);
    // A device gone for less than the delay raises nothing; for longer it does.
    QCOMPARE(tick(14000, 13900, true), QStringList());
    QCOMPARE(tick(14500, 14400, false), QStringList());
    QCOMPARE(tick(15000, 14900, true), QStringList());
    QCOMPARE(tick(16900, 14900, true), QStringList());
    QCOMPARE(tick(17000, 14900, true), QStringList {"silence raised 17000"});
    QCOMPARE(tick(17100, 17050, false), QStringList {"silence cleared 17100"});
    // Off when its length is 0.
    limits.silenceSeconds = 0;
    monitor.Start(limits);
    QCOMPARE(tick(100000, -1, true), QStringList());
}

QTEST_GUILESS_MAIN(TestAlarms)
#include "tst_alarms.moc"
