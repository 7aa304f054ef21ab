#pragma once

#include "localtime.h"
#include "tempsample.h"

#include <array>
#include <functional>

namespace framedecoder_detail {

// Value of each byte as a hexadecimal digit, or -1.
constexpr std::array<signed char, 256> MakeHexTable()
{
    std::array<signed char, 256> table {};
    for (int c = 0; c < 256; ++c) {
        if (c >= '0' && c <= '9')
            table[c] = static_cast<signed char>(c - '0');
        else if (c >= 'A' && c <= 'F')
            table[c] = static_cast<signed char>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            table[c] = static_cast<signed char>(c - 'a' + 10);
        else
            table[c] = -1;
    }
    return table;
}
inline constexpr std::array<signed char, 256> kHexValue = MakeHexTable();

} // namespace framedecoder_detail

// Turns the instrument's byte stream into readings. A frame is "#" and eight
// hexadecimal digits; the first four are the temperature in tenths of a kelvin
// counted from -273.2 °C, the last four complete the frame and are not used.
// Each reading is stamped with the local time at which its "#" arrived.
class FrameDecoder
{
public:
    using TimeSource = std::function<SYSTEMTIME()>;

    // Stamps frames with the local clock.
    FrameDecoder() = default;
    // Stamps frames with the given source (tests fix the time this way).
    explicit FrameDecoder(TimeSource timeSource) : m_timeSource(std::move(timeSource)) {}

    // Takes one received byte. Returns true when it completed a frame; the
    // reading is then in Reading().
    bool Feed(unsigned char byte)
    {
        if (byte == '#') {
            // A frame already open is abandoned.
            m_nDigit = 1;
            m_nValue = 0;
            m_nFrameUtcMs = 0;
            if (m_nArrivalUtcMs >= 0) {
                m_nFrameUtcMs = m_nArrivalUtcMs;
                m_stFrameTime = m_clock.At(m_nArrivalUtcMs);
                m_nArrivalUtcMs = -1;
            } else {
                m_stFrameTime = m_timeSource ? m_timeSource() : m_clock.Now(&m_nFrameUtcMs);
            }
            return false;
        }
        const int digit = framedecoder_detail::kHexValue[byte];
        if (digit < 0) {
            m_nDigit = 0; // any other byte drops an open frame
            return false;
        }
        if (m_nDigit == 0)
            return false; // digits outside a frame are ignored
        if (m_nDigit <= 4)
            m_nValue = m_nValue * 16 + digit;
        if (++m_nDigit < 9)
            return false;
        m_nDigit = 0;
        m_reading.time = m_stFrameTime;
        m_reading.utcMs = m_nFrameUtcMs;
        m_reading.temperature = TemperatureOf(m_nValue);
        return true;
    }

    // The next "#" fed arrived at `utcMs` (ms since 1970), not now: for bytes
    // that waited in the driver for a while before they were read.
    void SetArrival(std::int64_t utcMs) { m_nArrivalUtcMs = utcMs; }

    const TempSample &Reading() const { return m_reading; }
    bool IsFrameOpen() const { return m_nDigit != 0; }
    // The bytes of the frame open now ("#" and its digits so far).
    int OpenFrameBytes() const { return m_nDigit; }

    // Degrees Celsius of the frame's 16-bit value.
    static double TemperatureOf(int value) { return static_cast<double>(value - 2732) * 0.1; }

private:
    TimeSource m_timeSource;
    LocalClock m_clock;
    int m_nDigit = 0; // where the next digit goes: 1 to 8 while a frame is open, 0 when none is
    int m_nValue = 0;
    SYSTEMTIME m_stFrameTime {};
    std::int64_t m_nFrameUtcMs = 0;
    std::int64_t m_nArrivalUtcMs = -1; // set for the next "#" only
    TempSample m_reading {};
};
