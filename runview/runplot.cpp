#include "runplot.h"

#include "runpicture.h"
#include "settingsevents.h"

#include "labellayout.h"

#include "axissteps.h"
#include "localtimeline.h"

#include <QDateTime>
#include <QPainter>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>

const QColor RunPlot::kCurveColour(128, 0, 0);
const QColor RunPlot::kComparedColour(0, 130, 130);

namespace {

const QColor kMarkColour(0, 0, 200);
const QColor kAlarmColour(220, 0, 0);
const QColor kRunColour(0, 140, 0);
const QColor kSelectionColour(0, 120, 215, 45);

// How an event is drawn, if it is one the chart shows.
struct EventLook
{
    QColor colour;
    Qt::PenStyle style;
    QString label;
};

std::optional<EventLook> LookOf(const FolderEvent &event)
{
    if (event.event == QLatin1String("mark"))
        return EventLook {kMarkColour, Qt::SolidLine, event.text.isEmpty() ? QStringLiteral("Отметка") : event.text};
    if (event.event == QLatin1String("run-start"))
        return EventLook {kRunColour, Qt::SolidLine, QStringLiteral("Пуск")};
    if (event.event == QLatin1String("run-stop"))
        return EventLook {kRunColour, Qt::SolidLine, QStringLiteral("Стоп")};
    if (event.event.startsWith(QLatin1String("alarm-")) && event.event != QLatin1String("alarm-clear")
        && event.event != QLatin1String("alarm-ack"))
        return EventLook {kAlarmColour, Qt::DashLine, event.text};
    return std::nullopt;
}

} // namespace

QRect RunPlot::PlotOf(const QRect &area)
{
    return area.adjusted(72, 46, -16, -42);
}

void RunPlot::ShowSpan(double fromMs, double toMs)
{
    if (toMs < fromMs)
        std::swap(fromMs, toMs);
    m_spanMs = std::max(kSmallestSpanMs, toMs - fromMs);
    m_fromMs = fromMs;
}

void RunPlot::Render(QPainter &painter, const QRect &area) const
{
    const QRect plot = PlotOf(area);
    painter.fillRect(area, Qt::white);
    painter.setPen(Qt::black);
    FitScale();
    const auto yOf = [&](double celsius) { return plot.bottom() - (celsius - m_lowest) * plot.height() / (m_highest - m_lowest); };

    // The temperature axis.
    const qint64 lines = std::min<qint64>(std::llround((m_highest - m_lowest) / m_step), 100);
    // As many decimals as the step has, the same on every label.
    const int decimals = std::clamp(int(-std::floor(std::log10(m_step) + 1e-9)), 0, 6);
    for (qint64 i = 0; i <= lines; ++i) {
        const double t = m_lowest + double(i) * m_step;
        const int y = int(std::lround(yOf(t)));
        painter.setPen(QColor(200, 200, 200));
        painter.drawLine(plot.left(), y, plot.right(), y);
        painter.setPen(Qt::black);
        painter.drawText(QRect(area.left(), y - 10, plot.left() - area.left() - 6, 20), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(t, 'f', decimals));
    }
    painter.drawText(QRect(area.left() + 5, area.top() + 4, 100, 18), Qt::AlignLeft | Qt::AlignTop, QStringLiteral("T, °C"));
    DrawTimeAxis(painter, plot);

    if (m_selection) {
        const double x0 = plot.left() + (double(m_selection->first) - m_fromMs) * plot.width() / m_spanMs;
        const double x1 = plot.left() + (double(m_selection->second) - m_fromMs) * plot.width() / m_spanMs;
        painter.fillRect(QRectF(QPointF(std::max<double>(x0, plot.left()), plot.top()),
                                QPointF(std::min<double>(x1, plot.right()), plot.bottom()))
                             .normalized(),
                         kSelectionColour);
    }

    painter.save();
    painter.setClipRect(plot.adjusted(0, 0, 1, 1));
    DrawLimits(painter, plot);
    if (m_pCompared)
        DrawSeries(painter, plot, *m_pCompared, m_nComparedShiftMs, kComparedColour);
    if (m_pSeries)
        DrawSeries(painter, plot, *m_pSeries, 0, kCurveColour);
    DrawTail(painter, plot);
    if (m_pCompared)
        DrawLegend(painter, plot);
    painter.restore();
    DrawEvents(painter, plot);

    painter.setPen(Qt::black);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(plot);
}

