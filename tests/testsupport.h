#pragma once

// Small helpers the tests share.
#include "framedecoder.h"
#include "localtime.h"

#include <QtGlobal>

#include <cmath>

// A local calendar time.
inline SYSTEMTIME MakeTime(int year, int month, int day, int hour, int minute, int second, int ms = 0)
{
    SYSTEMTIME st {};
    st.wYear = static_cast<std::uint16_t>(year);
    st.wMonth = static_cast<std::uint16_t>(month);
    st.wDay = static_cast<std::uint16_t>(day);
    st.wHour = static_cast<std::uint16_t>(hour);
    st.wMinute = static_cast<std::uint16_t>(minute);
    st.wSecond = static_cast<std::uint16_t>(second);
    st.wMilliseconds = static_cast<std::uint16_t>(ms);
    return st;
}

// Milliseconds since 1970 of a local time.
inline qint64 MsOf(const SYSTEMTIME &st)
{
    return qint64(LocalSeconds(st)) * 1000 + st.wMilliseconds;
}

inline qint64 NowMs()
{
    SYSTEMTIME st {};
    GetLocalTime(&st);
    return MsOf(st);
}

// A temperature as it comes back from the wire, in tenths of a kelvin.
inline double WireValue(double celsius)
{
    return FrameDecoder::TemperatureOf(static_cast<int>(std::lround(celsius * 10)) + 2732);
}
