#include "runpicture.h"

#include "axissteps.h"
#include "csvwriter.h"
#include "labellayout.h"
#include "localtimeline.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

const QColor kCurveColour(128, 0, 0);
constexpr size_t kIntervalSample = 65536;

} // namespace

const QColor RunPicture::kLimitColour(230, 120, 0);

RunPicture::RunPicture(QSize size)
    : m_size(size)
{
}

void RunPicture::Measure(qint64 utcMs, double celsius)
{
    if (m_nCount == 0) {
        m_nFirstMs = m_nLastMs = utcMs;
        m_lowest = m_highest = celsius;
    } else {
        if (m_intervals.size() < kIntervalSample || m_nCount % 16 == 0) {
            const qint64 interval = utcMs - m_nPreviousMs;
            if (m_intervals.size() < kIntervalSample)
                m_intervals.push_back(interval);
            else
                m_intervals[static_cast<size_t>(m_nCount / 16) % kIntervalSample] = interval;
        }
        m_nFirstMs = std::min(m_nFirstMs, utcMs);
        m_nLastMs = std::max(m_nLastMs, utcMs);
        m_lowest = std::min(m_lowest, celsius);
        m_highest = std::max(m_highest, celsius);
    }
    m_nPreviousMs = utcMs;
    ++m_nCount;
}

void RunPicture::StartDrawing()
{
    const int W = m_size.width(), H = m_size.height();
    m_plot = QRect(W / 10, H / 10, (8 * W) / 10, (8 * H) / 10);
    m_columns.assign(static_cast<size_t>(m_plot.width() + 1), Column {});
    // A gap is a pause of ten typical intervals, and at least three seconds.
    qint64 typical = 0;
    if (!m_intervals.empty()) {
        std::nth_element(m_intervals.begin(), m_intervals.begin() + m_intervals.size() / 2, m_intervals.end());
        typical = m_intervals[m_intervals.size() / 2];
    }
    m_nGapMs = std::max<qint64>(3000, 10 * typical);
    m_nCount = 0;
}

void RunPicture::Draw(qint64 utcMs, double celsius)
{
    const qint64 span = std::max<qint64>(1, m_nLastMs - m_nFirstMs);
    const int column = static_cast<int>((utcMs - m_nFirstMs) * m_plot.width() / span);
    Column &c = m_columns[static_cast<size_t>(std::clamp(column, 0, m_plot.width()))];
    if (m_nCount > 0 && utcMs - m_nPreviousMs > m_nGapMs)
        c.gapBefore = true;
    c.lowest = c.used ? std::min(c.lowest, celsius) : celsius;
    c.highest = c.used ? std::max(c.highest, celsius) : celsius;
    c.used = true;
    m_nPreviousMs = utcMs;
    ++m_nCount;
}

void RunPicture::Note(qint64 utcMs, const QString &label, bool alarm)
{
    m_notes.push_back({utcMs, label, alarm});
}

