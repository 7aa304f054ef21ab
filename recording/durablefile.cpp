#include "durablefile.h"

#include "nativename.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#  include <io.h>
#else
#  include <fcntl.h>
#  include <unistd.h>
#endif

bool SyncToDisk(QFileDevice &file, const QString &path)
{
    if (!file.flush())
        return false;
#ifdef Q_OS_WIN
    return _commit(file.handle()) == 0;
#else
    if (::fsync(file.handle()) != 0)
        return false;
    // A new file is only safe once the folder's entry for it is on the disk too.
    return SyncFolder(QFileInfo(path).absolutePath());
#endif
}

bool SyncData(QFileDevice &file)
{
    if (!file.flush())
        return false;
#ifdef Q_OS_WIN
    return _commit(file.handle()) == 0;
#elif defined(Q_OS_MACOS)
    return ::fsync(file.handle()) == 0;
#else
    return ::fdatasync(file.handle()) == 0;
#endif
}

bool SyncFolder(const QString &folder)
{
#ifdef Q_OS_WIN
    Q_UNUSED(folder);
    return true;
#else
    const int folderFd = ::open(ToNativeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (folderFd < 0)
        return false;
    const bool synced = ::fsync(folderFd) == 0;
    ::close(folderFd);
    return synced;
#endif
}
