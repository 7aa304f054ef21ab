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
    int points = 0;
    bool hasNewest = false;
    double newest = 0;
    bool hasMarkerReading = false;
    double markerTemperature = 0;
    const qint32 marker32 = static_cast<qint32>(m_nMarkerSec);
    {
        CComReader &reader = m_owner.ChartReader();
        reader.Lock();
        const SampleList &store = reader.Samples();
        const int count = std::min(store.GetCount(), kMaxPoints);
        LocalSecondsCache seconds;
        const std::time_t nowSeconds = LocalSeconds(now);
        for (int j = 0; j < count; ++j) {
            const TempSample reading = *store.GetAt(j);
            const double age = static_cast<double>(nowSeconds - seconds.Of(reading.time))
                - reading.time.wMilliseconds / 1000.0;
            if (!hasMarkerReading && marker32 > 0 && m_nMarkerSec < age) {
                hasMarkerReading = true;
                markerTemperature = reading.temperature;
            }
            const int x = static_cast<int>(W * age * kPixelsPerSecondPerWidth + x0);
            if (x > x1)
                break;
            // Equal limits leave no scale to plot on: no curve then.
            if (range != 0) {
                const int y = static_cast<int>(y1 - ((reading.temperature - lo) * 4 * H) / (range * 5.0));
                m_points[static_cast<size_t>(points++)] = QPoint(x, y);
            }
        }
        if (store.GetCount() > 0) {
            hasNewest = true;
            newest = store.GetAt(0)->temperature;
        }
        reader.Unlock();
    }

    if (hasMarkerReading) {
        painter.setPen(kMarkerColour);
        DrawText(painter, x1, 5, Anchor::TopRight, QString::asprintf("Температура %.1f", markerTemperature));
    }
    if (hasNewest) {
        painter.setPen(kCurveColour);
        DrawText(painter, W / 4, 5, Anchor::TopLeft, QStringLiteral("Текущ. темп.  ") + QString::asprintf("%.1f", newest));
    }
    painter.setClipRect(QRect(x0, y0, x1 - x0, y1 - y0));
    painter.setPen(QPen(kCurveColour, 2));
    if (points > 1)
        painter.drawPolyline(m_points.data(), points);
    if (m_nMarkerSec > 0) {
        const qint64 xm = x0 + (m_nMarkerSec * W * 4) / 3000;
        painter.setPen(QPen(kMarkerColour, 2));
        painter.drawLine(QPoint(static_cast<int>(xm), y0), QPoint(static_cast<int>(xm), y1));
    }
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