QImage RunPicture::Finish(LocalTimeLine &timeLine) const
{
    QImage image(m_size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setPen(Qt::black);
    const int W = m_size.width(), H = m_size.height();

    // The temperature axis on round numbers around the run's range.
    double lo = m_lowest, hi = m_highest;
    if (hi - lo < 1) {
        lo -= 0.5;
        hi += 0.5;
    }
    const double step = NiceStep(hi - lo, 8);
    lo = std::floor(lo / step) * step;
    hi = std::ceil(hi / step) * step;
    const auto yOf = [&](double celsius) {
        return static_cast<int>(std::lround(m_plot.bottom() - (celsius - lo) * m_plot.height() / (hi - lo)));
    };
    // Whole counts of steps: at 4e15 °C a step added to the value no longer moves it.
    const qint64 lines = std::min<qint64>(std::llround((hi - lo) / step), 100);
    for (qint64 i = 0; i <= lines; ++i) {
        const double t = lo + double(i) * step;
        const int y = yOf(t);
        painter.drawLine(m_plot.left(), y, m_plot.right(), y);
        painter.drawText(QRect(0, y - 10, m_plot.left() - 6, 20), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(t, 'g', 6));
    }
    painter.drawText(QRect(5, 5, 200, 20), Qt::AlignLeft | Qt::AlignTop, QStringLiteral("T, °C"));

    // The time axis on round clock times, labelled in local time.
    const qint64 span = std::max<qint64>(1, m_nLastMs - m_nFirstMs);
    const qint64 tick = std::max<qint64>(1000, TimeStep(span)); // its labels name whole seconds
    const int offset = timeLine.OffsetAt(m_nFirstMs);
    const qint64 firstLocal = m_nFirstMs + qint64(offset) * 1000;
    const bool days = span >= 86400000;
    for (qint64 local = (firstLocal + tick - 1) / tick * tick; local - qint64(offset) * 1000 <= m_nLastMs; local += tick) {
        const qint64 utc = local - qint64(timeLine.OffsetAt(local - qint64(offset) * 1000)) * 1000;
        const int x = m_plot.left() + static_cast<int>((utc - m_nFirstMs) * m_plot.width() / span);
        if (x < m_plot.left() || x > m_plot.right())
            continue;
        painter.drawLine(x, m_plot.top(), x, m_plot.bottom());
        char text[32];
        char *end = WriteIsoTime(text, utc, timeLine.OffsetAt(utc));
        const QString iso = QString::fromLatin1(text, end - text);
        const QString label = days ? iso.mid(8, 2) + QLatin1Char('.') + iso.mid(5, 2) + QLatin1Char(' ') + iso.mid(11, 5)
                                   : (tick < 60000 ? iso.mid(11, 8) : iso.mid(11, 5));
        painter.drawText(QRect(x - 60, m_plot.bottom() + 4, 120, 20), Qt::AlignHCenter | Qt::AlignTop, label);
    }
    painter.drawRect(m_plot);
    char first[32];
    const QString from = QString::fromLatin1(first, WriteIsoTime(first, m_nFirstMs, offset) - first).left(19)
                             .replace(QLatin1Char('T'), QLatin1Char(' '));
    painter.drawText(QRect(0, H - 26, W - 10, 20), Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("время (с %1)").arg(from));

    // The marks and alarms of the run, under the curve; their labels at the
    // plot's top in up to three rows, none over another nor past the plot.
    const qint64 noteSpan = std::max<qint64>(1, m_nLastMs - m_nFirstMs);
    const QFontMetrics metrics = painter.fontMetrics();
    std::vector<const Noted *> shown;
    std::vector<LabelRequest> requests;
    std::vector<QString> labels;
    for (const Noted &note : m_notes) {
        if (note.utcMs < m_nFirstMs || note.utcMs > m_nLastMs)
            continue;
        const int x = m_plot.left() + static_cast<int>((note.utcMs - m_nFirstMs) * m_plot.width() / noteSpan);
        const QColor colour = note.alarm ? QColor(220, 0, 0) : QColor(0, 0, 200);
        painter.setPen(QPen(colour, 1, note.alarm ? Qt::DashLine : Qt::SolidLine));
        painter.drawLine(x, m_plot.top(), x, m_plot.bottom());
        labels.push_back(metrics.elidedText(note.label, Qt::ElideRight, std::min(300, m_plot.width() - 6)));
        shown.push_back(&note);
        requests.push_back({double(x), double(metrics.horizontalAdvance(labels.back()))});
    }
    const std::vector<LabelPlace> places = LayOutLabels(requests, m_plot.left() + 2, m_plot.right() - 2, 3);
    for (size_t i = 0; i < shown.size(); ++i) {
        if (places[i].row < 0)
            continue;
        painter.setPen(shown[i]->alarm ? QColor(220, 0, 0) : QColor(0, 0, 200));
        painter.drawText(QPointF(places[i].left, m_plot.top() + 2 + metrics.ascent() + places[i].row * (metrics.height() + 2)),
                         labels[i]);
    }
    // The folder and its comment as the title.
    if (!m_strTitle.isEmpty()) {
        painter.setPen(Qt::black);
        painter.drawText(QRect(m_plot.left(), 4, m_plot.width(), m_plot.top() - 8), Qt::AlignHCenter | Qt::AlignVCenter,
                         metrics.elidedText(m_strTitle, Qt::ElideMiddle, m_plot.width()));
    }

    // The limits in force, dashed, under the curve; what they are at the bottom left.
    painter.setClipRect(m_plot.adjusted(0, 0, 1, 1));
    painter.setPen(QPen(kLimitColour, 1, Qt::DashLine));
    for (size_t i = 0; i < m_limits.size(); ++i) {
        const auto xOf = [&](qint64 utcMs) {
            return m_plot.left() + static_cast<int>(std::clamp<qint64>(utcMs - m_nFirstMs, 0, span) * m_plot.width() / span);
        };
        const int from = xOf(m_limits[i].fromMs);
        const int to = i + 1 < m_limits.size() ? xOf(m_limits[i + 1].fromMs) : m_plot.right();
        for (const std::optional<double> &limit : {m_limits[i].high, m_limits[i].low})
            if (limit && to > from)
                painter.drawLine(from, yOf(*limit), to, yOf(*limit));
    }
    painter.setClipping(false);
    if (!m_limits.empty()) {
        const int y = H - 16;
        painter.drawLine(10, y, 34, y);
        painter.setPen(Qt::black);
        painter.drawText(QPoint(40, y + metrics.ascent() / 2 - 1), QStringLiteral("пределы сигнализации, действовавшие в сеансе"));
    }

    // The curve: a polyline per stretch without a gap.
    painter.setClipRect(m_plot.adjusted(0, 0, 1, 1));
    painter.setPen(QPen(kCurveColour, 2));
    std::vector<QPoint> stretch;
    const auto drawStretch = [&] {
        if (stretch.size() == 1)
            painter.drawPoint(stretch.front());
        else if (stretch.size() > 1)
            painter.drawPolyline(stretch.data(), static_cast<int>(stretch.size()));
        stretch.clear();
    };
    for (size_t column = 0; column < m_columns.size(); ++column) {
        const Column &c = m_columns[column];
        if (!c.used)
            continue;
        if (c.gapBefore)
            drawStretch();
        const int x = m_plot.left() + static_cast<int>(column);
        stretch.emplace_back(x, yOf(c.highest));
        if (c.lowest != c.highest)
            stretch.emplace_back(x, yOf(c.lowest));
    }
    drawStretch();
    return image;
}
