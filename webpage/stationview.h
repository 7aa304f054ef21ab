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
    // Whether a run reads the line: after it the page says it stopped.
    void SetRunning(bool running) { m_bRunning = running; }
    void SetRecordFolder(const QString &folder, const QString &comment);
    // The chart's scale and notes, as the chart window has them.
    void SetChart(double lowest, double highest, std::vector<double> limits);

    // The publisher's "last" message.
    QByteArray StateJson() const;
    // The whole page's state, with the ten minutes' slots that changed after
    // `afterChange` (all of them for -1); Change() is what the state holds
    // now, for the viewer's next frame. When the clock was stepped (the
    // readings' times ran back, or far ahead) the ten minutes start again
    // and the frame says "reset" to a viewer that had slots before.
    QByteArray PageJson(qint64 afterChange, qint64 nowMs) const;
    qint64 Change() const { return m_nChange; }
    qint64 NewestTenth() const { return m_nNewestTenth; }

private:
    struct Slot
    {
        qint64 tenth = -1; // ms since 1970 / 100
        double lowest = 0;
        double highest = 0;
        qint64 change = -1;
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
    qint64 m_nChange = 0;
    qint64 m_nResetChange = 0; // the slots before it are gone
    bool m_bRunning = false;
};
