#pragma once

#include "linestate.h"
#include "runevent.h"
#include "tempsample.h"

#include <QObject>
#include <QTimer>

#include <vector>

class CComReader;

// Readings that reached the store, numbered as the store counts what was
// appended to it since it was last cleared.
struct FeedReadings
{
    qint64 first = 0;                 // the number of the first of them
    std::vector<TempSample> readings; // oldest first

    qint64 End() const { return first + static_cast<qint64>(readings.size()); }
};

// One place on the user-interface thread from which everything that follows a
// run (its journal, and what watches, keeps and shows it) takes the run's new
// readings, the line's state and the run's events. Each tick takes the store's lock once, copies
// what reached the store since the last tick and hands it on; nothing that
// follows a run reads the store, nor any thread but this one.
class RunFeed : public QObject
{
    Q_OBJECT

public:
    static constexpr int kTickMs = 100;
    // Once the line has brought nothing, and its state has stayed, for as long
    // as makes it silent, the feed ticks this seldom: what follows the run then
    // only needs the time to pass (a silence counted in seconds). Longer than
    // the main window's own tick, which ticks the feed every second, so that the
    // two never wake the program apart.
    static constexpr int kIdleTickMs = 1200;

    explicit RunFeed(CComReader &reader, QObject *parent = nullptr);

    // The store was cleared for a new run: its numbering starts again.
    void Begin();
    // Hands on what reached the store since the last tick. Its timer calls it;
    // a caller calls it too before anything may drop readings from the store,
    // and after the reader's last hand-over. Each tick sets when the next one
    // comes: soon while something changes, seldom while nothing does.
    void Tick();
    // Something that happened in the run: handed on to all at once.
    void Post(const RunEvent &event);

signals:
    // After each tick that found new readings. Readings trimmed from the store
    // before a tick took them show as a gap in the numbering.
    void Readings(const FeedReadings &readings);
    // After each tick: the line as the reader last saw it.
    void Line(const LineState &line);
    // Each event posted, in order.
    void Event(const RunEvent &event);

private:
    CComReader &m_reader;
    QTimer m_timer;
    qint64 m_nTaken = 0; // the store's count, as far as the feed has handed it on
    LineState m_lastLine; // as the last tick saw it
    qint64 m_nLastChangeMs = 0; // LineClockMs() of the last tick that had news
    FeedReadings m_batch; // kept between ticks: no allocation once it has grown
};
