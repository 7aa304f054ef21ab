#pragma once

#include <QString>
#include <QtGlobal>

#include <array>
#include <memory>
#include <vector>

// The lowest and highest temperature of a stretch of readings.
struct TemperatureRange
{
    float lowest = 0;
    float highest = 0;
    bool IsEmpty() const { return lowest > highest; }
    static TemperatureRange Empty() { return {1, 0}; }
    void Take(float celsius)
    {
        if (IsEmpty())
            lowest = highest = celsius;
        lowest = std::min(lowest, celsius);
        highest = std::max(highest, celsius);
    }
    void Take(const TemperatureRange &other)
    {
        if (!other.IsEmpty()) {
            Take(other.lowest);
            Take(other.highest);
        }
    }
};

// Where a reading is in the record folder.
struct ReadingPlace
{
    QString file;
    int line = 0;
};

// A whole run's readings in a compact form (8 bytes a reading: the time as
// milliseconds from its block's first, the temperature as a float), in time
// order, with a min/max pyramid over them so that the lowest and highest of
// any stretch costs a few lookups whatever its length, the list of gaps (a
// pause of ten typical intervals and at least three seconds, as the export
// picture draws them) and the data file and line each reading came from.
class RunSeries
{
public:
    static constexpr int kBlockBits = 12; // 4096 readings a block
    static constexpr int kFanOut = 8;     // each level of the pyramid joins eight of the one below

    RunSeries();
    ~RunSeries();
    RunSeries(RunSeries &&) noexcept;
    RunSeries &operator=(RunSeries &&) noexcept;

    // The readings of a data file come after this call, from line `line` on.
    void BeginFile(const QString &name);
    // A reading: its time no earlier than the last (a time that runs back is
    // kept at the last one's, in file order) and its line in the current file.
    void Append(qint64 utcMs, float celsius, int line);
    // After the first readings, and again whenever many more have come: the
    // gap length from the typical interval so far.
    void FindGaps();

    qint64 Size() const { return m_nSize; }
    bool IsEmpty() const { return m_nSize == 0; }
    qint64 TimeAt(qint64 index) const;
    float CelsiusAt(qint64 index) const
    {
        return m_blocks[size_t(index >> kBlockBits)]->celsius[size_t(index & kBlockMask)];
    }
    qint64 FirstMs() const { return m_nSize ? TimeAt(0) : 0; }
    qint64 LastMs() const { return m_nSize ? TimeAt(m_nSize - 1) : 0; }

    // The first reading at or after `utcMs` (Size() when none is).
    qint64 LowerBound(qint64 utcMs) const;
    // The reading nearest to `utcMs`; -1 for an empty series.
    qint64 Nearest(qint64 utcMs) const;
    // The lowest and highest of readings [first, last).
    TemperatureRange Range(qint64 first, qint64 last) const;

    // The readings that come after a gap, in order.
    const std::vector<qint64> &GapsBefore() const { return m_gapsBefore; }
    qint64 GapMs() const { return m_nGapMs; }
    // Whether a gap ends at one of readings [first, last).
    bool GapEndsIn(qint64 first, qint64 last) const;

    ReadingPlace PlaceOf(qint64 index) const;
    int Files() const { return int(m_files.size()); }

    // Bytes held, for the figures.
    qint64 MemoryBytes() const;

private:
    static constexpr qint64 kBlockSize = qint64(1) << kBlockBits;
    static constexpr qint64 kBlockMask = kBlockSize - 1;
    static constexpr quint32 kFarOffset = 0xFFFFFFFFu; // the time is in m_farTimes

    struct Block
    {
        qint64 baseMs = 0;
        std::array<quint32, kBlockSize> offsetMs;
        std::array<float, kBlockSize> celsius;
    };

    struct File
    {
        QString name;
        qint64 first = 0; // its first reading
        // Where the line numbers jump (a line skipped): from this reading on, this line.
        std::vector<std::pair<qint64, int>> lines;
    };

    void Lift(qint64 index);

    std::vector<std::unique_ptr<Block>> m_blocks;
    std::vector<std::pair<qint64, qint64>> m_farTimes; // index, time: a block spanning more than 49 days
    qint64 m_nSize = 0;
    qint64 m_nLastMs = 0;
    // levels[k][i]: readings [i·8^(k+1), (i+1)·8^(k+1)).
    std::vector<std::vector<TemperatureRange>> m_levels;
    std::vector<File> m_files;
    std::vector<qint64> m_gapsBefore;
    qint64 m_nGapMs = 3000;
    qint64 m_nGapsFoundTo = 1; // readings before this were looked at for gaps
    qint64 m_nGapsFoundWith = 0; // the readings the gap length was found from
};
