#include "pendingreadings.h"

#include "charthistory.h"
#include "samplelist.h"

PendingReadings::PendingReadings()
{
    m_chunks.push_back(std::make_unique_for_overwrite<Chunk>());
}

void PendingReadings::StartChunk()
{
    m_chunks.push_back(m_spare ? std::move(m_spare) : std::make_unique_for_overwrite<Chunk>());
    m_nFill = 0;
}

void PendingReadings::MoveInto(SampleList &store, ChartHistory *history, qsizetype limit)
{
    while (limit > 0 && !IsEmpty()) {
        const Chunk &oldest = *m_chunks.front();
        const int end = m_chunks.size() == 1 ? m_nFill : kChunkSize;
        const int last = static_cast<int>(std::min<qsizetype>(end, m_nHead + limit));
        for (int i = m_nHead; i < last; ++i)
            store.Append(oldest[static_cast<size_t>(i)]);
        if (history) {
            for (int i = m_nHead; i < last; ++i)
                history->Add(oldest[static_cast<size_t>(i)]);
        }
        limit -= last - m_nHead;
        m_nHead = last;
        if (m_nHead < kChunkSize)
            break;
        // A drained chunk: the newest one never is, as it is started afresh when full.
        m_spare = std::move(m_chunks.front());
        m_chunks.pop_front();
        m_nHead = 0;
    }
    if (IsEmpty() && m_chunks.size() == 1) {
        // Everything moved: the one chunk starts from its beginning again.
        m_nHead = 0;
        m_nFill = 0;
    }
}
