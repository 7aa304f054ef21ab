// The run window on a run the real program records from the simulated
// instrument: it grows with the run, its statistics agree with the test's own
// reckoning from the data files, its chart leaves the gap open and puts the
// mark where its time is, its zoom keeps the point under the pointer, and its
// report holds the figures; and the series' pyramid against every reading.
#include "csvwriter.h"
#include "folderdlg.h"
#include "instrumentsimulator.h"
#include "nativefs.h"
#include "runline.h"
#include "runpicture.h"
#include "runseries.h"
#include "runwindow.h"
#include "scriptedmessages.h"
#include "settingsdlg.h"
#include "settingsstore.h"
#include "testsupport.h"
#include "thermodlg.h"

#include <QAction>
#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSettings>
#include <QTest>
#include <QWheelEvent>

#include <thread>

class TestRunView : public QObject
{
    Q_OBJECT

private slots:
    void pyramidAgreesWithEveryReading_data();
    void pyramidAgreesWithEveryReading();
    void runWindowFollowsMeasuresDrawsAndReports();
    void reusedFolderReportsOnlyTheRunsItHolds();
    void clockSetBackDuringARunKeepsItsLength();
};

void TestRunView::pyramidAgreesWithEveryReading_data()
{
    QTest::addColumn<int>("readings");
    QTest::addColumn<int>("intervalMs");
    QTest::newRow("one") << 1 << 100;
    QTest::newRow("under a pyramid block") << 7 << 100;
    QTest::newRow("one block of the second level and one more") << 65 << 100;
    QTest::newRow("across storage blocks") << 20000 << 1;
    QTest::newRow("sparse: blocks longer than 49 days") << 9000 << 1000 * 3600; // an hour apart
}

void TestRunView::pyramidAgreesWithEveryReading()
{
    QFETCH(int, readings);
    QFETCH(int, intervalMs);
    QRandomGenerator random(readings);
    RunSeries series;
    std::vector<qint64> times;
    std::vector<float> values;
    qint64 ms = 1'700'000'000'000;
    series.BeginFile(QStringLiteral("0000"));
    for (int i = 0; i < readings; ++i) {
        ms += intervalMs * (i % 997 == 996 ? 50 : 1); // now and then a gap
        const float celsius = float(random.bounded(20000)) / 10.0f;
        const int line = i + 2 + (i >= readings / 2 ? 1 : 0); // a line skipped half-way
        series.Append(ms, celsius, line);
        times.push_back(ms);
        values.push_back(celsius);
    }
    series.FindGaps();
    for (int k = 0; k < 300; ++k) {
        const qint64 a = random.bounded(readings);
        const qint64 b = a + 1 + random.bounded(readings - a);
        const TemperatureRange range = series.Range(a, b);
        QCOMPARE(range.lowest, *std::min_element(values.begin() + a, values.begin() + b));
        QCOMPARE(range.highest, *std::max_element(values.begin() + a, values.begin() + b));
        const qint64 probe = times[size_t(a)] - (k % 2);
        QCOMPARE(series.LowerBound(probe), qint64(std::lower_bound(times.begin(), times.end(), probe) - times.begin()));
        QCOMPARE(series.TimeAt(a), times[size_t(a)]);
        QCOMPARE(series.PlaceOf(a).line, int(a) + 2 + (a >= readings / 2 ? 1 : 0));
    }
    const qint64 expectedGapMs = std::max<qint64>(3000, 10 * intervalMs);
    QCOMPARE(series.GapMs(), expectedGapMs);
    qint64 gaps = 0;
    for (size_t i = 1; i < times.size(); ++i)
        gaps += times[i] - times[i - 1] > expectedGapMs ? 1 : 0;
    QCOMPARE(qint64(series.GapsBefore().size()), gaps);
}

