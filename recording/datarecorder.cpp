#include "datarecorder.h"

#include "datafileformat.h"
#include "filenamedlg.h"
#include "messageseam.h"
#include "nativefs.h"
#include "samplelist.h"
#include "wholelinefile.h"

#include <QDir>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace {

constexpr int kLastNumberedFile = 9999;

} // namespace

int SavingPeriodMs(int intervalSeconds)
{
    const qint64 period = static_cast<qint64>(intervalSeconds) * 1000;
    return static_cast<int>(std::clamp<qint64>(period, 1000, std::numeric_limits<int>::max()));
}

DataRecorder::DataRecorder(MessageSeam &prompts, QWidget *promptParent)
    : m_prompts(prompts)
    , m_pPromptParent(promptParent)
{
}

void DataRecorder::SetReferenceTimeToNow()
{
    m_stRefTime = LocalClock().Now(&m_nRefUtcMs);
    m_nRefUtcMs -= m_stRefTime.wMilliseconds;
    m_stRefTime.wMilliseconds = 0;
}

std::optional<QString> DataRecorder::TakeFileName()
{
    if (m_nFileCounter <= kLastNumberedFile)
        return QStringLiteral("%1").arg(m_nFileCounter++, 4, 10, QLatin1Char('0'));
    CFileNameDlg prompt(m_pPromptParent);
    if (m_prompts.Exec(prompt) != QDialog::Accepted)
        return std::nullopt;
    return prompt.m_strFileName;
}

bool DataRecorder::WriteData(const QString &name, const SampleList &store, const TempSample *&saveMark)
{
    const bool saved = !name.isEmpty() && WriteDataFile(QDir(m_strFolder).filePath(name), store, saveMark);
    if (saved)
        saveMark = store.GetAt(0);
    SetReferenceTimeToNow();
    return saved;
}

bool DataRecorder::SaveData(SampleList &store, const TempSample *&saveMark, QTimer &savingTimer,
                            int savingIntervalSeconds)
{
    if (store.GetCount() == 0)
        return true;
    savingTimer.stop();
    const std::optional<QString> name = TakeFileName();
    const bool saved = !name || WriteData(*name, store, saveMark); // cancelled: the readings wait for the next save
    savingTimer.start(SavingPeriodMs(savingIntervalSeconds));
    return saved;
}

bool DataRecorder::WriteDataFile(const QString &path, const SampleList &store, const TempSample *saveMark) const
{
    QFile file;
    // Unbuffered: the writer hands over large blocks of whole lines itself.
    if (!OpenNamedFile(file, path, QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return false;

    const int count = store.GetCount();
    int unsaved = 0; // readings newer than the mark
    while (unsaved < count && store.GetAt(unsaved) != saveMark)
        ++unsaved;
    WholeLineFile lines(file, path);
    if (unsaved > 0) {
        if (!lines.Append(DataFileHeader(m_stRefTime)))
            return false;
        OffsetClock offsets(m_stRefTime, m_nRefUtcMs);
        for (int i = unsaved - 1; i >= 0; --i) {
            const TempSample &reading = *store.GetAt(i);
            char *const line = lines.Reserve(kMaxDataFileLine);
            const char *const end = WriteDataFileLine(line, offsets.SecondsTo(reading.time, reading.utcMs), reading.temperature);
            if (!lines.Commit(end - line))
                return false;
        }
    }
    return lines.Finish();
}
