// The chart rendered into images and checked by its pixels.
#include "chartowner.h"
#include "chartwnd.h"
#include "comreader.h"
#include "scriptedmessages.h"
#include "testsupport.h"

#include <QImage>
#include <QTest>
#include <QTimer>

namespace {

const QColor kCurve(128, 0, 0);
const QColor kMarker(255, 0, 0);
const QColor kGrid(0, 0, 0);

SYSTEMTIME Noon(int secondsAfter = 0, int ms = 0)
{
    return MakeTime(2027, 1, 1, 12 + secondsAfter / 3600, (secondsAfter / 60) % 60, secondsAfter % 60, ms);
}

const SYSTEMTIME kNow = Noon(600); // 12:10:00.000

class TestOwner : public ChartOwner
{
public:
    int ChartMinT() const override { return minT; }
    int ChartMaxT() const override { return maxT; }
    CComReader &ChartReader() override { return reader; }
    QTimer &DisplayTimer() override { return timer; }
    void OnChartHidden() override { visible = false; }
    ChartNotes ChartNotesNow() const override { return notes; }

    // A reading `age` seconds before kNow (whole seconds and milliseconds),
    // into the store and, as the hand-over does, into the chart's history.
    void Add(double age, double temperature, bool toHistory = false)
    {
        const int ms = static_cast<int>(std::lround(age * 1000));
        const int whole = (ms + 999) / 1000;
        const TempSample reading {Noon(600 - whole, whole * 1000 - ms), temperature};
        reader.Lock();
        reader.Samples().Append(reading);
        if (toHistory)
            reader.History().Add(reading);
        reader.Unlock();
    }

    ScriptedMessages messages;
    CComReader reader {messages};
    QTimer timer;
    int minT = 0;
    int maxT = 100;
    bool visible = true;
    ChartNotes notes;
};

// Appends oldest first, as readings arrive.
void AddOldestFirst(TestOwner &owner, const QList<std::pair<double, double>> &ageAndTemperature)
{
    for (const auto &[age, temperature] : ageAndTemperature)
        owner.Add(age, temperature);
}

QImage Render(CChartWnd &chart, int width = 600, int height = 400)
{
    QImage image(width, height, QImage::Format_RGB32);
    chart.Render(image, kNow);
    return image;
}

int CountColour(const QImage &image, const QRect &area, const QColor &colour)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += image.pixelColor(x, y) == colour;
    return count;
}

} // namespace

class TestChartWnd : public QObject
{
    Q_OBJECT

private slots:
    void gridLines();
    void readingPlottedByAgeAndTemperature_data();
    void readingPlottedByAgeAndTemperature();
    void markerFromAClick();
    void markerTextShowsTheNewestReadingOlderThanTheMarker();
    void markerAtOrLeftOfTheAxisDrawsNothing();
    void onlyTheNewest6000Readings();
    void readingOfTheCurrentSecondIsClippedAtTheAxis();
    void equalLimitsDrawNoCurve();
    void gapInTheReadingsStaysAGap_data();
    void gapInTheReadingsStaysAGap();
    void limitsAlarmAndMarksAreDrawn();
    void windowKeepsItsMinimumSize_data();
    void windowKeepsItsMinimumSize();
    void paintWhileTheSameThreadHoldsTheLock();
    void closingHidesAndKeepsTheMarker();
};

void TestChartWnd::gridLines()
{
    TestOwner owner;
    CChartWnd chart(owner);
    const QImage image = Render(chart);
    for (int i = 0; i <= 10; ++i) {
        const int y = 360 - 32 * i;
        const int x = 540 - 48 * i;
        QCOMPARE(image.pixelColor(84, y), kGrid);  // between two vertical lines
        QCOMPARE(image.pixelColor(x, 52), kGrid);  // between two horizontal lines
        QVERIFY(image.pixelColor(84, y + 1) != kGrid);
        QVERIFY(image.pixelColor(x + 1, 52) != kGrid);
    }
    QVERIFY(image.pixelColor(561, 200) != kGrid); // nothing right of x1
}

