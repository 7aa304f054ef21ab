#pragma once

// Small helpers the tests share.
#include "framedecoder.h"
#include "localtime.h"

#include <QFile>
#include <QList>
#include <QtGlobal>

#include <cmath>
#include <cstdio>

#ifdef Q_OS_UNIX
#  include <csignal>
#  include <sys/resource.h>
#  include <unistd.h>
#endif

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

// One line of a data file: the reading's time (header time + offset) and its temperature.
struct DataLine
{
    qint64 msSinceEpoch;
    double temperature;
};

// The readings of one data file; none for an empty or missing file.
inline QList<DataLine> ReadDataFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> lines = file.readAll().split('\n');
    int day, month, year, hour, minute, second;
    if (lines.size() < 2
        || std::sscanf(lines[0].constData(), "%d.%d.%d %d:%d:%d", &day, &month, &year, &hour, &minute, &second) != 6)
        return {};
    const qint64 header = MsOf(MakeTime(year, month, day, hour, minute, second));
    QList<DataLine> out;
    for (int i = 1; i < lines.size() - 1; ++i) {
        const QList<QByteArray> fields = lines[i].trimmed().split(' ');
        out.append({header + qRound64(fields[0].toDouble() * 1000), fields[1].toDouble()});
    }
    return out;
}

#ifdef Q_OS_UNIX
// The process's resident memory, in bytes.
inline qint64 ResidentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * ::sysconf(_SC_PAGESIZE) : -1;
}

// While it lives, no file of this process can grow past `bytes`: a write
// that would fails (EFBIG) as on a disk that is full at that point.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, SIG_IGN); // the write fails instead of the process ending
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &m_old); }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit m_old {};
};
#endif
