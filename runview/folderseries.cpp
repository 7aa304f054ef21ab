#include "folderseries.h"

#include "nativefs.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
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
}