namespace {

// The test's own figures, from the data files as it reads them.
struct Reckoned
{
    qint64 readings = 0;
    double lowest = 1e300, highest = -1e300, mean = 0;
    int gaps = 0;
    qint64 aboveMs = 0;
    double rise = 0, fall = 0;
};

Reckoned Reckon(const QList<DataLine> &lines, double threshold)
{
    Reckoned r;
    std::vector<qint64> intervals;
    for (qsizetype i = 1; i < lines.size(); ++i)
        intervals.push_back(lines[i].msSinceEpoch - lines[i - 1].msSinceEpoch);
    std::sort(intervals.begin(), intervals.end());
    const qint64 gapMs = std::max<qint64>(3000, 10 * intervals[intervals.size() / 2]);
    double sum = 0;
    qsizetype afterGap = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const double t = lines[i].temperature;
        sum += t;
        r.lowest = std::min(r.lowest, t);
        r.highest = std::max(r.highest, t);
        if (i > 0) {
            const qint64 step = lines[i].msSinceEpoch - lines[i - 1].msSinceEpoch;
            if (step > gapMs) {
                ++r.gaps;
                afterGap = i;
            } else if (lines[i - 1].temperature > threshold) {
                r.aboveMs += step;
            }
        }
        // Against the last reading a minute or more before, with no gap between.
        for (qsizetype j = i - 1; j >= afterGap; --j) {
            if (lines[i].msSinceEpoch - lines[j].msSinceEpoch >= 60000) {
                r.rise = std::max(r.rise, t - lines[j].temperature);
                r.fall = std::max(r.fall, lines[j].temperature - t);
                break;
            }
        }
    }
    r.readings = lines.size();
    r.mean = sum / double(lines.size());
    return r;
}

// Curve-coloured pixels in a column of the plot.
int CurvePixels(const QImage &image, int x, const QRect &plot)
{
    int count = 0;
    for (int y = plot.top() + 1; y < plot.bottom(); ++y)
        count += QColor(image.pixel(x, y)) == RunPlot::kCurveColour ? 1 : 0;
    return count;
}

QString PdfText(const QString &path)
{
    QProcess pdftotext;
    pdftotext.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), path, QStringLiteral("-")});
    pdftotext.waitForFinished(20000);
    return QString::fromUtf8(pdftotext.readAllStandardOutput());
}

// The rows of a picture where a limit's dashed line runs, grouped where they
// touch (antialiasing spreads a line over two): for each line its top row and
// the first and last of its pixels. A legend's short dash is not a line.
struct LimitLine
{
    int y;
    int from;
    int to;
};
std::vector<LimitLine> LimitLines(const QImage &image)
{
    const QColor want = RunPicture::kLimitColour;
    std::vector<LimitLine> lines;
    int lastRow = -2;
    for (int y = 0; y < image.height(); ++y) {
        int count = 0, from = image.width(), to = -1;
        for (int x = 0; x < image.width(); ++x) {
            const QColor c(image.pixel(x, y));
            if (std::abs(c.red() - want.red()) < 40 && std::abs(c.green() - want.green()) < 40 && std::abs(c.blue() - want.blue()) < 60) {
                ++count;
                from = std::min(from, x);
                to = std::max(to, x);
            }
        }
        if (count < 40)
            continue;
        if (y == lastRow + 1 && !lines.empty()) {
            lines.back().from = std::min(lines.back().from, from);
            lines.back().to = std::max(lines.back().to, to);
        } else {
            lines.push_back({y, from, to});
        }
        lastRow = y;
    }
    return lines;
}

// A limit lowered during the run: the higher line (drawn first, above) ends where the
// lower one begins.
QString LimitsAsTheyHeld(const QImage &image)
{
    const std::vector<LimitLine> lines = LimitLines(image);
    if (lines.size() != 2)
        return QStringLiteral("%1 limit lines").arg(lines.size());
    const LimitLine &before = lines[0], &after = lines[1];
    if (!(before.to < after.from + 12 && before.to > after.from - 12 && after.to - after.from > 2 * (before.to - before.from) / 3))
        return QStringLiteral("the line before runs %1..%2, the line after %3..%4").arg(before.from).arg(before.to).arg(after.from).arg(after.to);
    return QString();
}

} // namespace

