#include "readerthread.h"

#include "exclusiveline.h"
#include "framedecoder.h"
#include "mutexlock.h"
#include "pendingreadings.h"
#include "samplelist.h"

#include <QSerialPort>

#include <array>

namespace {

// A read waits this long for a byte before it counts as silent; it also bounds
// how long a stop request waits to be seen.
constexpr int kReadTimeoutMs = 500;

// A read that finds only a few bytes means the line trickles (a real serial
// line brings at most 11 520 bytes a second): the thread lets it gather for a
// moment before it waits again, so that it wakes once for several frames
// instead of once per frame. Stamps come at most this much later.
constexpr unsigned long kTrickleGatherUs = 2000;
constexpr qint64 kTrickleBytes = 128;

// At most this many readings go into the store per hand-over that did not
// wait for the lock: well above what one read brings (16 KiB, 1 820 frames),
// and copied in some tens of microseconds.
constexpr qsizetype kHandOverShare = 8192;

} // namespace

ReaderThread::ReaderThread(QString device, int baudRate, SampleList &store, CMutexLock &mutex,
                           const std::atomic_bool &stop)
    : m_strDevice(std::move(device))
    , m_nBaudRate(baudRate)
    , m_store(store)
    , m_mutex(mutex)
    , m_bStop(stop)
    , m_beginDecision(m_begin.get_future())
{
}

ReaderThread::~ReaderThread()
{
    if (!m_bBeginDecided)
        m_begin.set_value(false);
    wait();
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
    QSerialPort port(m_strDevice);
    const PortOpenResult result = OpenAndSetUp(port);
    m_opened.set_value(result);
    if (result != PortOpenResult::Opened || !m_beginDecision.get())
        return; // the port's destructor closes it
    ReadUntilStopped(port);
}

PortOpenResult ReaderThread::OpenAndSetUp(QSerialPort &port) const
{
    // The program only listens, but it opens the line for reading and writing
    // and alone: nobody else may talk on it during a run, nor read a share of
    // the instrument's bytes. Looking for other openers after the open also
    // catches one that came in just before it.
    if (m_strDevice.isEmpty() || !port.open(QIODevice::ReadWrite))
        return PortOpenResult::OpenFailed;
    if (!ClaimLine(port.handle()) || OtherProcessHoldsDevice(m_strDevice))
        return PortOpenResult::OpenFailed;
    if (m_nBaudRate <= 0)
        return PortOpenResult::RateInvalid;
    if (!port.setBaudRate(m_nBaudRate) || !port.setDataBits(QSerialPort::Data8)
        || !port.setParity(QSerialPort::NoParity) || !port.setStopBits(QSerialPort::OneStop)
        || !port.setFlowControl(QSerialPort::NoFlowControl))
        return PortOpenResult::StateRejected;
    // Bytes that were waiting before the run never reach the decoder.
    port.clear(QSerialPort::AllDirections);
    return PortOpenResult::Opened;
}

void ReaderThread::ReadUntilStopped(QSerialPort &port)
{
    FrameDecoder decoder;
    PendingReadings pending;
    std::array<char, 16384> bytes;
    const auto readAndDecode = [&] {
        const qint64 count = port.read(bytes.data(), static_cast<qint64>(bytes.size()));
        for (qint64 i = 0; i < count; ++i) {
            if (decoder.Feed(static_cast<unsigned char>(bytes[static_cast<size_t>(i)])))
                pending.Push(decoder.Reading());
        }
        return count;
    };

    bool previousReadSmall = false;
    while (!m_bStop.load()) {
        if (!pending.IsEmpty())
            HandOver(pending, false);
        if (port.bytesAvailable() == 0 && !port.waitForReadyRead(kReadTimeoutMs)) {
            const QSerialPort::SerialPortError error = port.error();
            if (error != QSerialPort::NoError && error != QSerialPort::TimeoutError) {
                // The device is gone or failing (a pulled USB adapter, a hung-up
                // pseudo-terminal): such a read fails at once, so wait as a
                // silent read would instead of spinning, then try again.
                port.clearError();
                QThread::msleep(kReadTimeoutMs);
            }
            continue;
        }
        const qint64 count = readAndDecode();
        const bool smallRead = count > 0 && count < kTrickleBytes;
        if (smallRead && previousReadSmall) {
            HandOver(pending, false);
            QThread::usleep(kTrickleGatherUs);
        }
        previousReadSmall = smallRead;
    }
    // Frames that had arrived whole when the stop came belong to the run too.
    port.waitForReadyRead(0);
    readAndDecode();
    // The line is no longer read, so the last readings may wait for the lock:
    // no reading of the run is dropped.
    port.close();
    HandOver(pending, true);
}

void ReaderThread::HandOver(PendingReadings &pending, bool wait)
{
    if (pending.IsEmpty())
        return;
    if (wait) {
        m_mutex.Lock();
        pending.MoveInto(m_store, pending.Count());
        m_mutex.Unlock();
        return;
    }
    if (!m_mutex.TryLock())
        return;
    // A bounded share each time: a backlog drains over the next reads, and
    // neither the line nor the user interface waits for all of it at once.
    pending.MoveInto(m_store, kHandOverShare);
    m_mutex.Unlock();
}
