#include "chartwnd.h"

#include "chartowner.h"
#include "comreader.h"

#include <QCloseEvent>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kMinOuterWidth = 400;
constexpr int kMinOuterHeight = 300;
constexpr int kDisplayPeriodMs = 1000;
constexpr double kPixelsPerSecondPerWidth = 1.0 / 750.0; // 750 s per W pixels: the plot spans 600 s

const QColor kCurveColour(128, 0, 0);
const QColor kMarkerColour(255, 0, 0);
const QColor kLineMarkColour(220, 0, 0);
const QColor kLimitColour(230, 120, 0);
const QColor kOperatorMarkColour(0, 0, 200);
// Readings that reach this far back are drawn as they are.
constexpr double kStoreSpansTheAxisSeconds = 590.0;

enum class Anchor { BaselineLeft, TopLeft, TopRight, TopCentre };

// Text in black (or `colour`) on an opaque white background, placed by its anchor.
void DrawText(QPainter &painter, int x, int y, Anchor anchor, const QString &text)
{
    if (anchor == Anchor::BaselineLeft) {
        painter.drawText(QPoint(x, y), text);
        return;
    }
    const int width = painter.fontMetrics().horizontalAdvance(text) + 1;
    const int height = painter.fontMetrics().height();
    int left = x;
    if (anchor == Anchor::TopRight)
        left = x - width;
    else if (anchor == Anchor::TopCentre)
        left = x - width / 2;
    painter.drawText(QRect(left, y, width, height), Qt::AlignLeft | Qt::AlignTop, text);
}

// A pause in the readings of ten typical intervals, and at least three
// seconds, is a gap: the curve is not drawn across it, as if the instrument
// had measured there (the export's picture keeps the same rule).
constexpr double kGapIntervals = 10.0;
constexpr double kShortestGapSeconds = 3.0;

// One polyline per stretch; a stretch of one point is a dot.
void DrawStretches(QPainter &painter, const QPoint *points, int count, const std::vector<int> &starts)
{
    for (size_t i = 0; i < starts.size(); ++i) {
        const int begin = starts[i];
        const int end = i + 1 < starts.size() ? starts[i + 1] : count;
        if (end - begin == 1)
            painter.drawPoint(points[begin]);
        else if (end - begin > 1)
            painter.drawPolyline(points + begin, end - begin);
    }
}

} // namespace

CChartWnd::CChartWnd(ChartOwner &owner)
    : QWidget(nullptr, Qt::Window)
    , m_owner(owner)
{
    setWindowTitle(QStringLiteral("Ход температуры"));
    setAttribute(Qt::WA_OpaquePaintEvent); // the paint covers every pixel: no erase, no flicker
}

