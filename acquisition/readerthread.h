#pragma once

#include "tempsample.h"

#include <QThread>

#include <atomic>
#include <future>

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
// interface.
class ReaderThread : public QThread
{
    Q_OBJECT

public:
    ReaderThread(QString device, int baudRate, SampleList &store, CMutexLock &mutex, const std::atomic_bool &stop);
    // Lets an opened port that was never read go, then waits for the thread.
    ~ReaderThread() override;

    // Starts the thread, which opens and sets up the port; returns how that went.
    PortOpenResult Open();
    // Lets the thread read the port it opened.
    void BeginReading();

protected:
    void run() override;

private:
    PortOpenResult OpenAndSetUp(QSerialPort &port) const;
    void ReadUntilStopped(QSerialPort &port);
    // Moves pending readings into the shared store, oldest first: all of them
    // when it waits for the lock; without wait a share of them, and none when
    // the lock is taken at that instant.
    void HandOver(PendingReadings &pending, bool wait);

    const QString m_strDevice;
    const int m_nBaudRate;
    SampleList &m_store;
    CMutexLock &m_mutex;
    const std::atomic_bool &m_bStop;

    std::promise<PortOpenResult> m_opened;
    std::promise<bool> m_begin; // true: read the port; false: close it unread
    std::future<bool> m_beginDecision;
    bool m_bBeginDecided = false;
};
