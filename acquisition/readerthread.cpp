#include "readerthread.h"

#ifndef Q_OS_WIN
#  include <unistd.h>
#endif

#include "exclusiveline.h"
#include "framedecoder.h"
#include "linewait.h"
#include "mutexlock.h"
#include "pendingreadings.h"
#include "samplelist.h"

#include <QFile>
#include <QSerialPort>

#include <algorithm>
#include <array>
#include <chrono>
#include <utility>

namespace {

// A silent line costs no wake-ups: the wait for a byte ends with a byte, a
// stop (which wakes it) or after this long. Readings the store's lock kept
// from the store are offered again much sooner.
#ifndef Q_OS_WIN
constexpr int kReadTimeoutMs = 10000;
#else
constexpr int kReadTimeoutMs = 500; // no wake there: this bounds how long a stop waits
#endif
constexpr int kHandOverRetryMs = 20;

// A read that finds only a few bytes means the line trickles (a real serial
// line brings at most 11 520 bytes a second): the thread lets it gather for a
// moment before it waits again, so that it wakes once for several frames
// instead of once per frame. Stamps come at most this much later.
constexpr unsigned long kTrickleGatherUs = 2000;
constexpr qint64 kTrickleBytes = 128;

// A line that runs near its capacity (an instrument sending as fast as its
// rate allows) brings its bytes evenly: the thread lets it gather longer, and
// each "#" is stamped where it falls in the even spread of the read's bytes
// over the time since the previous read, which is within a frame's time of
// its arrival.
constexpr unsigned long kFullLineGatherUs = 15000;
constexpr double kFullLineShare = 0.75;
// A read this large is a stream faster than a serial line (a flood, a pseudo-
// terminal): it is never held back, and a gather could fill the driver's buffer.
constexpr qint64 kFullLineMostBytes = 1024;

qint64 UtcMicroseconds()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

// At most this many readings go into the store per hand-over that did not
// wait for the lock: well above what one read brings (16 KiB, 1 820 frames),
// and copied in some tens of microseconds.
constexpr qsizetype kHandOverShare = 8192;

// A device that has gone is looked for again at once: a transient error of a
// USB-serial driver passes in milliseconds, and the driver keeps nothing that
// arrives while the line is closed. Then the waits double from the first up to
// once a second. The stop flag is looked at every kStopCheckMs meanwhile, so
// Stop ends the wait at once.
constexpr int kFirstReconnectWaitMs = 20;
constexpr int kReconnectPeriodMs = 1000;
constexpr int kStopCheckMs = 50;

} // namespace

ReaderThread::ReaderThread(QString device, int baudRate, SampleList &store, LineState &line, CMutexLock &mutex,
                           ChartHistory &history, const std::atomic_bool &stop)
    : m_strDevice(std::move(device))
    , m_nBaudRate(baudRate)
    , m_store(store)
    , m_line(line)
    , m_mutex(mutex)
    , m_history(history)
    , m_bStop(stop)
    , m_beginDecision(m_begin.get_future())
{
    setObjectName(QStringLiteral("line-reader")); // the thread's name where the system shows it
}

ReaderThread::~ReaderThread()
{
    if (!m_bBeginDecided)
        m_begin.set_value(false);
    wait();
    // What the thread wrote (its futures among it) is ours to destroy now.
    m_bFinished.load(std::memory_order_acquire);
}

PortOpenResult ReaderThread::Open()
{
    std::future<PortOpenResult> outcome = m_opened.get_future();
    start(QThread::NormalPriority);
    return outcome.get();
}

void ReaderThread::BeginReading()
{
    if (m_bBeginDecided)
        return;
    m_bBeginDecided = true;
    m_begin.set_value(true);
}

void ReaderThread::run()
{
    // QThread::wait() orders the thread's end before the waiter by locks that
    // a race detector cannot see; this flag, set last, says it plainly.
    struct Finished
    {
        std::atomic_bool &flag;
        ~Finished() { flag.store(true, std::memory_order_release); }
    } finished {m_bFinished};
    QSerialPort port(m_strDevice);
    const PortOpenResult result = OpenAndSetUp(port, true, &m_strOpenFailure);
    m_opened.set_value(result); // publishes the failure's text with it
    if (result != PortOpenResult::Opened || !m_beginDecision.get())
        return; // the port's destructor closes it
    ReadUntilStopped(port);
}