void CChartWnd::Render(QImage &image, const SYSTEMTIME &now)
{
    const int W = image.width();
    const int H = image.height();
    const int x0 = W / 10, x1 = (9 * W) / 10, y0 = H / 10, y1 = (9 * H) / 10;
    const double lo = m_owner.ChartMinT();
    const double hi = m_owner.ChartMaxT();
    const double range = hi - lo;

    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setBackground(Qt::white);
    painter.setPen(QPen(Qt::black, 1));

    for (int i = 0; i <= 10; ++i) {
        const int y = y1 - (4 * i * H) / 50;
        painter.drawLine(x0, y, x1, y);
        DrawText(painter, 5, y, Anchor::BaselineLeft, QString::asprintf("%.0f", i * range * 0.1 + lo));
        const int x = x1 - (4 * i * W) / 50;
        painter.drawLine(x, y0, x, y1);
        DrawText(painter, x0 + (4 * i * W) / 50, y1 + 5, Anchor::TopCentre, QString::asprintf("%i", i));
    }
    DrawText(painter, W - W / 40, (19 * H) / 20, Anchor::TopRight, QStringLiteral("t,минут"));
    DrawText(painter, 15, 5, Anchor::TopLeft, QStringLiteral("T,гр.C"));

    // Under the lock only what the drawing needs is copied.
    const auto yOf = [&](double temperature) {
        return static_cast<int>(y1 - ((temperature - lo) * 4 * H) / (range * 5.0));
    };
    int points = 0;
    bool fromHistory = false;
    QString markerText;
    bool hasNewest = false;
    double newest = 0;
    bool hasMarkerReading = false;
    double markerTemperature = 0;
    LineStatus line;
    const qint32 marker32 = static_cast<qint32>(m_nMarkerSec);
    {
        CComReader &reader = m_owner.ChartReader();
        reader.Lock();
        const SampleList &store = reader.Samples();
        const int count = std::min(store.GetCount(), kMaxPoints);
        LocalSecondsCache seconds;
        const std::time_t nowSeconds = LocalSeconds(now);
        bool reachedTheEnd = false; // the readings reach back past the axis's ten minutes
        double oldestAge = 0;
        for (int j = 0; j < count; ++j) {
            const TempSample reading = *store.GetAt(j);
            const double age = static_cast<double>(nowSeconds - seconds.Of(reading.time))
                - reading.time.wMilliseconds / 1000.0;
            if (!hasMarkerReading && marker32 > 0 && m_nMarkerSec < age) {
                hasMarkerReading = true;
                markerTemperature = reading.temperature;
            }
            const int x = static_cast<int>(W * age * kPixelsPerSecondPerWidth + x0);
            if (x > x1) {
                reachedTheEnd = true;
                break;
            }
            oldestAge = age;
            // Equal limits leave no scale to plot on: no curve then.
            if (range != 0) {
                m_ages[static_cast<size_t>(points)] = age;
                m_points[static_cast<size_t>(points++)] = QPoint(x, yOf(reading.temperature));
            }
        }
        const double gapSeconds = GapSeconds(points);
        m_stretchStarts.clear();
        for (int j = 0; j < points; ++j)
            if (j == 0 || m_ages[static_cast<size_t>(j)] - m_ages[static_cast<size_t>(j - 1)] > gapSeconds)
                m_stretchStarts.push_back(j);
        // Up to 10 frames a second the kept readings span the ten minutes. A
        // faster line leaves them a few seconds: the curve is then drawn from
        // the history's tenths of a second, over the whole span.
        if (!reachedTheEnd && oldestAge < kStoreSpansTheAxisSeconds && range != 0) {
            const qint64 nowTenth = ChartHistory::TenthOf(nowSeconds, now.wMilliseconds);
            if (const int drawn = EnvelopePoints(reader.History(), nowTenth, oldestAge, gapSeconds, W, x0, x1, yOf);
                drawn > 0) {
                fromHistory = true;
                points = drawn;
                if (!hasMarkerReading && marker32 > 0)
                    markerText = MarkerRange(reader.History(), nowTenth, m_nMarkerSec);
            }
        }
        if (store.GetCount() > 0) {
            hasNewest = true;
            newest = store.GetAt(0)->temperature;
        }
        line = LineStatus::Of(reader.Line(), LineClockMs());
        reader.Unlock();
    }

    if (hasMarkerReading)
        markerText = QString::asprintf("Температура %.1f", markerTemperature);
    if (!markerText.isEmpty()) {
        painter.setPen(kMarkerColour);
        DrawText(painter, x1, 5, Anchor::TopRight, markerText);
    }
    int markX = W / 4;
    if (hasNewest) {
        painter.setPen(kCurveColour);
        const QString current = QStringLiteral("Текущ. темп.  ") + QString::asprintf("%.1f", newest);
        DrawText(painter, W / 4, 5, Anchor::TopLeft, current);
        markX += painter.fontMetrics().horizontalAdvance(current + QStringLiteral("  "));
    }
    if (!line.IsLive()) {
        // The value beside it is not live: the operator sees at once why. In a
        // narrow window it goes under the value rather than over the marker's text.
        const QFontMetrics metrics = painter.fontMetrics();
        const QString mark = line.Mark();
        const int room = markerText.isEmpty() ? W : x1 - metrics.horizontalAdvance(markerText) - 1;
        int markY = 5;
        if (markX + metrics.horizontalAdvance(mark) > room) {
            markX = W / 4;
            markY += metrics.height();
        }
        painter.setPen(kLineMarkColour);
        DrawText(painter, markX, markY, Anchor::TopLeft, mark);
    }
    painter.setClipRect(QRect(x0, y0, x1 - x0, y1 - y0));
    painter.setPen(QPen(kCurveColour, 2));
    if (fromHistory) {
        // A one-pixel line drawn twice, a pixel apart, looks as the curve's
        // two-pixel pen does and takes the fast path for thin lines.
        painter.setPen(QPen(kCurveColour, 1));
        DrawStretches(painter, m_envelope.data(), points, m_stretchStarts);
        painter.translate(1, 0);
        DrawStretches(painter, m_envelope.data(), points, m_stretchStarts);
        painter.translate(-1, 0);
    } else {
        DrawStretches(painter, m_points.data(), points, m_stretchStarts);
    }
    DrawNotes(painter, now, W, x0, x1, y0, y1, range != 0 ? std::function<int(double)>(yOf) : nullptr);
    if (m_nMarkerSec > 0) {
        const qint64 xm = x0 + (m_nMarkerSec * W * 4) / 3000;
        painter.setPen(QPen(kMarkerColour, 2));
        painter.drawLine(QPoint(static_cast<int>(xm), y0), QPoint(static_cast<int>(xm), y1));
    }
}

