#pragma once

#include "tempsample.h"

#include <QtGlobal>

#include <array>
#include <deque>
#include <memory>

// The readings of a run in arrival order, indexed by age (0 is the newest).
// Readings live in chunks of 256 and never move, so a pointer to one (the save
// mark) stays valid until that reading is removed or the store is cleared.
class SampleList
{
public:
    static constexpr int kChunkSize = 256;
    // The trim keeps at most this many readings, spanning at most this many
    // seconds, unless the save mark holds older ones.
    static constexpr int kMaxReadings = 6000;
    static constexpr int kMaxAgeSeconds = 600;

    SampleList();

    int GetCount() const { return (static_cast<int>(m_chunks.size()) - 1) * kChunkSize + m_nFill - m_nOffset; }

    // i = 0 is the newest reading; the caller keeps 0 <= i < GetCount().
    const TempSample *GetAt(int i) const;

    void Append(const TempSample &sample);
    // How many readings were appended since the store was built or last
    // cleared, whatever was removed since: the journal counts its place by it.
    qint64 TotalAppended() const { return m_nTotalAppended; }
    // The caller makes sure the store is not empty.
    void RemoveOldest();
    void Clear();

    // Removes the oldest readings while there are more than kMaxReadings or
    // the oldest is more than kMaxAgeSeconds older than now, but never the save
    // mark nor anything newer. A null mark means that nothing of the run has
    // been saved yet, so nothing is removed.
    void Trim(const SYSTEMTIME &now, const TempSample *saveMark);

    // The chunk layout, for tests and diagnostics.
    int ChunkCount() const { return static_cast<int>(m_chunks.size()); }
    int Fill() const { return m_nFill; }
    int Offset() const { return m_nOffset; }

private:
    using Chunk = std::array<TempSample, kChunkSize>;

    std::deque<std::unique_ptr<Chunk>> m_chunks; // newest first; never empty
    int m_nFill = 0;   // readings in chunk 0
    int m_nOffset = 0; // readings already removed from the oldest chunk
    qint64 m_nTotalAppended = 0;
};