PortOpenResult ReaderThread::OpenAndSetUp(QSerialPort &port, bool dropWaitingBytes, QString *why) const
{
    // The program only listens, but it opens the line for reading and writing
    // and alone: nobody else may talk on it during a run, nor read a share of
    // the instrument's bytes. Looking for other openers after the open also
    // catches one that came in just before it.
    const auto failed = [&](const QString &reason) {
        if (why)
            *why = reason;
        return PortOpenResult::OpenFailed;
    };
    if (m_strDevice.isEmpty())
        return failed(QStringLiteral("Устройство порта не задано в настройках."));
    if (!port.open(QIODevice::ReadWrite)) {
        switch (port.error()) {
        case QSerialPort::PermissionError:
#ifdef Q_OS_WIN
            return failed(QStringLiteral("%1: порт занят или нет прав на доступ к нему.").arg(m_strDevice));
#else
            // Qt says the same when another program holds the line.
            if (::access(QFile::encodeName(m_strDevice).constData(), R_OK | W_OK) == 0)
                return failed(QStringLiteral("%1: устройство занято другой программой.").arg(m_strDevice));
            return failed(QStringLiteral("%1: нет прав на доступ к устройству. Пользователь должен входить в группу "
                                         "dialout (sudo usermod -aG dialout ИМЯ, затем войти в систему заново).")
                              .arg(m_strDevice));
#endif
        case QSerialPort::DeviceNotFoundError:
            return failed(QStringLiteral("%1: устройство не найдено (прибор не подключён?).").arg(m_strDevice));
        default:
            return failed(QStringLiteral("%1: %2").arg(m_strDevice, port.errorString()));
        }
    }
    if (!ClaimLine(port.handle()) || OtherProcessHoldsDevice(m_strDevice))
        return failed(QStringLiteral("%1: устройство занято другой программой.").arg(m_strDevice));
    if (m_nBaudRate <= 0)
        return PortOpenResult::RateInvalid;
    if (!port.setBaudRate(m_nBaudRate) || !port.setDataBits(QSerialPort::Data8)
        || !port.setParity(QSerialPort::NoParity) || !port.setStopBits(QSerialPort::OneStop)
        || !port.setFlowControl(QSerialPort::NoFlowControl))
        return PortOpenResult::StateRejected;
    // Bytes that were waiting before the run never reach the decoder.
    if (dropWaitingBytes)
        port.clear(QSerialPort::AllDirections);
    return PortOpenResult::Opened;
}

void ReaderThread::ReadUntilStopped(QSerialPort &port)
{
    FrameDecoder decoder;
    PendingReadings pending;
    std::array<char, 16384> bytes;
    qint64 bytesRead = 0;
    qint64 frames = 0;
    m_seen = LineState {};
    m_seen.reading = true;
    m_seen.runStartMs = LineClockMs();
    m_bSeenChanged = true;
    // A frame is "#" and eight digits; a frame still open may yet complete,
    // so its bytes count only once it cannot any more.
    const auto countNonFrameBytes = [&] {
        const qint64 nonFrameBytes = bytesRead - 9 * frames - decoder.OpenFrameBytes();
        m_bSeenChanged |= nonFrameBytes != m_seen.nonFrameBytes;
        m_seen.nonFrameBytes = nonFrameBytes;
    };
    qint64 previousReadUs = UtcMicroseconds();
    // `spread`: the bytes gathered since the previous read, stamped evenly over that time.
    const auto readAndDecode = [&](bool spread) {
        const qint64 count = port.read(bytes.data(), static_cast<qint64>(bytes.size()));
        const qint64 readUs = UtcMicroseconds();
        const qint64 sinceUs = std::max<qint64>(readUs - previousReadUs, 1);
        previousReadUs = readUs;
        if (count <= 0)
            return std::pair<qint64, qint64> {count, sinceUs};
        qint64 newFrames = 0;
        for (qint64 i = 0; i < count; ++i) {
            const auto byte = static_cast<unsigned char>(bytes[static_cast<size_t>(i)]);
            if (spread && byte == '#')
                decoder.SetArrival((readUs - sinceUs + sinceUs * (i + 1) / count) / 1000);
            if (decoder.Feed(byte)) {
                pending.Push(decoder.Reading());
                ++newFrames;
            }
        }
        bytesRead += count;
        frames += newFrames;
        if (newFrames > 0) {
            m_seen.lastFrameMs = LineClockMs();
            m_bSeenChanged = true;
        }
        countNonFrameBytes();
        return std::pair<qint64, qint64> {count, sinceUs};
    };

    // Microseconds one byte takes on the line (a start bit, eight, a stop bit).
    const double byteUs = 10e6 / std::max(m_nBaudRate, 1);
    bool previousReadSmall = false;
    bool lineFull = false;
    while (!m_bStop.load()) {
        HandOver(pending, false);
        // After a full line's gather, what waits in the driver is taken
        // without waiting: those bytes came during the gather, not at the read.
        const bool gathered = lineFull && (port.bytesAvailable() > 0 || port.waitForReadyRead(0));
        if (!gathered && port.bytesAvailable() == 0 && !WaitForBytes(port, pending.IsEmpty() && !m_bSeenChanged)) {
            const QSerialPort::SerialPortError error = port.error();
            if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError)
                continue; // a silent line
            // The device is gone or failing (a pulled USB adapter, a hung-up
            // pseudo-terminal): reads would fail at once from now on. A frame
            // cut by the loss is no frame: its bytes count as noise now.
            decoder = FrameDecoder();
            countNonFrameBytes();
            lineFull = false;
            if (!Reconnect(port, pending))
                break;
            continue;
        }
        const auto [count, sinceUs] = readAndDecode(gathered);
        // Judged over at least a trickle's gather: a read just after another
        // (a frame that was waiting at the start) says nothing of the line's rate.
        lineFull = count > 0 && count < kFullLineMostBytes && sinceUs >= qint64(kTrickleGatherUs)
            && static_cast<double>(count) * byteUs >= kFullLineShare * static_cast<double>(sinceUs);
        const bool smallRead = count > 0 && count < kTrickleBytes;
        if (lineFull) {
            HandOver(pending, false);
            m_wait.Sleep(kFullLineGatherUs);
        } else if (smallRead && previousReadSmall) {
            HandOver(pending, false);
            m_wait.Sleep(kTrickleGatherUs);
        }
        previousReadSmall = smallRead;
    }
    if (port.isOpen()) {
        // Frames that had arrived whole when the stop came belong to the run too.
        port.waitForReadyRead(0);
        readAndDecode(false);
        port.close();
    }
    // A frame still open at the stop will never complete.
    decoder = FrameDecoder();
    countNonFrameBytes();
    // The line is no longer read, so the last readings may wait for the lock:
    // no reading of the run is dropped.
    m_seen.reading = false;
    m_seen.deviceGone = false;
    m_bSeenChanged = true;
    HandOver(pending, true);
}

