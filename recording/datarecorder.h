#pragma once

#include "localtime.h"

#include <QString>

#include <optional>

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
    // Its instant, or 0 where it is not known.
    std::int64_t ReferenceUtcMs() const { return m_nRefUtcMs; }
    void SetReferenceTime(const SYSTEMTIME &reference, std::int64_t utcMs = 0)
    {
        m_stRefTime = reference;
        m_nRefUtcMs = utcMs;
    }
    void SetReferenceTimeToNow();

    // The name of the next data file. While numbers last it is the next one
    // ("0000" to "9999"), used up now whatever becomes of the file; after that
    // the operator is asked for a name, in a prompt that starts empty each time
    // (a name kept from the last prompt would overwrite that file, whose
    // readings count as saved). No name: the operator cancelled.
    std::optional<QString> TakeFileName();

    // Writes the readings newer than the save mark (all of them while the mark
    // is null: nothing of the run is saved yet) into the named file of the
    // run's folder, then moves the mark to the newest reading. The caller
    // holds the store's lock. False when the file cannot be opened, written or
    // made durable (an empty name cannot be opened): the mark then stays, so
    // the next save offers the same readings again. Either way the reference
    // time moves to now, the origin of the next file.
    bool WriteData(const QString &name, const SampleList &store, const TempSample *&saveMark);

    // One whole save for a caller that holds the store's lock throughout: an
    // empty store saves nothing and leaves the timer alone; otherwise the
    // saving timer is stopped while the save works and armed again with the
    // saving interval (read now) before it returns. A cancelled name prompt
    // saves nothing and returns true.
    bool SaveData(SampleList &store, const TempSample *&saveMark, QTimer &savingTimer, int savingIntervalSeconds);

private:
    bool WriteDataFile(const QString &path, const SampleList &store, const TempSample *saveMark) const;

    MessageSeam &m_prompts;
    QWidget *m_pPromptParent;
    QString m_strFolder;
    int m_nFileCounter = 0;
    SYSTEMTIME m_stRefTime {};
    std::int64_t m_nRefUtcMs = 0;
};
