#include "runjournal.h"

#include "comreader.h"
#include "durablefile.h"
#include "nativefs.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QLockFile>
#include <QSaveFile>

#include <algorithm>

namespace {

constexpr int kFlushPeriodMs = 1000;
// The pending readings of a flood are given back once durable: a second of
// the fastest line is far fewer.
constexpr size_t kKeptCapacity = 16384;

void Forget(std::vector<TempSample> &readings)
{
    readings.clear();
    if (readings.capacity() > kKeptCapacity)
        std::vector<TempSample>().swap(readings);
}

} // namespace

RunJournal::RunJournal(CComReader &reader, QString folder, QObject *parent)
    : QObject(parent)
    , m_reader(reader)
    , m_strFolder(std::move(folder))
{
    connect(&m_timer, &QTimer::timeout, this, &RunJournal::Flush);
}

RunJournal::~RunJournal()
{
    Close();
}

bool RunJournal::Begin(const JournalHeader &header)
{
    Close();
    QDir().mkpath(m_strFolder);
    m_strPath = QDir(m_strFolder).filePath(QStringLiteral("run-%1-%2.journal")
                                              .arg(QCoreApplication::applicationPid())
                                              .arg(QDateTime::currentMSecsSinceEpoch()));
    m_lock = std::make_unique<QLockFile>(m_strPath + QStringLiteral(".lock"));
    m_lock->setStaleLockTime(0); // a run may last days; only a gone program leaves a stale lock
    m_bFailureNoted = false;
    if (!m_lock->tryLock(0)) {
        qWarning("No journal for this run: %s cannot be written", qPrintable(QDir::toNativeSeparators(m_strFolder)));
        m_lock.reset();
        m_strPath.clear();
        NoteFailure();
        return false;
    }
    m_header = header;
    m_bHeaderChanged = false;
    m_nSavedTotal = 0;
    m_nJournaled = 0;
    m_nDurable = 0;
    m_nGoodSize = 0;
    m_pending.clear();
    m_bRewrite = true;
    m_timer.start(kFlushPeriodMs);
    return Flush();
}

void RunJournal::Saved(const JournalHeader &header)
{
    if (!IsOpen())
        return;
    m_reader.Lock();
    const qint64 total = m_reader.Samples().TotalAppended();
    m_reader.Unlock();
    m_header = header;
    m_nSavedTotal = total;
    m_nJournaled = total;
    Forget(m_pending);
    m_bRewrite = true; // written anew: the header alone, until new readings come
    if (Flush())
        return;
    // No room for a new file: the saved readings must still leave the
    // journal, or a recovery would write them a second time.
    if (!ForgetInPlace()) {
        m_file.close();
        RemoveFile(m_strPath);
        SyncFolder(m_strFolder);
        m_nGoodSize = 0;
    }
    m_nDurable = total;
}

void RunJournal::SaveFailed(const JournalHeader &header)
{
    if (!IsOpen())
        return;
    m_header = header;
    m_bHeaderChanged = true;
    Flush();
}

void RunJournal::Take(const FeedReadings &readings)
{
    if (!IsOpen())
        return;
    // Readings a save has written, or that the journal has already, are skipped.
    const qint64 skip = std::clamp<qint64>(m_nJournaled - readings.first, 0, qint64(readings.readings.size()));
    m_pending.insert(m_pending.end(), readings.readings.begin() + skip, readings.readings.end());
    m_nJournaled = std::max(m_nJournaled, readings.End());
}

bool RunJournal::Flush()
{
    if (!IsOpen())
        return false;
    const bool rewrite = m_bRewrite;
    const bool written = rewrite ? Rewrite() : Append();
    if (written) {
        Forget(m_pending);
        m_bHeaderChanged = false;
        m_nDurable = m_nJournaled;
        m_nGoodSize = m_file.size();
        m_bRewrite = false;
        return true;
    }
    // The readings stay pending for the next try: an append goes back to the
    // last whole record first, and a rewrite holds every unsaved reading.
    if (!rewrite)
        m_file.resize(m_nGoodSize);
    NoteFailure();
    return false;
}

void RunJournal::NoteFailure()
{
    if (!m_bFailureNoted) {
        m_bFailureNoted = true;
        emit Failing(m_strFolder);
    }
}

bool RunJournal::Rewrite()
{
    // A new file replaces the old one whole, so a failure leaves the old one.
    m_file.close();
    QSaveFile out(m_strPath);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = journalformat::FileStart() + journalformat::HeaderRecord(m_header)
        + journalformat::ReadingsRecords(m_pending);
    if (out.write(bytes) != bytes.size() || !SyncData(out) || !out.commit() || !SyncFolder(m_strFolder))
        return false;
    m_file.setFileName(m_strPath);
    return m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
}

bool RunJournal::ForgetInPlace()
{
    // Cutting the file frees its space, so the header alone fits again.
    if (!m_file.isOpen() && !m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    if (!m_file.resize(0))
        return false;
    const QByteArray bytes = journalformat::FileStart() + journalformat::HeaderRecord(m_header);
    if (m_file.write(bytes) != bytes.size() || !SyncData(m_file))
        return false;
    m_nGoodSize = bytes.size();
    m_bRewrite = false;
    m_bHeaderChanged = false;
    return true;
}

bool RunJournal::Append()
{
    QByteArray bytes = journalformat::ReadingsRecords(m_pending);
    if (m_bHeaderChanged)
        bytes += journalformat::HeaderRecord(m_header);
    if (bytes.isEmpty())
        return true;
    return m_file.write(bytes) == bytes.size() && SyncData(m_file);
}

void RunJournal::End()
{
    if (!IsOpen())
        return;
    m_timer.stop();
    Forget(m_pending);
    m_file.close();
    RemoveFile(m_strPath);
    SyncFolder(m_strFolder);
    m_lock.reset(); // unlocks, removing the lock file
    m_strPath.clear();
}

RunJournal::Kept RunJournal::Keep()
{
    if (!IsOpen())
        return {};
    Flush();
    m_reader.Lock();
    const qint64 total = m_reader.Samples().TotalAppended();
    m_reader.Unlock();
    const Kept kept {m_nDurable - m_nSavedTotal, total - m_nDurable};
    Close();
    return kept;
}

void RunJournal::Close()
{
    m_timer.stop();
    Forget(m_pending);
    m_file.close();
    m_lock.reset();
    m_strPath.clear();
}
