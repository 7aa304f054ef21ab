#include "archivedrunfolder.h"

#include "commentfile.h"
#include "datafileformat.h"
#include "eventlog.h"
#include "localtimeline.h"

#include <QDir>
#include <QFile>

#include <ctime>

namespace archivedrunfolder {

namespace {

SYSTEMTIME LocalTimeOf(qint64 utcMs)
{
    const std::time_t seconds = std::time_t(utcMs / 1000);
    std::tm local {};
    localtime_r(&seconds, &local);
    SYSTEMTIME st {};
    st.wYear = std::uint16_t(local.tm_year + 1900);
    st.wMonth = std::uint16_t(local.tm_mon + 1);
    st.wDayOfWeek = std::uint16_t(local.tm_wday);
    st.wDay = std::uint16_t(local.tm_mday);
    st.wHour = std::uint16_t(local.tm_hour);
    st.wMinute = std::uint16_t(local.tm_min);
    st.wSecond = std::uint16_t(local.tm_sec);
    return st;
}

// The data files one after the other, each begun at the reading that no
// longer fits the one before.
class DataFiles
{
public:
    explicit DataFiles(const QString &folder)
        : m_strFolder(folder)
    {
    }

    bool Take(qint64 utcMs, double celsius, QString *error)
    {
        const bool fits = m_file.isOpen() && utcMs >= m_nReferenceMs && utcMs - m_nReferenceMs < kFileSeconds * 1000;
        if (!fits && (m_nNext <= 9999 || !m_file.isOpen()) && !Begin(utcMs, error))
            return false;
        m_block += DataFileLine(double(utcMs - m_nReferenceMs) / 1000.0, celsius);
        return m_block.size() < (1 << 20) || Spill(error);
    }
    bool Finish(QString *error) { return !m_file.isOpen() || (Spill(error) && Close(error)); }

private:
    bool Begin(qint64 utcMs, QString *error)
    {
        if (m_file.isOpen() && (!Spill(error) || !Close(error)))
            return false;
        m_nReferenceMs = utcMs - ((utcMs % 1000) + 1000) % 1000; // its whole second
        m_file.setFileName(QDir(m_strFolder).filePath(QStringLiteral("%1").arg(m_nNext++, 4, 10, QLatin1Char('0'))));
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            *error = m_file.errorString();
            return false;
        }
        m_block = DataFileHeader(LocalTimeOf(m_nReferenceMs));
        return true;
    }
    bool Spill(QString *error)
    {
        if (m_file.write(m_block) != m_block.size()) {
            *error = m_file.errorString();
            return false;
        }
        m_block.clear();
        return true;
    }
    bool Close(QString *error)
    {
        m_file.close();
        if (m_file.error() != QFileDevice::NoError) {
            *error = m_file.errorString();
            return false;
        }
        return true;
    }

    QString m_strFolder;
    QFile m_file;
    QByteArray m_block;
    qint64 m_nReferenceMs = 0;
    int m_nNext = 0;
};

bool WriteEvents(RunCatalog &catalog, const RunCatalog::Run &run, const QString &folder, QString *error)
{
    const QList<FolderEvent> events = catalog.Events(run.station, run.run, error);
    if (events.isEmpty())
        return true;
    LocalTimeLine timeLine;
    QByteArray bytes = EventLog::kHeader;
    for (const FolderEvent &event : events)
        bytes += EventLog::Line({event.utcMs, event.event, std::nullopt, event.text, event.user}, timeLine);
    QFile file(QDir(folder).filePath(QString::fromLatin1(EventLog::kFileName)));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace

bool Write(RunCatalog &catalog, const RunCatalog::Run &run, const QString &folder,
           const std::function<bool(qint64 done)> &progress, QString *error)
{
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("%1 cannot be made").arg(folder);
        return false;
    }
    if (!WriteCommentFile(folder, run.comment)) {
        *error = QStringLiteral("%1 cannot be written").arg(folder);
        return false;
    }
    std::unique_ptr<RunCatalog::Cursor> cursor = catalog.OpenReadings(run.station, run.run, error);
    if (!cursor)
        return false;
    DataFiles files(folder);
    qint64 done = 0;
    for (;;) {
        error->clear();
        const std::vector<RunCatalog::Reading> page = cursor->Next(kReadingsPerPage, error);
        if (page.empty()) {
            if (!error->isEmpty())
                return false;
            break;
        }
        for (const RunCatalog::Reading &reading : page) {
            bool number = false;
            const double celsius = reading.temperature.toDouble(&number);
            if (number && !files.Take(reading.utcMs, celsius, error))
                return false;
        }
        done += qint64(page.size());
        if (progress && !progress(done))
            return false;
    }
    return files.Finish(error) && WriteEvents(catalog, run, folder, error);
}

} // namespace archivedrunfolder
