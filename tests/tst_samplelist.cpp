#include "samplelist.h"
#include "testsupport.h"

#include <QTest>

Q_DECLARE_METATYPE(SYSTEMTIME)

namespace {

SYSTEMTIME At(int hour, int minute, int second, int ms = 0)
{
    return MakeTime(2027, 1, 1, hour, minute, second, ms);
}

// Readings numbered on from the newest one (0, 1, 2, … in a new store) in
// their temperature, all stamped `time`.
void AppendNumbered(SampleList &store, int count, const SYSTEMTIME &time = At(12, 0, 0))
{
    const int first = store.GetCount() > 0 ? static_cast<int>(store.GetAt(0)->temperature) + 1 : 0;
    for (int i = 0; i < count; ++i)
        store.Append(TempSample {time, static_cast<double>(first + i)});
}

} // namespace

class TestSampleList : public QObject
{
    Q_OBJECT

private slots:
    void chunkLayout_data();
    void chunkLayout();
    void indexesByAgeAcrossChunks();
    void storedReadingsNeverMove();
    void clearLeavesOneEmptyChunk();
    void trim_data();
    void trim();
    void trimStopsAtTheMarkWhateverRemains();
    void secondsCacheAgreesWithMktime_data();
    void secondsCacheAgreesWithMktime();
};

void TestSampleList::chunkLayout_data()
{
    QTest::addColumn<int>("appends");
    QTest::addColumn<int>("removals");
    QTest::addColumn<int>("chunks");
    QTest::addColumn<int>("fill");
    QTest::addColumn<int>("offset");

    QTest::newRow("new store") << 0 << 0 << 1 << 0 << 0;
    QTest::newRow("255 appends") << 255 << 0 << 1 << 255 << 0;
    QTest::newRow("256th append starts a chunk") << 256 << 0 << 2 << 0 << 0;
    QTest::newRow("257 appends") << 257 << 0 << 2 << 1 << 0;
    QTest::newRow("300 appends, 255 removals") << 300 << 255 << 2 << 44 << 255;
    QTest::newRow("300 appends, 256 removals") << 300 << 256 << 1 << 44 << 0;
    QTest::newRow("1000 appends, 1000 removals") << 1000 << 1000 << 1 << 232 << 232;
}

void TestSampleList::chunkLayout()
{
    QFETCH(int, appends);
    QFETCH(int, removals);
    SampleList store;
    AppendNumbered(store, appends);
    for (int i = 0; i < removals; ++i)
        store.RemoveOldest();

    QTEST(store.ChunkCount(), "chunks");
    QTEST(store.Fill(), "fill");
    QTEST(store.Offset(), "offset");
    QCOMPARE(store.GetCount(), appends - removals);
    if (store.GetCount() > 0) {
        QCOMPARE(store.GetAt(0)->temperature, appends - 1.0);
        QCOMPARE(store.GetAt(store.GetCount() - 1)->temperature, static_cast<double>(removals));
    }
}

void TestSampleList::indexesByAgeAcrossChunks()
{
    SampleList store;
    AppendNumbered(store, 1000);
    for (int i = 0; i < 100; ++i)
        store.RemoveOldest();
    QCOMPARE(store.GetCount(), 900);
    for (int i = 0; i < store.GetCount(); ++i)
        QCOMPARE(store.GetAt(i)->temperature, 999.0 - i);
}

void TestSampleList::storedReadingsNeverMove()
{
    SampleList store;
    AppendNumbered(store, 1);
    const TempSample *first = store.GetAt(0);
    AppendNumbered(store, 10000);
    QCOMPARE(store.GetAt(store.GetCount() - 1), first);
    QCOMPARE(first->temperature, 0.0);

    const TempSample *middle = store.GetAt(5000); // reading 5000
    for (int i = 0; i < 4000; ++i)
        store.RemoveOldest();
    AppendNumbered(store, 10000);
    QCOMPARE(store.GetAt(store.GetCount() - 1 - 1000), middle);
    QCOMPARE(middle->temperature, 5000.0);
}

void TestSampleList::clearLeavesOneEmptyChunk()
{
    SampleList store;
    AppendNumbered(store, 700);
    store.Clear();
    QCOMPARE(store.GetCount(), 0);
    QCOMPARE(store.ChunkCount(), 1);
    QCOMPARE(store.Fill(), 0);
    QCOMPARE(store.Offset(), 0);
    AppendNumbered(store, 3);
    QCOMPARE(store.GetAt(0)->temperature, 2.0);
}

