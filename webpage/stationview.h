#pragma once

#include "linestate.h"
#include "publishpayloads.h"
#include "runfeed.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <vector>

// What the station's web page shows, kept on the user-interface thread from
// the run's feed: the newest reading, the line, the alarm and the run's state
// line, the record folder and comment, the chart's scale, limits and marks,
// and the last ten minutes as the lowest and highest reading of each tenth of
// a second (6000 slots, as the chart window keeps them).
class StationView
{
public:
    static constexpr int kSlots = 6000;

    void TakeReadings(const FeedReadings &readings);
    void TakeLine(const LineState &line);
    void TakeEvent(const RunEvent &event);
    void SetAlarm(const QString &text) { m_last.alarm = text; }
    void SetRunState(const QString &text) { m_strRunState = text; }
    void SetRecordFolder(const QString &folder, const QString &comment);
    // The chart's scale and notes, as the chart window has them.
    void SetChart(double lowest, double highest, std::vector<double> limits);

    // The publisher's "last" message.
    QByteArray StateJson() const;
    // The whole page's state; with the ten minutes' slots newer than
    // `afterTenth` (all of them for -1). `newestTenth` is the newest slot's.
    QByteArray PageJson(qint64 afterTenth, qint64 nowMs) const;
    qint64 NewestTenth() const { return m_nNewestTenth; }

private:
    struct Slot
    {
        qint64 tenth = -1; // ms since 1970 / 100
        double lowest = 0;
        double highest = 0;
    };

    publishpayloads::Last m_last;
    bool m_bHaveReading = false;
    QString m_strLineMark;
    QString m_strRunState;
    QString m_strFolder;
    QString m_strComment;
    double m_lowest = 500;
    double m_highest = 4500;
    std::vector<double> m_limits;
    std::vector<std::pair<qint64, QString>> m_marks;
    std::array<Slot, kSlots> m_slots {};
    qint64 m_nNewestTenth = -1;
};
