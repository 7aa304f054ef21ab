#pragma once

#include "linestate.h"
#include "linewait.h"
#include "tempsample.h"

#include <QThread>

#include <atomic>
#include <future>

class ChartHistory;
class CMutexLock;
class PendingReadings;
class QSerialPort;
class SampleList;

// How opening and setting up the serial port ended.
enum class PortOpenResult {
    Opened,
    OpenFailed,    // missing device, or held by another program
    RateInvalid,   // the rate is not a positive integer
    StateRejected, // the device refused the rate or the line settings
};

// The thread of one run. A QSerialPort lives in one thread, so this thread
// creates, opens, reads and closes the port; the user-interface thread waits
// for the outcome of the open. Once told to begin, it decodes frames into a
// private buffer and hands them to the shared store whenever the store's lock
// is free at that instant, so the serial line never waits for the user
// interface. A device that goes away during the run (a pulled adapter) is
// opened again by the same path about once a second until it is back, and the
// run goes on.
class ReaderThread : public QThread
{
    Q_OBJECT

public:
    ReaderThread(QString device, int baudRate, SampleList &store, LineState &line, CMutexLock &mutex,
                 ChartHistory &history, const std::atomic_bool &stop);
    // Lets an opened port that was never read go, then waits for the thread.
    ~ReaderThread() override;

    // Starts the thread, which opens and sets up the port; returns how that went.
    PortOpenResult Open();
    // After a failed Open: the device and the system's reason, for the operator.
    QString OpenFailure() const { return m_strOpenFailure; }
    // Lets the thread read the port it opened.
    void BeginReading();
    // Any thread, after setting the stop flag: the thread sees it at once
    // rather than at the end of its wait.
    void Wake();

protected:
    void run() override;

private:
    // At the run's start the bytes already waiting are dropped; after a
    // reconnect they are kept, as they were sent while the line was up.
    PortOpenResult OpenAndSetUp(QSerialPort &port, bool dropWaitingBytes, QString *why = nullptr) const;
    void ReadUntilStopped(QSerialPort &port);
    // Closes a device that has gone and opens its path again about once a
    // second with the same settings. False when the stop came first.
    bool Reconnect(QSerialPort &port, PendingReadings &pending);
    // Sleeps for up to ms unless stopped; false once the stop flag is set.
    bool WaitUnlessStopped(int ms);
    // Waits for bytes on the line: true when the port has some to read; false
    // when the wait ended without (a silent line, a wake, or the port's error).
    // With something to hand over the wait is short, so that it is offered again soon.
    bool WaitForBytes(QSerialPort &port, bool nothingToHandOver);
    // Moves pending readings into the shared store, oldest first, and
    // publishes the line's state: all of them when it waits for the lock;
    // without wait a share of them, and nothing when the lock is taken at that
    // instant.
    void HandOver(PendingReadings &pending, bool wait);

    const QString m_strDevice;
    const int m_nBaudRate;
    SampleList &m_store;
    LineState &m_line;
    CMutexLock &m_mutex;
    ChartHistory &m_history;
    const std::atomic_bool &m_bStop;

    std::promise<PortOpenResult> m_opened;
    QString m_strOpenFailure; // which device and why, written before m_opened is set
    std::promise<bool> m_begin; // true: read the port; false: close it unread
    std::future<bool> m_beginDecision;
    bool m_bBeginDecided = false;

    LineWait m_wait;
    std::atomic_bool m_bFinished {false}; // the last thing the thread sets
    LineState m_seen; // the line as this thread sees it, published at hand-overs
    bool m_bSeenChanged = false;
};
