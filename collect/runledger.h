#pragma once

#include <QString>
#include <QtGlobal>

#include <map>
#include <optional>
#include <utility>
#include <vector>

// What a collector holds of one run: which of its readings (numbered by
// "seq" from 0) it has, which it lacks, whether those were asked for again
// or are lost for good and why, and how many readings the run had once its
// stop said so. Ranges are [from, to).
class RunLedger
{
public:
    struct Gap
    {
        qint64 from = 0;
        qint64 to = 0;
        enum class State { Asked, Lost };
        State state = State::Asked;
        QString reason; // for a lost one
        qint64 Readings() const { return to - from; }
        bool operator==(const Gap &) const = default;
    };

    // The readings [from, to) came; returns the parts of it that were not
    // held before, in order.
    std::vector<std::pair<qint64, qint64>> Take(qint64 from, qint64 to);
    bool Has(qint64 seq) const;
    // Readings taken that could not be kept after all: missing again.
    void Release(qint64 from, qint64 to);
    qint64 Held() const { return m_nHeld; }
    // One past the highest reading held; 0 while none is.
    qint64 End() const { return m_held.empty() ? 0 : std::prev(m_held.end())->second; }
    // The run's readings, from its stop.
    std::optional<qint64> Count() const { return m_count; }
    void SetCount(qint64 count) { m_count = count; }
    // Readings that can never come: the station has them no more.
    void MarkLost(qint64 from, qint64 to, const QString &reason);
    // What is missing below End() (and below Count() once known): asked, or lost.
    std::vector<Gap> Gaps() const;
    qint64 Missing() const;
    // The first range that is missing and not lost, at most `longest` long.
    std::optional<std::pair<qint64, qint64>> FirstAsked(qint64 longest) const;
    // Every reading is held, or lost for good, and the run's count is known.
    bool Whole() const;

    // As an archive holds it: the held readings [0, end) but for the gaps.
    void Restore(qint64 end, const std::vector<Gap> &gaps);

private:
    std::map<qint64, qint64> m_held; // from -> to, apart and not touching
    std::map<qint64, std::pair<qint64, QString>> m_lost; // from -> (to, why)
    qint64 m_nHeld = 0;
    std::optional<qint64> m_count;
};
