#include "instrumentsimulator.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool MakeRaw(int fd, speed_t speed, QString *error)
{
    termios line {};
    if (tcgetattr(fd, &line) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    cfmakeraw(&line);
    if (speed != 0) {
        cfsetispeed(&line, speed);
        cfsetospeed(&line, speed);
    }
    if (tcsetattr(fd, TCSANOW, &line) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}

speed_t SpeedOf(int baudRate)
{
    switch (baudRate) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return 0;
    }
}

} // namespace

InstrumentSimulator::~InstrumentSimulator()
{
    Close();
    if (!m_strLink.isEmpty())
        QFile::remove(m_strLink);
}

bool InstrumentSimulator::SetLink(const QString &path, QString *error)
{
    m_strLink = path;
    return UpdateLink(error);
}

bool InstrumentSimulator::UpdateLink(QString *error)
{
    if (m_strLink.isEmpty())
        return true;
    // A new link beside the old one, renamed over it: a reader never finds none.
    const QByteArray link = QFile::encodeName(m_strLink);
    const QByteArray fresh = link + ".new";
    ::unlink(fresh.constData());
    if (::symlink(QFile::encodeName(m_strDevicePath).constData(), fresh.constData()) != 0
        || ::rename(fresh.constData(), link.constData()) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}

void InstrumentSimulator::HangUp()
{
    Close();
    if (!m_strLink.isEmpty())
        QFile::remove(m_strLink); // as udev removes an unplugged adapter's link
}

bool InstrumentSimulator::ComeBack(QString *error)
{
    return OpenPseudoTerminal(error) && UpdateLink(error);
}

bool InstrumentSimulator::OpenPseudoTerminal(QString *error)
{
    Close();
    m_fd = posix_openpt(O_RDWR | O_NOCTTY);
    char name[256] = {};
    if (m_fd < 0 || grantpt(m_fd) != 0 || unlockpt(m_fd) != 0 || ptsname_r(m_fd, name, sizeof name) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        Close();
        return false;
    }
    // The line settings are made raw once; they stay with the pseudo-terminal
    // while this end is open. The simulator then lets go of the program's end,
    // as an instrument would: the program refuses a line that another process
    // holds open.
    const int slaveFd = ::open(name, O_RDWR | O_NOCTTY);
    const bool raw = slaveFd >= 0 && MakeRaw(slaveFd, B115200, error);
    if (slaveFd >= 0)
        ::close(slaveFd);
    if (!raw) {
        if (error->isEmpty())
            *error = QString::fromLocal8Bit(std::strerror(errno));
        Close();
        return false;
    }
    fcntl(m_fd, F_SETFL, fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    m_strDevicePath = QString::fromLocal8Bit(name);
    return true;
}

bool InstrumentSimulator::OpenDevice(const QString &path, int baudRate, QString *error)
{
    Close();
    const speed_t speed = SpeedOf(baudRate);
    if (speed == 0) {
        *error = QStringLiteral("unsupported rate %1").arg(baudRate);
        return false;
    }
    m_fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (!MakeRaw(m_fd, speed, error)) {
        Close();
        return false;
    }
    m_strDevicePath = path;
    return true;
}

void InstrumentSimulator::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

std::string InstrumentSimulator::EncodeFrame(double celsius, unsigned tail)
{
    const long tenthsOfKelvin = std::lround(celsius * 10.0) + 2732;
    const unsigned value = static_cast<unsigned>(std::clamp(tenthsOfKelvin, 0L, 0xFFFFL));
    char frame[10];
    std::snprintf(frame, sizeof frame, "#%04X%04X", value, tail & 0xFFFFu);
    return std::string(frame, 9);
}

bool InstrumentSimulator::Write(std::string_view bytes)
{
    const std::atomic_bool never {false};
    return Write(bytes, never);
}

bool InstrumentSimulator::Write(std::string_view bytes, const std::atomic_bool &stop)
{
    return WriteCounted(bytes, stop) == bytes.size();
}

size_t InstrumentSimulator::WriteCounted(std::string_view bytes, const std::atomic_bool &stop)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        if (stop.load())
            return sent;
        const ssize_t written = ::write(m_fd, bytes.data() + sent, bytes.size() - sent);
        if (written > 0) {
            sent += static_cast<size_t>(written);
            continue;
        }
        if (written < 0 && errno != EAGAIN && errno != EINTR)
            return sent;
        // The listener is behind: wait for room, looking at the stop flag now and
        // then. With nobody listening the pseudo-terminal reports a hang-up at
        // once instead of waiting, so wait here instead.
        pollfd room {m_fd, POLLOUT, 0};
        const int ready = ::poll(&room, 1, 100);
        if (ready < 0 && errno != EINTR)
            return sent;
        if (ready > 0 && !(room.revents & POLLOUT))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return sent;
}

SimulatorCounts InstrumentSimulator::Run(const SimulatorOptions &options, const std::atomic_bool &stop)
{
    using Clock = std::chrono::steady_clock;
    SimulatorCounts counts;
    std::mt19937 random(options.seed);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    std::uniform_int_distribution<int> anyByte(0, 255);
    std::uniform_int_distribution<int> digitsBeforeBreak(0, 7);

    const bool paced = options.framesPerSecond > 0;
    // Unpaced frames go out in large writes; paced ones one by one.
    const size_t flushAt = paced ? 1 : 65536;
    const double nominalRate = paced ? options.framesPerSecond : 1280.0;
    const Clock::time_point start = Clock::now();
    std::string out;
    out.reserve(flushAt + 64);
    std::vector<size_t> frameEnds; // where each whole frame in `out` ends
    // A frame counts as sent once its last byte went out, also when a stop
    // ends a write part-way.
    const auto flush = [&] {
        const size_t written = WriteCounted(out, stop);
        counts.frames += std::upper_bound(frameEnds.begin(), frameEnds.end(), written) - frameEnds.begin();
        frameEnds.clear();
        if (written < out.size()) {
            counts.deviceFailed = !stop.load();
            out.clear();
            return false;
        }
        out.clear();
        return true;
    };
    // The instrument is unplugged after a quiet moment (so that the listener has
    // read what was sent), stays away, and is plugged in again.
    Clock::time_point upSince = start;
    const auto pullAndReplug = [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        HangUp();
        const Clock::time_point back = Clock::now()
            + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.awaySeconds));
        while (Clock::now() < back && !stop.load())
            std::this_thread::sleep_for(std::min<Clock::duration>(back - Clock::now(), std::chrono::milliseconds(50)));
        QString error;
        if (stop.load() || !ComeBack(&error)) {
            counts.deviceFailed = !stop.load();
            return false;
        }
        ++counts.hangUps;
        upSince = Clock::now();
        return true;
    };

    for (long long i = 0; options.frameCount == 0 || i < options.frameCount; ++i) {
        if (stop.load())
            break;
        if (options.upSeconds > 0 && Clock::now() - upSince >= std::chrono::duration<double>(options.upSeconds)) {
            if ((!out.empty() && !flush()) || !pullAndReplug())
                return counts;
            // Frames due while the instrument was away were never sent.
            if (paced)
                i = std::max(i, static_cast<long long>(std::chrono::duration<double>(Clock::now() - start).count()
                                                       * options.framesPerSecond));
        }
        if (paced) {
            const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(static_cast<double>(i) / options.framesPerSecond));
            while (Clock::now() < due && !stop.load())
                std::this_thread::sleep_for(std::min<Clock::duration>(due - Clock::now(), std::chrono::milliseconds(100)));
            if (stop.load())
                break;
        }
        if (options.noiseChance > 0 && chance(random) < options.noiseChance) {
            char noise = '#';
            while (noise == '#')
                noise = static_cast<char>(anyByte(random));
            out.push_back(noise);
            ++counts.noiseBytes;
        }
        if (options.brokenChance > 0 && chance(random) < options.brokenChance) {
            // A frame cut short by a line end, or by the next frame's "#".
            const std::string whole = EncodeFrame(options.profile.At(i, static_cast<double>(i) / nominalRate));
            out.append(whole, 0, static_cast<size_t>(1 + digitsBeforeBreak(random)));
            if (chance(random) < 0.5)
                out.push_back('\r');
            ++counts.brokenFrames;
        }
        const double celsius = options.profile.At(i, static_cast<double>(i) / nominalRate);
        const std::string frame = EncodeFrame(celsius, static_cast<unsigned>(i));
        if (options.onFrame)
            options.onFrame(i, frame, celsius);
        out += frame;
        frameEnds.push_back(out.size());
        if (out.size() >= flushAt && !flush())
            return counts;
    }
    if (!out.empty())
        flush();
    return counts;
}