void TestRunView::runWindowFollowsMeasuresDrawsAndReports()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    InstrumentSimulator simulator;
    QString error;
    QVERIFY2(simulator.OpenPseudoTerminal(&error), qPrintable(error));
    const QString records = dir.filePath(QStringLiteral("records"));
    QVERIFY(QDir().mkpath(records));
    const QString settingsFile = dir.filePath(QStringLiteral("settings.ini"));
    {
        QSettings settings(settingsFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("BaudRate"), 115200);
        settings.setValue(QStringLiteral("PortNumber"), 1);
        settings.setValue(QStringLiteral("SavingPath"), records);
        settings.setValue(QStringLiteral("TimeBetweenSaving"), 5);
        settings.setValue(QStringLiteral("PortDevice1"), simulator.DevicePath());
        settings.setValue(QStringLiteral("AlarmHigh"), 950);
    }
    SettingsStore store(settingsFile);
    ScriptedMessages messages;
    CThermoDlg dialog(messages, store, dir.filePath(QStringLiteral("journal")));
    dialog.show();
    dialog.accept();
    QVERIFY(dialog.IsRunning());

    // A triangle between 700 and 1000 °C, 20 frames a second; silent for
    // 4 s after 6 s: a gap.
    std::atomic_bool stop {false};
    std::atomic_bool silent {false};
    std::thread sender([&] {
        for (int i = 0; !stop; ++i) {
            const int phase = i % 800;
            const double celsius = 700 + 0.75 * (phase < 400 ? phase : 800 - phase);
            if (!silent)
                simulator.Write(InstrumentSimulator::EncodeFrame(celsius));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    const auto stopSending = qScopeGuard([&] {
        stop = true;
        sender.join();
    });

    QElapsedTimer running;
    running.start();
    QTest::qWait(6000);
    silent = true;
    QTest::qWait(4000);
    silent = false;
    QTest::qWait(2000);
    messages.prompt = [](QDialog &prompt) {
        static_cast<QInputDialog &>(prompt).setTextValue(QStringLiteral("Загрузка"));
        return int(QDialog::Accepted);
    };
    dialog.m_pRunLine->MarkButton()->click(); // "Отметка"
    // The limit lowered from 950 to 850 °C in the settings, which show the station's key.
    QString keyShown;
    messages.prompt = [&keyShown](QDialog &settings) {
        settings.show();
        keyShown = static_cast<CSettingsDlg &>(settings).KeyText();
        for (QGroupBox *group : settings.findChildren<QGroupBox *>())
            if (group->title() == QStringLiteral("Сигнализация"))
                group->findChildren<QLineEdit *>().first()->setText(QStringLiteral("850"));
        settings.accept();
        return settings.result();
    };
    dialog.OnSettings();
    messages.prompt = nullptr;
    QVERIFY2(keyShown.contains(QStringLiteral(": SHA256:")), qPrintable(keyShown));

    // The window on the run going on: it grows as the run saves.
    dialog.OnViewRun();
    QVERIFY(dialog.m_runWindow.Window());
    RunWindow &window = *dialog.m_runWindow.Window();
    QCOMPARE(window.Folder(), dialog.m_recorder.Folder());
    // The whole run from its start, the readings not yet in a file included,
    // and so it stays while it grows.
    const auto runStart = [&] {
        for (const FolderEvent &event : window.Run()->Events())
            if (event.event == QLatin1String("run-start"))
                return event.utcMs;
        return qint64(-1);
    };
    QVERIFY(window.Chart().ShowsAll());
    QVERIFY(runStart() > 0);
    QVERIFY2(window.Chart().Plot().FromMs() <= double(runStart()),
             qPrintable(QStringLiteral("the axis begins %1 ms after the start").arg(window.Chart().Plot().FromMs() - double(runStart()))));
    const double spanAtOpen = window.Chart().Plot().SpanMs();
    QVERIFY2(spanAtOpen > 10000, qPrintable(QString::number(spanAtOpen))); // the twelve seconds so far, not the last few
    const qint64 atOpen = window.Run()->Series().Size();
    QTRY_VERIFY_WITH_TIMEOUT(window.Run()->Series().Size() > atOpen, 8000);
    QTest::qWait(1000);
    QVERIFY(window.Chart().ShowsAll());
    QVERIFY(window.Chart().Plot().FromMs() <= double(runStart()));
    QVERIFY(window.Chart().Plot().SpanMs() > spanAtOpen + 1000);
    // More than a minute after the gap, for the changes over a minute.
    QTest::qWait(int(std::max<qint64>(0, 74000 - running.elapsed())));
    dialog.OnStop();
    stop = true;

    // Every reading of the data files, each once, as the window grew with them.
    const QString folder = dialog.m_recorder.Folder();
    const QList<DataLine> lines = ReadDataFiles(folder);
    const RunSeries &series = window.Run()->Series();
    QCOMPARE(series.Size(), qint64(lines.size()));
    for (qsizetype i = 0; i < lines.size(); i += 97) {
        QCOMPARE(series.TimeAt(i), lines[i].msSinceEpoch);
        QCOMPARE(series.CelsiusAt(i), float(lines[i].temperature));
    }
    // The place of a reading: its file's line holds its temperature.
    const qint64 probe = lines.size() * 2 / 3;
    const ReadingPlace place = series.PlaceOf(probe);
    QFile file(QDir(folder).filePath(place.file));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> fileLines = file.readAll().split('\n');
    QCOMPARE(fileLines.value(place.line - 1).trimmed().split(' ').value(1).toDouble(), lines[probe].temperature);

    // The statistics against the test's own reckoning.
    window.SetThreshold(900);
    const Reckoned expected = Reckon(lines, 900);
    const RunStatistics &stats = window.Statistics();
    QCOMPARE(stats.readings, expected.readings);
    QCOMPARE(stats.gaps, expected.gaps);
    QCOMPARE(stats.gaps, 1);
    QCOMPARE(stats.lowest, double(float(expected.lowest)));
    QCOMPARE(stats.highest, double(float(expected.highest)));
    QVERIFY(std::abs(stats.mean - expected.mean) < 0.01);
    QCOMPARE(stats.aboveMs, expected.aboveMs);
    QVERIFY(stats.largestRise && stats.largestFall);
    QVERIFY2(std::abs(*stats.largestRise - expected.rise) < 0.01, qPrintable(QString::number(*stats.largestRise)));
    QVERIFY(std::abs(*stats.largestFall - expected.fall) < 0.01);
    // One duration: from the run's start to its stop.
    qint64 stopMs = -1;
    for (const FolderEvent &event : window.Run()->Events())
        if (event.event == QLatin1String("run-stop"))
            stopMs = event.utcMs;
    QCOMPARE(stats.DurationMs(), stopMs - runStart());

    // The chart: the gap open, the mark where its time is.
    window.resize(1200, 700);
    window.Chart().ShowAll();
    const QImage image = window.Chart().grab().toImage();
    if (qEnvironmentVariableIsSet("CALORIVISTA_RUNVIEW_PICTURE"))
        window.grab().save(qEnvironmentVariable("CALORIVISTA_RUNVIEW_PICTURE"));
    const QRect plot = window.Chart().PlotRect();
    const qint64 gapEnd = series.GapsBefore().front();
    const int gapLeft = int(std::ceil(window.Chart().XOfTime(double(series.TimeAt(gapEnd - 1)))));
    const int gapRight = int(std::floor(window.Chart().XOfTime(double(series.TimeAt(gapEnd)))));
    QVERIFY(gapRight - gapLeft > 20);
    for (int x = gapLeft + 2; x <= gapRight - 2; ++x)
        QVERIFY2(CurvePixels(image, x, plot) == 0, qPrintable(QStringLiteral("curve in the gap at x %1").arg(x)));
    QVERIFY(CurvePixels(image, gapLeft - 3, plot) > 0 && CurvePixels(image, gapRight + 3, plot) > 0);
    const FolderEvent mark = *std::find_if(window.Run()->Events().begin(), window.Run()->Events().end(),
                                           [](const FolderEvent &event) { return event.event == QLatin1String("mark"); });
    QCOMPARE(mark.text, QStringLiteral("Загрузка"));
    const int markX = int(std::lround(window.Chart().XOfTime(double(mark.utcMs))));
    int blue = 0;
    for (int y = plot.top() + 1; y < plot.bottom(); ++y)
        blue += QColor(image.pixel(markX, y)) == QColor(0, 0, 200) ? 1 : 0;
    QVERIFY2(blue > plot.height() / 2, qPrintable(QString::number(blue)));

    // The wheel zooms around the pointer: the time under it stays.
    const QPointF pointer(plot.left() + plot.width() * 0.7, plot.center().y());
    const double before = window.Chart().TimeAtX(pointer.x());
    const double spanBefore = window.Chart().Plot().SpanMs();
    for (int notch = 0; notch < 6; ++notch) {
        QWheelEvent wheel(pointer, window.Chart().mapToGlobal(pointer), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(&window.Chart(), &wheel);
    }
    QVERIFY(std::abs(window.Chart().TimeAtX(pointer.x()) - before) < 1);
    QVERIFY(std::abs(window.Chart().Plot().SpanMs() - spanBefore / std::pow(1.25, 6)) < 1);

    // The cursor's reading names its file and line.
    QMouseEvent move(QEvent::MouseMove, pointer, window.Chart().mapToGlobal(pointer), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&window.Chart(), &move);
    const qint64 nearest = series.Nearest(qint64(window.Chart().TimeAtX(pointer.toPoint().x())));
    QVERIFY2(window.Readout().contains(QStringLiteral("файл %1, строка %2").arg(series.PlaceOf(nearest).file).arg(series.PlaceOf(nearest).line)),
             qPrintable(window.Readout()));

    // A selection: its statistics and its CSV hold the readings inside it.
    const qint64 from = lines[lines.size() / 4].msSinceEpoch, to = lines[lines.size() / 2].msSinceEpoch;
    window.Chart().SetSelection(std::pair(from, to));
    QTRY_COMPARE(window.Statistics().startMs, from);
    const qint64 inside = std::count_if(lines.begin(), lines.end(), [&](const DataLine &l) { return l.msSinceEpoch >= from && l.msSinceEpoch <= to; });
    QCOMPARE(window.Statistics().readings, inside);
    const QString csv = dir.filePath(QStringLiteral("span.csv"));
    QVERIFY(window.ExportCsv(csv));
    QFile csvFile(csv);
    QVERIFY(csvFile.open(QIODevice::ReadOnly));
    QCOMPARE(csvFile.readAll().count('\n'), inside + 1);
    const QString png = dir.filePath(QStringLiteral("span.png"));
    QVERIFY(window.ExportPng(png));
    const QImage picture(png);
    QCOMPARE(picture.size(), QSize(1600, 900));
    int curve = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            curve += QColor(picture.pixel(x, y)) == RunPlot::kCurveColour ? 1 : 0;
    QVERIFY(curve > 1000);

    // The report of the whole run, and the exporter's.
    window.Chart().SetSelection(std::nullopt);
    QTRY_COMPARE(window.Statistics().readings, expected.readings);
    const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
    QVERIFY(window.WriteReport(pdf));
    const QString report = PdfText(pdf);
    const QString fingerprint = keyShown.section(QStringLiteral(": "), 1);
    for (const QString &wanted : {QStringLiteral("Показаний"), QString::number(expected.readings), QStringLiteral("Отметка: Загрузка"),
                                  QString::number(expected.highest, 'f', 1) + QStringLiteral(" °C"), QStringLiteral("Пропусков"),
                                  QStringLiteral("Пуск"), QStringLiteral("Стоп"), QStringLiteral("Выше 900.0 °C"),
                                  QStringLiteral("Настройки изменены: AlarmHigh: 950 → 850"), simulator.DevicePath(),
                                  QStringLiteral("записи не изменялись"), fingerprint, QStringLiteral("Оператор:"),
                                  QStringLiteral("Проверил:"), QStringLiteral("пределы сигнализации, действовавшие в сеансе")})
        QVERIFY2(report.contains(wanted), qPrintable(wanted + QStringLiteral(" not in:\n") + report));
    QTRY_COMPARE(window.RecordState(), QStringLiteral("записи не изменялись"));
    // The settings at the start and their change, each line with the account the program runs as.
    QProcess id;
    id.start(QStringLiteral("id"), {QStringLiteral("-un")});
    QVERIFY(id.waitForFinished());
    const QByteArray user = id.readAllStandardOutput().trimmed();
    QFile eventsFile(QDir(folder).filePath(QStringLiteral("events.csv")));
    QVERIFY(!user.isEmpty() && eventsFile.open(QIODevice::ReadOnly));
    const QList<QByteArray> eventRows = eventsFile.readAll().trimmed().split('\n');
    QCOMPARE(eventRows.first(), QByteArray("time,event,temperature_c,text,user\r"));
    for (const QByteArray &row : eventRows.mid(1))
        QVERIFY2(row.trimmed().endsWith(',' + user), row.constData());
    QVERIFY2(eventRows.value(2).contains(",settings,,PortNumber=1; PortDevice1=" + simulator.DevicePath().toUtf8()
                                          + "; BaudRate=115200; TimeBetweenSaving=5; MinT=")
                 && eventRows.value(2).contains("; AlarmHigh=950; AlarmLow=; AlarmRate=; "),
             eventRows.value(2).constData());
    QCOMPARE(std::count_if(eventRows.begin(), eventRows.end(),
                           [](const QByteArray &row) { return row.contains(",settings-changed,") && row.contains(",AlarmHigh: 950 → 850,"); }),
             1);
    // Each limit where it held: in the window, the whole run's picture and the report's page.
    window.Chart().ShowAll();
    QString limits = LimitsAsTheyHeld(window.Chart().grab().toImage());
    QVERIFY2(limits.isEmpty(), qPrintable(QStringLiteral("window: ") + limits));
    const QString wholePng = dir.filePath(QStringLiteral("whole.png"));
    QVERIFY(window.ExportPng(wholePng));
    limits = LimitsAsTheyHeld(QImage(wholePng));
    QVERIFY2(limits.isEmpty(), qPrintable(QStringLiteral("picture: ") + limits));
    QProcess pdftoppm;
    pdftoppm.start(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("96"), QStringLiteral("-png"), QStringLiteral("-singlefile"),
                                                pdf, dir.filePath(QStringLiteral("page"))});
    QVERIFY(pdftoppm.waitForFinished(30000) && pdftoppm.exitCode() == 0);
    limits = LimitsAsTheyHeld(QImage(dir.filePath(QStringLiteral("page.png"))));
    QVERIFY2(limits.isEmpty(), qPrintable(QStringLiteral("report: ") + limits));
    QProcess exporter;
    exporter.start(QStringLiteral(CALORIVISTA_EXPORT), {folder, QStringLiteral("--pdf"), dir.filePath(QStringLiteral("cli.pdf"))});
    QVERIFY(exporter.waitForFinished(30000));
    QCOMPARE(exporter.exitCode(), 0);
    const QString cliReport = PdfText(dir.filePath(QStringLiteral("cli.pdf")));
    QVERIFY(cliReport.contains(QString::number(expected.readings)) && cliReport.contains(QStringLiteral("Загрузка")));

    // Compared with a copy 10 °C warmer, aligned on the starts: the difference at the cursor.
    const QString warmer = dir.filePath(QStringLiteral("warmer"));
    QVERIFY(QDir().mkpath(warmer));
    for (const QString &name : QDir(folder).entryList({QStringLiteral("????")}, QDir::Files)) {
        QFile in(QDir(folder).filePath(name));
        QFile out(QDir(warmer).filePath(name));
        QVERIFY(in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly));
        const QList<QByteArray> text = in.readAll().split('\n');
        out.write(text.first() + '\n');
        for (qsizetype i = 1; i < text.size(); ++i) {
            const QList<QByteArray> fields = text[i].trimmed().split(' ');
            if (fields.size() == 2)
                out.write(fields[0] + ' ' + QByteArray::number(fields[1].toDouble() + 10, 'f', 1) + "\r\n");
        }
    }
    // A folder that holds no data files (the folder above the run's) is refused, and said.
    const qsizetype shownBefore = messages.shown.size();
    QVERIFY(!window.CompareWith(dir.path(), RunWindow::Align::Starts));
    QCOMPARE(messages.shown.size(), shownBefore + 1);
    QVERIFY2(messages.shown.last().text.contains(QStringLiteral("нет файлов данных")), qPrintable(messages.shown.last().text));
    QVERIFY(window.CompareWith(warmer, RunWindow::Align::Starts));
    QApplication::sendEvent(&window.Chart(), &move);
    QVERIFY2(window.Readout().contains(QStringLiteral("разница -10.0 °C")), qPrintable(window.Readout()));
    // A legend names both runs, each in its curve's colour.
    const QImage compared = window.Chart().grab().toImage();
    const QRect legend(plot.left() + 8, plot.top() + 8, plot.width() / 2, 60);
    int own = 0, other = 0;
    for (int y = legend.top(); y < legend.bottom(); ++y) {
        for (int x = legend.left(); x < legend.right(); ++x) {
            own += QColor(compared.pixel(x, y)) == RunPlot::kCurveColour;
            other += QColor(compared.pixel(x, y)) == RunPlot::kComparedColour;
        }
    }
    QVERIFY2(own > 40 && other > 40, qPrintable(QStringLiteral("legend pixels %1 and %2").arg(own).arg(other)));
    // An export through the toolbar says where the file went.
    const QString toolbarCsv = dir.filePath(QStringLiteral("toolbar.csv"));
    messages.fileToSave = [&](const QString &) { return toolbarCsv; };
    for (QAction *action : window.findChildren<QAction *>())
        if (action->text() == QStringLiteral("Экспорт CSV..."))
            action->trigger();
    messages.fileToSave = nullptr;
    QVERIFY(QFile::exists(toolbarCsv));
    QCOMPARE(messages.shown.last().icon, QMessageBox::Information);
    QCOMPARE(messages.shown.last().text, QStringLiteral("Записано: ") + QDir::toNativeSeparators(toolbarCsv));

    // The same through the toolbar: the folder chooser, then laid over on the marks.
    // The copy has a second mark, half-way: the runs are laid over on it and on the first one's.
    QVERIFY(QFile::copy(QDir(folder).filePath(QStringLiteral("events.csv")), QDir(warmer).filePath(QStringLiteral("events.csv"))));
    const qint64 halfWay = lines[lines.size() / 2].msSinceEpoch;
    QFile warmerEvents(QDir(warmer).filePath(QStringLiteral("events.csv")));
    QVERIFY(warmerEvents.open(QIODevice::Append));
    char iso[32];
    warmerEvents.write(QByteArray(iso, WriteIsoTime(iso, halfWay, QDateTime::fromMSecsSinceEpoch(halfWay).offsetFromUtc()) - iso)
                       + ",mark,,Выдержка\r\n");
    warmerEvents.close();
    window.CompareWith(folder, RunWindow::Align::Starts); // something else first
    const QString workingFolder = CurrentFolder();
    QStringList asked;
    messages.prompt = [&](QDialog &prompt) {
        asked << prompt.windowTitle();
        if (qobject_cast<CFolderDlg *>(&prompt)) {
            SetCurrentFolder(warmer);
            return int(QDialog::Accepted);
        }
        const QList<QComboBox *> choices = prompt.findChildren<QComboBox *>();
        choices.value(0)->setCurrentIndex(1); // "по отметкам"
        choices.value(2)->setCurrentText(QStringLiteral("Выдержка"));
        return choices.value(0)->isEnabled() && choices.value(1)->currentText() == QStringLiteral("Загрузка")
                ? int(QDialog::Accepted)
                : int(QDialog::Rejected);
    };
    window.OnCompare();
    messages.prompt = nullptr;
    QCOMPARE(asked.size(), 2);
    QCOMPARE(CurrentFolder(), workingFolder); // the chooser's folder put back
    QCOMPARE(window.Chart().Plot().ComparedShiftMs(), mark.utcMs - halfWay);

    // A folder whose files are written again (a new run over an old one):
    // read afresh, not kept as it was.
    QVERIFY(window.OpenFolder(warmer));
    const qint64 whole = window.Run()->Series().Size();
    QFile first(QDir(warmer).filePath(QStringLiteral("0000")));
    QVERIFY(first.open(QIODevice::ReadOnly));
    QList<QByteArray> firstLines = first.readAll().split('\n');
    first.close();
    const qsizetype dropped = firstLines.size() / 2;
    firstLines.remove(firstLines.size() - 1 - dropped, dropped);
    QVERIFY(first.open(QIODevice::WriteOnly | QIODevice::Truncate));
    first.write(firstLines.join('\n'));
    first.close();
    window.FilesWritten();
    QCOMPARE(window.Run()->Series().Size(), whole - dropped);
}

// A new run started over an old folder from "0000": its files are the
// folder's, the old run's events stay in events.csv. The statistics, the span
// and the report take the runs whose readings the folder holds.
void TestRunView::reusedFolderReportsOnlyTheRunsItHolds()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("261208A0"));
    QVERIFY(QDir().mkpath(folder));
    const QDateTime newStart(QDate(2026, 12, 9), QTime(10, 0, 0));
    const qint64 oldStart = newStart.addDays(-1).toMSecsSinceEpoch();
    for (int file = 0; file < 2; ++file) {
        QFile data(QDir(folder).filePath(QStringLiteral("%1").arg(file, 4, 10, QLatin1Char('0'))));
        QVERIFY(data.open(QIODevice::WriteOnly));
        const QDateTime header = newStart.addSecs(30 * file);
        data.write(header.toString(QStringLiteral("d.M.yyyy H:m:s")).toLatin1() + "\r\n");
        for (int i = 0; i < 30; ++i)
            data.write(QByteArray::number(i) + ' ' + QByteArray::number(800 + i + 30 * file) + "\r\n");
    }
    const auto iso = [](qint64 ms) {
        char text[32];
        return QByteArray(text, WriteIsoTime(text, ms, QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc()) - text);
    };
    const qint64 start = newStart.toMSecsSinceEpoch();
    QFile events(QDir(folder).filePath(QStringLiteral("events.csv")));
    QVERIFY(events.open(QIODevice::WriteOnly));
    events.write("time,event,temperature_c,text\r\n" + iso(oldStart) + ",run-start,,0000 старая плавка\r\n" + iso(oldStart + 10000)
                 + ",alarm-high,1510.0,Выше 1500 °C\r\n" + iso(oldStart + 90000) + ",run-stop,900.0,\r\n" + iso(start - 500)
                 + ",run-start,,0000 новая плавка\r\n" + iso(start + 60000) + ",run-stop,859.0,\r\n");
    events.close();

    ScriptedMessages messages;
    RunWindow window(messages);
    QVERIFY(window.OpenFolder(folder));
    QCOMPARE(window.Run()->Events().size(), 2);
    QCOMPARE(window.Span(), std::pair(start - 500, start + 60000));
    QCOMPARE(window.Statistics().alarms.size(), size_t(0));
    QCOMPARE(window.Statistics().DurationMs(), qint64(60500));
    const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
    QVERIFY(window.WriteReport(pdf));
    const QString report = PdfText(pdf);
    QVERIFY2(report.contains(QStringLiteral("новая плавка")) && !report.contains(QStringLiteral("старая плавка"))
                 && !report.contains(QStringLiteral("Выше 1500")),
             qPrintable(report));
}

