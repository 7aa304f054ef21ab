#include "runfeed.h"

#include "comreader.h"

#include <algorithm>

namespace {

// A flood's batch is given back after its tick: a run's usual batches are far smaller.
constexpr size_t kKeptCapacity = 16384;

} // namespace

RunFeed::RunFeed(CComReader &reader, QObject *parent)
    : QObject(parent)
    , m_reader(reader)
{
    connect(&m_timer, &QTimer::timeout, this, &RunFeed::Tick);
    m_timer.start(kTickMs);
}

void RunFeed::Begin()
{
    m_nTaken = 0;
    // A run's first readings are handed on at the usual pace, not after an idle wait.
    m_nLastChangeMs = LineClockMs();
    m_timer.start(kTickMs);
}

void RunFeed::Tick()
{
    m_batch.readings.clear();
    m_reader.Lock();
    const SampleList &store = m_reader.Samples();
    const qint64 total = store.TotalAppended();
    if (total < m_nTaken)
        m_nTaken = 0; // cleared behind the feed's back: a new run's numbering
    const int fresh = static_cast<int>(std::min<qint64>(total - m_nTaken, store.GetCount()));
    for (int i = fresh - 1; i >= 0; --i)
        m_batch.readings.push_back(*store.GetAt(i));
    const LineState line = m_reader.Line();
    m_reader.Unlock();
    m_batch.first = total - fresh;
    m_nTaken = total;
    const qint64 nowMs = LineClockMs();
    if (!m_batch.readings.empty() || !(line == m_lastLine))
        m_nLastChangeMs = nowMs;
    m_lastLine = line;
    m_timer.start(nowMs - m_nLastChangeMs < LineStatus::kSilentAfterMs ? kTickMs : kIdleTickMs);
    if (!m_batch.readings.empty())
        emit Readings(m_batch);
    if (m_batch.readings.capacity() > kKeptCapacity)
        std::vector<TempSample>().swap(m_batch.readings);
    emit Line(line);
}

void RunFeed::Post(const RunEvent &event)
{
    emit Event(event);
}
