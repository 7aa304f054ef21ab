#pragma once

#include "localtime.h"

#include <QtGlobal>

#include <ctime>

// The local calendar time of an instant (milliseconds since 1970), as the
// reader stamps readings: for benchmarks that make readings at given times.
inline SYSTEMTIME LocalStampAt(qint64 ms)
{
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm local {};
    localtime_r(&seconds, &local);
    SYSTEMTIME st {};
    st.wYear = static_cast<std::uint16_t>(local.tm_year + 1900);
    st.wMonth = static_cast<std::uint16_t>(local.tm_mon + 1);
    st.wDayOfWeek = static_cast<std::uint16_t>(local.tm_wday);
    st.wDay = static_cast<std::uint16_t>(local.tm_mday);
    st.wHour = static_cast<std::uint16_t>(local.tm_hour);
    st.wMinute = static_cast<std::uint16_t>(local.tm_min);
    st.wSecond = static_cast<std::uint16_t>(local.tm_sec);
    st.wMilliseconds = static_cast<std::uint16_t>(ms % 1000);
    return st;
}
