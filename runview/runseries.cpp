#include "runseries.h"

#include <algorithm>

RunSeries::RunSeries() = default;
RunSeries::~RunSeries() = default;
RunSeries::RunSeries(RunSeries &&) noexcept = default;
RunSeries &RunSeries::operator=(RunSeries &&) noexcept = default;

void RunSeries::BeginFile(const QString &name)
{
    m_files.push_back({name, m_nSize, {}});
}

void RunSeries::Append(qint64 utcMs, float celsius, int line)
{
    if (m_files.empty())
        BeginFile(QString());
    utcMs = m_nSize ? std::max(utcMs, m_nLastMs) : utcMs;
    const qint64 within = m_nSize & kBlockMask;
    if (within == 0) {
        m_blocks.push_back(std::make_unique<Block>());
        m_blocks.back()->baseMs = utcMs;
    }
    Block &block = *m_blocks.back();
    const qint64 offset = utcMs - block.baseMs;
    if (offset < qint64(kFarOffset)) {
        block.offsetMs[size_t(within)] = quint32(offset);
    } else {
        block.offsetMs[size_t(within)] = kFarOffset;
        m_farTimes.emplace_back(m_nSize, utcMs);
    }
    block.celsius[size_t(within)] = celsius;

    File &file = m_files.back();
    const int expected = file.lines.empty() ? -1 : file.lines.back().second + int(m_nSize - file.lines.back().first);
    if (line != expected)
        file.lines.emplace_back(m_nSize, line);

    m_nLastMs = utcMs;
    ++m_nSize;
    Lift(m_nSize - 1);
}

// Completes the pyramid's blocks that end with reading `index`.
void RunSeries::Lift(qint64 index)
{
    qint64 count = index + 1; // readings, then blocks of the level below
    for (size_t level = 0;; ++level) {
        if (count % kFanOut != 0)
            return;
        if (m_levels.size() <= level)
            m_levels.emplace_back();
        const qint64 first = count - kFanOut;
        TemperatureRange range = TemperatureRange::Empty();
        for (qint64 i = first; i < count; ++i) {
            if (level == 0)
                range.Take(CelsiusAt(i));
            else
                range.Take(m_levels[level - 1][size_t(i)]);
        }
        m_levels[level].push_back(range);
        count /= kFanOut;
    }
}

qint64 RunSeries::TimeAt(qint64 index) const
{
    const Block &block = *m_blocks[size_t(index >> kBlockBits)];
    const quint32 offset = block.offsetMs[size_t(index & kBlockMask)];
    if (offset != kFarOffset)
        return block.baseMs + offset;
    const auto far = std::lower_bound(m_farTimes.begin(), m_farTimes.end(), std::pair<qint64, qint64>(index, 0),
                                      [](const auto &a, const auto &b) { return a.first < b.first; });
    return far->second;
}

qint64 RunSeries::LowerBound(qint64 utcMs) const
{
    if (m_nSize == 0 || utcMs <= FirstMs())
        return 0;
    if (utcMs > m_nLastMs)
        return m_nSize;
    // The block first, by its first reading's time; then within it.
    const auto block = std::partition_point(m_blocks.begin(), m_blocks.end(),
                                            [utcMs](const std::unique_ptr<Block> &b) { return b->baseMs < utcMs; });
    qint64 low = std::max<qint64>(0, (block - m_blocks.begin() - 1) << kBlockBits);
    qint64 high = std::min(m_nSize, qint64(block - m_blocks.begin()) << kBlockBits);
    while (low < high) {
        const qint64 middle = low + (high - low) / 2;
        if (TimeAt(middle) < utcMs)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

qint64 RunSeries::Nearest(qint64 utcMs) const
{
    if (m_nSize == 0)
        return -1;
    const qint64 after = LowerBound(utcMs);
    if (after == 0)
        return 0;
    if (after == m_nSize)
        return m_nSize - 1;
    return TimeAt(after) - utcMs < utcMs - TimeAt(after - 1) ? after : after - 1;
}

TemperatureRange RunSeries::Range(qint64 first, qint64 last) const
{
    TemperatureRange range = TemperatureRange::Empty();
    first = std::max<qint64>(first, 0);
    last = std::min(last, m_nSize);
    const auto take = [&](size_t level, qint64 i) {
        if (level == 0)
            range.Take(CelsiusAt(i));
        else
            range.Take(m_levels[level - 1][size_t(i)]);
    };
    // Up the pyramid: the ragged ends at each level, the middle one level up.
    for (size_t level = 0; first < last; ++level) {
        if (level >= m_levels.size() || last - first < kFanOut) {
            for (qint64 i = first; i < last; ++i)
                take(level, i);
            break;
        }
        for (; first < last && first % kFanOut != 0; ++first)
            take(level, first);
        for (; first < last && last % kFanOut != 0; --last)
            take(level, last - 1);
        first /= kFanOut;
        last /= kFanOut;
    }
    return range;
}

void RunSeries::FindGaps()
{
    if (m_nSize < 2)
        return;
    // The gap length from the typical interval, found again while the run is young.
    if (m_nSize >= 2 * m_nGapsFoundWith) {
        constexpr qint64 kSample = 65536;
        const qint64 stride = std::max<qint64>(1, (m_nSize - 1) / kSample);
        std::vector<qint64> intervals;
        for (qint64 i = 1; i < m_nSize; i += stride)
            intervals.push_back(TimeAt(i) - TimeAt(i - 1));
        std::nth_element(intervals.begin(), intervals.begin() + qsizetype(intervals.size() / 2), intervals.end());
        const qint64 gapMs = std::max<qint64>(3000, 10 * intervals[intervals.size() / 2]);
        m_nGapsFoundWith = m_nSize;
        if (gapMs != m_nGapMs) {
            m_nGapMs = gapMs;
            m_gapsBefore.clear();
            m_nGapsFoundTo = 1;
        }
    }
    qint64 previous = TimeAt(m_nGapsFoundTo - 1);
    for (qint64 i = m_nGapsFoundTo; i < m_nSize; ++i) {
        const qint64 time = TimeAt(i);
        if (time - previous > m_nGapMs)
            m_gapsBefore.push_back(i);
        previous = time;
    }
    m_nGapsFoundTo = m_nSize;
}

bool RunSeries::GapEndsIn(qint64 first, qint64 last) const
{
    const auto gap = std::lower_bound(m_gapsBefore.begin(), m_gapsBefore.end(), first);
    return gap != m_gapsBefore.end() && *gap < last;
}

ReadingPlace RunSeries::PlaceOf(qint64 index) const
{
    if (index < 0 || index >= m_nSize)
        return {};
    const auto file = std::prev(std::upper_bound(m_files.begin(), m_files.end(), index,
                                                 [](qint64 i, const File &f) { return i < f.first; }));
    const auto jump = std::prev(std::upper_bound(file->lines.begin(), file->lines.end(), index,
                                                 [](qint64 i, const auto &l) { return i < l.first; }));
    return {file->name, jump->second + int(index - jump->first)};
}

qint64 RunSeries::MemoryBytes() const
{
    qint64 bytes = qint64(m_blocks.size()) * qint64(sizeof(Block)) + qint64(m_farTimes.capacity() * sizeof(m_farTimes[0]))
        + qint64(m_gapsBefore.capacity() * sizeof(qint64));
    for (const auto &level : m_levels)
        bytes += qint64(level.capacity() * sizeof(TemperatureRange));
    for (const File &file : m_files)
        bytes += qint64(sizeof(File) + file.lines.capacity() * sizeof(file.lines[0]));
    return bytes;
}