void TestChartWnd::readingPlottedByAgeAndTemperature_data()
{
    QTest::addColumn<int>("minT");
    QTest::addColumn<int>("maxT");
    QTest::addColumn<double>("temperature");
    QTest::addColumn<int>("y");

    QTest::newRow("50 °C in 0..100") << 0 << 100 << 50.0 << 200;
    QTest::newRow("20 °C in 0..100") << 0 << 100 << 20.0 << 296;
    QTest::newRow("\"От\" above \"До\" mirrors the curve") << 100 << 0 << 20.0 << 104;
}

void TestChartWnd::readingPlottedByAgeAndTemperature()
{
    QFETCH(int, minT);
    QFETCH(int, maxT);
    QFETCH(double, temperature);
    QFETCH(int, y);
    TestOwner owner;
    owner.minT = minT;
    owner.maxT = maxT;
    AddOldestFirst(owner, {{310, temperature}, {300, temperature}, {290, temperature}});
    CChartWnd chart(owner);
    const QImage image = Render(chart);
    // 300 s is x = 60 + 600 · 300 / 750 = 300.
    QCOMPARE(image.pixelColor(300, y), kCurve);
    QCOMPARE(CountColour(image, QRect(250, 41, 100, 318), kCurve) > 0, true);
    QCOMPARE(CountColour(image, QRect(250, 41, 100, y - 45), kCurve), 0); // nothing well above the line
}

void TestChartWnd::markerFromAClick()
{
    TestOwner owner;
    AddOldestFirst(owner, {{400, 50}, {100, 50}});
    CChartWnd chart(owner);
    chart.resize(600, 400);
    QTest::mouseClick(&chart, Qt::LeftButton, {}, QPoint(300, 200));
    QCOMPARE(chart.MarkerSeconds(), 300);

    QImage image = Render(chart);
    for (int y : {41, 100, 200, 300, 359})
        QCOMPARE(image.pixelColor(300, y), kMarker);
    QVERIFY(image.pixelColor(300, 362) != kMarker);
    QVERIFY(CountColour(image, QRect(400, 3, 140, 25), kMarker) > 0); // its text, top right

    QTest::mouseClick(&chart, Qt::RightButton, {}, QPoint(200, 200));
    QCOMPARE(chart.MarkerSeconds(), -1);
    image = Render(chart);
    QCOMPARE(CountColour(image, image.rect(), kMarker), 0);
}

void TestChartWnd::markerTextShowsTheNewestReadingOlderThanTheMarker()
{
    const auto markerText = [](const QList<std::pair<double, double>> &readings) {
        TestOwner owner;
        AddOldestFirst(owner, readings);
        CChartWnd chart(owner);
        chart.resize(600, 400);
        QTest::mouseClick(&chart, Qt::LeftButton, {}, QPoint(300, 200));
        return Render(chart).copy(QRect(300, 0, 241, 30));
    };
    const QImage both = markerText({{320, 555.5}, {305, 123.4}, {100, 20}});
    const QImage newerOnly = markerText({{305, 123.4}, {100, 20}});
    const QImage olderOnly = markerText({{320, 555.5}, {100, 20}});
    QCOMPARE(both, newerOnly);
    QVERIFY(both != olderOnly);
}

void TestChartWnd::markerAtOrLeftOfTheAxisDrawsNothing()
{
    TestOwner owner;
    AddOldestFirst(owner, {{500, 50}, {10, 50}});
    CChartWnd chart(owner);
    chart.resize(600, 400);
    for (int x : {60, 30, 0}) {
        QTest::mouseClick(&chart, Qt::LeftButton, {}, QPoint(x, 200));
        QVERIFY(chart.MarkerSeconds() <= 0);
        QCOMPARE(CountColour(Render(chart), QRect(0, 0, 600, 400), kMarker), 0);
    }
}

