#pragma once

// Small helpers the tests share.
#include "framedecoder.h"
#include "localtime.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QList>
#include <QtGlobal>

#include <cmath>
#include <cstdio>

#ifdef Q_OS_UNIX
#  include <csignal>
#  include <fcntl.h>
#  include <sys/mount.h>
#  include <sys/stat.h>
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

// Every reading of the numbered data files of a folder, in file order.
inline QList<DataLine> ReadDataFiles(const QString &folder, int *files = nullptr)
{
    static const QRegularExpression numbered(QStringLiteral("^[0-9]{4}$"));
    QList<DataLine> out;
    const QStringList names = QDir(folder).entryList(QDir::Files, QDir::Name).filter(numbered);
    for (const QString &name : names)
        out += ReadDataFile(QDir(folder).filePath(name));
    if (files)
        *files = int(names.size());
    return out;
}

inline QList<double> Temperatures(const QList<DataLine> &lines)
{
    QList<double> out;
    for (const DataLine &line : lines)
        out.append(line.temperature);
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

// A small disk of its own (a tmpfs) at `folder` while it lives, for a folder
// that fills up. Mounting needs root: Mounted() says whether it worked.
class SmallDisk
{
public:
    SmallDisk(const QByteArray &folder, qint64 bytes) : m_folder(folder)
    {
        ::mkdir(folder.constData(), 0700);
        m_mounted = ::mount("tmpfs", folder.constData(), "tmpfs", 0, Options(bytes).constData()) == 0;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(m_folder.constData(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;

    bool Mounted() const { return m_mounted; }
    bool Resize(qint64 bytes)
    {
        return ::mount("tmpfs", m_folder.constData(), "tmpfs", MS_REMOUNT, Options(bytes).constData()) == 0;
    }
    // Takes up all the room that is left, but for `spare` bytes, with the file it names.
    QString Fill(qint64 spare = 0)
    {
        const QByteArray path = m_folder + "/filler" + QByteArray::number(m_fillers++);
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const QByteArray block(4096, 'x');
        qint64 size = 0;
        for (ssize_t written; (written = ::write(fd, block.constData(), size_t(block.size()))) > 0;)
            size += written;
        if (::ftruncate(fd, std::max<qint64>(0, size - spare)) != 0)
            qWarning("the filler could not be cut");
        ::close(fd);
        return QFile::decodeName(path);
    }

private:
    static QByteArray Options(qint64 bytes) { return "size=" + QByteArray::number(bytes) + ",mode=0700"; }

    QByteArray m_folder;
    bool m_mounted = false;
    int m_fillers = 0;
};
#endif
