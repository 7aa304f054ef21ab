#include "charthistory.h"

void ChartHistory::Add(const TempSample &reading)
{
    const qint64 tenth = TenthOf(m_seconds.Of(reading.time), reading.time.wMilliseconds);
    Slot &slot = m_slots[static_cast<size_t>(((tenth % kSlots) + kSlots) % kSlots)];
    if (slot.tenth != tenth) {
        slot = Slot {tenth, reading.temperature, reading.temperature};
    } else {
        slot.lowest = std::min(slot.lowest, reading.temperature);
        slot.highest = std::max(slot.highest, reading.temperature);
    }
    m_nNewestTenth = std::max(m_nNewestTenth, tenth);
}

void ChartHistory::Clear()
{
    m_slots.fill(Slot {});
    m_nNewestTenth = kNoTenth;
}

const ChartHistory::Slot *ChartHistory::At(qint64 tenth) const
{
    const Slot &slot = m_slots[static_cast<size_t>(((tenth % kSlots) + kSlots) % kSlots)];
    return slot.tenth == tenth ? &slot : nullptr;
}
