#include "recordfolderlock.h"

#include "nativefs.h"
#include "nativename.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QSysInfo>
#include <QThread>
#include <QTimeZone>

#ifdef Q_OS_UNIX
#  include <fcntl.h>
#  include <sys/stat.h>
#  include <unistd.h>
#endif

namespace {

// A lock that another computer stopped renewing this long ago is stale. On
// this computer a lock is stale as soon as its process is gone.
constexpr qint64 kStaleAfterMs = 10 * 60 * 1000;
constexpr int kRenewPeriodMs = 60 * 1000;
// A lock file that names no program is stale once it has named none for
// this long: making one and writing its name takes microseconds.
constexpr int kNamelessGraceMs = 2000;
constexpr int kNamelessPollMs = 50;

} // namespace

const QString RecordFolderLock::kFileName = QStringLiteral(".calorivista.lock");

RecordFolderLock::RecordFolderLock()
{
    connect(&m_renewTimer, &QTimer::timeout, this, &RecordFolderLock::Renew);
}

RecordFolderLock::~RecordFolderLock()
{
    Release();
}

RecordFolderLock::Hold RecordFolderLock::Take(const QString &folder)
{
    Release();
    m_strReason.clear();
    m_strPath = QDir(LockableFolder(folder)).filePath(kFileName);
    auto lock = std::make_unique<QLockFile>(m_strPath);
    // Qt's age rule would trust the other computer's clock; IsStale judges instead.
    lock->setStaleLockTime(0);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (lock->tryLock(0)) {
            m_lock = std::move(lock);
            m_renewTimer.start(kRenewPeriodMs);
            return Hold::Held;
        }
        if (lock->error() != QLockFile::LockFailedError) {
            m_strReason = lock->error() == QLockFile::PermissionError
                ? QStringLiteral("нет прав на запись в папку")
                : QStringLiteral("не удалось создать файл (нет места на диске?)");
            Release();
            return Hold::NotMade;
        }
        if (attempt > 0 || !IsStale(m_strPath) || !lock->removeStaleLockFile())
            break;
    }
    Release();
    return Hold::HeldByOther;
}

bool RecordFolderLock::IsStale(const QString &path)
{
    QLockFile probe(path);
    qint64 pid = 0;
    QString host;
    QString application;
    QElapsedTimer watched;
    watched.start();
    while (!probe.getLockInfo(&pid, &host, &application)) {
        if (!PathExists(path))
            return false; // gone meanwhile: the next try takes it
        if (watched.elapsed() >= kNamelessGraceMs)
            return true; // its maker died before it wrote its name
        QThread::msleep(kNamelessPollMs);
    }
    // A process of this computer that is gone was seen to by QLockFile.
    if (host.isEmpty() || host == QSysInfo::machineHostName())
        return false;
    return UnrenewedForMs(path) >= kStaleAfterMs;
}

qint64 RecordFolderLock::UnrenewedForMs(const QString &path)
{
    const QDateTime modified = QFileInfo(path).lastModified().toUTC();
    auto seen = m_seen.find(path);
    if (seen == m_seen.end() || seen->modified != modified) {
        seen = m_seen.insert(path, Seen {modified, {}});
        seen->since.start();
        return 0;
    }
    return seen->since.elapsed();
}

void RecordFolderLock::Release()
{
    m_renewTimer.stop();
    m_lock.reset(); // unlocks, removing the lock file
#ifdef Q_OS_LINUX
    if (m_nFolderFd >= 0)
        ::close(std::exchange(m_nFolderFd, -1));
#endif
}

QString RecordFolderLock::LockableFolder(const QString &folder)
{
#ifdef Q_OS_LINUX
    // QLockFile takes only names that Qt can convert: a folder whose name it
    // cannot is reached through a handle of its own, which Linux names plainly.
    if (!QtCanName(folder)) {
        m_nFolderFd = ::open(ToNativeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_nFolderFd >= 0)
            return QStringLiteral("/proc/self/fd/%1").arg(m_nFolderFd);
    }
#endif
    return folder;
}

void RecordFolderLock::Renew()
{
    // Windows keeps the lock file open, which tells everyone that the program
    // lives; elsewhere its age does, for programs on other computers.
#ifdef Q_OS_UNIX
    ::utimensat(AT_FDCWD, ToNativeName(m_strPath).constData(), nullptr, 0);
#endif
}
