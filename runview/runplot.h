#pragma once

#include "eventsfile.h"
#include "runseries.h"

#include <QColor>
#include <QRect>

#include <optional>
#include <vector>

class QPainter;

// Draws a whole run, or a span of it, against clock time on any painter (the
// run window, a picture, the report's page): the curve from the series'
// min/max pyramid (a stroke per pixel column from its lowest to its highest
// reading, so a column costs a few lookups at any zoom; gaps left open), the
// folder's events as labelled ticks (marks blue, alarms red and dashed, starts
// and stops green), the alarm limits dashed orange as they stood at each
// moment (today's for a run recorded without them, as its legend says), a second run over it in
// another colour, and the temperature scale fitted to what is in view.
class RunPlot
{
public:
    static const QColor kCurveColour;
    static const QColor kComparedColour;

    // What to draw; the owner keeps them alive while the plot has them.
    void SetRun(const RunSeries *series, const QList<FolderEvent> *events)
    {
        m_pSeries = series;
        m_pEvents = events;
    }
    // A second run, its times moved by `shiftMs` onto this one's; null: none.
    void SetCompared(const RunSeries *series, qint64 shiftMs)
    {
        m_pCompared = series;
        m_nComparedShiftMs = shiftMs;
    }
    qint64 ComparedShiftMs() const { return m_nComparedShiftMs; }
    // The two runs' names in a legend, while one is compared with the other.
    void SetLegend(QString own, QString compared)
    {
        m_strOwnName = std::move(own);
        m_strComparedName = std::move(compared);
    }
    // Readings not in a data file yet (a run going on), drawn after the series.
    void SetTail(const std::vector<std::pair<qint64, float>> *tail) { m_pTail = tail; }
    // Today's limits, drawn only over a run whose events do not say its own.
    void SetLimits(std::vector<double> limits) { m_limits = std::move(limits); }
    void SetSelection(std::optional<std::pair<qint64, qint64>> selection) { m_selection = selection; }

    // The first and last instant of everything drawn.
    std::pair<qint64, qint64> Bounds() const;
    void ShowSpan(double fromMs, double toMs);
    double FromMs() const { return m_fromMs; }
    double SpanMs() const { return m_spanMs; }

    // The plot's rectangle inside an area painted.
    static QRect PlotOf(const QRect &area);
    // Paints into `area`; the scale found is kept for YOf.
    void Render(QPainter &painter, const QRect &area) const;
    double XOf(const QRect &plot, double utcMs) const { return plot.left() + (utcMs - m_fromMs) * plot.width() / m_spanMs; }
    double TimeAt(const QRect &plot, double x) const { return m_fromMs + (x - plot.left()) * m_spanMs / std::max(1, plot.width()); }
    double YOf(const QRect &plot, double celsius) const
    {
        return plot.bottom() - (celsius - m_lowest) * plot.height() / (m_highest - m_lowest);
    }
    std::pair<double, double> Scale() const { return {m_lowest, m_highest}; }

    static constexpr double kSmallestSpanMs = 50;

private:
    void FitScale() const;
    void DrawSeries(QPainter &painter, const QRect &plot, const RunSeries &series, qint64 shiftMs, const QColor &colour) const;
    void DrawTail(QPainter &painter, const QRect &plot) const;
    void DrawTimeAxis(QPainter &painter, const QRect &plot) const;
    void DrawEvents(QPainter &painter, const QRect &plot) const;
    void DrawLegend(QPainter &painter, const QRect &plot) const;
    void DrawLimits(QPainter &painter, const QRect &plot) const;

    const RunSeries *m_pSeries = nullptr;
    const QList<FolderEvent> *m_pEvents = nullptr;
    const RunSeries *m_pCompared = nullptr;
    qint64 m_nComparedShiftMs = 0;
    QString m_strOwnName, m_strComparedName;
    const std::vector<std::pair<qint64, float>> *m_pTail = nullptr;
    std::vector<double> m_limits;
    std::optional<std::pair<qint64, qint64>> m_selection;

    double m_fromMs = 0;
    double m_spanMs = 1000;
    mutable double m_lowest = 0;
    mutable double m_highest = 1;
    mutable double m_step = 1;
};
