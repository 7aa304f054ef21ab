#include "runledger.h"

#include <algorithm>

std::vector<std::pair<qint64, qint64>> RunLedger::Take(qint64 from, qint64 to)
{
    std::vector<std::pair<qint64, qint64>> fresh;
    if (to <= from)
        return fresh;
    // The held ranges that touch or overlap [from, to) are joined with it.
    auto first = m_held.upper_bound(from);
    if (first != m_held.begin() && std::prev(first)->second >= from)
        --first;
    qint64 joinedFrom = from, joinedTo = to;
    qint64 at = from;
    auto it = first;
    for (; it != m_held.end() && it->first <= to; ++it) {
        if (it->first > at)
            fresh.emplace_back(at, std::min(it->first, to));
        at = std::max(at, it->second);
        joinedFrom = std::min(joinedFrom, it->first);
        joinedTo = std::max(joinedTo, it->second);
        m_nHeld -= it->second - it->first;
    }
    if (at < to)
        fresh.emplace_back(at, to);
    m_held.erase(first, it);
    m_held.emplace(joinedFrom, joinedTo);
    m_nHeld += joinedTo - joinedFrom;
    // What came is no longer lost (a station that found it after all).
    for (auto lost = m_lost.begin(); lost != m_lost.end();) {
        if (lost->first < to && lost->second.first > from) {
            const auto [lostTo, why] = lost->second;
            const qint64 lostFrom = lost->first;
            lost = m_lost.erase(lost);
            if (lostFrom < from)
                m_lost.emplace(lostFrom, std::pair(from, why));
            if (lostTo > to)
                m_lost.emplace(to, std::pair(lostTo, why));
        } else {
            ++lost;
        }
    }
    return fresh;
}

void RunLedger::Release(qint64 from, qint64 to)
{
    auto it = m_held.upper_bound(from);
    if (it != m_held.begin() && std::prev(it)->second > from)
        --it;
    std::vector<std::pair<qint64, qint64>> kept;
    while (it != m_held.end() && it->first < to) {
        const auto [heldFrom, heldTo] = *it;
        m_nHeld -= heldTo - heldFrom;
        it = m_held.erase(it);
        if (heldFrom < from)
            kept.emplace_back(heldFrom, from);
        if (heldTo > to)
            kept.emplace_back(to, heldTo);
    }
    for (const auto &[keptFrom, keptTo] : kept) {
        m_held.emplace(keptFrom, keptTo);
        m_nHeld += keptTo - keptFrom;
    }
}

bool RunLedger::Has(qint64 seq) const
{
    auto it = m_held.upper_bound(seq);
    return it != m_held.begin() && std::prev(it)->second > seq;
}

void RunLedger::MarkLost(qint64 from, qint64 to, const QString &reason)
{
    // Only what is not held can be lost.
    qint64 at = from;
    std::vector<std::pair<qint64, qint64>> missing;
    auto it = m_held.upper_bound(from);
    if (it != m_held.begin() && std::prev(it)->second > from)
        --it;
    for (; it != m_held.end() && it->first < to; ++it) {
        if (it->first > at)
            missing.emplace_back(at, it->first);
        at = std::max(at, it->second);
    }
    if (at < to)
        missing.emplace_back(at, to);
    for (const auto &[lostFrom, lostTo] : missing) {
        // Joined with lost ranges it overlaps.
        qint64 joinedFrom = lostFrom, joinedTo = lostTo;
        for (auto lost = m_lost.begin(); lost != m_lost.end();) {
            if (lost->first <= joinedTo && lost->second.first >= joinedFrom) {
                joinedFrom = std::min(joinedFrom, lost->first);
                joinedTo = std::max(joinedTo, lost->second.first);
                lost = m_lost.erase(lost);
            } else {
                ++lost;
            }
        }
        m_lost.emplace(joinedFrom, std::pair(joinedTo, reason));
    }
}

std::vector<RunLedger::Gap> RunLedger::Gaps() const
{
    std::vector<Gap> gaps;
    const qint64 end = std::max(End(), m_count.value_or(0));
    qint64 at = 0;
    const auto missing = [&](qint64 from, qint64 to) {
        // Split by the lost ranges inside it.
        qint64 pos = from;
        for (const auto &[lostFrom, lost] : m_lost) {
            const qint64 lostTo = lost.first;
            if (lostTo <= pos || lostFrom >= to)
                continue;
            if (lostFrom > pos)
                gaps.push_back({pos, lostFrom, Gap::State::Asked, {}});
            gaps.push_back({std::max(pos, lostFrom), std::min(to, lostTo), Gap::State::Lost, lost.second});
            pos = std::min(to, lostTo);
        }
        if (pos < to)
            gaps.push_back({pos, to, Gap::State::Asked, {}});
    };
    for (const auto &[from, to] : m_held) {
        if (from > at)
            missing(at, std::min(from, end));
        at = to;
    }
    if (at < end)
        missing(at, end);
    return gaps;
}

qint64 RunLedger::Missing() const
{
    qint64 missing = 0;
    for (const Gap &gap : Gaps())
        missing += gap.Readings();
    return missing;
}

std::optional<std::pair<qint64, qint64>> RunLedger::FirstAsked(qint64 longest) const
{
    for (const Gap &gap : Gaps())
        if (gap.state == Gap::State::Asked)
            return std::pair(gap.from, std::min(gap.to, gap.from + longest));
    return std::nullopt;
}

bool RunLedger::Whole() const
{
    return m_count.has_value() && !FirstAsked(1);
}

void RunLedger::Restore(qint64 end, const std::vector<Gap> &gaps)
{
    m_held.clear();
    m_lost.clear();
    m_nHeld = 0;
    qint64 at = 0;
    std::vector<Gap> sorted = gaps;
    std::sort(sorted.begin(), sorted.end(), [](const Gap &a, const Gap &b) { return a.from < b.from; });
    for (const Gap &gap : sorted) {
        if (gap.from >= end)
            break;
        if (gap.from > at)
            Take(at, gap.from);
        at = std::max(at, std::min(gap.to, end));
    }
    if (at < end)
        Take(at, end);
    for (const Gap &gap : sorted)
        if (gap.state == Gap::State::Lost)
            MarkLost(gap.from, gap.to, gap.reason);
}
