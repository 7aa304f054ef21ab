#include "nativefs.h"

#include "nativename.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#ifndef Q_OS_WIN
#  include <cerrno>
#  include <cstdio>
#  include <dirent.h>
#  include <fcntl.h>
#  include <sys/stat.h>
#  include <unistd.h>
#endif

#ifdef Q_OS_WIN

QString CurrentFolder()
{
    return QDir::currentPath();
}

bool SetCurrentFolder(const QString &folder)
{
    return QDir::setCurrent(folder);
}

bool MakeFolder(const QString &folder)
{
    return QDir().mkdir(folder);
}

bool IsFolder(const QString &path)
{
    return QFileInfo(path).isDir();
}

bool PathExists(const QString &path)
{
    return QFileInfo::exists(path);
}

bool IsRegularFile(const QString &path)
{
    return QFileInfo(path).isFile();
}

bool OpenNamedFile(QFile &file, const QString &path, QIODevice::OpenMode mode)
{
    file.setFileName(path);
    return file.open(mode);
}

bool RenameWithoutReplacing(const QString &from, const QString &to)
{
    return QFile::rename(from, to); // MoveFileEx without replacing
}

bool RemoveFile(const QString &path)
{
    return QFile::remove(path);
}

QStringList ListedSubfolders(const QString &folder)
{
    return QDir(folder).entryList(QDir::Dirs | QDir::NoDot);
}

bool ListFiles(const QString &folder, QStringList *names)
{
    const QDir dir(folder);
    if (!dir.exists() || !dir.isReadable())
        return false;
    *names = dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    return true;
}

#else

QString CurrentFolder()
{
    QByteArray path(4096, Qt::Uninitialized);
    while (::getcwd(path.data(), static_cast<size_t>(path.size())) == nullptr) {
        if (errno != ERANGE)
            return QString();
        path.resize(path.size() * 2);
    }
    return FromNativeName(QByteArray(path.constData()));
}

bool SetCurrentFolder(const QString &folder)
{
    return !folder.isEmpty() && ::chdir(ToNativeName(folder).constData()) == 0;
}

bool MakeFolder(const QString &folder)
{
    return !folder.isEmpty() && ::mkdir(ToNativeName(folder).constData(), 0777) == 0;
}

bool IsFolder(const QString &path)
{
    struct stat info {};
    return !path.isEmpty() && ::stat(ToNativeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool PathExists(const QString &path)
{
    struct stat info {};
    return !path.isEmpty() && ::lstat(ToNativeName(path).constData(), &info) == 0;
}

bool IsRegularFile(const QString &path)
{
    struct stat info {};
    return !path.isEmpty() && ::stat(ToNativeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
}

bool OpenNamedFile(QFile &file, const QString &path, QIODevice::OpenMode mode)
{
    int flags = O_CLOEXEC;
    if (mode.testFlag(QIODevice::ReadWrite))
        flags |= O_RDWR | O_CREAT;
    else if (mode.testFlag(QIODevice::WriteOnly))
        flags |= O_WRONLY | O_CREAT;
    else
        flags |= O_RDONLY;
    if (mode.testFlag(QIODevice::Truncate))
        flags |= O_TRUNC;
    if (mode.testFlag(QIODevice::Append))
        flags |= O_APPEND;
    const int fd = ::open(ToNativeName(path).constData(), flags, 0666);
    if (fd < 0)
        return false;
    if (file.open(fd, mode, QFileDevice::AutoCloseHandle))
        return true;
    ::close(fd);
    return false;
}

bool RenameWithoutReplacing(const QString &from, const QString &to)
{
    const QByteArray source = ToNativeName(from);
    const QByteArray target = ToNativeName(to);
#ifdef Q_OS_LINUX
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
#endif
    // A file system that cannot rename without replacing: look first.
    return !PathExists(to) && ::rename(source.constData(), target.constData()) == 0;
}

bool RemoveFile(const QString &path)
{
    return ::unlink(ToNativeName(path).constData()) == 0;
}

QStringList ListedSubfolders(const QString &folder)
{
    QStringList names;
    DIR *dir = ::opendir(ToNativeName(folder.isEmpty() ? QStringLiteral(".") : folder).constData());
    if (dir == nullptr)
        return names;
    const QByteArray base = ToNativeName(folder) + '/';
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || (name.startsWith('.') && name != ".."))
            continue;
        struct stat info {};
        if (::stat((base + name).constData(), &info) == 0 && S_ISDIR(info.st_mode))
            names.append(FromNativeName(name));
    }
    ::closedir(dir);
    return names;
}

bool ListFiles(const QString &folder, QStringList *names)
{
    DIR *dir = ::opendir(ToNativeName(folder.isEmpty() ? QStringLiteral(".") : folder).constData());
    if (dir == nullptr)
        return false;
    QList<QByteArray> found;
    const QByteArray base = ToNativeName(folder) + '/';
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        struct stat info {};
        if (::stat((base + name).constData(), &info) != 0 || !S_ISDIR(info.st_mode))
            found.append(name); // a dangling link is listed too: it is not a folder
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end());
    names->clear();
    for (const QByteArray &name : std::as_const(found))
        names->append(FromNativeName(name));
    return true;
}

#endif