void TestChartWnd::onlyTheNewest6000Readings()
{
    TestOwner owner;
    // 7000 readings 0.05 s apart: the oldest 1000 (300 to 350 s old) at 90 °C.
    for (int i = 6999; i >= 0; --i)
        owner.Add(i * 0.05, i >= 6000 ? 90.0 : 50.0);
    CChartWnd chart(owner);
    const QImage image = Render(chart);
    QCOMPARE(image.pixelColor(200, 200), kCurve);
    QCOMPARE(CountColour(image, QRect(61, 41, 479, 100), kCurve), 0); // no 90 °C line (y = 72)
    QCOMPARE(CountColour(image, QRect(302, 190, 238, 20), kCurve), 0); // nothing older than 300 s
}

void TestChartWnd::readingOfTheCurrentSecondIsClippedAtTheAxis()
{
    TestOwner owner;
    owner.reader.Lock();
    owner.reader.Samples().Append(TempSample {Noon(550), 50});
    owner.reader.Samples().Append(TempSample {Noon(600, 500), 50}); // age -0.5 s: x = 59
    owner.reader.Unlock();
    CChartWnd chart(owner);
    const QImage image = Render(chart);
    QCOMPARE(image.pixelColor(61, 200), kCurve);
    QVERIFY(image.pixelColor(59, 200) != kCurve);
    QVERIFY(image.pixelColor(58, 200) != kCurve);
}

void TestChartWnd::equalLimitsDrawNoCurve()
{
    TestOwner owner;
    owner.minT = owner.maxT = 500;
    AddOldestFirst(owner, {{300, 500}, {200, 600}, {100, 400}});
    CChartWnd chart(owner);
    const QImage image = Render(chart);
    QCOMPARE(CountColour(image, QRect(61, 41, 478, 318), kCurve), 0);
    QCOMPARE(image.pixelColor(84, 200), kGrid);
    QVERIFY(CountColour(image, QRect(150, 3, 150, 25), kCurve) > 0); // the newest temperature is shown
}

void TestChartWnd::gapInTheReadingsStaysAGap_data()
{
    QTest::addColumn<double>("interval"); // seconds between readings
    QTest::newRow("a reading a second: the kept readings") << 1.0;
    QTest::newRow("200 readings a second: the history's strokes") << 0.005;
}

// 40 to 60 s ago at 30 °C, a 28 s outage, then 0 to 12 s ago at 70 °C: no
// stroke may cross the outage as if the instrument had measured it.
void TestChartWnd::gapInTheReadingsStaysAGap()
{
    QFETCH(double, interval);
    TestOwner owner;
    const int steps = static_cast<int>(std::lround(20 / interval));
    for (int i = steps; i >= 0; --i)
        owner.Add(40 + i * interval, 30, true);
    for (int i = static_cast<int>(std::lround(12 / interval)); i >= 0; --i)
        owner.Add(i * interval, 70, true);
    CChartWnd chart(owner);
    const QImage image = Render(chart);
    // 0.8 pixels a second from x = 60: the outage spans x = 70 to 92.
    QVERIFY(CountColour(image, QRect(61, 41, 8, 318), kCurve) > 0);
    QVERIFY(CountColour(image, QRect(94, 41, 14, 318), kCurve) > 0);
    QCOMPARE(CountColour(image, QRect(71, 41, 20, 318), kCurve), 0);
}

