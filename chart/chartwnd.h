#pragma once

#include "localtime.h"

#include <QImage>
#include <QPoint>
#include <QWidget>

#include <array>
#include <functional>
#include <vector>

class ChartHistory;
class QPainter;
class ChartOwner;

// "Ход температуры": the readings of the last ten minutes against their age,
// newest at the left, on a 10 × 10 grid spanning the owner's chart range, with
// the newest temperature and an optional time marker (left click sets it, right
// click removes it). Created hidden with the main dialog; closing only hides it.
class CChartWnd : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kMaxPoints = 6000;

    explicit CChartWnd(ChartOwner &owner);

    // The time marker as an age in whole seconds; -1: none.
    qint64 MarkerSeconds() const { return m_nMarkerSec; }

    // Paints the chart into `image` (its size is the client size), as a paint
    // of the window does, at the local time `now`.
    void Render(QImage &image, const SYSTEMTIME &now);

protected:
    void paintEvent(QPaintEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    struct Column
    {
        bool used = false;
        bool gapBefore = false; // a gap lies between it and the newer column drawn before it
        double lowest = 0;
        double highest = 0;
    };
    // Fills m_envelope from the history: a stroke per pixel column from its
    // lowest to its highest temperature, with a new stretch after each gap
    // longer than gapSeconds (in m_stretchStarts). None when the history holds
    // nothing older than the kept readings.
    int EnvelopePoints(const ChartHistory &history, qint64 nowTenth, double storeSpan, double gapSeconds, int W, int x0,
                       int x1, const std::function<int(double)> &yOf);
    // The alarms' limits, the alarm shown and the operator's marks.
    void DrawNotes(QPainter &painter, const SYSTEMTIME &now, int W, int x0, int x1, int y0, int y1,
                   const std::function<int(double)> &yOf);
    // The shortest pause that counts as a gap among the first `count` ages.
    double GapSeconds(int count);
    static QString MarkerRange(const ChartHistory &history, qint64 nowTenth, qint64 markerSeconds);

    ChartOwner &m_owner;
    qint64 m_nMarkerSec = -1;
    std::array<QPoint, kMaxPoints> m_points; // gathered with no allocation per paint
    std::array<double, kMaxPoints> m_ages;
    std::array<double, kMaxPoints> m_intervals;
    std::vector<int> m_stretchStarts; // where each stretch without a gap begins in the points drawn
    QImage m_surface; // the off-screen surface, kept while the size stays
    std::vector<Column> m_columns;  // kept between paints: no allocation while the size stays
    std::vector<QPoint> m_envelope;
};
