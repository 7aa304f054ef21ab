#include "comreader.h"

#include "messageseam.h"
#include "readerthread.h"

#include <QDeadlineTimer>

#ifdef __GLIBC__
#  include <malloc.h>
#endif

CComReader::CComReader(MessageSeam &messages)
    : m_messages(messages)
{
}

CComReader::~CComReader()
{
    EndThread();
}

void CComReader::SetLine(int nPort, int nBaudRate, const QString &strDevice)
{
    m_nPort = nPort;
    m_nBaudRate = nBaudRate;
    m_strDevice = strDevice;
}

void CComReader::ClearSamples()
{
    Lock();
    m_samples.Clear();
    m_history.Clear();
    Unlock();
#ifdef __GLIBC__
    // The C library keeps freed memory for later unless asked: after a flood
    // the readings of a long run would stay resident until the program ends.
    ::malloc_trim(0);
#endif
}

bool CComReader::OpenPort()
{
    EndThread(); // a thread of an earlier run is gone by now; make sure of it

    Lock();
    m_line = LineState {};
    m_history.Clear();
    Unlock();
    auto thread = std::make_unique<ReaderThread>(m_strDevice, m_nBaudRate, m_samples, m_line, m_mutex, m_history,
                                                 m_bStop);
    const PortOpenResult result = thread->Open();
    if (result == PortOpenResult::Opened) {
        m_pThread = std::move(thread);
        return true;
    }
    QString text = QStringLiteral("Не удалось открыть порт!");
    if (result == PortOpenResult::OpenFailed && !thread->OpenFailure().isEmpty())
        text += QLatin1Char('\n') + thread->OpenFailure();
    thread.reset(); // the port is closed before the message is shown

    if (result == PortOpenResult::RateInvalid)
        text = QStringLiteral("Error! Can't create DCB structure");
    else if (result == PortOpenResult::StateRejected)
        text = QStringLiteral("Error! Can't set com port state");
    m_messages.Show(ErrorMessage(text, QString())); // no caption: a blank title bar
    return false;
}

void CComReader::StartReading()
{
    if (!m_pThread)
        return;
    m_bStop = false;
    m_pThread->BeginReading();
}

void CComReader::RequestStop()
{
    m_bStop = true;
    if (m_pThread)
        m_pThread->Wake();
}

bool CComReader::WaitForStop(int timeoutMs)
{
    if (!m_pThread)
        return true;
    if (!m_pThread->wait(QDeadlineTimer(timeoutMs)))
        return false;
    m_pThread.reset();
    return true;
}

bool CComReader::IsReading() const
{
    return m_pThread && !m_pThread->isFinished();
}

void CComReader::EndThread()
{
    RequestStop();
    m_pThread.reset(); // waits for the thread; an opened port never read is let go
}
