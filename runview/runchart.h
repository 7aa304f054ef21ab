#pragma once

#include "runplot.h"

#include <QWidget>

#include <optional>

class QRubberBand;

// The run window's chart: a RunPlot the operator moves about. The wheel
// zooms around the pointer, a drag pans, a drag with the right button (or with
// Ctrl) zooms to the span it covers, a drag with Shift selects a span, Home or
// a double click shows everything, Esc drops the selection.
class RunChart : public QWidget
{
    Q_OBJECT

public:
    explicit RunChart(QWidget *parent = nullptr);

    RunPlot &Plot() { return m_plot; }
    const RunPlot &Plot() const { return m_plot; }

    // The whole run, from its start (or first reading) to its newest reading
    // or stop; it stays the whole run as the run grows, until the view is moved.
    void ShowAll();
    bool ShowsAll() const { return m_bShowingAll; }
    void ShowSpan(double fromMs, double toMs);
    std::optional<std::pair<qint64, qint64>> Selection() const { return m_selection; }
    void SetSelection(std::optional<std::pair<qint64, qint64>> selection);
    QRect PlotRect() const { return RunPlot::PlotOf(rect()); }
    double TimeAtX(double x) const { return m_plot.TimeAt(PlotRect(), x); }
    double XOfTime(double utcMs) const { return m_plot.XOf(PlotRect(), utcMs); }
    // The reading nearest the pointer, marked on the curve.
    void SetCursorReading(std::optional<std::pair<qint64, double>> reading);

signals:
    // The pointer is over the plot at this time; nullopt when it left.
    void CursorMoved(std::optional<qint64> utcMs);
    void SelectionChanged();
    void ViewChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    enum class Drag { None, Pan, Zoom, Select };
    void Show(double fromMs, double toMs);

    RunPlot m_plot;
    Drag m_drag = Drag::None;
    QPoint m_dragStart;
    double m_dragFromMs = 0;
    QRubberBand *m_pBand = nullptr;
    std::optional<std::pair<qint64, qint64>> m_selection;
    std::optional<int> m_cursorX;
    std::optional<std::pair<qint64, double>> m_cursorReading;
    bool m_bShowingAll = false;
};
