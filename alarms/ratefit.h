#pragma once

#include <QtGlobal>

#include <deque>
#include <optional>
#include <vector>

// The rate of change of the temperature over a sliding window, robust against
// single noisy readings: the window is cut into 30 bins, each bin stands for
// the median of its readings, and the rate is the median of the slopes
// between every two bins (Theil–Sen). A single reading, however far off,
// moves one bin at most, and one bin of 30 cannot move that median far. Each
// reading costs a store in the open bin; the fit runs once per closed bin.
class RateFit
{
public:
    static constexpr int kBins = 30;

    explicit RateFit(int windowSeconds);

    // Adds a reading; true when a bin closed and Rate() may have changed.
    bool Add(qint64 ms, double celsius);
    void Clear();
    // °C per minute over the window; none until the bins span half of it.
    std::optional<double> Rate() const { return m_rate; }

private:
    struct Bin
    {
        qint64 index; // ms / bin length
        double median;
    };
    void CloseBin();

    qint64 m_nBinMs;
    qint64 m_nOpenIndex = -1;
    std::vector<double> m_open; // the open bin's readings
    std::deque<Bin> m_bins;     // closed bins of the window, oldest first
    std::vector<double> m_slopes;
    std::optional<double> m_rate;
};
