#pragma once

#include "settingsevents.h"

#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>

#include <vector>

class LocalTimeLine;

// The whole run as a picture in the program's chart style: temperature
// against clock time on a grid with labelled axes, the curve drawn as a
// stroke per pixel column from its lowest to its highest temperature, and the
// gaps (a line that fell silent, a run stopped and started again) left open.
// Two passes over the readings: the first finds the ranges, the second draws.
class RunPicture
{
public:
    // The alarm limits' dashed lines, here and in the run window.
    static const QColor kLimitColour;

    explicit RunPicture(QSize size);

    void Measure(qint64 utcMs, double celsius);
    void StartDrawing();
    void Draw(qint64 utcMs, double celsius);
    // A moment of the run to mark on the picture (an operator's mark, an
    // alarm raised): a line at its time, its label at the top.
    void Note(qint64 utcMs, const QString &label, bool alarm);
    // The alarm limits as the run's events say they stood (see LimitHistory),
    // drawn dashed from each change to the next.
    void SetLimits(std::vector<LimitsSpan> history) { m_limits = std::move(history); }
    // A line over the plot: the folder and its comment.
    void SetTitle(const QString &title) { m_strTitle = title; }
    QImage Finish(LocalTimeLine &timeLine) const;

    bool IsEmpty() const { return m_nCount == 0; }

private:
    struct Column
    {
        bool used = false;
        bool gapBefore = false; // a gap ends in this column
        double lowest = 0;
        double highest = 0;
    };

    QSize m_size;
    QRect m_plot;
    qint64 m_nCount = 0;
    qint64 m_nFirstMs = 0, m_nLastMs = 0;
    double m_lowest = 0, m_highest = 0;
    std::vector<qint64> m_intervals; // a sample of the time between readings
    qint64 m_nPreviousMs = 0;
    qint64 m_nGapMs = 0;
    std::vector<Column> m_columns;
    struct Noted
    {
        qint64 utcMs;
        QString label;
        bool alarm;
    };
    std::vector<Noted> m_notes;
    std::vector<LimitsSpan> m_limits;
    QString m_strTitle;
};
