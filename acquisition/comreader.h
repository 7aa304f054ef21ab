#pragma once

#include "charthistory.h"
#include "linestate.h"
#include "mutexlock.h"
#include "samplelist.h"

#include <QString>

#include <atomic>
#include <memory>

class MessageSeam;
class ReaderThread;

// The acquisition object of the main dialog: the serial line of a run, its
// reader thread, the stop flag and the shared store with its lock. The reader
// thread and the user-interface thread share only the store (under the lock)
// and the stop flag.
class CComReader
{
public:
    explicit CComReader(MessageSeam &messages);
    // Ends a run still going (stop request, wait for the thread) before the
    // store goes away.
    ~CComReader();

    CComReader(const CComReader &) = delete;
    CComReader &operator=(const CComReader &) = delete;

    // The line of the next run, copied from the settings at Start: the port
    // number (1 or 2), the rate in bits per second and the device that the port
    // number stands for ("COM1"/"COM2" on Windows, a settings value elsewhere).
    void SetLine(int nPort, int nBaudRate, const QString &strDevice);
    int Port() const { return m_nPort; }
    int BaudRate() const { return m_nBaudRate; }
    QString Device() const { return m_strDevice; }

    // The store's lock; the user-interface thread waits for it without limit.
    void Lock() { m_mutex.Lock(); }
    void Unlock() { m_mutex.Unlock(); }
    void ClearSamples();
    // Use only while holding the lock.
    SampleList &Samples() { return m_samples; }
    const LineState &Line() const { return m_line; }
    ChartHistory &History() { return m_history; }

    // Opens and sets up the line. On failure the reason has been shown through
    // the message seam, nothing stays open, and the result is false.
    bool OpenPort();
    // Starts reading the line that OpenPort opened.
    void StartReading();
    // Asks the reader thread to end; it does so within about 500 ms.
    void RequestStop();
    // Waits at most timeoutMs for the reader thread to end, after its last
    // hand-over. True when no reader thread runs any more.
    bool WaitForStop(int timeoutMs);
    bool IsReading() const;

private:
    void EndThread();

    MessageSeam &m_messages;
    CMutexLock m_mutex;
    int m_nBaudRate = 0;
    int m_nPort = 0;
    QString m_strDevice;
    std::atomic_bool m_bStop {false};
    std::unique_ptr<ReaderThread> m_pThread;
    SampleList m_samples;
    LineState m_line; // under the store's lock, like the store
    ChartHistory m_history;
};