void CChartWnd::DrawNotes(QPainter &painter, const SYSTEMTIME &now, int W, int x0, int x1, int y0, int y1,
                          const std::function<int(double)> &yOf)
{
    const ChartNotes notes = m_owner.ChartNotesNow();
    // The limits, dashed, where the scale reaches them.
    if (yOf) {
        painter.setPen(QPen(kLimitColour, 1, Qt::DashLine));
        for (const double limit : notes.limits) {
            const int y = yOf(limit);
            if (y >= y0 && y <= y1)
                painter.drawLine(x0, y, x1, y);
        }
    }
    // The operator's marks: a line at their age, their text beside its top.
    const qint64 nowMs = qint64(LocalSeconds(now)) * 1000 + now.wMilliseconds;
    painter.setPen(QPen(kOperatorMarkColour, 1));
    for (const ChartNotes::Mark &mark : notes.marks) {
        const double age = static_cast<double>(nowMs - mark.utcMs) / 1000.0;
        const int x = static_cast<int>(W * age * kPixelsPerSecondPerWidth + x0);
        if (x < x0 || x > x1)
            continue;
        painter.drawLine(x, y0, x, y1);
        if (!mark.text.isEmpty())
            DrawText(painter, x + 2, y0 + 2, Anchor::TopLeft, mark.text);
    }
    // The alarm shown, named in the plot's lower left.
    if (!notes.alarm.isEmpty()) {
        painter.setPen(kLineMarkColour);
        DrawText(painter, x0 + 4, y1 - painter.fontMetrics().height() - 4, Anchor::TopLeft, notes.alarm);
    }
}

double CChartWnd::GapSeconds(int count)
{
    // The typical interval is the median of those between the ages.
    const int intervals = count - 1;
    if (intervals < 1)
        return kShortestGapSeconds;
    for (int j = 0; j < intervals; ++j)
        m_intervals[static_cast<size_t>(j)] = m_ages[static_cast<size_t>(j + 1)] - m_ages[static_cast<size_t>(j)];
    double *const middle = m_intervals.data() + intervals / 2;
    std::nth_element(m_intervals.data(), middle, m_intervals.data() + intervals);
    return std::max(kShortestGapSeconds, kGapIntervals * *middle);
}

