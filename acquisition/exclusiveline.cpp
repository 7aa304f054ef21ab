#include "exclusiveline.h"

#include <QDirIterator>
#include <QFile>

#ifdef Q_OS_UNIX
#  include <sys/file.h>
#  include <sys/ioctl.h>
#  include <sys/stat.h>
#  include <unistd.h>
#  include <cerrno>
#endif

bool OtherProcessHoldsDevice(const QString &device)
{
#ifdef Q_OS_LINUX
    struct stat line {};
    if (::stat(QFile::encodeName(device).constData(), &line) != 0 || !S_ISCHR(line.st_mode))
        return false;
    const QString self = QString::number(::getpid());
    QDirIterator processes(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (processes.hasNext()) {
        const QString pid = processes.next().section(QLatin1Char('/'), -1);
        if (pid == self || pid.front() < QLatin1Char('0') || pid.front() > QLatin1Char('9'))
            continue;
        // Processes of other users cannot be looked into; their descriptors stay unseen.
        QDirIterator descriptors(QStringLiteral("/proc/%1/fd").arg(pid), QDir::AllEntries | QDir::System);
        while (descriptors.hasNext()) {
            struct stat opened {};
            if (::stat(QFile::encodeName(descriptors.next()).constData(), &opened) == 0 && S_ISCHR(opened.st_mode)
                && opened.st_rdev == line.st_rdev)
                return true;
        }
    }
#else
    Q_UNUSED(device);
#endif
    return false;
}

bool ClaimLine(qintptr handle)
{
#ifdef Q_OS_UNIX
    const int fd = static_cast<int>(handle);
#  ifdef TIOCEXCL
    ::ioctl(fd, TIOCEXCL);
#  endif
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
#else
    Q_UNUSED(handle); // Windows opens a line for one program only
    return true;
#endif
}
