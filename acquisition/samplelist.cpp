#include "samplelist.h"

#include <QtGlobal>

SampleList::SampleList()
{
    m_chunks.push_front(std::make_unique_for_overwrite<Chunk>());
}

const TempSample *SampleList::GetAt(int i) const
{
    Q_ASSERT(i >= 0 && i < GetCount());
    const int a = m_nFill - i;
    if (a > 0)
        return &(*m_chunks[0])[a - 1];
    const int back = -a;
    return &(*m_chunks[1 + back / kChunkSize])[kChunkSize - 1 - back % kChunkSize];
}

void SampleList::Append(const TempSample &sample)
{
    (*m_chunks.front())[m_nFill] = sample;
    ++m_nTotalAppended;
    if (m_nFill + 1 < kChunkSize) {
        ++m_nFill;
        return;
    }
    // The next chunk is started as soon as this one is full.
    m_chunks.push_front(std::make_unique_for_overwrite<Chunk>());
    m_nFill = 0;
}

void SampleList::RemoveOldest()
{
    Q_ASSERT(GetCount() > 0);
    if (++m_nOffset == kChunkSize) {
        m_chunks.pop_back();
        m_nOffset = 0;
    }
}

void SampleList::Clear()
{
    m_chunks.clear();
    m_chunks.shrink_to_fit();
    m_chunks.push_front(std::make_unique_for_overwrite<Chunk>());
    m_nFill = 0;
    m_nOffset = 0;
    m_nTotalAppended = 0;
}

void SampleList::Trim(const SYSTEMTIME &now, const TempSample *saveMark)
{
    if (saveMark == nullptr)
        return;
    const std::time_t nowSeconds = LocalSeconds(now);
    LocalSecondsCache seconds;
    for (int count = GetCount(); count > 0; --count) {
        const TempSample *oldest = GetAt(count - 1);
        // A negative age (clock set back) counts as young.
        if (count <= kMaxReadings && nowSeconds - seconds.Of(oldest->time) <= kMaxAgeSeconds)
            return;
        if (oldest == saveMark)
            return;
        RemoveOldest();
    }
}
