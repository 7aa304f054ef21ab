#pragma once

#include "localtime.h"
#include "tempsample.h"

#include <QtGlobal>

#include <array>

// The chart's own record of the run's last ten minutes, whatever the line's
// rate: the lowest and highest temperature of each tenth of a second, in a
// ring of 6000 slots (141 KiB). The store keeps at most 6000 readings, 4.7 s
// at 1280 frames/s; this keeps the shape of all ten minutes. Fed with every
// reading at the hand-over, under the store's lock.
class ChartHistory
{
public:
    static constexpr int kSlots = 6000; // 600 s in tenths
    static constexpr qint64 kNoTenth = -1;

    struct Slot
    {
        qint64 tenth = kNoTenth; // local seconds × 10 + tenths of the readings in it
        double lowest = 0;
        double highest = 0;
    };

    void Add(const TempSample &reading);
    void Clear();

    // The slot of a tenth of a second, or null when no reading of that tenth
    // is kept (none came, or it is older than the ring).
    const Slot *At(qint64 tenth) const;
    // The tenth of a local time.
    static qint64 TenthOf(std::time_t localSeconds, int milliseconds)
    {
        return qint64(localSeconds) * 10 + milliseconds / 100;
    }
    // The newest tenth added; kNoTenth before the first reading.
    qint64 NewestTenth() const { return m_nNewestTenth; }

private:
    std::array<Slot, kSlots> m_slots {};
    qint64 m_nNewestTenth = kNoTenth;
    LocalSecondsCache m_seconds;
};