// A clock set back two hours during a run: the second data file's header
// lies before the first's. The run's length is still the readings' own,
// about a minute, not the sixteen seconds its stamps alone would give.
void TestRunView::clockSetBackDuringARunKeepsItsLength()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("records"));
    QVERIFY(QDir().mkpath(folder));
    const QDateTime start(QDate(2026, 12, 9), QTime(14, 0, 0));
    const QDateTime headers[2] = {start, start.addSecs(30 - 2 * 3600)};
    for (int file = 0; file < 2; ++file) {
        QFile data(QDir(folder).filePath(QStringLiteral("000%1").arg(file)));
        QVERIFY(data.open(QIODevice::WriteOnly));
        data.write(headers[file].toString(QStringLiteral("d.M.yyyy H:m:s")).toLatin1() + "\r\n");
        for (int i = 0; i < 30; ++i)
            data.write(QByteArray::number(i) + ' ' + QByteArray::number(900 + i) + "\r\n");
    }
    ScriptedMessages messages;
    RunWindow window(messages);
    QVERIFY(window.OpenFolder(folder));
    QCOMPARE(window.Statistics().readings, qint64(60));
    QVERIFY2(std::abs(window.Statistics().DurationMs() - 59000) <= 1000, qPrintable(QString::number(window.Statistics().DurationMs())));
}

QTEST_MAIN(TestRunView)
#include "tst_runview.moc"