void RunPlot::DrawSeries(QPainter &painter, const QRect &plot, const RunSeries &series, qint64 shiftMs,
                          const QColor &colour) const
{
    if (series.IsEmpty())
        return;
    const int width = plot.width();
    const double msPerColumn = m_spanMs / width;
    const auto yOf = [&](double celsius) { return plot.bottom() - (celsius - m_lowest) * plot.height() / (m_highest - m_lowest); };
    const auto xOf = [&](qint64 index) {
        return std::clamp(plot.left() + (double(series.TimeAt(index) + shiftMs) - m_fromMs) / msPerColumn, -1e6, 1e6);
    };
    // Where each column's readings begin: column c holds [bounds[c], bounds[c + 1]).
    std::vector<qint64> bounds(size_t(width) + 2);
    for (int c = 0; c <= width + 1; ++c)
        bounds[size_t(c)] = series.LowerBound(qint64(std::ceil(m_fromMs + c * msPerColumn)) - shiftMs);

    painter.setPen(QPen(colour, 2));
    std::vector<QPointF> stretch;
    const auto drawStretch = [&] {
        if (stretch.size() == 1)
            painter.drawPoint(stretch.front());
        else if (stretch.size() > 1)
            painter.drawPolyline(stretch.data(), int(stretch.size()));
        stretch.clear();
    };
    // The reading before the view and the one after it, so that the curve
    // runs on to the edges unless a gap lies there.
    if (bounds[0] > 0)
        stretch.emplace_back(xOf(bounds[0] - 1), yOf(series.CelsiusAt(bounds[0] - 1)));
    for (int c = 0; c <= width; ++c) {
        const qint64 first = bounds[size_t(c)], last = bounds[size_t(c) + 1];
        if (first == last)
            continue;
        if (series.GapEndsIn(first, last))
            drawStretch();
        const TemperatureRange range = series.Range(first, last);
        const double x = plot.left() + c + 0.5;
        stretch.emplace_back(x, yOf(range.highest));
        if (range.lowest != range.highest)
            stretch.emplace_back(x, yOf(range.lowest));
    }
    const qint64 after = bounds[size_t(width) + 1];
    if (after < series.Size()) {
        if (series.GapEndsIn(after, after + 1))
            drawStretch();
        stretch.emplace_back(xOf(after), yOf(series.CelsiusAt(after)));
    }
    drawStretch();
}

void RunPlot::DrawTail(QPainter &painter, const QRect &plot) const
{
    if (!m_pTail || m_pTail->empty())
        return;
    const auto yOf = [&](double celsius) { return plot.bottom() - (celsius - m_lowest) * plot.height() / (m_highest - m_lowest); };
    const qint64 gapMs = m_pSeries ? m_pSeries->GapMs() : 3000;
    std::vector<QPointF> points;
    qint64 previousMs = 0;
    if (m_pSeries && !m_pSeries->IsEmpty()) {
        previousMs = m_pSeries->LastMs();
        points.emplace_back(XOf(plot, double(previousMs)), yOf(m_pSeries->CelsiusAt(m_pSeries->Size() - 1)));
    }
    painter.setPen(QPen(kCurveColour, 2));
    int column = INT_MIN;
    for (const auto &[ms, celsius] : *m_pTail) {
        if (!points.empty() && ms - previousMs > gapMs) {
            painter.drawPolyline(points.data(), int(points.size()));
            points.clear();
        }
        previousMs = ms;
        const double x = std::clamp(XOf(plot, double(ms)), -1e6, 1e6);
        if (int(x) == column && !points.empty()) {
            points.emplace_back(x, yOf(celsius)); // within a column: a stroke from value to value
            continue;
        }
        column = int(x);
        points.emplace_back(x, yOf(celsius));
    }
    if (points.size() == 1)
        painter.drawPoint(points.front());
    else if (points.size() > 1)
        painter.drawPolyline(points.data(), int(points.size()));
}