// A limit of 75 °C dashed across the plot, the alarm named, a mark two
// minutes back with its text; none of it where the scale or the ten minutes
// do not reach.
void TestChartWnd::limitsAlarmAndMarksAreDrawn()
{
    TestOwner owner;
    AddOldestFirst(owner, {{300, 50}, {0, 50}});
    const qint64 nowMs = qint64(LocalSeconds(kNow)) * 1000;
    owner.notes.limits = {75, 500};
    owner.notes.alarm = QStringLiteral("Выше 75 °C: 80.0 °C с 12:09:00");
    owner.notes.marks = {{nowMs - 120000, QStringLiteral("дверь")}, {nowMs - 900000, QStringLiteral("давно")}};
    CChartWnd chart(owner);
    const QImage image = Render(chart);
    const QColor limit(230, 120, 0);
    const QColor mark(0, 0, 200);
    // 75 °C is y = 360 - 75 * 320 / 100 = 120: dashed, so about half of its row.
    const int dashes = CountColour(image, QRect(0, 120, 600, 1), limit);
    QVERIFY2(dashes > 100 && dashes < 478, qPrintable(QString::number(dashes)));
    QCOMPARE(CountColour(image, QRect(0, 0, 600, 400), limit), dashes); // 500 °C is off the scale
    // Two minutes back is x = 60 + 120 * 0.8 = 156; fifteen minutes is off the plot.
    QVERIFY(CountColour(image, QRect(156, 200, 1, 100), mark) > 90);
    int bluish = 0; // the text's smoothed pixels
    for (int y = 42; y < 62; ++y)
        for (int x = 158; x < 218; ++x)
            bluish += image.pixelColor(x, y).blue() > image.pixelColor(x, y).red() + 80;
    QVERIFY2(bluish > 30, qPrintable(QString::number(bluish))); // "дверь"
    QCOMPARE(CountColour(image, QRect(0, 0, 600, 400), mark), CountColour(image, QRect(156, 0, 70, 400), mark));
    int reddish = 0; // the alarm's name, in the plot's lower left
    for (int y = 320; y < 358; ++y)
        for (int x = 61; x < 361; ++x)
            reddish += image.pixelColor(x, y).red() > image.pixelColor(x, y).blue() + 80;
    QVERIFY2(reddish > 100, qPrintable(QString::number(reddish)));
}

void TestChartWnd::windowKeepsItsMinimumSize_data()
{
    QTest::addColumn<QSize>("requested");
    QTest::addColumn<QSize>("outer");
    QTest::newRow("350 × 500") << QSize(350, 500) << QSize(400, 500);
    QTest::newRow("500 × 200") << QSize(500, 200) << QSize(500, 300);
    QTest::newRow("800 × 600") << QSize(800, 600) << QSize(800, 600);
}

void TestChartWnd::windowKeepsItsMinimumSize()
{
    QFETCH(QSize, requested);
    QFETCH(QSize, outer);
    TestOwner owner;
    CChartWnd chart(owner);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    const QSize frame = chart.frameGeometry().size() - chart.size();
    chart.resize(requested - frame);
    QTRY_COMPARE(chart.frameGeometry().size(), outer);
}

void TestChartWnd::paintWhileTheSameThreadHoldsTheLock()
{
    TestOwner owner;
    AddOldestFirst(owner, {{20, 50}, {10, 50}});
    owner.timer.start(50);
    CChartWnd chart(owner);
    chart.resize(600, 400);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    owner.reader.Lock(); // as a saving tick's message box does
    chart.repaint();
    owner.reader.Unlock();
    // The display timer was stopped for the paint and armed again for a full second.
    QVERIFY(owner.timer.isActive());
    QCOMPARE(owner.timer.interval(), 1000);
}

void TestChartWnd::closingHidesAndKeepsTheMarker()
{
    TestOwner owner;
    CChartWnd chart(owner);
    chart.resize(600, 400);
    chart.show();
    QTest::mouseClick(&chart, Qt::LeftButton, {}, QPoint(300, 200));
    chart.close();
    QVERIFY(!chart.isVisible());
    QVERIFY(!owner.visible);
    chart.show();
    QCOMPARE(chart.MarkerSeconds(), 300);
}

QTEST_MAIN(TestChartWnd)
#include "tst_chartwnd.moc"
