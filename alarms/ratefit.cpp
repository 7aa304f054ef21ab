#include "ratefit.h"

#include <algorithm>

namespace {

double MedianOf(std::vector<double> &values)
{
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    if (values.size() % 2 == 1)
        return *middle;
    const double upper = *middle;
    return (*std::max_element(values.begin(), middle) + upper) / 2;
}

} // namespace

RateFit::RateFit(int windowSeconds)
    : m_nBinMs(std::max<qint64>(1, qint64(std::max(windowSeconds, 1)) * 1000 / kBins))
{
}

bool RateFit::Add(qint64 ms, double celsius)
{
    const qint64 index = ms >= 0 ? ms / m_nBinMs : (ms - m_nBinMs + 1) / m_nBinMs;
    bool closed = false;
    if (index != m_nOpenIndex && !m_open.empty()) {
        CloseBin();
        closed = true;
    }
    m_nOpenIndex = index;
    m_open.push_back(celsius);
    return closed;
}

void RateFit::Clear()
{
    m_nOpenIndex = -1;
    m_open.clear();
    m_bins.clear();
    m_rate.reset();
}

void RateFit::CloseBin()
{
    // A clock set back starts the window again rather than bending it.
    if (!m_bins.empty() && m_nOpenIndex <= m_bins.back().index)
        m_bins.clear();
    m_bins.push_back({m_nOpenIndex, MedianOf(m_open)});
    m_open.clear();
    while (m_bins.size() > 1 && m_bins.back().index - m_bins.front().index >= kBins)
        m_bins.pop_front();
    if (m_bins.back().index - m_bins.front().index < kBins / 2) {
        m_rate.reset();
        return;
    }
    m_slopes.clear();
    for (size_t i = 0; i < m_bins.size(); ++i)
        for (size_t j = i + 1; j < m_bins.size(); ++j)
            m_slopes.push_back((m_bins[j].median - m_bins[i].median)
                               / static_cast<double>(m_bins[j].index - m_bins[i].index));
    m_rate = MedianOf(m_slopes) * 60000.0 / static_cast<double>(m_nBinMs);
}
