#include "folderseries.h"

#include "nativefs.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <limits>
#include <cerrno>
#include <cstring>

FolderSeries::FolderSeries(QString folder)
    : m_strFolder(std::move(folder))
    , m_reader(m_strFolder)
{
}

bool FolderSeries::ReadNew(QString *error, const std::function<bool(int, int)> &progress)
{
    RecordFolder listing(m_strFolder);
    if (!listing.List(error))
        return false;
    QStringList fresh;
    for (const QString &name : listing.DataFiles())
        if (!m_read.contains(name))
            fresh << name;
    const auto take = [this](const FolderReading &reading) {
        m_series.Append(reading.utcMs, float(reading.celsius), reading.line);
        // The length measured by the readings themselves: a clock set back
        // counts as one usual interval, not as time gone backwards.
        if (m_nPreviousMs >= 0) {
            const qint64 interval = reading.utcMs - m_nPreviousMs;
            if (interval < -1000)
                m_bSteppedBack = true;
            if (interval >= 0) {
                m_nElapsedMs += interval;
                m_nIntervalMs = interval;
            } else {
                m_nElapsedMs += m_nIntervalMs;
            }
        }
        m_nPreviousMs = reading.utcMs;
    };
    for (int i = 0; i < fresh.size(); ++i) {
        // A file that cannot be opened now is tried again the next time.
        QFile file;
        if (OpenNamedFile(file, m_strFolder + QLatin1Char('/') + fresh[i], QIODevice::ReadOnly)) {
            m_read.insert(fresh[i], {file.size(), file.fileTime(QFileDevice::FileModificationTime)});
            m_series.BeginFile(fresh[i]);
            m_reader.ReadBytes(fresh[i], file.readAll(), m_timeLine, take);
        }
        if (progress && !progress(i + 1, int(fresh.size()))) {
            m_series.FindGaps();
            return false;
        }
    }
    m_series.FindGaps();
    return true;
}

bool FolderSeries::FilesChanged() const
{
    for (auto read = m_read.cbegin(); read != m_read.cend(); ++read) {
        QFile file;
        if (!OpenNamedFile(file, m_strFolder + QLatin1Char('/') + read.key(), QIODevice::ReadOnly)
            || file.size() != read->size || file.fileTime(QFileDevice::FileModificationTime) != read->modified)
            return true;
    }
    return false;
}

bool FolderSeries::SameFolder(const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    return !canonicalA.isEmpty() && canonicalA == QFileInfo(b).canonicalFilePath();
}

std::pair<qint64, qint64> FolderSeries::WholeSpan() const
{
    qint64 first = m_series.FirstMs(), last = m_series.LastMs();
    bool any = !m_series.IsEmpty();
    for (const FolderEvent &event : m_events) {
        first = any ? std::min(first, event.utcMs) : event.utcMs;
        last = any ? std::max(last, event.utcMs) : event.utcMs;
        any = true;
    }
    return {first, last};
}

void FolderSeries::ReadEvents()
{
    m_events = ReadFolderEvents(m_strFolder);
    // Each run's events run from its start to the next run's start; a run
    // none of whose readings is in the folder any more drops out.
    QList<qsizetype> starts;
    for (qsizetype i = 0; i < m_events.size(); ++i)
        if (m_events[i].event == QLatin1String("run-start"))
            starts.append(i);
    if (starts.isEmpty() || m_series.IsEmpty())
        return;
    QList<FolderEvent> kept;
    for (qsizetype r = 0; r < starts.size(); ++r) {
        const qsizetype from = starts[r];
        const qsizetype to = r + 1 < starts.size() ? starts[r + 1] : m_events.size();
        qint64 endMs = m_events[to - 1].utcMs;
        for (qsizetype i = from; i < to; ++i)
            endMs = std::max(endMs, m_events[i].utcMs);
        if (r + 1 < starts.size())
            endMs = std::max(endMs, m_events[to].utcMs - 1);
        else
            endMs = std::numeric_limits<qint64>::max() - 1; // the last run may still be recording
        const qint64 at = m_series.LowerBound(m_events[from].utcMs);
        if (at < m_series.Size() && m_series.TimeAt(at) <= endMs)
            kept.append(m_events.mid(from, to - from));
    }
    // Events before the first run's start belong to no run: they are left out.
    m_events = kept;
}
