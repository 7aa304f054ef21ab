#include "runchart.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRubberBand>
#include <QWheelEvent>

#include <cmath>

namespace {
constexpr double kWheelZoom = 1.25; // per notch
}

RunChart::RunChart(QWidget *parent)
    : QWidget(parent)
{
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(400, 260);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void RunChart::ShowAll()
{
    const auto [first, last] = m_plot.Bounds();
    // A little room at the ends, so that the first and last readings show.
    const double span = std::max<double>(RunPlot::kSmallestSpanMs, double(last - first));
    Show(double(first) - span / 100, double(last) + span / 100);
    m_bShowingAll = true; // and so it stays as the run grows
}

void RunChart::ShowSpan(double fromMs, double toMs)
{
    Show(fromMs, toMs);
    m_bShowingAll = false;
}

void RunChart::Show(double fromMs, double toMs)
{
    m_plot.ShowSpan(fromMs, toMs);
    update();
    emit ViewChanged();
}

void RunChart::SetSelection(std::optional<std::pair<qint64, qint64>> selection)
{
    m_selection = selection;
    m_plot.SetSelection(selection);
    update();
    emit SelectionChanged();
}

void RunChart::SetCursorReading(std::optional<std::pair<qint64, double>> reading)
{
    m_cursorReading = reading;
    update();
}

void RunChart::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    m_plot.Render(painter, rect());
    const QRect plot = PlotRect();
    if (m_cursorX && plot.contains(*m_cursorX, plot.center().y())) {
        painter.setPen(QPen(QColor(90, 90, 90), 1, Qt::DotLine));
        painter.drawLine(*m_cursorX, plot.top(), *m_cursorX, plot.bottom());
        if (m_cursorReading) {
            painter.setPen(QPen(Qt::black, 1));
            painter.setBrush(Qt::white);
            painter.drawEllipse(QPointF(m_plot.XOf(plot, double(m_cursorReading->first)), m_plot.YOf(plot, m_cursorReading->second)),
                                3.5, 3.5);
        }
    }
}

void RunChart::wheelEvent(QWheelEvent *event)
{
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0)
        return;
    // The time under the pointer stays under it.
    const QRect plot = PlotRect();
    const double x = event->position().x();
    const double at = TimeAtX(x);
    const double span = std::max(RunPlot::kSmallestSpanMs, m_plot.SpanMs() / std::pow(kWheelZoom, notches));
    const double from = at - (x - plot.left()) * span / std::max(1, plot.width());
    ShowSpan(from, from + span);
    event->accept();
}

void RunChart::mousePressEvent(QMouseEvent *event)
{
    m_dragStart = event->position().toPoint();
    m_dragFromMs = m_plot.FromMs();
    if (event->button() == Qt::RightButton || (event->button() == Qt::LeftButton && event->modifiers() & Qt::ControlModifier)) {
        m_drag = Drag::Zoom;
        if (!m_pBand)
            m_pBand = new QRubberBand(QRubberBand::Rectangle, this);
        m_pBand->setGeometry(QRect(m_dragStart, QSize()));
        m_pBand->show();
    } else if (event->button() == Qt::LeftButton && event->modifiers() & Qt::ShiftModifier) {
        m_drag = Drag::Select;
    } else if (event->button() == Qt::LeftButton) {
        m_drag = Drag::Pan;
        setCursor(Qt::ClosedHandCursor);
    }
}

void RunChart::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint at = event->position().toPoint();
    const QRect plot = PlotRect();
    switch (m_drag) {
    case Drag::Pan: {
        const double shift = (at.x() - m_dragStart.x()) * m_plot.SpanMs() / std::max(1, plot.width());
        ShowSpan(m_dragFromMs - shift, m_dragFromMs - shift + m_plot.SpanMs());
        break;
    }
    case Drag::Zoom:
        m_pBand->setGeometry(QRect(QPoint(m_dragStart.x(), plot.top()), QPoint(at.x(), plot.bottom())).normalized());
        break;
    case Drag::Select: {
        const qint64 a = qint64(TimeAtX(m_dragStart.x()));
        const qint64 b = qint64(TimeAtX(at.x()));
        SetSelection(std::pair(std::min(a, b), std::max(a, b)));
        break;
    }
    case Drag::None:
        break;
    }
    m_cursorX = plot.contains(at) ? std::optional<int>(at.x()) : std::nullopt;
    emit CursorMoved(m_cursorX ? std::optional<qint64>(qint64(TimeAtX(*m_cursorX))) : std::nullopt);
    update();
}

void RunChart::mouseReleaseEvent(QMouseEvent *event)
{
    const int x = event->position().toPoint().x();
    if (m_drag == Drag::Zoom) {
        m_pBand->hide();
        if (std::abs(x - m_dragStart.x()) >= 3)
            ShowSpan(TimeAtX(m_dragStart.x()), TimeAtX(x));
    } else if (m_drag == Drag::Select && std::abs(x - m_dragStart.x()) < 3) {
        SetSelection(std::nullopt); // a click with Shift: no span
    }
    m_drag = Drag::None;
    unsetCursor();
    update();
}

void RunChart::mouseDoubleClickEvent(QMouseEvent *)
{
    ShowAll();
}

void RunChart::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Home) {
        ShowAll();
        return;
    }
    if (event->key() == Qt::Key_Escape && m_selection) {
        SetSelection(std::nullopt);
        return;
    }
    QWidget::keyPressEvent(event);
}

void RunChart::leaveEvent(QEvent *)
{
    m_cursorX.reset();
    emit CursorMoved(std::nullopt);
    update();
}
