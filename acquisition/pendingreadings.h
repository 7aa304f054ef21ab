#pragma once

#include "tempsample.h"

#include <QtGlobal>

#include <array>
#include <deque>
#include <memory>

class ChartHistory;
class SampleList;

// The reader thread's readings that wait for the store's lock, oldest first.
// They live in chunks that never move, so growing costs at most one chunk's
// allocation however many wait (a flood while the user interface holds the
// lock for a long save), and the reader never stops reading to copy them.
class PendingReadings
{
public:
    static constexpr int kChunkSize = 4096;

    PendingReadings();

    bool IsEmpty() const { return Count() == 0; }
    qsizetype Count() const
    {
        return static_cast<qsizetype>(m_chunks.size() - 1) * kChunkSize + m_nFill - m_nHead;
    }

    void Push(const TempSample &reading)
    {
        (*m_chunks.back())[m_nFill] = reading;
        if (++m_nFill == kChunkSize)
            StartChunk();
    }

    // Appends up to `limit` of the oldest readings to the store, in order, and
    // lets them go. The caller holds the store's lock; a small limit keeps
    // that short.
    // The chart's history, when given, takes each reading too.
    void MoveInto(SampleList &store, ChartHistory *history, qsizetype limit);

private:
    using Chunk = std::array<TempSample, kChunkSize>;

    void StartChunk();

    std::deque<std::unique_ptr<Chunk>> m_chunks; // oldest first; never empty
    std::unique_ptr<Chunk> m_spare;              // a drained chunk, kept for the next one
    int m_nHead = 0;                             // readings already moved out of the oldest chunk
    int m_nFill = 0;                             // readings in the newest chunk
};