int CChartWnd::EnvelopePoints(const ChartHistory &history, qint64 nowTenth, double storeSpan, double gapSeconds, int W,
                              int x0, int x1, const std::function<int(double)> &yOf)
{
    // The lowest and highest temperature of every pixel column, newest at the left.
    const int columns = x1 - x0 + 1;
    m_columns.assign(static_cast<size_t>(columns), Column {});
    bool older = false; // the history holds readings older than the kept ones
    double newerAge = -1;
    for (int k = 0; k < ChartHistory::kSlots; ++k) {
        const ChartHistory::Slot *slot = history.At(nowTenth - k);
        if (!slot)
            continue;
        const double age = k / 10.0;
        older |= age > storeSpan + 0.1;
        const int column = static_cast<int>(W * age * kPixelsPerSecondPerWidth);
        if (column >= columns)
            break;
        Column &c = m_columns[static_cast<size_t>(column)];
        // A tenth holds readings up to a tenth later than its own start.
        c.gapBefore |= newerAge >= 0 && age - newerAge > gapSeconds + 0.1;
        newerAge = age;
        c.lowest = c.used ? std::min(c.lowest, slot->lowest) : slot->lowest;
        c.highest = c.used ? std::max(c.highest, slot->highest) : slot->highest;
        c.used = true;
    }
    if (!older)
        return 0;
    // One polyline down each column's stroke and on to the next column, new
    // after a gap.
    m_envelope.resize(static_cast<size_t>(2 * columns));
    m_stretchStarts.clear();
    int points = 0;
    for (int column = 0; column < columns; ++column) {
        const Column &c = m_columns[static_cast<size_t>(column)];
        if (!c.used)
            continue;
        if (points == 0 || c.gapBefore)
            m_stretchStarts.push_back(points);
        const int x = x0 + column;
        const int top = yOf(c.highest);
        const int bottom = yOf(c.lowest);
        m_envelope[static_cast<size_t>(points++)] = QPoint(x, top);
        if (bottom != top)
            m_envelope[static_cast<size_t>(points++)] = QPoint(x, bottom);
    }
    return points;
}

QString CChartWnd::MarkerRange(const ChartHistory &history, qint64 nowTenth, qint64 markerSeconds)
{
    // The tenth at the marker, or the nearest older one that holds readings.
    for (qint64 tenth = nowTenth - markerSeconds * 10; tenth > nowTenth - ChartHistory::kSlots; --tenth) {
        if (const ChartHistory::Slot *slot = history.At(tenth)) {
            if (slot->lowest == slot->highest)
                return QString::asprintf("Температура %.1f", slot->lowest);
            return QString::asprintf("Температура %.1f…%.1f", slot->lowest, slot->highest);
        }
    }
    return QString();
}

void CChartWnd::paintEvent(QPaintEvent *)
{
    QTimer &displayTimer = m_owner.DisplayTimer();
    displayTimer.stop();
    if (m_surface.size() != size())
        m_surface = QImage(size(), QImage::Format_RGB32);
    SYSTEMTIME now {};
    GetLocalTime(&now);
    Render(m_surface, now);
    QPainter(this).drawImage(0, 0, m_surface); // one copy to the window
    displayTimer.start(kDisplayPeriodMs); // the next tick comes a full second after the paint
}

void CChartWnd::closeEvent(QCloseEvent *event)
{
    event->accept(); // hidden, not destroyed; the marker stays
    m_owner.OnChartHidden();
}

void CChartWnd::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        const qint32 W = width();
        const qint32 x = static_cast<qint32>(event->position().x());
        m_nMarkerSec = static_cast<qint32>(((x - W / 10) * 600) / ((4 * W) / 5));
        update();
    } else if (event->button() == Qt::RightButton) {
        m_nMarkerSec = -1;
        update();
    }
    QWidget::mousePressEvent(event);
}

void CChartWnd::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    const QRect outer = frameGeometry();
    if (outer.width() < kMinOuterWidth || outer.height() < kMinOuterHeight) {
        const int frameWidth = outer.width() - width();
        const int frameHeight = outer.height() - height();
        resize(std::max(outer.width(), kMinOuterWidth) - frameWidth, std::max(outer.height(), kMinOuterHeight) - frameHeight);
        update();
    }
}