bool ReaderThread::Reconnect(QSerialPort &port, PendingReadings &pending)
{
    port.close();
    m_seen.deviceGone = true;
    m_bSeenChanged = true;
    HandOver(pending, true); // the readings from before the loss, and the loss itself
    int waitMs = 0;
    while (WaitUnlessStopped(waitMs)) {
        port.clearError();
        if (OpenAndSetUp(port, false) == PortOpenResult::Opened) {
            m_seen.deviceGone = false;
            m_bSeenChanged = true;
            HandOver(pending, true);
            return true;
        }
        port.close();
        waitMs = waitMs == 0 ? kFirstReconnectWaitMs : std::min(2 * waitMs, kReconnectPeriodMs);
    }
    return false;
}

bool ReaderThread::WaitUnlessStopped(int ms)
{
#ifndef Q_OS_WIN
    if (!m_bStop.load())
        m_wait.Wait(-1, ms); // a stop wakes it
#else
    for (int waited = 0; waited < ms && !m_bStop.load(); waited += kStopCheckMs)
        QThread::msleep(static_cast<unsigned long>(std::min(kStopCheckMs, ms - waited)));
#endif
    return !m_bStop.load();
}

bool ReaderThread::WaitForBytes(QSerialPort &port, bool nothingToHandOver)
{
    const int timeoutMs = nothingToHandOver ? kReadTimeoutMs : kHandOverRetryMs;
#ifndef Q_OS_WIN
    if (m_wait.Wait(static_cast<int>(port.handle()), timeoutMs) != LineWait::Outcome::Readable)
        return false;
    if (port.waitForReadyRead(0))
        return true;
    // Readable, yet nothing came and no error was seen: not worth spinning on.
    if (port.error() == QSerialPort::NoError || port.error() == QSerialPort::TimeoutError)
        m_wait.Sleep(kTrickleGatherUs);
    return false;
#else
    return port.waitForReadyRead(timeoutMs);
#endif
}

void ReaderThread::Wake()
{
    m_wait.Wake();
}

void ReaderThread::HandOver(PendingReadings &pending, bool wait)
{
    if (pending.IsEmpty() && !m_bSeenChanged)
        return;
    if (wait)
        m_mutex.Lock();
    else if (!m_mutex.TryLock())
        return;
    // Without waiting, a bounded share each time: a backlog drains over the
    // next reads, and neither the line nor the user interface waits for all of
    // it at once.
    pending.MoveInto(m_store, &m_history, wait ? pending.Count() : kHandOverShare);
    m_line = m_seen;
    m_bSeenChanged = false;
    m_mutex.Unlock();
}