void RunPlot::DrawTimeAxis(QPainter &painter, const QRect &plot) const
{
    LocalTimeLine timeLine;
    const qint64 from = qint64(m_fromMs);
    const qint64 to = qint64(m_fromMs + m_spanMs);
    const qint64 tick = TimeStep(to - from);
    const qint64 offset = qint64(timeLine.OffsetAt(from)) * 1000;
    const bool days = tick >= 86400000 || to - from >= 2 * 86400000;
    const QString format = days ? QStringLiteral("dd.MM HH:mm")
        : tick < 1000          ? QStringLiteral("HH:mm:ss.zzz")
        : tick < 60000         ? QStringLiteral("HH:mm:ss")
                               : QStringLiteral("HH:mm");
    const double first = std::ceil(double(from + offset) / double(tick)) * double(tick);
    for (qint64 local = qint64(first); local - offset <= to; local += tick) {
        const qint64 utc = local - qint64(timeLine.OffsetAt(local - offset)) * 1000;
        const double x = std::round(XOf(plot, double(utc))) + 0.5;
        if (x < plot.left() || x > plot.right() + 1)
            continue;
        painter.setPen(QColor(200, 200, 200));
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        painter.setPen(Qt::black);
        painter.drawText(QRectF(x - 60, plot.bottom() + 4, 120, 18), Qt::AlignHCenter | Qt::AlignTop,
                         QDateTime::fromMSecsSinceEpoch(utc).toString(format));
    }
    painter.drawText(QRect(plot.left(), plot.bottom() + 22, plot.width(), 18), Qt::AlignRight | Qt::AlignTop,
                     QStringLiteral("время (с %1)").arg(QDateTime::fromMSecsSinceEpoch(from).toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"))));
}

void RunPlot::DrawLimits(QPainter &painter, const QRect &plot) const
{
    const auto yOf = [&](double celsius) { return std::round(YOf(plot, celsius)) + 0.5; };
    // The limits as the run's events say they stood at each moment; today's
    // for a run recorded without them.
    const std::vector<LimitsSpan> history = m_pEvents ? LimitHistory(*m_pEvents) : std::vector<LimitsSpan>();
    painter.setPen(QPen(RunPicture::kLimitColour, 1, Qt::DashLine));
    bool any = false;
    if (history.empty()) {
        for (const double limit : m_limits) {
            painter.drawLine(QPointF(plot.left(), yOf(limit)), QPointF(plot.right(), yOf(limit)));
            any = true;
        }
    }
    for (size_t i = 0; i < history.size(); ++i) {
        const double from = std::max<double>(plot.left(), XOf(plot, double(history[i].fromMs)));
        const double to = i + 1 < history.size() ? std::min<double>(plot.right(), XOf(plot, double(history[i + 1].fromMs)))
                                                 : plot.right();
        if (to <= from)
            continue;
        for (const std::optional<double> &limit : {history[i].high, history[i].low}) {
            if (limit) {
                painter.drawLine(QPointF(from, yOf(*limit)), QPointF(to, yOf(*limit)));
                any = true;
            }
        }
    }
    if (!any)
        return;
    // What the dashed lines are, bottom left.
    const QString words = history.empty() ? QStringLiteral("пределы сигнализации, заданные сейчас (в записи их нет)")
                                          : QStringLiteral("пределы сигнализации, действовавшие в сеансе");
    const QFontMetrics metrics = painter.fontMetrics();
    const QRect box(plot.left() + 8, plot.bottom() - metrics.height() - 12, metrics.horizontalAdvance(words) + 40,
                    metrics.height() + 6);
    painter.fillRect(box, Qt::white);
    const int y = box.center().y();
    painter.setPen(QPen(RunPicture::kLimitColour, 1, Qt::DashLine));
    painter.drawLine(box.left() + 4, y, box.left() + 28, y);
    painter.setPen(Qt::black);
    painter.drawText(QPoint(box.left() + 34, y + metrics.ascent() / 2 - 1), words);
}

void RunPlot::DrawLegend(QPainter &painter, const QRect &plot) const
{
    // Which curve is which: a short line in each colour and the run's name, top left.
    const QFontMetrics metrics = painter.fontMetrics();
    const int line = metrics.height() + 2;
    const QString names[2] = {metrics.elidedText(m_strOwnName, Qt::ElideMiddle, plot.width() / 2),
                              metrics.elidedText(m_strComparedName, Qt::ElideMiddle, plot.width() / 2)};
    const int width = std::max(metrics.horizontalAdvance(names[0]), metrics.horizontalAdvance(names[1])) + 40;
    const QRect box(plot.left() + 8, plot.top() + 8, width, 2 * line + 8);
    painter.fillRect(box, Qt::white);
    painter.setPen(Qt::gray);
    painter.drawRect(box);
    const QColor colours[2] = {kCurveColour, kComparedColour};
    for (int i = 0; i < 2; ++i) {
        const int y = box.top() + 4 + i * line + line / 2;
        painter.setPen(QPen(colours[i], 3));
        painter.drawLine(box.left() + 6, y, box.left() + 28, y);
        painter.setPen(colours[i]);
        painter.drawText(QPoint(box.left() + 34, y + metrics.ascent() / 2 - 1), names[i]);
    }
}

void RunPlot::DrawEvents(QPainter &painter, const QRect &plot) const
{
    if (!m_pEvents)
        return;
    // Labels above the plot in up to two rows, none over another, none past the plot's ends.
    const QFontMetrics metrics = painter.fontMetrics();
    struct Tick
    {
        double x;
        EventLook look;
        QString label;
    };
    std::vector<Tick> ticks;
    std::vector<LabelRequest> requests;
    for (const FolderEvent &event : *m_pEvents) {
        const std::optional<EventLook> look = LookOf(event);
        const double x = std::round(XOf(plot, double(event.utcMs))) + 0.5;
        if (!look || x < plot.left() || x > plot.right() + 1)
            continue;
        painter.setPen(QPen(look->colour, 1, look->style));
        painter.drawLine(QPointF(x, plot.top() - 6), QPointF(x, plot.bottom()));
        const QString label = metrics.elidedText(look->label, Qt::ElideRight, std::min(220, plot.width()));
        ticks.push_back({x, *look, label});
        requests.push_back({x, double(metrics.horizontalAdvance(label))});
    }
    const std::vector<LabelPlace> places = LayOutLabels(requests, plot.left(), plot.right(), 2);
    for (size_t i = 0; i < ticks.size(); ++i) {
        if (places[i].row < 0)
            continue; // too crowded: the tick stays, its label is left out
        const double y = plot.top() - 8 - places[i].row * (metrics.height() + 1) - metrics.descent();
        painter.setPen(ticks[i].look.colour);
        painter.drawText(QPointF(places[i].left, y), ticks[i].label);
    }
}

void RunPlot::FitScale() const
{
    const qint64 from = qint64(std::floor(m_fromMs));
    const qint64 to = qint64(std::ceil(m_fromMs + m_spanMs));
    TemperatureRange range = TemperatureRange::Empty();
    if (m_pSeries)
        range.Take(m_pSeries->Range(m_pSeries->LowerBound(from), m_pSeries->LowerBound(to + 1)));
    if (m_pCompared) {
        range.Take(m_pCompared->Range(m_pCompared->LowerBound(from - m_nComparedShiftMs),
                                      m_pCompared->LowerBound(to + 1 - m_nComparedShiftMs)));
    }
    if (m_pTail) {
        for (const auto &[ms, celsius] : *m_pTail)
            if (ms >= from && ms <= to)
                range.Take(celsius);
    }
    double lo = range.IsEmpty() ? 0 : range.lowest;
    double hi = range.IsEmpty() ? 100 : range.highest;
    if (hi - lo < 1) {
        lo -= 0.5;
        hi += 0.5;
    }
    // A little room, so that a curve at its highest does not run along the frame.
    const double room = (hi - lo) / 50;
    lo -= room;
    hi += room;
    m_step = NiceStep(hi - lo, 8);
    m_lowest = std::floor(lo / m_step) * m_step;
    m_highest = std::ceil(hi / m_step) * m_step;
    if (m_highest <= m_lowest)
        m_highest = m_lowest + m_step;
}

std::pair<qint64, qint64> RunPlot::Bounds() const
{
    qint64 first = 0, last = 0;
    bool any = false;
    const auto take = [&](qint64 from, qint64 to) {
        first = any ? std::min(first, from) : from;
        last = any ? std::max(last, to) : to;
        any = true;
    };
    if (m_pSeries && !m_pSeries->IsEmpty())
        take(m_pSeries->FirstMs(), m_pSeries->LastMs());
    if (m_pTail && !m_pTail->empty())
        take(m_pTail->front().first, m_pTail->back().first);
    if (m_pCompared && !m_pCompared->IsEmpty())
        take(m_pCompared->FirstMs() + m_nComparedShiftMs, m_pCompared->LastMs() + m_nComparedShiftMs);
    // The run's start and stop belong to it: its first reading comes after the start.
    if (m_pEvents) {
        for (const FolderEvent &event : *m_pEvents)
            if (event.event == QLatin1String("run-start") || event.event == QLatin1String("run-stop"))
                take(event.utcMs, event.utcMs);
    }
    return {first, last};
}