void TestSampleList::trim_data()
{
    // A store of `count` readings: the oldest is stamped `oldest`, the others
    // `others`. The mark is the reading at index `markIndex` (-1: no mark).
    QTest::addColumn<int>("count");
    QTest::addColumn<SYSTEMTIME>("oldest");
    QTest::addColumn<SYSTEMTIME>("others");
    QTest::addColumn<SYSTEMTIME>("now");
    QTest::addColumn<int>("markIndex");
    QTest::addColumn<int>("remaining");

    const SYSTEMTIME noon = At(12, 0, 0);
    QTest::newRow("6001 young readings: one goes") << 6001 << noon << noon << At(12, 1, 0) << 0 << 6000;
    QTest::newRow("6000 young readings stay") << 6000 << noon << noon << At(12, 1, 0) << 0 << 6000;
    QTest::newRow("600 s old stays") << 10 << noon << At(12, 5, 0) << At(12, 10, 0) << 0 << 10;
    QTest::newRow("601 s old goes") << 10 << noon << At(12, 5, 0) << At(12, 10, 1) << 0 << 9;
    QTest::newRow("12:00:00.999 is 600 s old at 12:10:00.000")
        << 10 << At(12, 0, 0, 999) << At(12, 5, 0) << At(12, 10, 0, 0) << 0 << 10;
    QTest::newRow("old reading that is the mark stays") << 10 << noon << At(12, 5, 0) << At(12, 20, 0) << 9 << 10;
    QTest::newRow("trim stops at the mark") << 10 << noon << noon << At(12, 20, 0) << 4 << 5;
    QTest::newRow("null mark: nothing saved, nothing trimmed") << 6100 << noon << noon << At(13, 0, 0) << -1 << 6100;
    QTest::newRow("clock set back: negative age is young") << 10 << At(12, 30, 0) << At(12, 30, 0) << noon << 0 << 10;
    QTest::newRow("empty store") << 0 << noon << noon << At(13, 0, 0) << -1 << 0;
}

void TestSampleList::trim()
{
    QFETCH(int, count);
    QFETCH(SYSTEMTIME, oldest);
    QFETCH(SYSTEMTIME, others);
    QFETCH(SYSTEMTIME, now);
    QFETCH(int, markIndex);

    SampleList store;
    if (count > 0) {
        AppendNumbered(store, 1, oldest);
        AppendNumbered(store, count - 1, others);
    }
    const TempSample *mark = markIndex >= 0 ? store.GetAt(markIndex) : nullptr;
    const double markValue = mark ? mark->temperature : 0.0;
    store.Trim(now, mark);

    QTEST(store.GetCount(), "remaining");
    if (count > 0)
        QCOMPARE(store.GetAt(0)->temperature, count - 1.0); // the newest is never touched
    if (mark)
        QCOMPARE(store.GetAt(markIndex)->temperature, markValue);
}

void TestSampleList::trimStopsAtTheMarkWhateverRemains()
{
    // Unsaved readings survive however many and however old they are.
    SampleList store;
    AppendNumbered(store, 9000, At(12, 0, 0));
    const TempSample *mark = store.GetAt(8000);
    store.Trim(At(12, 30, 0), mark);
    QCOMPARE(store.GetCount(), 8001);
    QCOMPARE(store.GetAt(store.GetCount() - 1), mark);
}

void TestSampleList::secondsCacheAgreesWithMktime_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<int>("month");
    QTest::addColumn<int>("day");
    QTest::newRow("Berlin, clocks go forward") << QByteArray("Europe/Berlin") << 3 << 28;
    QTest::newRow("Berlin, clocks go back") << QByteArray("Europe/Berlin") << 10 << 31;
    QTest::newRow("Lord Howe, half-hour shift") << QByteArray("Australia/Lord_Howe") << 4 << 4;
    QTest::newRow("UTC") << QByteArray("UTC") << 6 << 1;
}

void TestSampleList::secondsCacheAgreesWithMktime()
{
    QFETCH(QByteArray, zone);
    QFETCH(int, month);
    QFETCH(int, day);
    const QByteArray oldZone = qgetenv("TZ");
    qputenv("TZ", zone);
    tzset();
    LocalSecondsCache cache;
    SYSTEMTIME st {};
    st.wYear = 2027;
    st.wMonth = static_cast<std::uint16_t>(month);
    st.wDay = static_cast<std::uint16_t>(day);
    for (int minute = 0; minute < 5 * 60; minute += 7) {
        st.wHour = static_cast<std::uint16_t>(minute / 60);
        st.wMinute = static_cast<std::uint16_t>(minute % 60);
        st.wSecond = static_cast<std::uint16_t>(minute % 53);
        if (cache.Of(st) != LocalSeconds(st))
            QFAIL(qPrintable(QStringLiteral("%1:%2:%3 differs").arg(st.wHour).arg(st.wMinute).arg(st.wSecond)));
    }
    if (oldZone.isEmpty())
        qunsetenv("TZ");
    else
        qputenv("TZ", oldZone);
    tzset();
}

QTEST_APPLESS_MAIN(TestSampleList)
#include "tst_samplelist.moc"
