#pragma once

#include "localtime.h"

#include <QString>

class MessageSeam;
class QTimer;
class QWidget;
class SampleList;
struct TempSample;

// The saving timer's period for a saving interval in seconds: at least one
// second, however small the interval, so that a run never saves continuously
// and uses up its 10 000 file numbers in minutes.
int SavingPeriodMs(int intervalSeconds);

// Writes a run's readings into numbered data files "0000" to "9999" of its
// record folder (and, once those are used up, into files whose names the
// operator types). The folder is the absolute path that Start entered, so the
// run keeps writing there wherever the working directory goes meanwhile.
class DataRecorder
{
public:
    explicit DataRecorder(MessageSeam &prompts, QWidget *promptParent = nullptr);

    QString Folder() const { return m_strFolder; }
    void SetFolder(const QString &absoluteFolder) { m_strFolder = absoluteFolder; }

    // The number of the next data file.
    int FileCounter() const { return m_nFileCounter; }
    void SetFileCounter(int counter) { m_nFileCounter = counter; }

    // The time origin of the next data file; its milliseconds are 0.
    SYSTEMTIME ReferenceTime() const { return m_stRefTime; }
    void SetReferenceTime(const SYSTEMTIME &reference) { m_stRefTime = reference; }
    void SetReferenceTimeToNow();

    // Appends the readings newer than the save mark (all of them while the
    // mark is null: nothing of the run is saved yet) to the next data file,
    // then moves the mark to the newest reading. The caller holds the store's
    // lock. An empty store saves nothing and leaves the timer alone; otherwise
    // the saving timer is stopped while the save works and armed again with
    // the saving interval (read now) before it returns.
    // False when the file cannot be opened, written or made durable: the mark
    // then stays, so the next save offers the same readings again. A cancelled
    // name prompt saves nothing and returns true.
    bool SaveData(SampleList &store, const TempSample *&saveMark, QTimer &savingTimer, int savingIntervalSeconds);

private:
    bool WriteDataFile(const QString &path, const SampleList &store, const TempSample *saveMark) const;

    MessageSeam &m_prompts;
    QWidget *m_pPromptParent;
    QString m_strFolder;
    int m_nFileCounter = 0;
    SYSTEMTIME m_stRefTime {};
    QString m_strTypedName; // the prompt shows the name typed last
};
