#include "localtime.h"

#include <chrono>

namespace {

SYSTEMTIME CalendarOf(std::time_t seconds)
{
    std::tm local {};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    SYSTEMTIME st {};
    st.wYear = static_cast<std::uint16_t>(local.tm_year + 1900);
    st.wMonth = static_cast<std::uint16_t>(local.tm_mon + 1);
    st.wDayOfWeek = static_cast<std::uint16_t>(local.tm_wday);
    st.wDay = static_cast<std::uint16_t>(local.tm_mday);
    st.wHour = static_cast<std::uint16_t>(local.tm_hour);
    st.wMinute = static_cast<std::uint16_t>(local.tm_min);
    st.wSecond = static_cast<std::uint16_t>(local.tm_sec);
    return st;
}

} // namespace

#ifndef _WIN32
void GetLocalTime(SYSTEMTIME *st)
{
    *st = LocalClock().Now();
}
#endif

std::time_t LocalSeconds(const SYSTEMTIME &st)
{
    std::tm local {};
    local.tm_year = st.wYear - 1900;
    local.tm_mon = st.wMonth - 1;
    local.tm_mday = st.wDay;
    local.tm_hour = st.wHour;
    local.tm_min = st.wMinute;
    local.tm_sec = st.wSecond;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

std::time_t LocalSecondsCache::Of(const SYSTEMTIME &st)
{
    const bool sameHour = m_bValid && st.wHour == m_stHour.wHour && st.wDay == m_stHour.wDay
        && st.wMonth == m_stHour.wMonth && st.wYear == m_stHour.wYear;
    if (!sameHour) {
        m_stHour = st;
        m_stHour.wMinute = 0;
        m_stHour.wSecond = 0;
        m_nHourSeconds = LocalSeconds(m_stHour);
        m_bValid = true;
    }
    return m_nHourSeconds + st.wMinute * 60 + st.wSecond;
}

SYSTEMTIME LocalClock::Now(std::int64_t *utcMs)
{
    using namespace std::chrono;
    const auto sinceEpoch = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    if (utcMs)
        *utcMs = sinceEpoch;
    return At(sinceEpoch);
}

SYSTEMTIME LocalClock::At(std::int64_t sinceEpoch)
{
    const std::int64_t second = sinceEpoch >= 0 ? sinceEpoch / 1000 : (sinceEpoch - 999) / 1000;
    if (second != m_nCachedSecond) {
        m_stCached = CalendarOf(static_cast<std::time_t>(second));
        m_nCachedSecond = second;
    }
    SYSTEMTIME st = m_stCached;
    st.wMilliseconds = static_cast<std::uint16_t>(sinceEpoch - second * 1000);
    return st;
}
