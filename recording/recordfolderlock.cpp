#include "recordfolderlock.h"

#include "nativename.h"

#include <QDir>
#include <QLockFile>

#ifdef Q_OS_UNIX
#  include <fcntl.h>
#  include <sys/stat.h>
#  include <unistd.h>
#endif

namespace {

// A lock that another computer stopped renewing this long ago is stale. On
// this computer a lock is stale as soon as its process is gone.
constexpr int kStaleAfterMs = 10 * 60 * 1000;
constexpr int kRenewPeriodMs = 60 * 1000;

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

bool RecordFolderLock::Take(const QString &folder)
{
    Release();
    m_strPath = QDir(LockableFolder(folder)).filePath(kFileName);
    auto lock = std::make_unique<QLockFile>(m_strPath);
    lock->setStaleLockTime(kStaleAfterMs);
    if (lock->tryLock(0)) {
        m_lock = std::move(lock);
        m_renewTimer.start(kRenewPeriodMs);
        return true;
    }
    return lock->error() != QLockFile::LockFailedError;
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
